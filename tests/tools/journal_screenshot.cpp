// Renders the window "Журнал" with a day of made-up rows to a picture, for the README:
//   quadrel-journal-screenshot docs/journal.png
// The rows go into a journal of a temporary folder, never the user's.

#include "app/uApplication.h"
#include "journal/uJournalWriter.h"
#include "panel/uJournalWindow.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TzApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: quadrel-journal-screenshot FILE.png\n");
        return 2;
    }
    QTemporaryDir folder;
    TzJournalWriter writer(folder.path());
    const qint64 hour = 3600 * 1000LL;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    TzJournalBatch day;
    for (qint64 t = now - 24 * hour; t < now; t += 5000) {
        const double phase = double(t % (24 * hour)) / double(24 * hour) * 6.283;
        const bool dip = t > now - 7 * hour && t < now - 6 * hour;
        quint32 outputs = 0;
        for (int n = 1; n <= 20; ++n) // a few outputs switched over the day
            if (n % 4 == 1 && ((t - (now - 24 * hour)) / (hour * (n + 1))) % 2 == 1)
                outputs |= 1u << (n - 1);
        day.Samples.push_back({t, int(24000 + 150 * std::sin(phase) + (dip ? -3500 : 0)), dip ? 0x4000 : 0, outputs});
    }
    day.Events.push_back({now - 7 * hour, "power_alarm_raised", 0, 0, 1, {}, "Питание: внимание (состояние 16384)"});
    day.Events.push_back({now - 6 * hour, "power_alarm_cleared", 0, 1, 0, {}, "Питание: норма (состояние 0)"});
    day.Events.push_back({now - 3 * hour, "output", 5, 0, 1, "operator", "Выход 5: включён"});
    day.Events.push_back({now - 2 * hour, "output", 9, 1, 0, "module", "Выход 9: выключен"});
    writer.Append(day);
    TfrmJournal window(writer);
    window.resize(1100, 760);
    window.show();
    QElapsedTimer timer;
    timer.start();
    while (window.Answers() < 1 && timer.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    window.ShowRange(TfrmJournal::TzRange::Day);
    const int answers = window.Answers();
    while (window.Answers() <= answers && timer.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QCoreApplication::processEvents();
    if (!window.grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "not saved: %s\n", argv[1]);
        return 1;
    }
    return 0;
}

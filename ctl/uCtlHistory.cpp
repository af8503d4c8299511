#include "ctl/uCtlHistory.h"

#include "journal/uJournalEventsModel.h"
#include "journal/uJournalStore.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

int RunCtlHistory(const TzCtlRequest &aRequest, const QString &aFolder, const TzCtlPrinter &aPrinter)
{
    TzJournalStore store(aFolder);
    QString problem;
    if (!store.OpenForReading(&problem)) {
        aPrinter.Err(QStringLiteral("quadrelctl: ") + problem);
        return CtlNoAnswer;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 to = aRequest.ToMs.value_or(now + 1);
    const qint64 from = aRequest.FromMs.value_or(to - 24 * 3600 * 1000LL);
    for (const TzJournalEvent &event : store.Events(from, to, aRequest.HistoryOutput)) {
        const QDateTime time = QDateTime::fromMSecsSinceEpoch(event.TimeMs);
        if (aRequest.Json) {
            QJsonObject json{{"time", time.toUTC().toString(Qt::ISODateWithMs)},
                             {"kind", event.Kind},
                             {"text", event.Text}};
            if (event.Output > 0)
                json.insert(QStringLiteral("output"), event.Output);
            if (event.Old)
                json.insert(QStringLiteral("old"), double(*event.Old));
            if (event.New)
                json.insert(QStringLiteral("new"), double(*event.New));
            if (!event.Source.isEmpty())
                json.insert(QStringLiteral("source"), event.Source);
            aPrinter.Out(QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Compact)));
        } else {
            QString line = time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz  ")) + event.Text;
            if (!event.Source.isEmpty())
                line += QStringLiteral(" (%1)").arg(JournalWordText(event.Source));
            aPrinter.Out(line);
        }
    }
    return CtlOk;
}

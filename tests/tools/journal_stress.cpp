// quadrel-journal-stress: the journal's writer appending without pause, for
// scripts/kill-during-journal.sh.
//   quadrel-journal-stress run FOLDER            a sample every 100 ms, handed to the writer as one
//                                                batch a second with an output event; runs until killed
//   quadrel-journal-stress check FOLDER KILL_MS START_MS [LIMIT_MS]
//                                                exit 0 when Journal.sqlite passes PRAGMA integrity_check,
//                                                nothing was set aside, and (for a run that lived long
//                                                enough to write) its newest row is at most LIMIT_MS
//                                                (1500) older than the kill; prints the newest row's age

#include "journal/uJournalWriter.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>

#include <cstdio>

namespace {

int Run(const QString &aFolder)
{
    TzJournalWriter writer(aFolder);
    QObject::connect(&writer, &TzJournalWriter::Problem,
                     [](const QString &aText) { std::fprintf(stderr, "%s\n", qPrintable(aText)); });
    QObject::connect(&writer, &TzJournalWriter::Note,
                     [](const QString &aText) { std::fprintf(stderr, "%s\n", qPrintable(aText)); });
    TzJournalBatch batch;
    quint32 outputs = 0;
    int tick = 0;
    QTimer timer;
    timer.setInterval(100);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        ++tick;
        batch.Samples.push_back({now, 24000 + tick % 500, tick % 97 == 0 ? 0x4000 : 0, outputs});
        if (batch.Samples.size() < 10)
            return;
        const int output = tick / 10 % 20 + 1;
        const qint64 old = outputs >> (output - 1) & 1;
        outputs ^= 1u << (output - 1);
        batch.Events.push_back({now, QStringLiteral("output"), output, old, 1 - old, QStringLiteral("operator"),
                                QStringLiteral("Выход %1 переключён").arg(output)});
        writer.Append(batch);
        batch = {};
    });
    timer.start();
    return QCoreApplication::exec();
}

int Check(const QString &aFolder, qint64 aKillMs, qint64 aStartMs, qint64 aLimitMs)
{
    const QStringList aside = QDir(aFolder).entryList({QStringLiteral("Journal.sqlite.broken-*")});
    if (!aside.isEmpty()) {
        std::printf("the journal was set aside as %s\n", qPrintable(aside.join(' ')));
        return 1;
    }
    const QString file = QDir(aFolder).filePath(QStringLiteral("Journal.sqlite"));
    if (!QFile::exists(file)) {
        std::printf("no journal yet\n");
        return aKillMs - aStartMs > 3 * aLimitMs ? 1 : 0;
    }
    int result = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(file);
        QSqlQuery query(db);
        if (!db.open() || !query.exec(QStringLiteral("PRAGMA integrity_check")) || !query.next()
            || query.value(0).toString() != QStringLiteral("ok")) {
            std::printf("integrity_check: %s\n", qPrintable(query.value(0).toString() + query.lastError().text()));
            return 1;
        }
        if (!query.exec(QStringLiteral("SELECT MAX(t) FROM (SELECT MAX(time) AS t FROM samples "
                                       "UNION ALL SELECT MAX(time) FROM events)"))
            || !query.next()) {
            std::printf("cannot read the newest row\n");
            return 1;
        }
        const qint64 age = aKillMs - query.value(0).toLongLong();
        // A run killed before its first second was written leaves the previous run's rows.
        const bool wrote = aKillMs - aStartMs > aLimitMs + 1000;
        std::printf("newest row %lld ms before the kill%s\n", age, wrote ? "" : " (killed during start-up)");
        if (wrote && age > aLimitMs)
            result = 1;
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QStringLiteral("run"))
        return Run(args[2]);
    if ((args.size() == 5 || args.size() == 6) && args[1] == QStringLiteral("check"))
        return Check(args[2], args[3].toLongLong(), args[4].toLongLong(),
                     args.size() == 6 ? args[5].toLongLong() : 1500);
    std::fprintf(stderr, "usage: %s run FOLDER | check FOLDER KILL_MS START_MS [LIMIT_MS]\n", argv[0]);
    return 2;
}

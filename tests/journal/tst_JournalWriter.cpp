// The journal's writer on its own thread: batches from the test's thread arrive, queries answer on
// the caller's thread, an outage (a locked file, a missing folder) gives one problem and the rows
// kept meanwhile are written when it ends, a damaged file is reported, and destruction writes
// what is left.

#include "journal/uJournalStore.h"
#include "journal/uJournalWriter.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>

namespace {

const qint64 Now = QDateTime::currentMSecsSinceEpoch() / 1000 * 1000;

TzJournalBatch Batch(int aSecond)
{
    TzJournalBatch batch;
    batch.Events.push_back({Now + aSecond * 1000LL, QStringLiteral("output"), aSecond % 20 + 1, 0, 1,
                            QStringLiteral("operator"), QStringLiteral("Выход включён")});
    batch.Samples.push_back({Now + aSecond * 1000LL, 24000 + aSecond, 0, quint32(aSecond)});
    return batch;
}

// What a query through the writer answered, and on which thread.
struct TzAnswer
{
    bool Done = false;
    QThread *Thread = nullptr;
    std::vector<TzJournalBucket> Buckets;
    std::vector<TzJournalEvent> Events;
};

std::shared_ptr<TzAnswer> Ask(TzJournalWriter &aWriter)
{
    auto answer = std::make_shared<TzAnswer>();
    aWriter.Query(Now - 3600 * 1000, Now + 3600 * 1000, 100, 0, {},
                  [answer](std::vector<TzJournalBucket> aBuckets, std::vector<TzJournalEvent> aEvents) {
                      answer->Done = true;
                      answer->Thread = QThread::currentThread();
                      answer->Buckets = std::move(aBuckets);
                      answer->Events = std::move(aEvents);
                  });
    return answer;
}

// The events on disk, read by a store of the test's own.
size_t EventsOnDisk(const QString &aFolder)
{
    TzJournalStore store(aFolder);
    QString note;
    if (!store.Open(&note))
        return size_t(-1);
    return store.Events(0, Now * 2).size();
}

} // namespace

class TzJournalWriterTest : public QObject
{
    Q_OBJECT

private slots:
    void BatchesArriveAndQueriesAnswerHere();
    void OutageGivesOneProblemThenResumes_data();
    void OutageGivesOneProblemThenResumes();
    void DestructionWritesWhatIsLeft();
    void OutageKeepsOnlyTheNewestRows();
    void DamagedFileIsReportedAndReplaced();
};

void TzJournalWriterTest::BatchesArriveAndQueriesAnswerHere()
{
    QTemporaryDir dir;
    TzJournalWriter writer(dir.path());
    QSignalSpy problems(&writer, &TzJournalWriter::Problem);
    QSignalSpy notes(&writer, &TzJournalWriter::Note);
    QCOMPARE(writer.FileName(), dir.filePath(QStringLiteral("Journal.sqlite")));
    for (int second = 0; second < 50; ++second)
        writer.Append(Batch(second));
    // Through a queued connection too, as the collector may send them.
    QMetaObject::invokeMethod(&writer, "Append", Qt::QueuedConnection, Q_ARG(TzJournalBatch, Batch(50)));
    // The queued one reaches the writer once this thread's events run: ask until it is there.
    std::shared_ptr<TzAnswer> answer;
    const auto written = [&] {
        answer = Ask(writer);
        return QTest::qWaitFor([&] { return answer->Done; }, 20000) ? answer->Events.size() : size_t(0);
    };
    QTRY_COMPARE_WITH_TIMEOUT(written(), size_t(51), 20000);
    QCOMPARE(EventsOnDisk(dir.path()), size_t(51));
    QCOMPARE(answer->Thread, QThread::currentThread());
    QCOMPARE(answer->Events.size(), size_t(51));
    QVERIFY(!answer->Buckets.empty());
    QCOMPARE(answer->Buckets.back().OutputsLast, quint32(50));
    QCOMPARE(problems.count(), 0);
    QCOMPARE(notes.count(), 0);
}

void TzJournalWriterTest::OutageGivesOneProblemThenResumes()
{
    QFETCH(bool, locked);
    QTemporaryDir dir;
    const QString folder = locked ? dir.path() : dir.filePath(QStringLiteral("sub/journal"));
    QFile blocker(dir.filePath(QStringLiteral("sub")));
    if (!locked)
        QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where the folder should be
    TzJournalWriter writer(folder);
    QSignalSpy problems(&writer, &TzJournalWriter::Problem);
    QSignalSpy resumed(&writer, &TzJournalWriter::Resumed);

    const QString lockName = QStringLiteral("locker");
    if (locked) {
        writer.Append(Batch(0));
        const std::shared_ptr<TzAnswer> written = Ask(writer);
        QTRY_VERIFY_WITH_TIMEOUT(written->Done, 20000);
        QCOMPARE(written->Events.size(), size_t(1));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), lockName);
        db.setDatabaseName(writer.FileName());
        QVERIFY(db.open());
        QSqlQuery lock(db);
        QVERIFY(lock.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        QVERIFY(lock.exec(QStringLiteral("INSERT INTO events(time, kind) VALUES (%1, 'other')").arg(Now - 1000)));
    }
    for (int second = 1; second <= 5; ++second)
        writer.Append(Batch(second));
    QTRY_COMPARE_WITH_TIMEOUT(problems.count(), 1, 20000);
    for (int second = 6; second <= 10; ++second)
        writer.Append(Batch(second));
    // A query runs after the appends before it: every one of them has tried and failed by now.
    std::shared_ptr<TzAnswer> answer = Ask(writer);
    QTRY_VERIFY_WITH_TIMEOUT(answer->Done, 20000);
    QCOMPARE(problems.count(), 1);
    QCOMPARE(resumed.count(), 0);
    const QString text = problems.first().first().toString();
    QVERIFY2(text.startsWith(QStringLiteral("Журнал не")) && !text.contains(QLatin1Char('\n')), qPrintable(text));

    if (locked) {
        QSqlQuery release(QSqlDatabase::database(lockName, false));
        QVERIFY(release.exec(QStringLiteral("COMMIT")));
    } else {
        blocker.close();
        QVERIFY(blocker.remove());
    }
    QTRY_COMPARE_WITH_TIMEOUT(resumed.count(), 1, 20000);
    answer = Ask(writer);
    QTRY_VERIFY_WITH_TIMEOUT(answer->Done, 20000);
    // The kept rows, the one before the outage, and the other connection's.
    QCOMPARE(answer->Events.size(), size_t(locked ? 12 : 10));
    QCOMPARE(problems.count(), 1);
    if (locked) {
        QSqlDatabase::database(lockName, false).close();
        QSqlDatabase::removeDatabase(lockName);
    }
}

void TzJournalWriterTest::OutageGivesOneProblemThenResumes_data()
{
    QTest::addColumn<bool>("locked");
    QTest::newRow("file locked by another connection") << true;
    QTest::newRow("folder missing at the start") << false;
}

void TzJournalWriterTest::DestructionWritesWhatIsLeft()
{
    QTemporaryDir dir;
    const QString blocker = dir.filePath(QStringLiteral("sub"));
    const QString folder = dir.filePath(QStringLiteral("sub/journal"));
    {
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    {
        TzJournalWriter writer(folder);
        QSignalSpy problems(&writer, &TzJournalWriter::Problem);
        for (int second = 0; second < 200; ++second)
            writer.Append(Batch(second));
        QTRY_COMPARE_WITH_TIMEOUT(problems.count(), 1, 20000);
        // The folder comes back just as the program ends: the rows kept are written on the way out.
        QVERIFY(QFile::remove(blocker));
    }
    QCOMPARE(EventsOnDisk(folder), size_t(200));
}

// The rows kept through an outage are bounded by their age: those that arrived longer before the
// newest than the writer keeps are dropped, oldest first (a short bound here, ten minutes in use).
void TzJournalWriterTest::OutageKeepsOnlyTheNewestRows()
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("sub")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    TzJournalWriter writer(dir.filePath(QStringLiteral("sub/journal")), nullptr, 1500);
    QSignalSpy problems(&writer, &TzJournalWriter::Problem);
    QSignalSpy resumed(&writer, &TzJournalWriter::Resumed);
    QElapsedTimer sinceFirst;
    sinceFirst.start();
    writer.Append(Batch(0));
    writer.Append(Batch(1));
    QTRY_COMPARE_WITH_TIMEOUT(problems.count(), 1, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(sinceFirst.hasExpired(2500), 20000); // the first two are now too old
    writer.Append(Batch(2));
    writer.Append(Batch(3));
    std::shared_ptr<TzAnswer> answer = Ask(writer);
    QTRY_VERIFY_WITH_TIMEOUT(answer->Done, 20000);
    blocker.close();
    QVERIFY(blocker.remove());
    QTRY_COMPARE_WITH_TIMEOUT(resumed.count(), 1, 20000);
    answer = Ask(writer);
    QTRY_VERIFY_WITH_TIMEOUT(answer->Done, 20000);
    QCOMPARE(answer->Events.size(), size_t(2));
    QCOMPARE(answer->Events.front().TimeMs, Now + 2000);
}

void TzJournalWriterTest::DamagedFileIsReportedAndReplaced()
{
    QTemporaryDir dir;
    {
        QFile file(dir.filePath(QStringLiteral("Journal.sqlite")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(10000, '\x13'));
    }
    TzJournalWriter writer(dir.path());
    QSignalSpy notes(&writer, &TzJournalWriter::Note);
    QSignalSpy problems(&writer, &TzJournalWriter::Problem);
    QTRY_COMPARE_WITH_TIMEOUT(notes.count(), 1, 20000);
    QVERIFY2(notes.first().first().toString().contains(QStringLiteral("Journal.sqlite.broken-")),
             qPrintable(notes.first().first().toString()));
    writer.Append(Batch(0));
    const std::shared_ptr<TzAnswer> answer = Ask(writer);
    QTRY_VERIFY_WITH_TIMEOUT(answer->Done, 20000);
    QCOMPARE(answer->Events.size(), size_t(1));
    QCOMPARE(problems.count(), 0);
}

QTEST_GUILESS_MAIN(TzJournalWriterTest)
#include "tst_JournalWriter.moc"

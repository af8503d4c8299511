// The journal's store against real files: writing and reading back, folding and retention on a
// synthetic clock, the chart's buckets against a plain computation, damaged and foreign files,
// a folder that cannot hold the journal, and a file locked by another connection.

#include "journal/uJournalStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <map>
#include <random>
#include <unistd.h>

namespace {

constexpr qint64 MinuteMs = 60 * 1000;
constexpr qint64 DayMs = 24 * 3600 * 1000;
// A fixed "now" on a minute boundary: 2026-03-01 12:00 UTC.
const qint64 Now = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC).toMSecsSinceEpoch();

// A connection of the test's own to a journal file, beside the store's.
class TzPeek
{
public:
    explicit TzPeek(const QString &aFile) : fName(QStringLiteral("peek-%1").arg(++Count))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), fName);
        db.setDatabaseName(aFile);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        db.open();
    }
    ~TzPeek()
    {
        QSqlDatabase::database(fName, false).close();
        QSqlDatabase::removeDatabase(fName);
    }
    QSqlDatabase Db() const { return QSqlDatabase::database(fName, false); }
    QVariant Value(const QString &aSql) const
    {
        QSqlQuery query(Db());
        if (!query.exec(aSql) || !query.next())
            return QStringLiteral("failed: %1").arg(query.lastError().text());
        return query.value(0);
    }
    bool Run(const QString &aSql) const
    {
        QSqlQuery query(Db());
        return query.exec(aSql);
    }

private:
    static inline int Count = 0;
    QString fName;
};

TzJournalEvent Event(qint64 aTime, const QString &aKind, int aOutput = 0, std::optional<qint64> aOld = {},
                     std::optional<qint64> aNew = {}, const QString &aSource = {})
{
    return {aTime, aKind, aOutput, aOld, aNew, aSource, QStringLiteral("Событие «%1»").arg(aKind)};
}

bool WriteOne(TzJournalStore &aStore, const TzJournalBatch &aBatch)
{
    QString problem;
    const bool ok = aStore.Write(aBatch, &problem);
    if (!ok)
        qWarning("%s", qPrintable(problem));
    return ok;
}

void OpenGood(TzJournalStore &aStore, QString *aNote = nullptr)
{
    QString note;
    QVERIFY2(aStore.Open(&note), qPrintable(note));
    if (aNote)
        *aNote = note;
}

} // namespace

class TzJournalStoreTest : public QObject
{
    Q_OBJECT

private slots:
    void WritesAndReadsBack();
    void FailedWriteKeepsNothing();
    void FoldsOldSamplesIntoMinutes();
    void DropsWhatIsOlderThanTwoYears();
    void BucketsMatchThePlainComputation_data();
    void BucketsMatchThePlainComputation();
    void SetsAsideDamagedAndForeignFiles_data();
    void SetsAsideDamagedAndForeignFiles();
    void FolderThatCannotHoldTheJournal_data();
    void FolderThatCannotHoldTheJournal();
    void LockedFileFailsTheWriteUntilReleased();
    void FullDiskFailsTheWriteUntilThereIsRoom();
};

void TzJournalStoreTest::WritesAndReadsBack()
{
    QTemporaryDir dir;
    {
        TzJournalStore store(dir.path());
        QCOMPARE(store.FileName(), dir.filePath(QStringLiteral("Journal.sqlite")));
        OpenGood(store);
        TzJournalBatch batch;
        batch.Events = {Event(Now - 2000, QStringLiteral("connection_made")),
                        Event(Now - 1000, QStringLiteral("output"), 5, 0, 1, QStringLiteral("operator")),
                        Event(Now - 1000, QStringLiteral("output"), 7, 1, 0, QStringLiteral("web")),
                        Event(Now, QStringLiteral("power_alarm_raised"), 0, 0, 0x4000, QStringLiteral("module"))};
        batch.Samples = {{Now - 2000, 24010, 0, 0x1}, {Now - 1000, 23990, 0x4000, 0x11}, {Now, 24500, 0, 0xFFFFF}};
        QVERIFY(WriteOne(store, batch));
    }
    // A new store on the same file finds everything.
    TzJournalStore store(dir.path());
    QString note;
    OpenGood(store, &note);
    QVERIFY2(note.isEmpty(), qPrintable(note));

    const std::vector<TzJournalEvent> all = store.Events(Now - 2000, Now + 1);
    QCOMPARE(all.size(), size_t(4));
    QCOMPARE(all[0].Kind, QStringLiteral("connection_made"));
    QCOMPARE(all[0].Output, 0);
    QVERIFY(!all[0].Old && !all[0].New);
    QCOMPARE(all[0].Text, QStringLiteral("Событие «connection_made»"));
    QCOMPARE(all[1].Output, 5);
    QCOMPARE(all[1].Old, std::optional<qint64>(0));
    QCOMPARE(all[1].New, std::optional<qint64>(1));
    QCOMPARE(all[1].Source, QStringLiteral("operator"));
    QCOMPARE(all[2].Output, 7); // same time: kept in the order written
    QCOMPARE(all[3].New, std::optional<qint64>(0x4000));

    // Ranges are half-open; filters by output and by kind.
    QCOMPARE(store.Events(Now - 2000, Now).size(), size_t(3));
    QCOMPARE(store.Events(Now - 1999, Now + 1).size(), size_t(3));
    QCOMPARE(store.Events(Now - 2000, Now + 1, 7).size(), size_t(1));
    QCOMPARE(store.Events(Now - 2000, Now + 1, 7).front().Source, QStringLiteral("web"));
    QCOMPARE(store
                 .Events(Now - 2000, Now + 1, 0,
                         {QStringLiteral("connection_made"), QStringLiteral("power_alarm_raised")})
                 .size(),
             size_t(2));
    QCOMPARE(store.Events(Now - 2000, Now + 1, 5, {QStringLiteral("restart")}).size(), size_t(0));

    const std::vector<TzJournalSample> samples = store.Samples(Now - 1000, Now + 1);
    QCOMPARE(samples.size(), size_t(2));
    QCOMPARE(samples[0].SupplyMv, 23990);
    QCOMPARE(samples[0].PowerStatus, 0x4000);
    QCOMPARE(samples[0].Outputs, quint32(0x11));
    QCOMPARE(samples[1].Outputs, quint32(0xFFFFF));
    QCOMPARE(store.FirstTime(), std::optional<qint64>(Now - 2000));

    TzPeek peek(store.FileName());
    QCOMPARE(peek.Value(QStringLiteral("PRAGMA journal_mode")).toString(), QStringLiteral("wal"));
    QCOMPARE(peek.Value(QStringLiteral("PRAGMA user_version")).toInt(), TzJournalStore::SchemaVersion);
    QCOMPARE(peek.Value(QStringLiteral("SELECT count(*) FROM events WHERE output IS NULL")).toInt(), 2);
}

void TzJournalStoreTest::FailedWriteKeepsNothing()
{
    QTemporaryDir dir;
    TzJournalStore store(dir.path());
    OpenGood(store);
    QVERIFY(!store.FirstTime());
    // An event without a kind breaks the table's rule after the samples are in: none may stay.
    TzJournalBatch batch;
    batch.Samples = {{Now, 24000, 0, 1}, {Now + 1000, 24000, 0, 1}};
    batch.Events = {Event(Now, QStringLiteral("output"), 1), Event(Now + 1000, QString())};
    QString problem;
    QVERIFY(!store.Write(batch, &problem));
    QVERIFY2(problem.startsWith(QStringLiteral("Журнал не записывается")), qPrintable(problem));
    QVERIFY(store.Samples(Now - DayMs, Now + DayMs).empty());
    QVERIFY(store.Events(Now - DayMs, Now + DayMs).empty());
    // The store goes on after the failure.
    batch.Events.pop_back();
    QVERIFY(WriteOne(store, batch));
    QCOMPARE(store.Samples(Now - DayMs, Now + DayMs).size(), size_t(2));
}

void TzJournalStoreTest::FoldsOldSamplesIntoMinutes()
{
    QTemporaryDir dir;
    TzJournalStore store(dir.path());
    OpenGood(store);
    const qint64 cutoff = Now - TzJournalStore::FullResolutionMs;
    const qint64 m1 = cutoff - 2 * MinuteMs, m2 = cutoff - MinuteMs;
    TzJournalBatch batch;
    // Minute m1: supply 24100, 23900, 24050; power 0, 0x8000, 0x0001; outputs 0b011, 0b110, 0b010.
    batch.Samples = {{m1 + 5000, 24100, 0, 0b011}, {m1 + 30000, 23900, 0x8000, 0b110}, {m1 + 59999, 24050, 1, 0b010}};
    // Minute m2: one sample; then one just after the cutoff and one a day old.
    batch.Samples.push_back({m2, 22000, 2, 0xF0000});
    batch.Samples.push_back({cutoff, 21000, 3, 0x1});
    batch.Samples.push_back({Now - DayMs, 20000, 4, 0x2});
    QVERIFY(WriteOne(store, batch));

    store.Fold(Now);
    TzPeek peek(store.FileName());
    QSqlQuery minutes(peek.Db());
    QVERIFY(minutes.exec(
        QStringLiteral(
            "SELECT time, supply_min, supply_max, supply_last, power_min, power_max, power_last, power_alarm_any, "
            "outputs_and, outputs_or, outputs_last FROM minutes WHERE time < %1 ORDER BY time")
            .arg(cutoff)));
    const QList<QVariantList> expected = {
        {m1, 23900, 24100, 24050, 0, 0x8000, 1, 1, 0b010, 0b111, 0b010},
        {m2, 22000, 22000, 22000, 2, 2, 2, 0, 0xF0000, 0xF0000, 0xF0000},
    };
    for (const QVariantList &row : expected) {
        QVERIFY(minutes.next());
        for (int i = 0; i < row.size(); ++i)
            QCOMPARE(minutes.value(i).toLongLong(), row[i].toLongLong());
    }
    QVERIFY(!minutes.next());
    minutes.finish();
    // Folded samples are gone; the newer ones stay at full resolution.
    const std::vector<TzJournalSample> left = store.Samples(0, Now + 1);
    QCOMPARE(left.size(), size_t(2));
    QCOMPARE(left[0].TimeMs, cutoff);
    QCOMPARE(store.FirstTime(), std::optional<qint64>(m1));

    // A sample that comes late for a folded minute is merged into that minute's row.
    QVERIFY(WriteOne(store, {{}, {{m1 + 1000, 24000, 0x4000, 0b1000}}}));
    store.Fold(Now);
    QCOMPARE(peek.Value(QStringLiteral("SELECT supply_max || ',' || supply_min || ',' || outputs_or || ',' || "
                                       "outputs_and || ',' || power_max FROM minutes WHERE time = %1")
                            .arg(m1))
                 .toString(),
             QStringLiteral("24100,23900,15,0,32768"));

    // The chart sees both: the folded minute and the samples.
    const std::vector<TzJournalBucket> buckets = store.Buckets(m1, m1 + 2 * MinuteMs, 2);
    QCOMPARE(buckets.size(), size_t(2));
    QCOMPARE(buckets[0].SupplyMax, 24100);
    QCOMPARE(buckets[0].SupplyMin, 23900);
    QVERIFY(buckets[0].PowerAlarmAny);
    QCOMPARE(buckets[1].OutputsLast, quint32(0xF0000));
    QCOMPARE(buckets[1].PowerStatusLast, 2);
    QVERIFY(!buckets[1].PowerAlarmAny);
}

void TzJournalStoreTest::DropsWhatIsOlderThanTwoYears()
{
    QTemporaryDir dir;
    TzJournalStore store(dir.path());
    OpenGood(store);
    const qint64 keepFrom = QDateTime::fromMSecsSinceEpoch(Now, Qt::UTC).addYears(-2).toMSecsSinceEpoch();
    TzJournalBatch batch;
    batch.Events = {Event(keepFrom - 1, QStringLiteral("restart")), Event(keepFrom, QStringLiteral("restart")),
                    Event(Now, QStringLiteral("restart"))};
    batch.Samples = {{keepFrom - 60 * MinuteMs, 1, 0, 0}, {keepFrom, 2, 0, 0}, {Now - DayMs, 3, 0, 0}};
    QVERIFY(WriteOne(store, batch));
    store.Fold(Now);
    const std::vector<TzJournalEvent> events = store.Events(0, Now + 1);
    QCOMPARE(events.size(), size_t(2));
    QCOMPARE(events[0].TimeMs, keepFrom);
    QCOMPARE(store.FirstTime(), std::optional<qint64>(keepFrom));
    const std::vector<TzJournalBucket> buckets = store.Buckets(0, Now, 1);
    QCOMPARE(buckets.size(), size_t(1));
    QCOMPARE(buckets[0].SupplyMin, 2); // the sample before the two years is neither kept nor folded
    // A year later, everything of then is gone too.
    store.Fold(Now + 366 * DayMs);
    QCOMPARE(store.Events(0, Now + 1).size(), size_t(1));
    QCOMPARE(store.Buckets(0, Now, 1).size(), size_t(1));
    QCOMPARE(store.Buckets(0, Now, 1)[0].SupplyMin, 3);
}

void TzJournalStoreTest::BucketsMatchThePlainComputation_data()
{
    QTest::addColumn<qint64>("from");
    QTest::addColumn<qint64>("to");
    QTest::addColumn<int>("count");
    // The samples span Now - 9 days .. Now; those before Now - 7 days are folded.
    QTest::newRow("ten days, 1000 buckets") << Now - 10 * DayMs << Now + 1 << 1000;
    QTest::newRow("across the fold, uneven edges")
        << Now - 7 * DayMs - 3 * 3600 * 1000 - 777 << Now - 6 * DayMs - 13 << 37;
    QTest::newRow("one hour, more buckets than rows") << Now - 3600 * 1000 << Now << 5000;
    QTest::newRow("ten minutes across the fold, six seconds each")
        << Now - TzJournalStore::FullResolutionMs - 5 * MinuteMs - 123
        << Now - TzJournalStore::FullResolutionMs + 5 * MinuteMs << 100;
    QTest::newRow("folded part only, one bucket") << Now - 9 * DayMs << Now - 8 * DayMs << 1;
    QTest::newRow("nothing there") << Now + DayMs << Now + 2 * DayMs << 100;
}

// Every bucket against a computation from the samples written. A bucket of a minute or more
// reads the minutes' rows, so every sample counts at its minute's start; a narrower one reads the
// samples, and minutes' rows only where the samples are folded away.
void TzJournalStoreTest::BucketsMatchThePlainComputation()
{
    QFETCH(qint64, from);
    QFETCH(qint64, to);
    QFETCH(int, count);
    static QTemporaryDir dir;
    static std::vector<TzJournalSample> written;
    static TzJournalStore store(dir.path());
    if (!store.IsOpen()) {
        OpenGood(store);
        std::mt19937 random(7);
        TzJournalBatch batch;
        for (qint64 t = Now - 9 * DayMs; t < Now; t += 1000 + qint64(random() % 20000)) {
            const int power = random() % 40 == 0 ? 0x4000 : int(random() % 4);
            batch.Samples.push_back({t, 20000 + int(random() % 8000), power, quint32(random() & 0xFFFFF)});
        }
        written = batch.Samples;
        QVERIFY(WriteOne(store, batch));
        store.Fold(Now);
    }
    const qint64 cutoff = Now - TzJournalStore::FullResolutionMs;
    std::map<qint64, TzJournalBucket> expected;
    std::map<qint64, std::pair<qint64, qint64>> latest; // bucket: (effective time, time) of its last row
    for (const TzJournalSample &sample : written) {
        const bool byMinutes = to - from >= count * MinuteMs || sample.TimeMs < cutoff;
        const qint64 at = byMinutes ? sample.TimeMs / MinuteMs * MinuteMs : sample.TimeMs;
        if (at < from || at >= to)
            continue;
        const qint64 b = (at - from) * count / (to - from);
        auto [it, added] = expected.try_emplace(b);
        TzJournalBucket &bucket = it->second;
        if (added)
            bucket.SupplyMin = bucket.SupplyMax = sample.SupplyMv;
        bucket.SupplyMin = std::min(bucket.SupplyMin, sample.SupplyMv);
        bucket.SupplyMax = std::max(bucket.SupplyMax, sample.SupplyMv);
        bucket.PowerAlarmAny = bucket.PowerAlarmAny || (sample.PowerStatus & 0xC000);
        bucket.OutputsAnyOn |= sample.Outputs;
        if (added || std::pair(at, sample.TimeMs) > latest[b]) {
            latest[b] = {at, sample.TimeMs};
            bucket.PowerStatusLast = sample.PowerStatus;
            bucket.OutputsLast = sample.Outputs;
        }
    }
    const std::vector<TzJournalBucket> buckets = store.Buckets(from, to, count);
    QCOMPARE(buckets.size(), expected.size());
    auto want = expected.begin();
    for (const TzJournalBucket &got : buckets) {
        const qint64 b = want->first;
        const TzJournalBucket &w = want->second;
        ++want;
        QVERIFY(got.FromMs <= got.ToMs);
        QCOMPARE((got.FromMs - from) * count / (to - from), b);
        QCOMPARE((got.ToMs - from) * count / (to - from), b + 1);
        QCOMPARE((got.FromMs - 1 - from) * count / (to - from) < b || got.FromMs == from, true);
        QCOMPARE(got.SupplyMin, w.SupplyMin);
        QCOMPARE(got.SupplyMax, w.SupplyMax);
        QCOMPARE(got.PowerAlarmAny, w.PowerAlarmAny);
        QCOMPARE(got.OutputsAnyOn, w.OutputsAnyOn);
        QCOMPARE(got.PowerStatusLast, w.PowerStatusLast);
        QCOMPARE(got.OutputsLast, w.OutputsLast);
    }
}

void TzJournalStoreTest::SetsAsideDamagedAndForeignFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("setAside");
    QTest::addColumn<QString>("noteStart");
    QTest::newRow("garbage bytes, with a -wal") << "garbage" << true << "Файл журнала повреждён";
    QTest::newRow("a damaged page") << "damaged" << true << "Файл журнала повреждён";
    QTest::newRow("another program's tables") << "foreign" << true << "Файл журнала создан другой программой";
    QTest::newRow("a newer version") << "newer" << true << "Файл журнала создан другой программой";
    QTest::newRow("a good journal stays") << "good" << false << "";
    QTest::newRow("an empty file becomes the journal") << "empty" << false << "";
}

void TzJournalStoreTest::SetsAsideDamagedAndForeignFiles()
{
    QFETCH(QString, kind);
    QFETCH(bool, setAside);
    QFETCH(QString, noteStart);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Journal.sqlite"));
    if (kind == QStringLiteral("garbage")) {
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        for (int i = 0; i < 1000; ++i)
            out.write("not a database at all, just bytes ");
        out.close();
        QFile wal(file + QStringLiteral("-wal"));
        QVERIFY(wal.open(QIODevice::WriteOnly));
        wal.write("stale");
    } else if (kind == QStringLiteral("empty")) {
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
    } else if (kind == QStringLiteral("foreign") || kind == QStringLiteral("newer")) {
        TzPeek other(file);
        QVERIFY(other.Run(kind == QStringLiteral("foreign") ? QStringLiteral("CREATE TABLE contacts(name TEXT)")
                                                            : QStringLiteral("PRAGMA user_version = 99")));
        QVERIFY(other.Run(QStringLiteral("CREATE TABLE events(id INTEGER PRIMARY KEY)")));
    } else {
        TzJournalStore first(dir.path());
        OpenGood(first);
        TzJournalBatch batch;
        for (int i = 0; i < 20000; ++i)
            batch.Samples.push_back({Now + i * 1000LL, 24000 + i % 100, 0, quint32(i)});
        QVERIFY(WriteOne(first, batch));
        first.Close();
        if (kind == QStringLiteral("damaged")) {
            QFile out(file);
            QVERIFY(out.open(QIODevice::ReadWrite));
            QVERIFY(out.size() > 100000);
            out.seek(out.size() / 2);
            out.write(QByteArray(8192, '\x5a'));
        }
    }
    QByteArray before;
    {
        QFile in(file);
        QVERIFY(in.open(QIODevice::ReadOnly));
        before = in.readAll();
    }

    TzJournalStore store(dir.path());
    QString note;
    QVERIFY2(store.Open(&note), qPrintable(note));
    QVERIFY2(noteStart.isEmpty() ? note.isEmpty() : note.startsWith(noteStart), qPrintable(note));
    const QStringList aside = QDir(dir.path()).entryList({QStringLiteral("Journal.sqlite.broken-*")}, QDir::Files);
    if (setAside) {
        QVERIFY2(!aside.isEmpty(), qPrintable(QDir(dir.path()).entryList().join(' ')));
        const QString name = aside.first();
        QVERIFY2(QRegularExpression(QStringLiteral("^Journal\\.sqlite\\.broken-\\d{8}-\\d{6}$")).match(name).hasMatch(),
                 qPrintable(name));
        QVERIFY2(note.contains(name), qPrintable(note));
        QFile kept(dir.filePath(name));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), before);
        if (kind == QStringLiteral("garbage")) { // the stale -wal goes with it (or SQLite drops it), never stays
            QFile wal(file + QStringLiteral("-wal"));
            QVERIFY(!wal.open(QIODevice::ReadOnly) || !wal.readAll().startsWith("stale"));
        }
        QVERIFY(store.Samples(0, Now * 2).empty());
    } else {
        QVERIFY2(aside.isEmpty(), qPrintable(aside.join(' ')));
        if (kind == QStringLiteral("good"))
            QCOMPARE(store.Samples(0, Now * 2).size(), size_t(20000));
    }
    // The journal works, and is ours when opened again.
    QVERIFY(WriteOne(store, {{Event(Now, QStringLiteral("restart"))}, {{Now - 1, 24000, 0, 0}}}));
    QCOMPARE(store.Events(Now, Now + 1).size(), size_t(1));
    store.Close();
    TzJournalStore again(dir.path());
    OpenGood(again, &note);
    QVERIFY2(note.isEmpty(), qPrintable(note));
    QCOMPARE(again.Events(Now, Now + 1).size(), size_t(1));
}

void TzJournalStoreTest::FolderThatCannotHoldTheJournal()
{
    QFETCH(bool, readOnly);
    if (readOnly && ::geteuid() == 0)
        QSKIP("running as root: a read-only folder does not stop root from writing");
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("sub/journal"));
    if (readOnly) {
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    } else {
        QFile blocker(dir.filePath(QStringLiteral("sub")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    TzJournalStore store(folder);
    QString note;
    QVERIFY(!store.Open(&note));
    QVERIFY2(note.startsWith(QStringLiteral("Журнал не открыт: ")), qPrintable(note));
    QVERIFY2(note.contains(QDir::toNativeSeparators(store.FileName())), qPrintable(note));
    QString problem;
    QVERIFY(!store.Write({{Event(Now, QStringLiteral("restart"))}, {}}, &problem));
    QVERIFY2(problem.startsWith(QStringLiteral("Журнал не записывается")), qPrintable(problem));
    QVERIFY(store.Events(0, Now * 2).empty());
    QVERIFY(!store.FirstTime());

    // Once the folder can hold it, the journal opens and writes.
    if (readOnly) {
        QVERIFY(
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    } else {
        QVERIFY(QFile::remove(dir.filePath(QStringLiteral("sub"))));
    }
    OpenGood(store);
    QVERIFY(WriteOne(store, {{Event(Now, QStringLiteral("restart"))}, {}}));
    QCOMPARE(store.Events(0, Now * 2).size(), size_t(1));
}

void TzJournalStoreTest::FolderThatCannotHoldTheJournal_data()
{
    QTest::addColumn<bool>("readOnly");
    for (const bool readOnly : {false, true})
        QTest::newRow(readOnly ? "a read-only folder" : "a file where the folder should be") << readOnly;
}

void TzJournalStoreTest::LockedFileFailsTheWriteUntilReleased()
{
    QTemporaryDir dir;
    TzJournalStore store(dir.path());
    OpenGood(store);
    QVERIFY(WriteOne(store, {{Event(Now, QStringLiteral("restart"))}, {}}));
    TzPeek other(store.FileName());
    QVERIFY(other.Run(QStringLiteral("BEGIN EXCLUSIVE")));
    QVERIFY(other.Run(QStringLiteral("INSERT INTO events(time, kind) VALUES (1, 'other')")));

    QString problem;
    QVERIFY(!store.Write({{Event(Now + 1, QStringLiteral("restart"))}, {{Now + 1, 24000, 0, 0}}}, &problem));
    QVERIFY2(problem.contains(QStringLiteral("занят другой программой")), qPrintable(problem));
    // Reading goes on while the other holds the lock.
    QCOMPARE(store.Events(0, Now * 2).size(), size_t(1));

    QVERIFY(other.Run(QStringLiteral("COMMIT")));
    QVERIFY(WriteOne(store, {{Event(Now + 1, QStringLiteral("restart"))}, {{Now + 1, 24000, 0, 0}}}));
    QCOMPARE(store.Events(0, Now * 2).size(), size_t(3));
    QCOMPARE(store.Samples(0, Now * 2).size(), size_t(1));
    store.Close();

    // A file another program holds for itself cannot be opened, but it is no damaged file: it
    // stays where it is, and opens once it is free.
    QVERIFY(other.Run(QStringLiteral("PRAGMA locking_mode = EXCLUSIVE")));
    QVERIFY(other.Run(QStringLiteral("INSERT INTO events(time, kind) VALUES (2, 'other')")));
    TzJournalStore second(dir.path());
    QString note;
    QVERIFY(!second.Open(&note));
    QVERIFY2(note.contains(QStringLiteral("занят другой программой")), qPrintable(note));
    QVERIFY(QDir(dir.path()).entryList({QStringLiteral("Journal.sqlite.broken-*")}).isEmpty());
    other.Db().close();
    OpenGood(second, &note);
    QVERIFY2(note.isEmpty(), qPrintable(note));
    QCOMPARE(second.Events(0, Now * 2).size(), size_t(4));
}

void TzJournalStoreTest::FullDiskFailsTheWriteUntilThereIsRoom()
{
    QTemporaryDir dir;
    const QString disk = dir.filePath(QStringLiteral("disk"));
    QVERIFY(QDir().mkpath(disk));
    if (::geteuid() != 0
        || QProcess::execute(QStringLiteral("mount"),
                             {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                              QStringLiteral("size=512k"), QStringLiteral("tmpfs"), disk})
               != 0)
        QSKIP("a small disk of its own needs root (mount -t tmpfs)");
    const auto unmount = qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), {disk}); });
    {
        TzJournalStore store(disk);
        OpenGood(store);
        QVERIFY(WriteOne(store, {{Event(Now, QStringLiteral("restart"))}, {}}));
        // Fill the disk to the last byte.
        QFile filler(QDir(disk).filePath(QStringLiteral("filler")));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(4096, 'x');
        while (filler.write(block) > 0) {
        }
        filler.close();

        TzJournalBatch big;
        for (int i = 0; i < 5000; ++i)
            big.Samples.push_back({Now + i * 1000LL, 24000, 0, quint32(i)});
        QString problem;
        QVERIFY(!store.Write(big, &problem));
        QVERIFY2(problem.contains(QStringLiteral("диск заполнен")), qPrintable(problem));
        QCOMPARE(store.Samples(0, Now * 2).size(), size_t(0));

        QVERIFY(filler.remove());
        QVERIFY(WriteOne(store, big));
        QCOMPARE(store.Samples(0, Now * 2).size(), size_t(5000));
    }
    TzPeek peek(QDir(disk).filePath(QStringLiteral("Journal.sqlite")));
    QCOMPARE(peek.Value(QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
}

QTEST_GUILESS_MAIN(TzJournalStoreTest)
#include "tst_JournalStore.moc"

#include "journal/uJournalStore.h"

#include <QAtomicInteger>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <limits>
#include <map>

namespace {

const QString JournalFile = QStringLiteral("Journal.sqlite");
constexpr qint64 MinuteMs = 60 * 1000;
constexpr qint64 FoldChunkMs = 3600 * 1000; // samples rolled up per transaction
constexpr qint64 RerollMs = 15 * MinuteMs;
constexpr int PowerAlarmBits = 0xC000; // bits 14 and 15 of the power status
constexpr int OutputCount = 20;

// SQLite's primary result codes, as Qt's driver gives them in nativeErrorCode().
enum : int { SqliteCorrupt = 11, SqliteNotADatabase = 26, SqliteBusy = 5, SqliteLocked = 6 };
enum : int { SqliteReadOnly = 8, SqliteIoError = 10, SqliteFull = 13, SqliteCantOpen = 14 };

qint64 FloorMinute(qint64 aMs)
{
    return aMs - ((aMs % MinuteMs) + MinuteMs) % MinuteMs;
}

int Code(const QSqlError &aError)
{
    return aError.nativeErrorCode().toInt();
}

// A short Russian reason for a failed statement, for the log.
QString Reason(const QSqlError &aError)
{
    switch (Code(aError)) {
    case SqliteFull: return QStringLiteral("диск заполнен");
    case SqliteBusy:
    case SqliteLocked: return QStringLiteral("файл журнала занят другой программой");
    case SqliteReadOnly: return QStringLiteral("файл или папка журнала доступны только для чтения");
    case SqliteCantOpen: return QStringLiteral("файл журнала нельзя открыть");
    case SqliteIoError: return QStringLiteral("ошибка чтения или записи диска");
    case SqliteCorrupt:
    case SqliteNotADatabase: return QStringLiteral("файл журнала повреждён");
    default: return QStringLiteral("ошибка базы данных (%1)").arg(aError.text().simplified());
    }
}

bool Exec(QSqlQuery &aQuery, const QString &aSql, QString *aError)
{
    if (aQuery.exec(aSql))
        return true;
    *aError = Reason(aQuery.lastError());
    return false;
}

QVariant Nullable(const std::optional<qint64> &aValue)
{
    return aValue ? QVariant(qlonglong(*aValue)) : QVariant(QMetaType(QMetaType::LongLong));
}

std::optional<qint64> Optional(const QVariant &aValue)
{
    if (aValue.isNull())
        return std::nullopt;
    return aValue.toLongLong();
}

// The statements that bring a file of version N to N + 1, index N; each step runs in one
// transaction together with the new user_version.
const std::vector<QStringList> &MigrationSteps()
{
    static const std::vector<QStringList> steps = {
        {
            QStringLiteral("CREATE TABLE events(id INTEGER PRIMARY KEY, time INTEGER NOT NULL, kind TEXT NOT NULL, "
                           "output INTEGER, old INTEGER, new INTEGER, source TEXT, text TEXT)"),
            QStringLiteral("CREATE INDEX events_time ON events(time)"),
            QStringLiteral("CREATE TABLE samples(time INTEGER PRIMARY KEY, supply_mv INTEGER, power_status INTEGER, "
                           "outputs INTEGER)"),
            QStringLiteral("CREATE TABLE minutes(time INTEGER PRIMARY KEY, supply_min INTEGER, supply_max INTEGER, "
                           "supply_last INTEGER, power_min INTEGER, power_max INTEGER, power_last INTEGER, "
                           "power_alarm_any INTEGER, outputs_and INTEGER, outputs_or INTEGER, outputs_last INTEGER)"),
        },
    };
    return steps;
}

const QStringList KnownTables = {QStringLiteral("events"), QStringLiteral("samples"), QStringLiteral("minutes")};

// One minute of samples being folded.
struct TzMinute
{
    int SupplyMin = 0, SupplyMax = 0, SupplyLast = 0;
    int PowerMin = 0, PowerMax = 0, PowerLast = 0;
    bool PowerAlarmAny = false;
    qint64 OutputsAnd = 0, OutputsOr = 0, OutputsLast = 0;

    void Add(int aSupply, int aPower, qint64 aOutputs, bool aFirst)
    {
        if (aFirst) {
            SupplyMin = SupplyMax = aSupply;
            PowerMin = PowerMax = aPower;
            OutputsAnd = aOutputs;
        }
        SupplyMin = std::min(SupplyMin, aSupply);
        SupplyMax = std::max(SupplyMax, aSupply);
        PowerMin = std::min(PowerMin, aPower);
        PowerMax = std::max(PowerMax, aPower);
        PowerAlarmAny = PowerAlarmAny || (aPower & PowerAlarmBits) != 0;
        OutputsAnd &= aOutputs;
        OutputsOr |= aOutputs;
        SupplyLast = aSupply;
        PowerLast = aPower;
        OutputsLast = aOutputs;
    }
};

} // namespace

TzJournalStore::TzJournalStore(const QString &aFolder) : fFolder(aFolder)
{
    static QAtomicInteger<quint64> counter;
    fConnection = QStringLiteral("quadrel-journal-%1").arg(counter.fetchAndAddRelaxed(1));
}

TzJournalStore::~TzJournalStore()
{
    Close();
}

QString TzJournalStore::FileName() const
{
    return QDir(fFolder).filePath(JournalFile);
}

QSqlDatabase TzJournalStore::Database() const
{
    return QSqlDatabase::database(fConnection, false);
}

bool TzJournalStore::Connect(QString *aError, bool aReadOnly)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), fConnection);
    db.setDatabaseName(FileName());
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1%2")
                             .arg(BusyTimeoutMs)
                             .arg(aReadOnly ? QStringLiteral(";QSQLITE_OPEN_READONLY") : QString()));
    if (db.open())
        return true;
    *aError = Reason(db.lastError());
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(fConnection);
    return false;
}

void TzJournalStore::Disconnect()
{
    fInsertEvent.reset();
    fInsertSample.reset();
    fOpen = false;
    if (!QSqlDatabase::contains(fConnection))
        return;
    Database().close();
    QSqlDatabase::removeDatabase(fConnection);
}

void TzJournalStore::Close()
{
    Disconnect();
}

bool TzJournalStore::OpenForReading(QString *aProblem)
{
    Disconnect();
    if (!QFileInfo(FileName()).isFile()) {
        *aProblem = QStringLiteral("журнала нет: %1").arg(QDir::toNativeSeparators(FileName()));
        return false;
    }
    QString error;
    if (!Connect(&error, true)) {
        *aProblem = QStringLiteral("журнал не открыт: %1").arg(error);
        return false;
    }
    if (Check(&error) != TzCheck::Good) {
        Disconnect();
        *aProblem = QStringLiteral("журнал не прочитан: %1")
                        .arg(error.isEmpty() ? QStringLiteral("файл повреждён или создан другой программой") : error);
        return false;
    }
    fOpen = true;
    return true;
}

// What the file on disk is: ours (any version up to this one), empty, damaged or somebody else's.
TzJournalStore::TzCheck TzJournalStore::Check(QString *aError)
{
    QSqlQuery query(Database());
    const auto failed = [&] {
        const int code = Code(query.lastError());
        *aError = Reason(query.lastError());
        return code == SqliteCorrupt || code == SqliteNotADatabase ? TzCheck::Broken : TzCheck::Unreadable;
    };
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return failed();
    const int version = query.value(0).toInt();
    if (!query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite!_%' "
                                   "ESCAPE '!'")))
        return failed();
    QStringList tables;
    while (query.next())
        tables << query.value(0).toString();
    if (!query.exec(QStringLiteral("PRAGMA integrity_check")) || !query.next())
        return failed();
    if (query.value(0).toString() != QStringLiteral("ok")) {
        *aError = QStringLiteral("файл журнала повреждён");
        return TzCheck::Broken;
    }
    query.finish();
    if (version > SchemaVersion)
        return TzCheck::Foreign;
    if (version == 0)
        return tables.isEmpty() ? TzCheck::Empty : TzCheck::Foreign;
    for (const QString &table : tables)
        if (!KnownTables.contains(table))
            return TzCheck::Foreign;
    return tables.size() == KnownTables.size() ? TzCheck::Good : TzCheck::Broken;
}

// Renames the file (with its -wal and -shm) to Journal.sqlite.broken-<date>; gives the new name,
// or nothing when the file could not be renamed.
QString TzJournalStore::SetAside()
{
    Disconnect();
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = FileName() + QStringLiteral(".broken-") + stamp;
    for (int n = 2; QFile::exists(aside); ++n)
        aside = FileName() + QStringLiteral(".broken-%1-%2").arg(stamp).arg(n);
    if (!QFile::rename(FileName(), aside))
        return {};
    for (const QString &suffix : {QStringLiteral("-wal"), QStringLiteral("-shm")})
        if (QFile::exists(FileName() + suffix) && !QFile::rename(FileName() + suffix, aside + suffix))
            QFile::remove(FileName() + suffix); // a stale companion must not be replayed into the new file
    return QFileInfo(aside).fileName();
}

bool TzJournalStore::Migrate(int aFrom, QString *aError)
{
    QSqlQuery query(Database());
    for (int version = aFrom; version < SchemaVersion; ++version) {
        if (!Exec(query, QStringLiteral("BEGIN IMMEDIATE"), aError))
            return false;
        QStringList statements = MigrationSteps().at(version);
        statements << QStringLiteral("PRAGMA user_version = %1").arg(version + 1) << QStringLiteral("COMMIT");
        for (const QString &statement : statements) {
            if (!Exec(query, statement, aError)) {
                query.exec(QStringLiteral("ROLLBACK"));
                return false;
            }
        }
    }
    return true;
}

bool TzJournalStore::SetUp(QString *aError)
{
    QSqlQuery query(Database());
    if (!Exec(query, QStringLiteral("PRAGMA journal_mode = WAL"), aError) || !query.next())
        return false;
    if (query.value(0).toString().toLower() != QStringLiteral("wal")) {
        *aError = QStringLiteral("файл журнала нельзя перевести в режим WAL");
        return false;
    }
    if (!Exec(query, QStringLiteral("PRAGMA synchronous = NORMAL"), aError))
        return false;
    if (!Exec(query, QStringLiteral("PRAGMA user_version"), aError) || !query.next())
        return false;
    if (!Migrate(query.value(0).toInt(), aError))
        return false;
    fInsertEvent = std::make_unique<QSqlQuery>(Database());
    fInsertSample = std::make_unique<QSqlQuery>(Database());
    if (!fInsertEvent->prepare(QStringLiteral("INSERT INTO events(time, kind, output, old, new, source, text) "
                                              "VALUES (?, ?, ?, ?, ?, ?, ?)"))
        || !fInsertSample->prepare(
            QStringLiteral("INSERT OR REPLACE INTO samples(time, supply_mv, power_status, outputs) "
                           "VALUES (?, ?, ?, ?)"))) {
        *aError = Reason(fInsertEvent->lastError().isValid() ? fInsertEvent->lastError() : fInsertSample->lastError());
        return false;
    }
    return true;
}

bool TzJournalStore::Open(QString *aNote)
{
    Close();
    aNote->clear();
    const auto fail = [&](const QString &aWhy) {
        Disconnect();
        *aNote = QStringLiteral("Журнал не открыт: %1 (%2).").arg(aWhy, QDir::toNativeSeparators(FileName()));
        return false;
    };
    if (!QDir().mkpath(fFolder))
        return fail(QStringLiteral("папку журнала нельзя создать"));
    QString error;
    if (!Connect(&error))
        return fail(error);
    const TzCheck check = Check(&error);
    if (check == TzCheck::Unreadable)
        return fail(error);
    QString note;
    if (check == TzCheck::Broken || check == TzCheck::Foreign) {
        const QString aside = SetAside();
        if (aside.isEmpty())
            return fail(QStringLiteral("файл журнала не читается, и его нельзя переименовать"));
        note = (check == TzCheck::Broken
                    ? QStringLiteral("Файл журнала повреждён, он сохранён как %1; начат новый журнал.")
                    : QStringLiteral("Файл журнала создан другой программой или более новой версией, он сохранён "
                                     "как %1; начат новый журнал."))
                   .arg(aside);
        if (!Connect(&error))
            return fail(error);
    }
    if (!SetUp(&error))
        return fail(error);
    // The minutes after the last row are rolled up at the next fold, and the last quarter of an
    // hour again in case rows came late before the program stopped.
    error.clear();
    {
        QSqlQuery last(Database());
        if (!last.exec(QStringLiteral("SELECT MAX(time) FROM minutes")) || !last.next())
            error = Reason(last.lastError());
        else
            fRolledUntil = last.value(0).isNull() ? std::numeric_limits<qint64>::min() + FoldChunkMs
                                                  : last.value(0).toLongLong() - RerollMs;
    }
    if (!error.isEmpty())
        return fail(error);
    fLateFrom = std::numeric_limits<qint64>::max();
    fOpen = true;
    *aNote = note;
    return true;
}

bool TzJournalStore::Write(const TzJournalBatch &aBatch, QString *aProblem)
{
    if (!fOpen) {
        *aProblem = QStringLiteral("Журнал не записывается: журнал не открыт.");
        return false;
    }
    QSqlQuery control(Database());
    QString error;
    const auto fail = [&] {
        control.exec(QStringLiteral("ROLLBACK"));
        *aProblem = QStringLiteral("Журнал не записывается: %1.").arg(error);
        return false;
    };
    if (!Exec(control, QStringLiteral("BEGIN IMMEDIATE"), &error)) {
        *aProblem = QStringLiteral("Журнал не записывается: %1.").arg(error);
        return false;
    }
    for (const TzJournalEvent &event : aBatch.Events) {
        fInsertEvent->bindValue(0, event.TimeMs);
        fInsertEvent->bindValue(1, event.Kind);
        fInsertEvent->bindValue(2, event.Output ? QVariant(event.Output) : QVariant(QMetaType(QMetaType::Int)));
        fInsertEvent->bindValue(3, Nullable(event.Old));
        fInsertEvent->bindValue(4, Nullable(event.New));
        fInsertEvent->bindValue(5, event.Source);
        fInsertEvent->bindValue(6, event.Text);
        if (!fInsertEvent->exec()) {
            error = Reason(fInsertEvent->lastError());
            return fail();
        }
    }
    for (const TzJournalSample &sample : aBatch.Samples) {
        fInsertSample->bindValue(0, sample.TimeMs);
        fInsertSample->bindValue(1, sample.SupplyMv);
        fInsertSample->bindValue(2, sample.PowerStatus);
        fInsertSample->bindValue(3, qlonglong(sample.Outputs));
        if (!fInsertSample->exec()) {
            error = Reason(fInsertSample->lastError());
            return fail();
        }
    }
    if (!Exec(control, QStringLiteral("COMMIT"), &error))
        return fail();
    // Samples for minutes already rolled up (kept through an outage) are rolled up again.
    for (const TzJournalSample &sample : aBatch.Samples)
        if (sample.TimeMs < fRolledUntil)
            fLateFrom = std::min(fLateFrom, sample.TimeMs);
    return true;
}

// Rolls the samples of [aFromMs, aToMs) (minute boundaries) up into their minutes' rows, an hour
// per transaction. A minute that has a row already is merged into it: min, max, and, or are the
// same however often a sample is counted, and the last comes from the whole minute read again.
bool TzJournalStore::RollUp(qint64 aFromMs, qint64 aToMs, QString *aError)
{
    QSqlQuery control(Database()), next(Database()), read(Database()), upsert(Database());
    read.setForwardOnly(true);
    if (!next.prepare(QStringLiteral("SELECT MIN(time) FROM samples WHERE time >= ? AND time < ?"))
        || !read.prepare(QStringLiteral("SELECT time, supply_mv, power_status, outputs FROM samples "
                                        "WHERE time >= ? AND time < ? ORDER BY time"))
        || !upsert.prepare(QStringLiteral(
            "INSERT INTO minutes(time, supply_min, supply_max, supply_last, power_min, power_max, power_last, "
            "power_alarm_any, outputs_and, outputs_or, outputs_last) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
            "ON CONFLICT(time) DO UPDATE SET supply_min = min(supply_min, excluded.supply_min), "
            "supply_max = max(supply_max, excluded.supply_max), supply_last = excluded.supply_last, "
            "power_min = min(power_min, excluded.power_min), power_max = max(power_max, excluded.power_max), "
            "power_last = excluded.power_last, power_alarm_any = max(power_alarm_any, excluded.power_alarm_any), "
            "outputs_and = outputs_and & excluded.outputs_and, outputs_or = outputs_or | excluded.outputs_or, "
            "outputs_last = excluded.outputs_last"))) {
        *aError = Reason(upsert.lastError());
        return false;
    }
    for (qint64 cursor = aFromMs;;) {
        // The next sample to roll up; gaps (days without a connection) are skipped.
        next.bindValue(0, cursor);
        next.bindValue(1, aToMs);
        if (!next.exec() || !next.next()) {
            *aError = Reason(next.lastError());
            return false;
        }
        if (next.value(0).isNull())
            return true;
        const qint64 chunkStart = FloorMinute(next.value(0).toLongLong());
        next.finish();
        const qint64 chunkEnd = std::min(aToMs, chunkStart + FoldChunkMs);

        if (!Exec(control, QStringLiteral("BEGIN IMMEDIATE"), aError))
            return false;
        std::map<qint64, TzMinute> minutes;
        read.bindValue(0, chunkStart);
        read.bindValue(1, chunkEnd);
        bool ok = read.exec();
        while (ok && read.next()) {
            const auto [at, added] = minutes.try_emplace(FloorMinute(read.value(0).toLongLong()));
            at->second.Add(read.value(1).toInt(), read.value(2).toInt(), read.value(3).toLongLong(), added);
        }
        read.finish();
        for (auto at = minutes.begin(); ok && at != minutes.end(); ++at) {
            const TzMinute &m = at->second;
            const QVariantList values = {at->first,    m.SupplyMin, m.SupplyMax,  m.SupplyLast,
                                         m.PowerMin,   m.PowerMax,  m.PowerLast,  int(m.PowerAlarmAny),
                                         m.OutputsAnd, m.OutputsOr, m.OutputsLast};
            for (int i = 0; i < values.size(); ++i)
                upsert.bindValue(i, values[i]);
            ok = upsert.exec();
        }
        ok = ok && control.exec(QStringLiteral("COMMIT"));
        if (!ok) {
            *aError = Reason(control.lastError().isValid() ? control.lastError() : upsert.lastError());
            control.exec(QStringLiteral("ROLLBACK"));
            return false;
        }
        cursor = chunkEnd;
    }
}

// Every complete minute of samples gets its row in minutes soon after it ends, so that a chart of
// minutes or wider reads one row a minute instead of sixty; the samples themselves stay seven
// days. Then what is older than seven days (samples) or two years (minutes, events) goes.
void TzJournalStore::Fold(qint64 aNowMs)
{
    if (!fOpen)
        return;
    QString ignored; // a failed fold is tried again next time; writes report the disk's trouble
    const qint64 rollTo = FloorMinute(aNowMs);
    const qint64 rollFrom = FloorMinute(std::min(fRolledUntil, fLateFrom));
    if (rollFrom < rollTo) {
        if (!RollUp(rollFrom, rollTo, &ignored))
            return;
        fRolledUntil = rollTo;
        fLateFrom = std::numeric_limits<qint64>::max();
    }
    const qint64 foldBefore = std::min(rollTo, FloorMinute(aNowMs - FullResolutionMs));
    const qint64 keepFrom = QDateTime::fromMSecsSinceEpoch(aNowMs, Qt::UTC).addYears(-KeptYears).toMSecsSinceEpoch();
    QSqlQuery query(Database());
    if (!query.exec(QStringLiteral("SELECT (SELECT MIN(time) FROM samples), (SELECT MIN(time) FROM minutes), "
                                   "(SELECT MIN(time) FROM events)"))
        || !query.next())
        return;
    const auto due = [&](int aColumn, qint64 aBefore) {
        return !query.value(aColumn).isNull() && query.value(aColumn).toLongLong() < aBefore;
    };
    const bool samplesDue = due(0, foldBefore), minutesDue = due(1, keepFrom), eventsDue = due(2, keepFrom);
    query.finish();
    const auto remove = [&](const QString &aTable, qint64 aBefore) {
        query.prepare(QStringLiteral("DELETE FROM %1 WHERE time < ?").arg(aTable));
        query.bindValue(0, aBefore);
        query.exec();
    };
    if (samplesDue)
        remove(QStringLiteral("samples"), foldBefore);
    if (minutesDue)
        remove(QStringLiteral("minutes"), keepFrom);
    if (eventsDue)
        remove(QStringLiteral("events"), keepFrom);
}

std::vector<TzJournalEvent> TzJournalStore::Events(qint64 aFromMs, qint64 aToMs, int aOutput,
                                                   const QStringList &aKinds) const
{
    std::vector<TzJournalEvent> events;
    if (!fOpen)
        return events;
    QString sql = QStringLiteral("SELECT time, kind, output, old, new, source, text FROM events "
                                 "WHERE time >= ? AND time < ?");
    if (aOutput != 0)
        sql += QStringLiteral(" AND output = ?");
    if (!aKinds.isEmpty()) {
        QStringList marks;
        marks.fill(QStringLiteral("?"), aKinds.size());
        sql += QStringLiteral(" AND kind IN (%1)").arg(marks.join(QLatin1Char(',')));
    }
    sql += QStringLiteral(" ORDER BY time, id");
    QSqlQuery query(Database());
    query.setForwardOnly(true);
    query.prepare(sql);
    int at = 0;
    query.bindValue(at++, aFromMs);
    query.bindValue(at++, aToMs);
    if (aOutput != 0)
        query.bindValue(at++, aOutput);
    for (const QString &kind : aKinds)
        query.bindValue(at++, kind);
    if (!query.exec())
        return events;
    while (query.next()) {
        TzJournalEvent event;
        event.TimeMs = query.value(0).toLongLong();
        event.Kind = query.value(1).toString();
        event.Output = query.value(2).toInt();
        event.Old = Optional(query.value(3));
        event.New = Optional(query.value(4));
        event.Source = query.value(5).toString();
        event.Text = query.value(6).toString();
        events.push_back(std::move(event));
    }
    return events;
}

// One pass over samples and minutes grouped by bucket. The last power status and outputs of a
// bucket come from MAX over (time from the start) shifted left with the value in the low bits:
// the greatest is the latest row, and its low bits are its value (status 16 bits, outputs 20).
std::vector<TzJournalBucket> TzJournalStore::Buckets(qint64 aFromMs, qint64 aToMs, int aCount) const
{
    std::vector<TzJournalBucket> buckets;
    if (!fOpen || aCount <= 0 || aToMs <= aFromMs)
        return buckets;
    QStringList anyOn;
    for (int bit = 0; bit < OutputCount; ++bit)
        anyOn << QStringLiteral("MAX(outs & %1)").arg(1 << bit);
    const qint64 width = aToMs - aFromMs;
    // Whole numbers only, written into the statement: SQLite's integer arithmetic is exact.
    const QString at = QStringLiteral("(time - %1)").arg(aFromMs);
    const QString bucket = QStringLiteral("(%1 * %2) / %3").arg(at).arg(aCount).arg(width);
    const QString range = QStringLiteral("time >= %1 AND time < %2").arg(aFromMs).arg(aToMs);
    // Buckets of a minute or wider read the minutes' rows, and the samples of the minutes not yet
    // rolled up; narrower ones read the samples, and minutes only before the first sample kept.
    // A minute read twice changes nothing: min, max, or and the latest row are the same.
    QString sampleRange = range, minuteRange = range;
    // Samples written late (after an outage, or a batch of the past) are read as samples until
    // their minutes are rolled up.
    if (width >= aCount * MinuteMs)
        sampleRange += QStringLiteral(" AND time >= %1").arg(std::min(fRolledUntil, fLateFrom));
    else
        minuteRange += QStringLiteral(" AND time < COALESCE((SELECT MIN(time) FROM samples) / %1 * %1, %2)")
                           .arg(MinuteMs)
                           .arg(aToMs);
    const QString sql =
        QStringLiteral("SELECT b, MIN(lo), MAX(hi), MAX(alarm), MAX(at * 65536 + power), "
                       "MAX(at * 1048576 + (outs_last & 1048575)), %1 FROM ("
                       " SELECT %2 AS at, %3 AS b, supply_mv AS lo, supply_mv AS hi, (power_status & %4) != 0 AS alarm,"
                       "  power_status & 65535 AS power, outputs AS outs, outputs AS outs_last FROM samples WHERE %5"
                       " UNION ALL"
                       " SELECT %2, %3, supply_min, supply_max, power_alarm_any, power_last & 65535, outputs_or,"
                       "  outputs_last FROM minutes WHERE %6"
                       ") GROUP BY b ORDER BY b")
            .arg(anyOn.join(QLatin1Char('|')), at, bucket)
            .arg(PowerAlarmBits)
            .arg(sampleRange, minuteRange);
    QSqlQuery query(Database());
    query.setForwardOnly(true);
    if (!query.exec(sql))
        return buckets;
    // Bucket b holds the times t with floor((t - from) * count / width) == b.
    const auto edge = [&](qint64 aBucket) { return aFromMs + (aBucket * width + aCount - 1) / aCount; };
    while (query.next()) {
        TzJournalBucket bucket;
        const qint64 b = query.value(0).toLongLong();
        bucket.FromMs = edge(b);
        bucket.ToMs = edge(b + 1);
        bucket.SupplyMin = query.value(1).toInt();
        bucket.SupplyMax = query.value(2).toInt();
        bucket.PowerAlarmAny = query.value(3).toInt() != 0;
        bucket.PowerStatusLast = int(query.value(4).toLongLong() & 0xFFFF);
        bucket.OutputsLast = quint32(query.value(5).toLongLong() & 0xFFFFF);
        bucket.OutputsAnyOn = quint32(query.value(6).toLongLong());
        buckets.push_back(bucket);
    }
    return buckets;
}

std::vector<TzJournalSample> TzJournalStore::Samples(qint64 aFromMs, qint64 aToMs) const
{
    std::vector<TzJournalSample> samples;
    if (!fOpen)
        return samples;
    QSqlQuery query(Database());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT time, supply_mv, power_status, outputs FROM samples "
                                 "WHERE time >= ? AND time < ? ORDER BY time"));
    query.bindValue(0, aFromMs);
    query.bindValue(1, aToMs);
    if (!query.exec())
        return samples;
    while (query.next())
        samples.push_back({query.value(0).toLongLong(), query.value(1).toInt(), query.value(2).toInt(),
                           quint32(query.value(3).toLongLong())});
    return samples;
}

std::optional<qint64> TzJournalStore::FirstTime() const
{
    if (!fOpen)
        return std::nullopt;
    QSqlQuery query(Database());
    if (!query.exec(QStringLiteral("SELECT MIN(t) FROM (SELECT MIN(time) AS t FROM events "
                                   "UNION ALL SELECT MIN(time) FROM samples UNION ALL SELECT MIN(time) FROM minutes)"))
        || !query.next() || query.value(0).isNull())
        return std::nullopt;
    return query.value(0).toLongLong();
}

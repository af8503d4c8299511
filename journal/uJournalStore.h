#pragma once
// The journal's file, Journal.sqlite, through Qt SQL: events, one sample a second for the last
// seven days and one row a minute (min, max, last), both kept for two years. The minutes' rows
// are made as each minute ends, so a chart of a week or a month reads minutes only.
// Every call is made on the thread that created the store. Time ranges are half-open:
// [aFromMs, aToMs), milliseconds since the epoch, UTC.

#include "journal/uJournalRows.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

class QSqlDatabase;
class QSqlQuery;

class TzJournalStore
{
public:
    // The schema this code writes (PRAGMA user_version). A file of a newer version is foreign.
    static constexpr int SchemaVersion = 1;
    static constexpr qint64 FullResolutionMs = 7LL * 24 * 3600 * 1000;
    static constexpr int KeptYears = 2;
    // How long a write waits for another connection's lock before it gives up.
    static constexpr int BusyTimeoutMs = 200;

    explicit TzJournalStore(const QString &aFolder);
    ~TzJournalStore();
    TzJournalStore(const TzJournalStore &) = delete;
    TzJournalStore &operator=(const TzJournalStore &) = delete;

    QString FileName() const;
    bool IsOpen() const { return fOpen; }

    // Opens, creates or migrates the file. A corrupt or foreign file is renamed aside as
    // "Journal.sqlite.broken-<yyyyMMdd-HHmmss>" (with its -wal and -shm) and a new journal is
    // started: true, and *aNote says so. False when the folder cannot hold the journal or the
    // file is held by another program: *aNote says why. Both notes are one Russian line.
    bool Open(QString *aNote);
    // Opens an existing journal to read it only, as another program does while the panel writes:
    // nothing is created, migrated or set aside. False, with *aProblem saying why (Russian, one
    // line), for a missing, damaged, foreign or newer file.
    bool OpenForReading(QString *aProblem);
    void Close();

    // Writes the batch in one transaction; on failure nothing of it is kept and *aProblem says why.
    bool Write(const TzJournalBatch &aBatch, QString *aProblem);
    // Folds samples older than seven days into minutes and drops what is older than two years.
    // Cheap when nothing is due.
    void Fold(qint64 aNowMs);

    // Events in time order; aOutput 0 for every output, aKinds empty for every kind.
    std::vector<TzJournalEvent> Events(qint64 aFromMs, qint64 aToMs, int aOutput = 0,
                                       const QStringList &aKinds = {}) const;
    // The range cut into aCount equal buckets, from both samples and minutes; empty buckets are
    // left out.
    std::vector<TzJournalBucket> Buckets(qint64 aFromMs, qint64 aToMs, int aCount) const;
    // Full-resolution samples only (those not yet folded).
    std::vector<TzJournalSample> Samples(qint64 aFromMs, qint64 aToMs) const;
    // The earliest time of anything kept.
    std::optional<qint64> FirstTime() const;

private:
    enum class TzCheck { Good, Empty, Broken, Foreign, Unreadable };
    QSqlDatabase Database() const;
    bool Connect(QString *aError, bool aReadOnly = false);
    void Disconnect();
    TzCheck Check(QString *aError);
    bool SetUp(QString *aError);
    bool Migrate(int aFrom, QString *aError);
    QString SetAside();
    bool RollUp(qint64 aFromMs, qint64 aToMs, QString *aError);

    QString fFolder;
    QString fConnection;
    bool fOpen = false;
    std::unique_ptr<QSqlQuery> fInsertEvent, fInsertSample;
    // Samples before fRolledUntil have their minutes' rows, except those written late from fLateFrom.
    qint64 fRolledUntil = 0;
    qint64 fLateFrom = 0;
};

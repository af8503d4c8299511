#pragma once
// The journal's writer: owns a thread of its own on which the store opens, writes, folds and
// answers queries, so that the interface thread never waits for the disk. Every call returns at
// once; rows that cannot be written (a full disk, a read-only folder, a locked file) are kept,
// up to ten minutes of them, and written when the disk takes them again.

#include "journal/uJournalRows.h"

#include <QMetaType>
#include <QObject>
#include <QStringList>

#include <functional>
#include <vector>

class QThread;
class TzJournalStore;
class TzJournalWriterWorker;

class TzJournalWriter : public QObject
{
    Q_OBJECT
public:
    using TzQueryDone = std::function<void(std::vector<TzJournalBucket>, std::vector<TzJournalEvent>)>;
    // How long rows are kept in memory while the journal cannot be written, and how often the
    // writer tries again.
    static constexpr int KeptMs = 10 * 60 * 1000;
    static constexpr int RetryMs = 1000;
    static constexpr int FoldEveryMs = 60 * 1000;

    // Starts the thread and opens Journal.sqlite in aFolder there. aKeptMs: how much the writer
    // keeps while the journal cannot be written (rows arrived longer before the newest are dropped).
    explicit TzJournalWriter(const QString &aFolder, QObject *aParent = nullptr, int aKeptMs = KeptMs);
    // Writes what it still holds, then stops the thread.
    ~TzJournalWriter() override;

    QString FileName() const { return fFileName; }

    // Runs on the writer's thread (after the rows appended before it are written) and calls aDone
    // on this object's thread with the buckets of the chart and the events of the range.
    void Query(qint64 aFromMs, qint64 aToMs, int aBuckets, int aOutput, QStringList aKinds, TzQueryDone aDone);
    // Runs aJob with the store on the writer's thread, after the rows appended before it are
    // written, then what aJob gives back on this object's thread (a window's answer, say).
    using TzReadJob = std::function<std::function<void()>(const TzJournalStore &)>;
    void Read(TzReadJob aJob);

public slots:
    // Queues the batch for writing in one transaction.
    void Append(const TzJournalBatch &aBatch);

signals:
    // The journal stopped being written (one Russian line for the log), once per outage.
    void Problem(const QString &aText);
    // The journal is written again, with the rows kept meanwhile.
    void Resumed();
    // What opening the journal had to say (a damaged file set aside), one Russian line.
    void Note(const QString &aText);

private:
    QString fFileName;
    QThread *fThread = nullptr;
    TzJournalWriterWorker *fWorker = nullptr;
};

Q_DECLARE_METATYPE(TzJournalBatch)

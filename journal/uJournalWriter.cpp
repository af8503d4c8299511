#include "journal/uJournalWriter.h"

#include "journal/uJournalStore.h"

#include <QDateTime>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <deque>
#include <memory>

// Lives on the writer's thread; every member runs there. It reports through the writer's signals,
// emitted on the writer's own thread so that a receiver connected just after construction hears
// even the first report.
class TzJournalWriterWorker : public QObject
{
public:
    TzJournalWriterWorker(TzJournalWriter *aWriter, const QString &aFolder, int aKeptMs)
        : fWriter(aWriter), fFolder(aFolder), fKeptMs(aKeptMs)
    {
    }

    void Start()
    {
        fStore = std::make_unique<TzJournalStore>(fFolder);
        fRetry = new QTimer(this);
        fRetry->setInterval(TzJournalWriter::RetryMs);
        connect(fRetry, &QTimer::timeout, this, [this] { TryAgain(); });
        fFold = new QTimer(this);
        fFold->setInterval(TzJournalWriter::FoldEveryMs);
        connect(fFold, &QTimer::timeout, this, [this] { Fold(); });
        fFold->start();
        QString problem;
        if (!OpenStore(&problem))
            Fail(problem);
        else
            Fold();
    }

    void Append(const TzJournalBatch &aBatch)
    {
        fPending.push_back({Clock::now(), aBatch});
        Flush();
    }

    void Query(qint64 aFromMs, qint64 aToMs, int aBuckets, int aOutput, const QStringList &aKinds,
               const TzJournalWriter::TzQueryDone &aDone)
    {
        Flush();
        std::vector<TzJournalBucket> buckets = fStore->Buckets(aFromMs, aToMs, aBuckets);
        std::vector<TzJournalEvent> events = fStore->Events(aFromMs, aToMs, aOutput, aKinds);
        QMetaObject::invokeMethod(
            fWriter, [aDone, buckets = std::move(buckets), events = std::move(events)] { aDone(buckets, events); },
            Qt::QueuedConnection);
    }

    void Read(const TzJournalWriter::TzReadJob &aJob)
    {
        Flush();
        std::function<void()> then = aJob(*fStore);
        if (then)
            QMetaObject::invokeMethod(fWriter, std::move(then), Qt::QueuedConnection);
    }

    // The last write before the thread stops; the store closes on its own thread.
    void Finish()
    {
        Flush();
        fStore.reset();
        delete fRetry; // timers stop on the thread that runs them
        delete fFold;
        fRetry = fFold = nullptr;
    }

private:
    using Clock = std::chrono::steady_clock;
    struct TzPending
    {
        Clock::time_point Arrived;
        TzJournalBatch Batch;
    };

    bool OpenStore(QString *aProblem)
    {
        QString note;
        if (!fStore->Open(&note)) {
            *aProblem = note;
            return false;
        }
        if (!note.isEmpty())
            Report([note](TzJournalWriter *aWriter) { emit aWriter->Note(note); });
        return true;
    }

    void TryAgain()
    {
        if (fPending.empty() && !fStore->IsOpen()) {
            QString problem;
            if (OpenStore(&problem))
                Recovered();
            return;
        }
        Flush();
    }

    void Flush()
    {
        if (fPending.empty())
            return;
        QString problem;
        if (!fStore->IsOpen() && !OpenStore(&problem)) {
            Fail(problem);
            return;
        }
        TzJournalBatch all;
        if (fPending.size() == 1) {
            all = fPending.front().Batch;
        } else {
            for (const TzPending &pending : fPending) {
                all.Events.insert(all.Events.end(), pending.Batch.Events.begin(), pending.Batch.Events.end());
                all.Samples.insert(all.Samples.end(), pending.Batch.Samples.begin(), pending.Batch.Samples.end());
            }
        }
        if (!fStore->Write(all, &problem)) {
            Fail(problem);
            return;
        }
        fPending.clear();
        Recovered();
    }

    void Fail(const QString &aProblem)
    {
        // Rows that arrived more than ten minutes before the newest are given up, oldest first.
        if (!fPending.empty()) {
            const Clock::time_point oldestKept = fPending.back().Arrived - std::chrono::milliseconds(fKeptMs);
            while (fPending.front().Arrived < oldestKept)
                fPending.pop_front();
        }
        fRetry->start();
        if (fOutage)
            return;
        fOutage = true;
        const QString text = aProblem
                             + QStringLiteral(" Записи хранятся в памяти (до 10 минут) и будут записаны, "
                                              "когда журнал станет доступен.");
        Report([text](TzJournalWriter *aWriter) { emit aWriter->Problem(text); });
    }

    void Recovered()
    {
        fRetry->stop();
        if (!fOutage)
            return;
        fOutage = false;
        Fold();
        Report([](TzJournalWriter *aWriter) { emit aWriter->Resumed(); });
    }

    void Fold()
    {
        if (fStore->IsOpen())
            fStore->Fold(QDateTime::currentMSecsSinceEpoch());
    }

    template <class F>
    void Report(F aEmit)
    {
        TzJournalWriter *writer = fWriter;
        QMetaObject::invokeMethod(fWriter, [writer, aEmit] { aEmit(writer); }, Qt::QueuedConnection);
    }

    TzJournalWriter *fWriter;
    QString fFolder;
    int fKeptMs;
    std::unique_ptr<TzJournalStore> fStore;
    std::deque<TzPending> fPending;
    QTimer *fRetry = nullptr;
    QTimer *fFold = nullptr;
    bool fOutage = false;
};

TzJournalWriter::TzJournalWriter(const QString &aFolder, QObject *aParent, int aKeptMs)
    : QObject(aParent), fFileName(TzJournalStore(aFolder).FileName()), fThread(new QThread),
      fWorker(new TzJournalWriterWorker(this, aFolder, aKeptMs))
{
    qRegisterMetaType<TzJournalBatch>();
    fThread->setObjectName(QStringLiteral("journal writer"));
    fWorker->moveToThread(fThread);
    fThread->start();
    QMetaObject::invokeMethod(fWorker, [worker = fWorker] { worker->Start(); }, Qt::QueuedConnection);
}

TzJournalWriter::~TzJournalWriter()
{
    QMetaObject::invokeMethod(fWorker, [worker = fWorker] { worker->Finish(); }, Qt::BlockingQueuedConnection);
    fThread->quit();
    fThread->wait();
    delete fWorker;
    delete fThread;
}

void TzJournalWriter::Append(const TzJournalBatch &aBatch)
{
    QMetaObject::invokeMethod(fWorker, [worker = fWorker, aBatch] { worker->Append(aBatch); }, Qt::QueuedConnection);
}

void TzJournalWriter::Query(qint64 aFromMs, qint64 aToMs, int aBuckets, int aOutput, QStringList aKinds,
                            TzQueryDone aDone)
{
    QMetaObject::invokeMethod(
        fWorker,
        [worker = fWorker, aFromMs, aToMs, aBuckets, aOutput, aKinds = std::move(aKinds), aDone = std::move(aDone)] {
            worker->Query(aFromMs, aToMs, aBuckets, aOutput, aKinds, aDone);
        },
        Qt::QueuedConnection);
}

void TzJournalWriter::Read(TzReadJob aJob)
{
    QMetaObject::invokeMethod(
        fWorker, [worker = fWorker, aJob = std::move(aJob)] { worker->Read(aJob); }, Qt::QueuedConnection);
}

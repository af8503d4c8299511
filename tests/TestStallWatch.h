#pragma once
// Watches the interface thread for stalls: a precise 10 ms timer that records how late each of
// its ticks comes. A tick that is due while the thread is busy arrives late by that much, so the
// largest lateness is the longest time the interface did not answer.

#include <QDebug>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>

class TestStallWatch : public QObject
{
public:
    static constexpr qint64 IntervalMs = 10;

    explicit TestStallWatch(QObject *aParent = nullptr) : QObject(aParent)
    {
        fTimer.setTimerType(Qt::PreciseTimer);
        fTimer.setInterval(int(IntervalMs));
        connect(&fTimer, &QTimer::timeout, this, [this] { Tick(); });
    }

    void Start()
    {
        fMaxLatenessMs = 0;
        fTicks = 0;
        fClock.start();
        fLastTickMs = 0;
        fTimer.start();
    }
    void Stop()
    {
        fMaxLatenessMs = MaxLatenessMs();
        fTimer.stop();
    }

    // The longest a tick came after it was due, in ms, since Start(). A tick still outstanding
    // counts too: a stall that ends just before this is read has had no tick to show it yet.
    qint64 MaxLatenessMs() const
    {
        if (!fTimer.isActive())
            return fMaxLatenessMs;
        return std::max(fMaxLatenessMs, fClock.elapsed() - fLastTickMs - IntervalMs);
    }
    qint64 Ticks() const { return fTicks; }

    // One line for the test's output, so the measured figure can be read off a run.
    void Report(const char *aWhat) const
    {
        qInfo().noquote() << QStringLiteral("stall watch: %1: longest interface stall %2 ms over %3 ticks")
                                 .arg(QString::fromUtf8(aWhat))
                                 .arg(MaxLatenessMs())
                                 .arg(fTicks);
    }

private:
    void Tick()
    {
        const qint64 now = fClock.elapsed();
        fMaxLatenessMs = std::max(fMaxLatenessMs, now - fLastTickMs - IntervalMs);
        fLastTickMs = now;
        ++fTicks;
    }

    QTimer fTimer;
    QElapsedTimer fClock;
    qint64 fLastTickMs = 0;
    qint64 fMaxLatenessMs = 0;
    qint64 fTicks = 0;
};

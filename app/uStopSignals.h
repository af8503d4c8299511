#pragma once
// Stop requests from outside the window: SIGTERM (a shutdown, `kill`), SIGINT (Ctrl+C in the
// terminal) and SIGHUP (the session ends). The program then ends the way closing its window does:
// every window closes, a notice that is open included, the event loop ends, and the destructors
// save the project and leave the module cleanly. Make one object before the windows and keep it
// until the end of main().

#include <QObject>

class QSocketNotifier;

class TzStopSignals : public QObject
{
    Q_OBJECT

public:
    explicit TzStopSignals(QObject *aParent = nullptr);
    ~TzStopSignals() override;

    // False where the platform has no stop signals or they could not be taken over.
    bool Watching() const { return fReadEnd >= 0; }
    // A stop signal has arrived. One that came while the windows were still being built (a notice
    // shown during start-up runs the events) found no event loop to end: main() asks here.
    bool Requested() const { return fRequested; }

signals:
    void StopRequested(int aSignal);

private:
    void ReadSignals();

    int fReadEnd = -1;
    QSocketNotifier *fNotifier = nullptr;
    bool fRequested = false;
};

#pragma once
// What the benchmarks read off their own process, and an event-loop wait.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

// The benchmarks draw their windows off screen unless told otherwise, and print whole lines at
// once so that a reader following the output sees each figure as it comes.
inline void PrepareBenchmarkOutput()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

// A "Name:   value" line of /proc/self/status as a number; -1 when absent.
inline long ProcStatusValue(const char *aName)
{
    std::ifstream status("/proc/self/status");
    const std::string prefix = std::string(aName) + ':';
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(prefix, 0) == 0)
            return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    return -1;
}

inline long RssKb()
{
    return ProcStatusValue("VmRSS");
}

inline long ThreadCount()
{
    return ProcStatusValue("Threads");
}

inline long OpenFdCount()
{
    return long(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot).size());
}

// Runs the event loop until the condition holds or the time is up. The loop sleeps between events
// (a spinning wait would put a core's worth of its own load on what is measured); a timer wakes it
// at least every 20 ms to look at the condition.
template <typename Condition>
bool WaitFor(Condition aCondition, int aMs)
{
    QElapsedTimer timer;
    timer.start();
    QTimer wake;
    wake.start(20);
    while (!aCondition()) {
        if (timer.elapsed() > aMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// quadrel-sim (aSimPath) as a process of its own, with the Quadrel at address 16 hearing any
// speed. Its further output is read and dropped so that its pipes never fill. It is ended when
// this goes: it stops when its standard input closes, and is told to stop in case it does not.
class TSimProcess
{
public:
    explicit TSimProcess(const QString &aSimPath)
    {
        fSim.setProgram(aSimPath);
        fSim.setArguments({QStringLiteral("--module"), QStringLiteral("16"), QStringLiteral("--any-speed")});
        fSim.setProcessChannelMode(QProcess::SeparateChannels);
        fSim.start();
        if (!fSim.waitForStarted(10000) || !WaitFor([this] { return fSim.canReadLine(); }, 10000)) {
            std::fprintf(stderr, "no pty path from %s\n", qPrintable(aSimPath));
            return;
        }
        fPtyPath = QString::fromUtf8(fSim.readLine()).trimmed();
        QObject::connect(&fSim, &QProcess::readyReadStandardOutput, &fSim, [this] { fSim.readAllStandardOutput(); });
        QObject::connect(&fSim, &QProcess::readyReadStandardError, &fSim, [this] { fSim.readAllStandardError(); });
    }
    ~TSimProcess()
    {
        fSim.closeWriteChannel();
        fSim.terminate();
        fSim.waitForFinished(5000);
    }
    TSimProcess(const TSimProcess &) = delete;
    TSimProcess &operator=(const TSimProcess &) = delete;

    // The pseudo-terminal it serves; empty, with a line on standard error, when it did not start.
    QString PtyPath() const { return fPtyPath; }

private:
    QProcess fSim;
    QString fPtyPath;
};

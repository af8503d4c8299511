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

// Starts quadrel-sim (aSimPath) with the Quadrel at address 16 hearing any speed, and gives the
// pseudo-terminal it serves; empty, with a line on standard error, when it does not start. Its
// further output is read and dropped so that its pipes never fill.
inline QString StartSimProcess(QProcess &aSim, const QString &aSimPath)
{
    aSim.setProgram(aSimPath);
    aSim.setArguments({QStringLiteral("--module"), QStringLiteral("16"), QStringLiteral("--any-speed")});
    aSim.setProcessChannelMode(QProcess::SeparateChannels);
    aSim.start();
    if (!aSim.waitForStarted(10000) || !WaitFor([&aSim] { return aSim.canReadLine(); }, 10000)) {
        std::fprintf(stderr, "no pty path from %s\n", qPrintable(aSimPath));
        return QString();
    }
    const QString path = QString::fromUtf8(aSim.readLine()).trimmed();
    QObject::connect(&aSim, &QProcess::readyReadStandardOutput, &aSim, [&aSim] { aSim.readAllStandardOutput(); });
    QObject::connect(&aSim, &QProcess::readyReadStandardError, &aSim, [&aSim] { aSim.readAllStandardError(); });
    return path;
}

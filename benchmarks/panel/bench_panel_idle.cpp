// Idle CPU of the panel while it polls a module: the program's windows (main window with its
// panel, log and version windows, as quadrel-panel makes them) connect to quadrel-sim, which runs
// as a separate process so that its work is not counted, and poll it for a while. The figure is
// this process's own user + system time over that while (/proc/self/stat), as a share of one
// core, split by thread, with each thread's wake-ups per second and the timers that were running.
// Prints the figures; it checks nothing and is never run as a test.
//
//   bench_panel_idle [seconds]   (default 60)

#include "app/uApplication.h"
#include "app/uPanelWindows.h"
#include "app/uProgramInfo.h"
#include "benchmarks/BenchProcess.h"
#include "link/uQuadrelLink.h"
#include "panel/uQuadrel.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace {

struct TzThreadTimes
{
    QString Name;
    long long Ticks = 0;    // utime + stime, in clock ticks
    long long Switches = 0; // voluntary + involuntary context switches: how often it ran
};

// The fields of a /proc stat line after the command name in parentheses.
QList<QByteArray> StatFields(const QString &aFile)
{
    QFile file(aFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray line = file.readAll();
    return line.mid(line.lastIndexOf(')') + 2).split(' ');
}

long long StatusValue(const QString &aFile, const QByteArray &aKey)
{
    QFile file(aFile);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith(aKey + ':'))
            return line.mid(aKey.size() + 1).trimmed().toLongLong();
    return 0;
}

// Per thread id; utime and stime are fields 14 and 15 of the stat line (12 and 13 after the name).
std::map<int, TzThreadTimes> Threads()
{
    std::map<int, TzThreadTimes> threads;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString base = tasks.filePath(tid);
        const QList<QByteArray> fields = StatFields(base + QStringLiteral("/stat"));
        if (fields.size() < 13)
            continue;
        TzThreadTimes &t = threads[tid.toInt()];
        QFile comm(base + QStringLiteral("/comm"));
        if (comm.open(QIODevice::ReadOnly))
            t.Name = QString::fromUtf8(comm.readAll()).trimmed();
        t.Ticks = fields[11].toLongLong() + fields[12].toLongLong();
        t.Switches = StatusValue(base + QStringLiteral("/status"), "voluntary_ctxt_switches")
                     + StatusValue(base + QStringLiteral("/status"), "nonvoluntary_ctxt_switches");
    }
    return threads;
}

long long ProcessTicks()
{
    const QList<QByteArray> fields = StatFields(QStringLiteral("/proc/self/stat"));
    return fields.size() < 13 ? 0 : fields[11].toLongLong() + fields[12].toLongLong();
}

void Run(int aMs)
{
    QEventLoop loop;
    QTimer::singleShot(aMs, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char **argv)
{
    PrepareBenchmarkOutput();
    // Settings of this run only, never the user's.
    QTemporaryDir settings;
    qputenv("QUADREL_SETTINGS_DIR", QFile::encodeName(settings.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(settings.filePath(QStringLiteral("config"))));

    TzApplication app(argc, argv);
    ApplyProgramIdentity();
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 60;

    TSimProcess sim(QStringLiteral(QUADREL_SIM_PATH));
    const QString path = sim.PtyPath();
    if (path.isEmpty())
        return 1;

    PreparePanelStart();
    TzPanelWindows windows;
    TfrQuadrel *frame = windows.Main.Frame();
    windows.Main.ShowAtStart();
    frame->AddPortOnTop(path);
    frame->findChild<QPushButton *>("btnConnect")->click();
    if (!WaitFor([&] { return frame->HostConnected() && frame->Link()->Polling(); }, 30000)) {
        std::printf("the panel did not start polling %s\n", qPrintable(path));
        return 1;
    }
    Run(3000); // past the first cycle and the first screen refreshes

    const long long clockTicks = sysconf(_SC_CLK_TCK);
    const std::map<int, TzThreadTimes> before = Threads();
    const long long processBefore = ProcessTicks();
    QElapsedTimer clock;
    clock.start();
    Run(seconds * 1000);
    const double elapsed = double(clock.elapsed()) / 1000.0;
    const long long processAfter = ProcessTicks();
    const std::map<int, TzThreadTimes> after = Threads();

    const auto share = [&](long long aTicks) { return 100.0 * double(aTicks) / double(clockTicks) / elapsed; };
    std::printf("The panel polling a simulated module for %.1f s (%s, still connected: %s)\n", elapsed,
                qPrintable(path), frame->HostConnected() ? "yes" : "no");
    std::printf("  whole process: %.2f %% of one core\n", share(processAfter - processBefore));
    for (const auto &[tid, now] : after) {
        const auto then = before.find(tid);
        if (then == before.end())
            continue;
        const long long switches = now.Switches - then->second.Switches;
        std::printf("  %-18s %6.2f %% of one core, %7.1f wake-ups/s\n",
                    qPrintable((tid == getpid() ? QStringLiteral("interface thread") : now.Name)),
                    share(now.Ticks - then->second.Ticks), double(switches) / elapsed);
    }
    std::printf("  timers running:");
    for (QWidget *window : QApplication::topLevelWidgets())
        for (const QTimer *timer : window->findChildren<QTimer *>())
            if (timer->isActive())
                std::printf(" %s/%s %d ms;", qPrintable(window->objectName()), qPrintable(timer->objectName()),
                            timer->interval());
    std::printf("\n");

    frame->findChild<QPushButton *>("btnConnect")->click(); // disconnect
    return 0;
}

// Seconds per status cycle of the real panel frame: the frame connects to the simulated module
// on a line that keeps time (every character takes its bit times), polls for a while, and the
// simulator's frame log gives the time in which each of the 8 status reads (24582, 36881,
// 60013..60016, the two pulse-width blocks) comes round once. At 9600 8N1 and at 115200 8N1,
// beside the cycle's line limit. Prints the figures; it checks nothing and is never run as a test.
//
//   bench_panel_cycle [seconds per speed]   (default 8)

#include "app/uApplication.h"
#include "benchmarks/BenchProcess.h"
#include "link/uQuadrelLink.h"
#include "panel/uQuadrel.h"
#include "sim/uSimulator.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

namespace {

constexpr uint8_t ModuleAddress = 16;
// The eight reads of the status cycle.
constexpr int StatusRegisters[] = {24582, 36881, 60013, 60014, 60015, 60016, 60017, 60047};

// Six one-register reads (7-byte answers) and two 30-register blocks (65-byte answers), each
// with its request (8 characters) and two frame gaps (3.5 characters each), 10-bit characters.
double CycleLineLimitSeconds(int aBaudRate)
{
    const double gaps = aBaudRate > 19200 ? 2 * 1.75e-3 : 2 * 3.5 * 10.0 / aBaudRate;
    const auto exchange = [&](int aAnswer) { return (8 + aAnswer) * 10.0 / aBaudRate + gaps; };
    return 6 * exchange(7) + 2 * exchange(65);
}

void Wait(int aMs)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < aMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void Measure(int aBaudRate, int aSeconds)
{
    TzSimulator sim;
    sim.Bus().AddModule(ModuleAddress);
    sim.Bus().WithModule(ModuleAddress, [&](TzSimModule &m, uint64_t) { m.SetLineSettings(aBaudRate, 4); });
    sim.Serial().SetPacing({true, 'N', 1, 500});
    const QString path = QString::fromStdString(sim.StartPty());
    if (path.isEmpty()) {
        std::printf("no pseudo-terminal: %s\n", sim.Serial().LastError().c_str());
        return;
    }
    auto *frame = new TfrQuadrel;
    frame->AddPortOnTop(path);
    frame->findChild<QComboBox *>("cbLineBaudRate")->setCurrentText(QString::number(aBaudRate));
    frame->findChild<QPushButton *>("btnConnect")->click();
    if (!WaitFor([&] { return frame->HostConnected() && frame->Link()->Polling(); }, 30000)) {
        std::printf("%6d bit/s: the panel did not start polling\n", aBaudRate);
        delete frame;
        return;
    }
    Wait(1000); // past the first cycle
    sim.Log().Clear();
    Wait(aSeconds * 1000);
    frame->findChild<QPushButton *>("btnConnect")->click(); // disconnect
    delete frame;

    // A timer tick finds part of a slow cycle still queued and queues only the rest (a frame
    // already queued is refused), so the reads are not counted in rounds: for each of the eight
    // status reads the mean time between two of its requests is taken, and a cycle (every
    // status value read once) lasts as long as the slowest of them.
    std::map<int, std::vector<uint64_t>> times;
    size_t others = 0;
    for (const TzSimFrameLogEntry &e : sim.Log().Entries()) {
        if (e.Direction != TzSimDirection::Received)
            continue;
        const bool read = e.Frame.size() == 8 && (e.Frame[1] == 3 || e.Frame[1] == 4);
        const int reg = read ? (e.Frame[2] << 8 | e.Frame[3]) : -1;
        if (std::find(std::begin(StatusRegisters), std::end(StatusRegisters), reg) == std::end(StatusRegisters))
            ++others;
        else
            times[reg].push_back(e.TickMs);
    }
    // The line time of one cycle: for each status read, the mean time from its request heard to
    // the next request heard (its answer, the gaps and the next request), summed over the eight.
    std::map<int, std::pair<double, int>> lineTime;
    {
        int previousReg = -1;
        uint64_t previousAt = 0;
        for (const TzSimFrameLogEntry &e : sim.Log().Entries()) {
            if (e.Direction != TzSimDirection::Received)
                continue;
            if (previousReg >= 0 && e.TickMs - previousAt < 1000) {
                lineTime[previousReg].first += double(e.TickMs - previousAt) / 1000.0;
                ++lineTime[previousReg].second;
            }
            previousReg = e.Frame.size() == 8 ? (e.Frame[2] << 8 | e.Frame[3]) : -1;
            previousAt = e.TickMs;
        }
    }
    double cycle = 0;
    for (int reg : StatusRegisters)
        if (lineTime[reg].second > 0)
            cycle += lineTime[reg].first / lineTime[reg].second;
    double slowest = 0, sum = 0;
    for (int reg : StatusRegisters) {
        const std::vector<uint64_t> &t = times[reg];
        if (t.size() < 3) {
            std::printf("%6d bit/s: too few reads of %d (%zu)\n", aBaudRate, reg, t.size());
            return;
        }
        const double interval = double(t.back() - t.front()) / 1000.0 / double(t.size() - 1);
        slowest = std::max(slowest, interval);
        sum += interval;
    }
    const double limit = CycleLineLimitSeconds(aBaudRate);
    std::printf("%6d bit/s: ms from each status request to the next request heard:", aBaudRate);
    for (int reg : StatusRegisters)
        std::printf(" %d %.1f", reg,
                    lineTime[reg].second > 0 ? 1000 * lineTime[reg].first / lineTime[reg].second : 0.0);
    std::printf("\n");
    std::printf("%6d bit/s 8N1: %.3f s per 8-read status cycle on the line (%.2f x its line limit of %.3f s);"
                " each status value read every %.3f s on average, the slowest every %.3f s (poll timer"
                " 0.250 s); %zu other requests\n",
                aBaudRate, std::max(cycle, 0.0), cycle / limit, limit, sum / 8, slowest, others);
}

} // namespace

int main(int argc, char **argv)
{
    PrepareBenchmarkOutput();
    TzApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 8;
    std::printf("The panel frame polling the simulated module on a paced line (turnaround 0.5 ms)\n");
    for (int speed : {9600, 115200})
        Measure(speed, seconds);
    return 0;
}

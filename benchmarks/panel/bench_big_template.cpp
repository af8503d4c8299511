// A connect with a very large register template: the real panel frame with the built-in template
// plus tens of thousands of further tags (reads of distinct registers), connected to the simulated
// module on a pty. Prints how long the template takes to load, how long the interface is held up
// by the connect (the first poll cycle queues every tag), the longest interface stall and the
// pace of answers in the first seconds of that cycle, then the same for a disconnect with the
// cycle still queued (every queued request is reported as failed) and for closing the frame.
// It checks nothing and is never run as a test.
//
//   bench_big_template [tags] [seconds of the first cycle]   (defaults 100000 and 10)

#include "app/uApplication.h"
#include "benchmarks/BenchProcess.h"
#include "link/uQuadrelLink.h"
#include "panel/uQuadrel.h"
#include "port/uFreePort.h"
#include "sim/uSimulator.h"
#include "tests/TestBigTemplate.h"
#include "tests/TestStallWatch.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr uint8_t ModuleAddress = 16;

void Spin(int aMs)
{
    WaitFor([] { return false; }, aMs);
}

} // namespace

int main(int argc, char **argv)
{
    PrepareBenchmarkOutput();
    TzApplication app(argc, argv);
    const int extra = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;

    TzSimulator sim;
    sim.Bus().AddModule(ModuleAddress);
    const QString path = QString::fromStdString(sim.StartPty());
    if (path.isEmpty()) {
        std::printf("no pseudo-terminal: %s\n", sim.Serial().LastError().c_str());
        return 1;
    }

    auto *frame = new TfrQuadrel;
    const QByteArray document = BigTemplate(extra);
    QElapsedTimer clock;
    clock.start();
    if (!frame->Link()->Device()->LoadFromData(document)) {
        std::printf("the large template was refused\n");
        return 1;
    }
    TzQuadrelLink::AddOtherQuadrelTags(frame->Link()->Device());
    std::printf("template of %zu tags (%d added, %.1f MB of XML) loaded in %lld ms\n",
                frame->Link()->Device()->Tags.size(), extra, double(document.size()) / 1e6, clock.elapsed());

    TestStallWatch stalls;
    stalls.Start();
    frame->AddPortOnTop(path);
    clock.restart();
    frame->findChild<QPushButton *>("btnConnect")->click();
    // Connected once the probe is answered; the first cycle is then queued over a few turns.
    if (!WaitFor([&] { return frame->HostConnected() && !frame->Link()->FirstCycleQueuing(); }, 30 * 60 * 1000)) {
        std::printf("the panel did not connect\n");
        return 1;
    }
    const qint64 connectMs = clock.elapsed();
    const int queued = frame->Link()->PendingAnswers();
    std::printf("connect: %lld ms from the click until the first cycle (%d requests) was queued; longest "
                "interface stall %lld ms\n",
                connectMs, queued, stalls.MaxLatenessMs());

    stalls.Start();
    const uint32_t firstUid = frame->Link()->Engine()->Port->IssuedUID();
    const int pendingAtStart = frame->Link()->PendingAnswers();
    clock.restart();
    Spin(seconds * 1000);
    const int answered = pendingAtStart - frame->Link()->PendingAnswers();
    const double perSecond = answered / (double(clock.elapsed()) / 1000.0);
    std::printf("first cycle: %d answers in %lld ms (%.0f per second, the whole cycle about %.0f s on this "
                "line); longest interface stall %lld ms; %u requests queued meanwhile\n",
                answered, clock.elapsed(), perSecond, perSecond > 0 ? queued / perSecond : 0.0, stalls.MaxLatenessMs(),
                frame->Link()->Engine()->Port->IssuedUID() - firstUid);

    // Disconnecting stops the port: every request still queued is reported, as a failure.
    stalls.Start();
    const int left = frame->Link()->PendingAnswers();
    clock.restart();
    frame->findChild<QPushButton *>("btnConnect")->click();
    const bool drained = WaitFor([&] { return frame->Link()->PendingAnswers() == 0; }, 30 * 60 * 1000);
    std::printf("disconnect: %d queued requests reported as failed in %lld ms%s; longest interface stall %lld ms\n",
                left, clock.elapsed(), drained ? "" : " (not all)", stalls.MaxLatenessMs());

    // Closing with a full queue: connect again and close at once.
    frame->findChild<QPushButton *>("btnConnect")->click();
    WaitFor([&] { return frame->HostConnected(); }, 30 * 60 * 1000);
    Spin(500);
    const int pendingAtClose = frame->Link()->PendingAnswers();
    clock.restart();
    delete frame;
    std::printf("close: %lld ms with %d requests queued\n", clock.elapsed(), pendingAtClose);
    return 0;
}

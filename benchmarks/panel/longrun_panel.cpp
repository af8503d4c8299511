// The panel left running: it polls quadrel-sim (its own process, on a pty, at 115200 bit/s) with a
// port observer open in the dynamic mode and the web bridge on against a service at the given
// address, and prints its resident memory, open file descriptors and threads every minute. At the
// end the growth of each after the first five minutes is fitted and extrapolated to 24 hours.
//
//   longrun_panel MINUTES SERVICE_BASE [path-to-quadrel-sim]
// scripts/long-run.sh starts a local service and runs this for an hour.

#include "app/uApplication.h"
#include "benchmarks/BenchPanel.h"
#include "common/uGlobVar.h"
#include "diagnostics/uPortObserverModel.h"
#include "link/uQuadrelLink.h"
#include "panel/uQuadrel.h"
#include "panel/uWebBridgePanel.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>

#include <cstdio>
#include <vector>

namespace {

struct Sample
{
    double Minute = 0;
    long Rss = 0;
    long Fds = 0;
    long Threads = 0;
};

// Least-squares slope per minute of one column over the samples from aFromMinute on.
double SlopePerMinute(const std::vector<Sample> &aSamples, double aFromMinute, long Sample::*aColumn)
{
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const Sample &s : aSamples) {
        if (s.Minute < aFromMinute)
            continue;
        const double y = double(s.*aColumn);
        n += 1;
        sx += s.Minute;
        sy += y;
        sxx += s.Minute * s.Minute;
        sxy += s.Minute * y;
    }
    const double d = n * sxx - sx * sx;
    return n > 1 && d != 0 ? (n * sxy - sx * sy) / d : 0;
}

void PrintTrend(const char *aName, const std::vector<Sample> &aSamples, long Sample::*aColumn)
{
    const double from = aSamples.back().Minute >= 10 ? 5 : 0;
    const double slope = SlopePerMinute(aSamples, from, aColumn);
    long lowest = aSamples.front().*aColumn, highest = lowest;
    for (const Sample &s : aSamples) {
        lowest = std::min(lowest, s.*aColumn);
        highest = std::max(highest, s.*aColumn);
    }
    const double last = double(aSamples.back().*aColumn);
    std::printf("%-8s start %ld, end %ld, min %ld, max %ld; slope from minute %.0f: %+.3f per minute; "
                "extrapolated to 24 h: %.0f\n",
                aName, aSamples.front().*aColumn, aSamples.back().*aColumn, lowest, highest, from, slope,
                last + slope * (24 * 60 - aSamples.back().Minute));
}

int Run(int aMinutes, const QString &aServiceBase, const QString &aSimPath)
{
    TSimProcess sim(aSimPath);
    const QString path = sim.PtyPath();
    if (path.isEmpty())
        return 1;

    TBenchPanel panel;
    TfrQuadrel *frame = panel.Frame;
    frame->WebBridge().SetHttpBase(aServiceBase);
    TfrmPortObserver *observer = panel.ConnectAndObserve(path);
    if (!observer)
        return 1;
    // Remote control is a test feature: it stays on only while test mode is.
    TestMode = true;
    auto *remoteControl = frame->findChild<QCheckBox *>(QStringLiteral("chkRemoteControl"));
    remoteControl->setChecked(true);

    std::printf("long run: %d min; panel polling quadrel-sim on %s at 115200 bit/s, observer in the dynamic "
                "mode, web bridge on %s\n",
                aMinutes, qPrintable(path), qPrintable(aServiceBase));
    std::printf("  minute   rss_kb  fds  threads  observer_rows  web\n");
    std::vector<Sample> samples;
    QElapsedTimer clock;
    clock.start();
    const auto sample = [&] {
        Sample s{double(clock.elapsed()) / 60000.0, RssKb(), OpenFdCount(), ThreadCount()};
        samples.push_back(s);
        std::printf("  %6.1f  %7ld  %3ld  %7ld  %13d  %s\n", s.Minute, s.Rss, s.Fds, s.Threads,
                    observer->Model->rowCount(), qPrintable(remoteControl->toolTip().simplified().left(60)));
        std::fflush(stdout);
    };
    sample();
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, sample);
    sampler.start(60000);
    const qint64 total = qint64(aMinutes) * 60000;
    WaitFor([&clock, total] { return clock.elapsed() >= total; }, int(total + 120000));
    sampler.stop();
    sample();

    PrintTrend("rss_kb", samples, &Sample::Rss);
    PrintTrend("fds", samples, &Sample::Fds);
    PrintTrend("threads", samples, &Sample::Threads);
    remoteControl->setChecked(false);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    PrepareBenchmarkOutput();
    TzApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: longrun_panel MINUTES SERVICE_BASE [path-to-quadrel-sim]\n");
        return 2;
    }
    const int minutes = std::atoi(argv[1]);
    const QString base = QString::fromLocal8Bit(argv[2]);
    const QString simPath = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral(QUADREL_SIM_PATH);
    return Run(minutes, base, simPath);
}

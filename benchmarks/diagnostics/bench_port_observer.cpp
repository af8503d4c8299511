// The port observer under load.
//
// 1. One announcement at 10000 rows: an observer without the automatic limit is filled with 10000
//    rows, then requests and their answers are announced as the panel announces them (one request,
//    then the answer three times: bytes, number, display text), and the time of each is printed.
// 2. Memory: the panel polls quadrel-sim (its own process, on a pty, at 115200 bit/s, the fastest
//    line) with an observer open in the dynamic mode, and the panel's resident memory is printed
//    every 30 s; the growth after the first two minutes is extrapolated to an hour.
//
//   bench_port_observer [seconds] [path-to-quadrel-sim]     (default 600 s)

#include "app/uApplication.h"
#include "benchmarks/BenchPanel.h"
#include "diagnostics/uPortObserver.h"
#include "diagnostics/uPortObserverModel.h"
#include "link/uQuadrelLink.h"
#include "panel/uQuadrel.h"

#include <QElapsedTimer>
#include <QRadioButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

TzPortObsRec ReadRequest(int aIndex, int aReg)
{
    TzPortObsRec rec;
    rec.Index = aIndex;
    rec.Addr = 16;
    rec.Func = 3;
    rec.Reg = aReg;
    rec.Cmd = QByteArray::fromHex("1003EA70000138B0");
    rec.Name = QStringLiteral("DOUT 1-16");
    return rec;
}

struct TzStats
{
    double MeanUs = 0, MedianUs = 0, MaxUs = 0;
};

TzStats Stats(std::vector<double> aSamples)
{
    TzStats stats;
    if (aSamples.empty())
        return stats;
    std::sort(aSamples.begin(), aSamples.end());
    double sum = 0;
    for (double s : aSamples)
        sum += s;
    stats.MeanUs = sum / double(aSamples.size());
    stats.MedianUs = aSamples[aSamples.size() / 2];
    stats.MaxUs = aSamples.back();
    return stats;
}

void AnnouncementAtTenThousandRows(bool aStatic)
{
    QWidget owner;
    TfrmPortObserver *observer = CreatePortObserver(&owner);
    observer->show();
    if (!aStatic)
        observer->rbDinamica->click();
    observer->btnAutoLimit->setChecked(false);
    // Without the automatic limit the grid holds up to 10000 rows; the timer would cut them, so
    // the rows are announced without it running.
    observer->AutoClearTimer->stop();
    constexpr int Rows = 10000;
    int index = 0;
    // In the static mode every register has its row: 10000 different registers.
    for (int i = 0; i < Rows; ++i) {
        ++index;
        ObserversAddRequest(ReadRequest(index, aStatic ? i : 60016));
    }
    QCoreApplication::processEvents();

    std::vector<double> requests, answers, exchanges;
    QElapsedTimer timer;
    const TzPortObsRec answer = [] {
        TzPortObsRec rec;
        rec.Cmd = QByteArray::fromHex("100302000185D4");
        return rec;
    }();
    for (int i = 0; i < 1000; ++i) {
        ++index;
        // The static mode's worst case: a register without a row is searched through all of them.
        const TzPortObsRec request = ReadRequest(index, aStatic ? Rows + i : 60016);
        TzPortObsRec reply = answer;
        reply.Index = index;
        timer.start();
        ObserversAddRequest(request);
        const qint64 requestNs = timer.nsecsElapsed();
        ObserversAddAnswer(reply);
        reply.Value = QStringLiteral("1");
        ObserversAddAnswer(reply);
        ObserversAddAnswer(reply);
        const qint64 totalNs = timer.nsecsElapsed();
        requests.push_back(double(requestNs) / 1000.0);
        answers.push_back(double(totalNs - requestNs) / 3000.0);
        exchanges.push_back(double(totalNs) / 1000.0);
        // The grid repaints between announcements, as it does between the panel's timers.
        if (i % 10 == 0)
            QCoreApplication::processEvents();
    }
    const TzStats r = Stats(requests), a = Stats(answers), e = Stats(exchanges);
    std::printf("%s mode, %d rows: request  mean %7.1f us  median %7.1f us  max %8.1f us\n",
                aStatic ? "static " : "dynamic", observer->Model->rowCount() - 1000, r.MeanUs, r.MedianUs, r.MaxUs);
    std::printf("%s mode, %d rows: answer   mean %7.1f us  median %7.1f us  max %8.1f us\n",
                aStatic ? "static " : "dynamic", observer->Model->rowCount() - 1000, a.MeanUs, a.MedianUs, a.MaxUs);
    std::printf("%s mode, %d rows: exchange mean %7.1f us  median %7.1f us  max %8.1f us (request + 3 answers)\n",
                aStatic ? "static " : "dynamic", observer->Model->rowCount() - 1000, e.MeanUs, e.MedianUs, e.MaxUs);
    std::fflush(stdout);
}

int MemoryOverTime(int aSeconds, const QString &aSimPath)
{
    TSimProcess sim(aSimPath);
    const QString path = sim.PtyPath();
    if (path.isEmpty())
        return 1;

    TBenchPanel panel;
    TfrmPortObserver *observer = panel.ConnectAndObserve(path);
    if (!observer)
        return 1;

    std::printf("\nsoak: %d s, panel polling quadrel-sim on %s at 115200 bit/s, observer in the dynamic mode\n",
                aSeconds, qPrintable(path));
    std::printf("  second  last_number  rows   rss_kb\n");
    std::vector<std::pair<double, long>> samples;
    QElapsedTimer clock;
    clock.start();
    const auto sample = [&] {
        const double second = double(clock.elapsed()) / 1000.0;
        const long rss = RssKb();
        samples.emplace_back(second, rss);
        const int rows = observer->Model->rowCount();
        std::printf("  %6.0f  %11s  %5d  %7ld\n", second, qPrintable(observer->Model->CellText(rows - 1, ocIndex)),
                    rows, rss);
        std::fflush(stdout);
    };
    sample();
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, sample);
    sampler.start(30000);
    WaitFor([&clock, aSeconds] { return clock.elapsed() >= qint64(aSeconds) * 1000; }, aSeconds * 1000 + 60000);
    sampler.stop();
    sample();

    // Least-squares slope of the samples after the grid has filled (the first two minutes).
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const auto &[second, rss] : samples)
        if (second >= 120 || aSeconds < 240) {
            n += 1;
            sx += second;
            sy += double(rss);
            sxx += second * second;
            sxy += second * double(rss);
        }
    const double slope = n > 1 && (n * sxx - sx * sx) != 0 ? (n * sxy - sx * sy) / (n * sxx - sx * sx) : 0;
    const long first = samples.front().second, last = samples.back().second;
    long highest = 0;
    for (const auto &s : samples)
        highest = std::max(highest, s.second);
    const double hour = double(last) + slope * (3600.0 - samples.back().first);
    std::printf(
        "rss: start %ld kB, end %ld kB, max %ld kB; slope after 2 min %.3f kB/min; extrapolated to 1 h: %.0f kB\n",
        first, last, highest, slope * 60.0, hour);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    PrepareBenchmarkOutput();
    TzApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 600;
    const QString simPath = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral(QUADREL_SIM_PATH);

    AnnouncementAtTenThousandRows(false);
    AnnouncementAtTenThousandRows(true);
    if (seconds <= 0)
        return 0;
    return MemoryOverTime(seconds, simPath);
}

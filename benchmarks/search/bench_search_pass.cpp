// Seconds per pass of the bus search (addresses 1..247) against quadrel-sim on a pseudo-terminal,
// with two modules (16, 20) and a device of another type (24), beside the line's own limit for a
// pass: 247 requests on the wire, the answers of the three devices, and the time-out of each of
// the 244 silent addresses. Prints the figures; it checks nothing and is never run as a test.
//
//   bench_search_pass [--passes N] [--baud B] [--timeout MS] [--format 0..3] [--sim-arg ARG]...
//
// Every --sim-arg is handed to quadrel-sim unchanged, so a simulator that paces its line at the
// line speed is measured by passing its pacing option here (for example --sim-arg --pace).

#include "search/uFindDevice.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int AnsweringDevices = 3;
constexpr int ProbeBytes = 8;
constexpr int AnswerBytes = 9; // address, function, count, two registers, CRC

double CharacterSeconds(int aBaudRate, int aFormat)
{
    // Start bit, 8 data bits, parity or a second stop bit, stop bit.
    const int bits = aFormat == 0 ? 10 : 11;
    return double(bits) / aBaudRate;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int passes = 3, baud = 9600, timeout = 30, format = 0;
    QStringList simArgs{"--module", "16", "--module", "20", "--foreign", "24:42"};
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i + 1 < args.size(); i += 2) {
        const QString &name = args[i];
        const QString &value = args[i + 1];
        if (name == "--passes")
            passes = std::max(1, value.toInt());
        else if (name == "--baud")
            baud = value.toInt();
        else if (name == "--timeout")
            timeout = value.toInt();
        else if (name == "--format")
            format = value.toInt();
        else if (name == "--sim-arg")
            simArgs << value;
        else {
            std::fprintf(stderr, "unknown option %s\n", qPrintable(name));
            return 2;
        }
    }

    QProcess sim;
    sim.start(QStringLiteral(QUADREL_SIM_PATH), simArgs);
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "quadrel-sim did not start: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    const QString path = QString::fromLocal8Bit(sim.readLine()).trimmed();
    if (!path.startsWith('/')) {
        std::fprintf(stderr, "quadrel-sim printed no port: %s\n", qPrintable(path));
        return 1;
    }

    TfrmFindDevice find;
    find.SetPortName(path);
    find.SetBaudRate(baud);
    find.SetFormat(format);
    find.SetTimeout(timeout);
    find.Cycled = true;
    int found = 0;
    find.OnFindAddr = [&found](int, const TStringBytes &) { ++found; };

    QElapsedTimer clock;
    QList<double> seconds;
    qint64 passStart = 0;
    QObject::connect(&find, &TfrmFindDevice::PassStarted, &app, [&](int aPass) {
        const qint64 now = clock.nsecsElapsed();
        if (aPass > 1) {
            seconds << double(now - passStart) / 1e9;
            std::printf("pass %d: %.3f s, %d answers\n", aPass - 1, seconds.back(), found);
            std::fflush(stdout);
        }
        found = 0;
        passStart = now;
        if (seconds.size() >= passes)
            app.quit();
    });
    clock.start();
    if (!find.Start()) {
        std::fprintf(stderr, "the search did not start on %s (error %d)\n", qPrintable(path), int(find.LastError()));
        return 1;
    }
    app.exec();
    find.Stop();
    sim.terminate();
    sim.waitForFinished(5000);

    const double character = CharacterSeconds(baud, format);
    const double limit = 247 * ProbeBytes * character + AnsweringDevices * AnswerBytes * character
                         + (247 - AnsweringDevices) * timeout / 1000.0;
    double mean = 0;
    for (double s : seconds)
        mean += s;
    mean /= seconds.size();
    std::printf("speed %d bit/s, format %d, time-out %d ms, simulator: %s\n", baud, format, timeout,
                qPrintable(simArgs.join(' ')));
    std::printf("seconds per pass: %.3f (mean of %d)\n", mean, int(seconds.size()));
    std::printf("line's own limit for a pass: %.3f s (247 requests, 3 answers, 244 time-outs)\n", limit);
    std::printf("pass / limit: %.3f (%+.1f %%)\n", mean / limit, (mean / limit - 1) * 100);
    return 0;
}

// Exchanges per second of one 8-register read (function 3, registers 60017..60024 of module 1)
// against the simulated module on a pseudo-terminal: through the port engine and through a
// libmodbus master, each at the panel's time-outs and at the tightest time-outs that still work.
// Prints the figures; it checks nothing and is never run as a test.

#include "port/uFreePort.h"
#include "port/uModbusCRC.h"
#include "sim/uSimulator.h"

#include <modbus/modbus.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <optional>

namespace {

constexpr int Address = 1;
constexpr int FirstRegister = 60017;
constexpr int RegisterCount = 8;
constexpr int MeasureMs = 3000;
constexpr int ProbeExchanges = 40;

struct TResult
{
    int Exchanges = 0;
    int Failures = 0;
    double Seconds = 0;
    double PerSecond() const { return Seconds > 0 ? Exchanges / Seconds : 0; }
};

TStringBytes ReadFrame()
{
    QByteArray body;
    body.append(char(Address)).append('\x03');
    body.append(char(FirstRegister >> 8)).append(char(FirstRegister & 0xFF));
    body.append(char(0)).append(char(RegisterCount));
    TStringBytes frame(body);
    AppendModbusCRC(frame);
    return frame;
}

// Keeps one read going: after each outcome the same frame is queued again as soon as the worker
// has dropped the served copy (an identical frame is refused while its copy is still queued).
TResult RunEngine(const QString &aPath, int aInterval, int aMaxExchanges, int aMaxMs)
{
    TResult result;
    TzFreePort port(aPath);
    port.LocDCB().BaudRate = 9600;
    port.LocDCB().ByteSize = 8;
    port.LocDCB().Parity = 0;
    port.LocDCB().StopBits = 0;
    port.LocTimeouts().ReadIntervalTimeout = aInterval;
    port.LocTimeouts().ReadTotalTimeoutMultiplier = 1;
    port.LocTimeouts().ReadTotalTimeoutConstant = 400;
    port.LocTimeouts().WriteTotalTimeoutMultiplier = 50;
    port.LocTimeouts().WriteTotalTimeoutConstant = 100;
    const TStringBytes frame = ReadFrame();
    QEventLoop loop;
    QElapsedTimer timer;
    QTimer requeue;
    requeue.setInterval(0);
    QObject::connect(&requeue, &QTimer::timeout, [&] {
        if (port.SendCmd(frame, Address))
            requeue.stop();
    });
    port.SetOnAsyncAnswerProc([&](const TzAnswerRec &aAnswer) {
        ++result.Exchanges;
        if (aAnswer.ErrCode != 0 || aAnswer.Answer.Size() != 5 + 2 * RegisterCount)
            ++result.Failures;
        if (result.Exchanges >= aMaxExchanges || timer.elapsed() >= aMaxMs)
            loop.quit();
        else
            requeue.start();
    });
    if (!port.Start()) {
        std::printf("engine: cannot open %s\n", qPrintable(aPath));
        return result;
    }
    timer.start();
    port.SendCmd(frame, Address);
    loop.exec();
    result.Seconds = timer.elapsed() / 1000.0;
    port.Stop();
    return result;
}

TResult RunLibmodbus(const QString &aPath, int aResponseMs, int aByteMs, int aMaxExchanges, int aMaxMs)
{
    TResult result;
    modbus_t *ctx = modbus_new_rtu(aPath.toLocal8Bit().constData(), 9600, 'N', 8, 1);
    if (ctx == nullptr || modbus_connect(ctx) != 0) {
        std::printf("libmodbus: cannot open %s\n", qPrintable(aPath));
        if (ctx)
            modbus_free(ctx);
        return result;
    }
    modbus_set_slave(ctx, Address);
    modbus_set_response_timeout(ctx, 0, uint32_t(aResponseMs) * 1000);
    modbus_set_byte_timeout(ctx, 0, uint32_t(aByteMs) * 1000);
    uint16_t values[RegisterCount];
    QElapsedTimer timer;
    timer.start();
    while (result.Exchanges < aMaxExchanges && timer.elapsed() < aMaxMs) {
        ++result.Exchanges;
        if (modbus_read_registers(ctx, FirstRegister, RegisterCount, values) != RegisterCount) {
            ++result.Failures;
            modbus_flush(ctx);
        }
    }
    result.Seconds = timer.elapsed() / 1000.0;
    modbus_close(ctx);
    modbus_free(ctx);
    return result;
}

void Print(const char *aWho, const QString &aTimeouts, const TResult &aResult)
{
    std::printf("%-10s %-44s %8.1f exchanges/s  (%d exchanges, %d failed, %.2f s)\n", aWho,
                qPrintable(aTimeouts), aResult.PerSecond(), aResult.Exchanges, aResult.Failures, aResult.Seconds);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    TzSimulator sim;
    sim.Bus().AddModule(Address);
    const QString path = QString::fromStdString(sim.StartPty());
    if (path.isEmpty()) {
        std::printf("no pseudo-terminal: %s\n", sim.Serial().LastError().c_str());
        return 1;
    }
    std::printf("8-register read (function 3, %d..%d, module %d) against the simulated module on %s, 9600 8N1\n",
                FirstRegister, FirstRegister + RegisterCount - 1, Address, qPrintable(path));

    const TResult enginePanel = RunEngine(path, 50, 1000000, MeasureMs);
    Print("engine", "panel time-outs (gap 50, 1 x 255 + 400 ms)", enginePanel);

    // The tightest gap at which every probe read still succeeds.
    int tightGap = 50;
    for (int gap : {20, 10, 5, 2, 1}) {
        const TResult probe = RunEngine(path, gap, ProbeExchanges, 60000);
        if (probe.Failures != 0 || probe.Exchanges != ProbeExchanges)
            break;
        tightGap = gap;
    }
    const TResult engineTight = RunEngine(path, tightGap, 1000000, MeasureMs);
    Print("engine", QStringLiteral("tightest (gap %1, 1 x 255 + 400 ms)").arg(tightGap), engineTight);

    const TResult modbusPanel = RunLibmodbus(path, 655, 50, 1000000, MeasureMs);
    Print("libmodbus", "panel time-outs (response 655 ms, byte 50 ms)", modbusPanel);

    std::pair<int, int> tightModbus{655, 50};
    for (std::pair<int, int> candidate : {std::pair{100, 10}, {50, 5}, {20, 2}, {10, 1}, {5, 1}}) {
        const TResult probe = RunLibmodbus(path, candidate.first, candidate.second, ProbeExchanges, 60000);
        if (probe.Failures != 0)
            break;
        tightModbus = candidate;
    }
    const TResult modbusTight = RunLibmodbus(path, tightModbus.first, tightModbus.second, 1000000, MeasureMs);
    Print("libmodbus",
          QStringLiteral("tightest (response %1 ms, byte %2 ms)").arg(tightModbus.first).arg(tightModbus.second),
          modbusTight);

    const auto ratio = [](const TResult &a, const TResult &b) { return b.PerSecond() > 0 ? a.PerSecond() / b.PerSecond() : 0; };
    std::printf("ratio engine / libmodbus: %.3f at the panel's time-outs, %.3f at the tightest\n",
                ratio(enginePanel, modbusPanel), ratio(engineTight, modbusTight));
    return 0;
}

// Exchanges per second of one 8-register read (function 3, registers 60017..60024 of module 1)
// against the simulated module at 9600 8N1: through the port engine with answers ended by the
// line's silence and by their length, and through a libmodbus master, each on a line that keeps
// time (the simulator paces every character) and on the unpaced pseudo-terminal, beside the
// line's own limit. On the unpaced pty it also finds the tightest time-outs that still work.
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

TStringBytes ReadFrame(int aFirst = FirstRegister)
{
    QByteArray body;
    body.append(char(Address)).append('\x03');
    body.append(char(aFirst >> 8)).append(char(aFirst & 0xFF));
    body.append(char(0)).append(char(RegisterCount));
    TStringBytes frame(body);
    AppendModbusCRC(frame);
    return frame;
}

// Keeps the queue from running dry, as the panel's poll cycle does: three reads of the same size
// (60017.., 60025.., 60033..) take turns, the callback of one queueing the one after the next
// (an identical frame is refused while its copy is still queued).
TResult RunEngine(const QString &aPath, int aInterval, int aMaxExchanges, int aMaxMs, AnswerEnd aRule = AnswerEnd::Gap)
{
    TResult result;
    TzFreePort port(aPath);
    port.SetAnswerEnd(aRule);
    port.LocDCB().BaudRate = 9600;
    port.LocDCB().ByteSize = 8;
    port.LocDCB().Parity = 0;
    port.LocDCB().StopBits = 0;
    TzLineTimeouts timeouts = ModbusLineTimeouts;
    timeouts.ReadIntervalTimeout = uint32_t(aInterval);
    port.LocTimeouts().ChooseAll(timeouts);
    const TStringBytes frames[3] = {ReadFrame(FirstRegister), ReadFrame(FirstRegister + RegisterCount),
                                    ReadFrame(FirstRegister + 2 * RegisterCount)};
    QEventLoop loop;
    QElapsedTimer timer;
    int next = 2;
    port.SetOnAsyncAnswerProc([&](const TzAnswerRec &aAnswer) {
        ++result.Exchanges;
        if (aAnswer.ErrCode != 0 || aAnswer.Answer.Size() != 5 + 2 * RegisterCount)
            ++result.Failures;
        if (result.Exchanges >= aMaxExchanges || timer.elapsed() >= aMaxMs) {
            port.ClearRequestList();
            loop.quit();
        } else {
            port.SendCmd(frames[next], Address);
            next = (next + 1) % 3;
        }
    });
    if (!port.Start()) {
        std::printf("engine: cannot open %s\n", qPrintable(aPath));
        return result;
    }
    timer.start();
    port.SendCmd(frames[0], Address);
    port.SendCmd(frames[1], Address);
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
    std::printf("%-10s %-52s %8.1f exchanges/s  (%d exchanges, %d failed, %.2f s)\n", aWho, qPrintable(aTimeouts),
                aResult.PerSecond(), aResult.Exchanges, aResult.Failures, aResult.Seconds);
}

// One request, the frame gap, the answer and the gap again, in bit times of 10-bit characters.
double LineLimitPerSecond(int aBaudRate)
{
    const double characters = 8 + 3.5 + (5 + 2 * RegisterCount) + 3.5;
    return aBaudRate / (characters * 10);
}

struct TLine
{
    const char *Name;
    std::unique_ptr<TzSimulator> Sim;
    QString Path;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    TLine lines[2] = {{"paced", std::make_unique<TzSimulator>(), {}}, {"unpaced", std::make_unique<TzSimulator>(), {}}};
    lines[0].Sim->Serial().SetPacing({true, 'N', 1, 500});
    for (TLine &line : lines) {
        line.Sim->Bus().AddModule(Address);
        line.Path = QString::fromStdString(line.Sim->StartPty());
        if (line.Path.isEmpty()) {
            std::printf("no pseudo-terminal: %s\n", line.Sim->Serial().LastError().c_str());
            return 1;
        }
    }
    const double limit = LineLimitPerSecond(9600);
    std::printf("8-register read (function 3, %d..%d, module %d) against the simulated module, 9600 8N1\n",
                FirstRegister, FirstRegister + RegisterCount - 1, Address);
    std::printf("line limit at 9600 8N1: request 8 + gap 3.5 + answer %d + gap 3.5 characters = %.0f bit times,"
                " %.1f exchanges/s\n",
                5 + 2 * RegisterCount, (8 + 3.5 + 5 + 2 * RegisterCount + 3.5) * 10, limit);

    const auto ratio = [](const TResult &a, const TResult &b) {
        return b.PerSecond() > 0 ? a.PerSecond() / b.PerSecond() : 0;
    };
    for (TLine &line : lines) {
        std::printf("\n-- %s line (%s) --\n", line.Name, qPrintable(line.Path));
        const TResult gap = RunEngine(line.Path, 50, 1000000, MeasureMs, AnswerEnd::Gap);
        Print("engine", "silence rule, panel time-outs (50, 1 x 255 + 400)", gap);
        const TResult length = RunEngine(line.Path, 50, 1000000, MeasureMs, AnswerEnd::Length);
        Print("engine", "length-aware, panel time-outs (50, 1 x 255 + 400)", length);
        const TResult modbus = RunLibmodbus(line.Path, 655, 50, 1000000, MeasureMs);
        Print("libmodbus", "response 655 ms, byte 50 ms", modbus);
        std::printf("ratio to libmodbus: silence rule %.3f, length-aware %.3f\n", ratio(gap, modbus),
                    ratio(length, modbus));
        std::printf("share of the line limit: silence rule %.1f %%, length-aware %.1f %%, libmodbus %.1f %%\n",
                    100 * gap.PerSecond() / limit, 100 * length.PerSecond() / limit, 100 * modbus.PerSecond() / limit);
    }

    // The unpaced pty at the tightest time-outs that still work, as before.
    const QString path = lines[1].Path;
    std::printf("\n-- unpaced line, tightest time-outs --\n");
    int tightGap = 50;
    for (int gap : {20, 10, 5, 2, 1}) {
        const TResult probe = RunEngine(path, gap, ProbeExchanges, 60000);
        if (probe.Failures != 0 || probe.Exchanges != ProbeExchanges)
            break;
        tightGap = gap;
    }
    const TResult engineTight = RunEngine(path, tightGap, 1000000, MeasureMs);
    Print("engine", QStringLiteral("silence rule, tightest (gap %1 ms)").arg(tightGap), engineTight);
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
    std::printf("ratio engine / libmodbus at the tightest: %.3f\n", ratio(engineTight, modbusTight));
    return 0;
}

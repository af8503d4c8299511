#include "sim/uSimOptions.h"

#include "sim/uSimLineSettings.h"

#include <QCommandLineParser>
#include <QStringList>

namespace {

const char *const Description = R"(quadrel-sim: a simulated Quadrel relay module (Modbus RTU slave, 20 outputs) and
Lanvey-Ethernet converter, for trying and testing the Quadrel panel without hardware.

Serial line: by default a pseudo-terminal pair is created and the path the panel should open
(for example /dev/pts/5) is printed as the first line of output; --device serves a real port
instead. A module answers only at the speed it is set to (28672, 9600 by default): on a pty
the speed the panel sets is compared (parity cannot be seen on a pty), on a real port the port
follows the module's settings after a restart. A request ends by 3.5 characters of silence
(at least 1.75 ms). --pace makes the pty keep the line's time: each character takes its 10 or 11
bit times (--format gives parity and stop bits, which a pty cannot carry), requests are heard at
that pace, and answers leave one character at a time after the frame gap and --turnaround. Requests with a bad CRC or for another address get no answer.

Converter: --udp serves UDP datagrams with the converter's five-byte header (0x10, length,
sequence number, 0x10) around each RTU frame and answers the sender with the same header and
sequence number. It binds its own address (127.0.0.2 by default) with SO_REUSEADDR, so the panel
can bind the same port on the wildcard address.

Register map of each module (function 3/6/16 holding, 4 input, 1/5 coils, 2 mirrors the coils):
  36864 device type 73 (input)        36865 hardware version   36866..36868 identifier words
  36869 firmware version (215)        24582 supply voltage in mV, ~24000 with noise
  36881 power status (bits 14/15)     28672 speed code 0..9    28673 format code 1..7
  28676 address 1..247                28680 network time-out 0..600 s (outputs go safe)
  60000 command: 21930 (0x55AA) restarts: outputs take their safe states, new network
        settings take effect          60013/60014 safe states of outputs 17-20 / 1-16
  60015/60016 states of outputs 17-20 / 1-16
  60017..60076 unit, period, fill factor of outputs 1..20, three registers each
  per output n: coil 4096+128(n-1) state, coil +8 safe state, registers +3 unit (1..240),
  +4 period (50..36000), +5 fill factor (0..1000); a fill factor of 1..999 toggles the output
  with its period; writing the state sets the fill factor to 0 or 1000.
Anything else gets exception 01 (function), 02 (address) or 03 (value).

Frame log: --log FILE appends one line per frame received (RX) and sent (TX): local time with
milliseconds, direction, channel ("serial" or "udp ADDRESS:PORT"), the converter header in
brackets for datagrams, the RTU frame in hex, and in parentheses what a fault did to it.

Faults (for tests of the panel): --delay, --silent, --corrupt-crc, --corrupt-crc-percent,
--stale, and for the converter --foreign-sender, --version2, --type2, which take "before" (a
decoy with a broken CRC precedes the real answer) or "instead" (the decoy carries the answer,
the real one is not sent). Decoys from a foreign sender leave from --foreign-address.
Converter faults of the datagrams themselves: --udp-no-echo (every answer carries sequence
number 00 00), --udp-lose-first and --udp-loss (requests lost on the way in, never answered),
--udp-duplicate (every answer twice, the copy MS later), --udp-reorder (every second answer
held back and sent right after the next one, or after a second when none comes).

Console: while it runs, quadrel-sim takes one command per line on standard input and answers
with one line: delay MS, silent on|off, corrupt-crc on|off|PERCENT%, stale COUNT MS,
foreign-sender|version2|type2 before|instead|off, udp-echo on|off, udp-lose-first COUNT,
udp-loss PERCENT, udp-duplicate MS|off, udp-reorder on|off, reset-faults, read ADDR REG,
write ADDR REG VALUE (as a master's write would, 0x55AA to 60000 restarts), power-status ADDR
VALUE, firmware ADDR VALUE, help.

Examples:
  quadrel-sim                         one module at 16 on a new pty
  quadrel-sim --module 16 --module 17 --foreign 20:12 --log frames.txt
  quadrel-sim --no-serial --udp 127.0.0.2:40000 --delay 300
  quadrel-sim --no-serial --udp 40000 --udp-no-echo --udp-lose-first 1 --udp-duplicate 3
  quadrel-sim --device /dev/ttyUSB1 --baud 19200 --format 8E1
  quadrel-sim --pace --baud 1200 --format 8E1   a pty that keeps time at 1200 8E1)";

bool ToInt(const QString &aText, int aMin, int aMax, int &aValue)
{
    bool ok = false;
    const int value = aText.toInt(&ok, 0); // accepts 0x... as well
    if (!ok || value < aMin || value > aMax)
        return false;
    aValue = value;
    return true;
}

struct TParser
{
    QCommandLineParser Parser;
    TParser()
    {
        Parser.setApplicationDescription(QString::fromUtf8(Description));
        Parser.addOptions({
            {{"h", "help"}, "Show this help."},
            {"module", "Simulate a Quadrel module at ADDR (1..247); repeatable. Default: one at 16.", "ADDR"},
            {"foreign", "A device of another TYPE (not 73) at ADDR, for the bus search; repeatable.", "ADDR:TYPE"},
            {"firmware", "Firmware version of every module (register 36869), default 215.", "N"},
            {"hardware", "Hardware version of every module (register 36865), default 100.", "N"},
            {"id", "Identifier words 36866..36868 of every module.", "W1,W2,W3"},
            {"power-status", "Power status word (36881); bits 14/15 mark a supply fault.", "N"},
            {"supply", "Supply voltage in mV (24582), default 24000.", "MV"},
            {"noise", "Noise of the supply reading in mV, default 40.", "MV"},
            {"device", "Serve a real serial port instead of a new pty.", "PATH"},
            {"baud", "Speed of --device, default 9600; on a pty the speed the modules are set to.", "N"},
            {"format",
             "Format of --device (on a pty: of the modules and of --pace): 8N1, 8O1, 8E1 or 8N2; default 8N1.", "FMT"},
            {"pace", "On a pty, keep the line's time: every character takes its bit times at the speed the panel set."},
            {"turnaround",
             "With --pace, microseconds from the end of a request's frame gap to the answer, default 500.", "US"},
            {"any-speed", "On a pty, answer whatever speed the panel set."},
            {"no-serial", "No serial line (converter only)."},
            {"udp", "Act as the converter on [HOST:]PORT (default host 127.0.0.2).", "HOST:PORT"},
            {"foreign-address", "Address decoys of --foreign-sender leave from, default 127.0.0.3.", "HOST"},
            {"log", "Append every frame to FILE.", "FILE"},
            {"delay", "Send every answer MS late.", "MS"},
            {"silent", "Answer nothing (requests are still logged)."},
            {"corrupt-crc", "Send every answer with a broken CRC."},
            {"corrupt-crc-percent", "Send PERCENT of the answers (evenly spread) with a broken CRC.", "PERCENT"},
            {"stale", "Send the first COUNT answers MS late (after the panel gave up).", "COUNT:MS"},
            {"foreign-sender", "Converter: a datagram from a foreign address, before|instead.", "MODE"},
            {"version2", "Converter: a datagram of protocol version 2, before|instead.", "MODE"},
            {"type2", "Converter: a datagram of packet type 2, before|instead.", "MODE"},
            {"udp-no-echo", "Converter: every answer carries sequence number 00 00, not its request's."},
            {"udp-lose-first", "Converter: lose the first COUNT requests (they get no answer).", "COUNT"},
            {"udp-loss", "Converter: lose PERCENT of the requests (evenly spread).", "PERCENT"},
            {"udp-duplicate", "Converter: send every answer twice, the copy MS later.", "MS"},
            {"udp-reorder",
             "Converter: hold every second answer back and send it right after the next one (at most 1 s)."},
            {"duration", "Exit after SECONDS (default: run until interrupted).", "SECONDS"},
        });
    }
};

} // namespace

std::string SimHelpText()
{
    TParser p;
    QString text = p.Parser.helpText();
    // helpText() names the running application; the simulator has none of its own.
    const int usageEnd = text.indexOf('\n');
    text = "Usage: quadrel-sim [options]" + text.mid(usageEnd);
    return text.toStdString();
}

bool SimParseOptions(const std::vector<std::string> &aArgs, TzSimOptions &aOptions, std::string &aError)
{
    TParser p;
    QCommandLineParser &parser = p.Parser;
    QStringList args{"quadrel-sim"};
    for (const std::string &arg : aArgs)
        args << QString::fromStdString(arg);
    if (!parser.parse(args)) {
        aError = parser.errorText().toStdString();
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        aError = "unexpected argument: " + parser.positionalArguments().first().toStdString();
        return false;
    }
    TzSimOptions o;
    o.Help = parser.isSet("help");
    auto fail = [&](const std::string &aText) {
        aError = aText;
        return false;
    };
    int value = 0;

    for (const QString &text : parser.values("module")) {
        if (!ToInt(text, 1, 247, value))
            return fail("--module needs an address 1..247: " + text.toStdString());
        o.Modules.push_back(uint8_t(value));
    }
    for (const QString &text : parser.values("foreign")) {
        const QStringList parts = text.split(':');
        int type = 0;
        if (parts.size() != 2 || !ToInt(parts[0], 1, 247, value) || !ToInt(parts[1], 0, 65535, type) || type == 73)
            return fail("--foreign needs ADDR:TYPE with a type other than 73: " + text.toStdString());
        o.Foreign.emplace_back(uint8_t(value), uint16_t(type));
    }
    const struct
    {
        const char *Name;
        std::optional<uint16_t> *Target;
    } words[] = {{"firmware", &o.Firmware}, {"hardware", &o.Hardware}, {"power-status", &o.PowerStatus}};
    for (const auto &word : words)
        if (parser.isSet(word.Name)) {
            if (!ToInt(parser.value(word.Name), 0, 65535, value))
                return fail(std::string("--") + word.Name + " needs a number 0..65535");
            *word.Target = uint16_t(value);
        }
    if (parser.isSet("id")) {
        const QStringList parts = parser.value("id").split(',');
        std::array<uint16_t, 3> id{};
        for (int i = 0; i < 3; ++i) {
            if (parts.size() != 3 || !ToInt(parts[i], 0, 65535, value))
                return fail("--id needs three words W1,W2,W3");
            id[size_t(i)] = uint16_t(value);
        }
        o.Identifier = id;
    }
    if (parser.isSet("supply")) {
        if (!ToInt(parser.value("supply"), 0, 65535, value))
            return fail("--supply needs millivolts 0..65535");
        o.SupplyMv = uint16_t(value);
    }
    if (parser.isSet("noise")) {
        if (!ToInt(parser.value("noise"), 0, 5000, value))
            return fail("--noise needs millivolts 0..5000");
        o.SupplyNoiseMv = uint16_t(value);
    }

    o.Serial = !parser.isSet("no-serial");
    o.AnySpeed = parser.isSet("any-speed");
    o.Device = parser.value("device").toStdString();
    if (parser.isSet("baud") && !ToInt(parser.value("baud"), 1, 4000000, o.BaudRate))
        return fail("--baud needs a speed in bit/s");
    o.BaudGiven = parser.isSet("baud") || parser.isSet("format");
    o.Pace = parser.isSet("pace");
    if (parser.isSet("turnaround") && !ToInt(parser.value("turnaround"), 0, 1000000, o.TurnaroundUs))
        return fail("--turnaround needs microseconds 0..1000000");
    if (parser.isSet("format") && !SimParseFormat(parser.value("format").toStdString(), o.Parity, o.StopBits))
        return fail("--format must be 8N1, 8O1, 8E1 or 8N2");
    if (parser.isSet("udp")) {
        o.Udp = true;
        const QString text = parser.value("udp");
        const int colon = text.lastIndexOf(':');
        if (colon >= 0)
            o.UdpHost = text.left(colon).toStdString();
        if (!ToInt(colon >= 0 ? text.mid(colon + 1) : text, 1, 65535, value))
            return fail("--udp needs [HOST:]PORT with a port 1..65535");
        o.UdpPort = uint16_t(value);
    }
    if (parser.isSet("foreign-address"))
        o.ForeignHost = parser.value("foreign-address").toStdString();
    if (!o.Serial && !o.Udp)
        return fail("nothing to serve: --no-serial without --udp");
    o.LogFile = parser.value("log").toStdString();

    if (parser.isSet("delay") && !ToInt(parser.value("delay"), 0, 600000, o.Faults.AnswerDelayMs))
        return fail("--delay needs milliseconds");
    o.Faults.Silent = parser.isSet("silent");
    o.Faults.CorruptCrc = parser.isSet("corrupt-crc");
    if (parser.isSet("corrupt-crc-percent")
        && !ToInt(parser.value("corrupt-crc-percent"), 0, 100, o.Faults.CorruptCrcPercent))
        return fail("--corrupt-crc-percent needs 0..100");
    if (parser.isSet("stale")) {
        const QStringList parts = parser.value("stale").split(':');
        if (parts.size() != 2 || !ToInt(parts[0], 1, 1000000, o.Faults.StaleCount)
            || !ToInt(parts[1], 1, 600000, o.Faults.StaleDelayMs))
            return fail("--stale needs COUNT:MS");
    }
    const struct
    {
        const char *Name;
        TzSimDecoy *Target;
    } decoys[] = {{"foreign-sender", &o.Faults.ForeignSender},
                  {"version2", &o.Faults.Version2},
                  {"type2", &o.Faults.Type2}};
    for (const auto &decoy : decoys)
        if (parser.isSet(decoy.Name) && !ParseSimDecoy(parser.value(decoy.Name).toStdString(), *decoy.Target))
            return fail(std::string("--") + decoy.Name + " must be before, instead or off");
    o.UdpNoEcho = parser.isSet("udp-no-echo");
    if (parser.isSet("udp-lose-first") && !ToInt(parser.value("udp-lose-first"), 0, 1000000, o.Faults.LoseFirstCount))
        return fail("--udp-lose-first needs a count 0..1000000");
    if (parser.isSet("udp-loss") && !ToInt(parser.value("udp-loss"), 0, 100, o.Faults.LossPercent))
        return fail("--udp-loss needs 0..100");
    if (parser.isSet("udp-duplicate") && !ToInt(parser.value("udp-duplicate"), 0, 600000, o.Faults.DuplicateAfterMs))
        return fail("--udp-duplicate needs milliseconds");
    o.Faults.Reorder = parser.isSet("udp-reorder");
    if (parser.isSet("duration") && !ToInt(parser.value("duration"), 1, 86400 * 365, o.DurationSec))
        return fail("--duration needs seconds");

    if (o.Modules.empty())
        o.Modules.push_back(16);
    aOptions = std::move(o);
    return true;
}

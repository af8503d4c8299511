#include "sim/uSimConsole.h"

#include <algorithm>
#include <cstring>
#include <sstream>
#include <vector>

namespace {

bool ToNumber(const std::string &aText, long aMin, long aMax, long &aValue)
{
    try {
        size_t used = 0;
        const long value = std::stol(aText, &used, 0); // 0x... as well
        if (used != aText.size() || value < aMin || value > aMax)
            return false;
        aValue = value;
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

bool ToSwitch(const std::string &aText, bool &aOn)
{
    if (aText == "on" || aText == "1")
        aOn = true;
    else if (aText == "off" || aText == "0")
        aOn = false;
    else
        return false;
    return true;
}

// A line quoted back in a reply: its start only, control characters (which would drive the
// terminal) shown as '?', never a multi-byte character cut in half.
std::string QuotedForReply(const std::string &aLine)
{
    constexpr size_t Shown = 60;
    size_t length = std::min(aLine.size(), Shown);
    while (length > 0 && length < aLine.size() && (static_cast<unsigned char>(aLine[length]) & 0xC0) == 0x80)
        --length;
    std::string quoted = aLine.substr(0, length);
    for (char &c : quoted)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    if (length < aLine.size())
        quoted += "...";
    return "\"" + quoted + "\"";
}

} // namespace

std::string SimConsoleHelp()
{
    return "commands: delay MS | silent on|off | corrupt-crc on|off|PERCENT% | stale COUNT MS | "
           "foreign-sender|version2|type2 before|instead|off | udp-echo on|off | udp-lose-first COUNT | "
           "udp-loss PERCENT | udp-duplicate MS|off | udp-reorder on|off | reset-faults | "
           "read ADDR REG | write ADDR REG VALUE | power-status ADDR VALUE | firmware ADDR VALUE | help";
}

std::string SimConsoleCommand(TzSimulator &aSim, const std::string &aLine)
{
    std::istringstream in(aLine);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    if (words.empty())
        return {};
    const std::string &cmd = words[0];
    const size_t argc = words.size() - 1;
    long a = 0, b = 0, c = 0;
    bool on = false;
    TzSimDecoy mode = TzSimDecoy::Off;
    TzSimFaults &faults = aSim.Faults();

    if (cmd == "help")
        return SimConsoleHelp();
    if (cmd == "delay" && argc == 1 && ToNumber(words[1], 0, 600000, a)) {
        faults.SetAnswerDelay(int(a));
        return "ok: answers " + std::to_string(a) + " ms late";
    }
    if (cmd == "silent" && argc == 1 && ToSwitch(words[1], on)) {
        faults.SetSilent(on);
        return std::string("ok: silent ") + (on ? "on" : "off");
    }
    if (cmd == "corrupt-crc" && argc == 1 && ToSwitch(words[1], on)) {
        faults.SetCorruptCrc(on);
        if (!on)
            faults.SetCorruptCrcPercent(0);
        return std::string("ok: corrupt CRC ") + (on ? "on" : "off");
    }
    if (cmd == "corrupt-crc" && argc == 1 && words[1].size() > 1 && words[1].back() == '%'
        && ToNumber(words[1].substr(0, words[1].size() - 1), 0, 100, a)) {
        faults.SetCorruptCrc(false);
        faults.SetCorruptCrcPercent(int(a));
        return "ok: corrupt CRC in " + std::to_string(a) + "% of the answers";
    }
    if (cmd == "stale" && argc == 2 && ToNumber(words[1], 0, 1000000, a) && ToNumber(words[2], 0, 600000, b)) {
        faults.SetStaleAnswers(int(a), int(b));
        return "ok: the next " + std::to_string(a) + " answers " + std::to_string(b) + " ms late";
    }
    if ((cmd == "foreign-sender" || cmd == "version2" || cmd == "type2") && argc == 1
        && ParseSimDecoy(words[1], mode)) {
        if (cmd == "foreign-sender")
            faults.SetForeignSender(mode);
        else if (cmd == "version2")
            faults.SetVersion2(mode);
        else
            faults.SetType2(mode);
        return "ok: " + cmd + " " + words[1];
    }
    if (cmd == "udp-echo" && argc == 1 && ToSwitch(words[1], on)) {
        aSim.Udp().SetEchoNumbers(on);
        return on ? "ok: answers carry their request's sequence number" : "ok: answers carry sequence number 0";
    }
    if (cmd == "udp-lose-first" && argc == 1 && ToNumber(words[1], 0, 1000000, a)) {
        faults.SetLoseFirst(int(a));
        return "ok: the next " + std::to_string(a) + " requests lost";
    }
    if (cmd == "udp-loss" && argc == 1 && ToNumber(words[1], 0, 100, a)) {
        faults.SetLossPercent(int(a));
        return "ok: " + std::to_string(a) + "% of the requests lost";
    }
    if (cmd == "udp-duplicate" && argc == 1 && words[1] == "off") {
        faults.SetDuplicateAfter(-1);
        return "ok: every answer once";
    }
    if (cmd == "udp-duplicate" && argc == 1 && ToNumber(words[1], 0, 600000, a)) {
        faults.SetDuplicateAfter(int(a));
        return "ok: every answer twice, the copy " + std::to_string(a) + " ms later";
    }
    if (cmd == "udp-reorder" && argc == 1 && ToSwitch(words[1], on)) {
        faults.SetReorder(on);
        return std::string("ok: reorder ") + (on ? "on" : "off");
    }
    if (cmd == "reset-faults" && argc == 0) {
        faults.Reset();
        aSim.Udp().SetEchoNumbers(true);
        return "ok: no faults";
    }
    if (cmd == "read" && argc == 2 && ToNumber(words[1], 1, 247, a) && ToNumber(words[2], 0, 65535, b)) {
        if (!aSim.Bus().WithModule(uint8_t(a), [](TzSimModule &, uint64_t) {}))
            return "error: no module at " + std::to_string(a);
        const auto value = aSim.Bus().ReadRegister(uint8_t(a), uint16_t(b));
        if (!value)
            return "error: register " + std::to_string(b) + " does not exist";
        return std::to_string(b) + " = " + std::to_string(*value);
    }
    if ((cmd == "power-status" || cmd == "firmware") && argc == 2 && ToNumber(words[1], 1, 247, a)
        && ToNumber(words[2], 0, 65535, b)) {
        const bool found = aSim.Bus().WithModule(uint8_t(a), [&](TzSimModule &m, uint64_t) {
            if (cmd == "firmware")
                m.SetFirmwareVersion(uint16_t(b));
            else
                m.SetPowerStatus(uint16_t(b));
        });
        return found ? "ok: " + cmd + " of " + std::to_string(a) + " := " + std::to_string(b)
                     : "error: no module at " + std::to_string(a);
    }
    if (cmd == "write" && argc == 3 && ToNumber(words[1], 1, 247, a) && ToNumber(words[2], 0, 65535, b)
        && ToNumber(words[3], 0, 65535, c)) {
        const uint8_t result = aSim.Bus().WriteRegister(uint8_t(a), uint16_t(b), uint16_t(c));
        if (result == 0xFF)
            return "error: no module at " + std::to_string(a);
        if (result != 0)
            return "error: exception " + std::to_string(result);
        return "ok: " + std::to_string(b) + " := " + std::to_string(c);
    }
    return "error: cannot do " + QuotedForReply(aLine) + "; " + SimConsoleHelp();
}

std::vector<std::string> TzSimConsoleInput::Feed(TzSimulator &aSim, const char *aData, size_t aSize)
{
    std::vector<std::string> replies;
    size_t at = 0;
    while (at < aSize) {
        const auto *newline = static_cast<const char *>(std::memchr(aData + at, '\n', aSize - at));
        const size_t end = newline ? size_t(newline - aData) : aSize;
        if (!fDropping) {
            if (fLine.size() + (end - at) > MaxLineBytes) {
                fLine.clear();
                fLine.shrink_to_fit();
                fDropping = true;
                replies.push_back("error: line longer than " + std::to_string(MaxLineBytes) + " bytes ignored");
            } else {
                fLine.append(aData + at, end - at);
            }
        }
        if (!newline)
            break;
        if (!fDropping) {
            std::string reply = SimConsoleCommand(aSim, fLine);
            if (!reply.empty())
                replies.push_back(std::move(reply));
        }
        fLine.clear();
        fDropping = false;
        at = end + 1;
    }
    return replies;
}

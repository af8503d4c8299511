#pragma once
// The command line of quadrel-sim: what to simulate, where to serve it, which faults to show.

#include "sim/uSimFaults.h"

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct TzSimOptions
{
    bool Help = false;
    std::vector<uint8_t> Modules;                      // addresses of Quadrel modules
    std::vector<std::pair<uint8_t, uint16_t>> Foreign; // address, device type
    std::optional<uint16_t> Firmware, Hardware, PowerStatus;
    std::optional<std::array<uint16_t, 3>> Identifier;
    uint16_t SupplyMv = 24000;
    uint16_t SupplyNoiseMv = 40;

    bool Serial = true;
    std::string Device; // empty: a new pty pair
    int BaudRate = 9600;
    char Parity = 'N';
    int StopBits = 1;
    bool AnySpeed = false;
    bool BaudGiven = false; // --baud on a pty sets the modules' speed
    bool Pace = false;      // a line that keeps time on the pty
    int TurnaroundUs = 500;

    bool Udp = false;
    std::string UdpHost = "127.0.0.2";
    uint16_t UdpPort = 40000;
    std::string ForeignHost = "127.0.0.3";
    bool UdpNoEcho = false; // answers carry 00 00, not their request's sequence number

    std::string LogFile;
    TzSimFaultSettings Faults;
    int DurationSec = 0; // 0: until interrupted
};

// Reads the arguments (without the program name); false with a message for anything it cannot
// take. With no module given, one module at address 16 is simulated.
bool SimParseOptions(const std::vector<std::string> &aArgs, TzSimOptions &aOptions, std::string &aError);
std::string SimHelpText();

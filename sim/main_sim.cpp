// quadrel-sim: serves a simulated Quadrel bus on a pty, a serial port and/or as the converter
// until interrupted (or for --duration seconds).

#include "sim/uSimOptions.h"
#include "sim/uSimulator.h"

#include <signal.h>

#include <cstdio>
#include <ctime>

int main(int argc, char **argv)
{
    TzSimOptions options;
    std::string error;
    if (!SimParseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "quadrel-sim: %s\nTry quadrel-sim --help.\n", error.c_str());
        return 2;
    }
    if (options.Help) {
        std::fputs(SimHelpText().c_str(), stdout);
        return 0;
    }

    // The transports' threads inherit the blocked set, so only sigtimedwait below sees these.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    TzSimulator sim;
    sim.Log().SetCapacity(0); // the program keeps no frames in memory, only in the file
    if (!options.LogFile.empty() && !sim.Log().OpenFile(options.LogFile)) {
        std::fprintf(stderr, "quadrel-sim: cannot open the log file %s\n", options.LogFile.c_str());
        return 1;
    }
    for (uint8_t address : options.Modules)
        if (!sim.Bus().AddModule(address)) {
            std::fprintf(stderr, "quadrel-sim: address %d is used twice\n", address);
            return 2;
        }
    for (const auto &[address, type] : options.Foreign)
        if (!sim.Bus().AddForeignDevice(address, type)) {
            std::fprintf(stderr, "quadrel-sim: address %d is used twice\n", address);
            return 2;
        }
    for (uint8_t address : options.Modules)
        sim.Bus().WithModule(address, [&](TzSimModule &m, uint64_t) {
            if (options.Firmware)
                m.SetFirmwareVersion(*options.Firmware);
            if (options.Hardware)
                m.SetHardwareVersion(*options.Hardware);
            if (options.PowerStatus)
                m.SetPowerStatus(*options.PowerStatus);
            if (options.Identifier)
                m.SetIdentifier((*options.Identifier)[0], (*options.Identifier)[1], (*options.Identifier)[2]);
            m.SetSupply(options.SupplyMv, options.SupplyNoiseMv);
        });
    sim.Faults().Apply(options.Faults);

    if (options.Serial) {
        sim.Serial().SetCheckLineSpeed(!options.AnySpeed);
        std::string path;
        if (options.Device.empty()) {
            path = sim.StartPty();
        } else if (sim.StartSerialDevice(options.Device, options.BaudRate, options.Parity, options.StopBits)) {
            path = options.Device;
        }
        if (path.empty()) {
            std::fprintf(stderr, "quadrel-sim: %s\n", sim.Serial().LastError().c_str());
            return 1;
        }
        std::printf("%s\n", path.c_str()); // first line: the port the panel opens
    }
    if (options.Udp) {
        if (!sim.Udp().Start(options.UdpHost, options.UdpPort, options.ForeignHost)) {
            std::fprintf(stderr, "quadrel-sim: %s\n", sim.Udp().LastError().c_str());
            return 1;
        }
        std::printf("converter on %s:%u\n", options.UdpHost.c_str(), unsigned(sim.Udp().Port()));
    }
    std::printf("modules:");
    for (uint8_t address : options.Modules)
        std::printf(" %d", address);
    for (const auto &[address, type] : options.Foreign)
        std::printf(" %d(type %d)", address, type);
    std::printf("\n");
    std::fflush(stdout);

    if (options.DurationSec > 0) {
        const timespec limit{options.DurationSec, 0};
        sigtimedwait(&stopSignals, nullptr, &limit);
    } else {
        int signal = 0;
        sigwait(&stopSignals, &signal);
    }
    sim.Stop();
    return 0;
}

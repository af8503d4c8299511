// quadrel-sim: serves a simulated Quadrel bus on a pty, a serial port and/or as the converter
// until interrupted (or for --duration seconds), taking console commands on standard input.

#include "sim/uSimConsole.h"
#include "sim/uSimOptions.h"
#include "sim/uSimulator.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>

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

    // The transports' threads inherit the blocked set, so only the signalfd below sees these.
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
    sim.Udp().SetEchoNumbers(!options.UdpNoEcho);

    if (options.Serial) {
        sim.Serial().SetCheckLineSpeed(!options.AnySpeed);
        if (options.Device.empty() && options.BaudGiven) {
            static constexpr struct
            {
                char Parity;
                int StopBits;
                uint16_t Code;
            } formats[] = {{'N', 1, 4}, {'O', 1, 5}, {'E', 1, 6}, {'N', 2, 7}};
            uint16_t formatCode = 4;
            for (const auto &f : formats)
                if (f.Parity == options.Parity && f.StopBits == options.StopBits)
                    formatCode = f.Code;
            if (TzSimModule::CodeOfSpeed(options.BaudRate) < 0) {
                std::fprintf(stderr, "quadrel-sim: a module cannot be set to %d bit/s\n", options.BaudRate);
                return 2;
            }
            for (uint8_t address : options.Modules)
                sim.Bus().WithModule(address, [&](TzSimModule &m, uint64_t) {
                    m.SetLineSettings(options.BaudRate, formatCode);
                });
        }
        sim.Serial().SetPacing({options.Pace, options.Parity, options.StopBits, options.TurnaroundUs});
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

    // Run until a stop signal or the end of --duration; lines on standard input are commands.
    const int signals = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    bool stdinOpen = true;
    TzSimConsoleInput console;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.DurationSec);
    for (;;) {
        int waitMs = -1;
        if (options.DurationSec > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline
                                                                                    - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            waitMs = int(left.count());
        }
        pollfd fds[2] = {{signals, POLLIN, 0}, {stdinOpen ? STDIN_FILENO : -1, POLLIN, 0}};
        if (poll(fds, 2, waitMs) < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLIN)
            break;
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char buffer[512];
            const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
            if (n <= 0) {
                stdinOpen = false; // no console: serve on until stopped
                continue;
            }
            for (const std::string &reply : console.Feed(sim, buffer, size_t(n)))
                std::printf("%s\n", reply.c_str());
            std::fflush(stdout);
        }
    }
    sim.Stop();
    return 0;
}

// How soon the simulator answers on a pty: time from the request's last byte written to the
// answer's last byte read, for the probe and for a 30-register block, over many exchanges.
//
//   sim_latency [exchanges]

#include "port/uModbusCRC.h"
#include "sim/uSimLineSettings.h"
#include "sim/uSimulator.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

TSimBytes WithCrc(TSimBytes aFrame)
{
    const uint16_t crc = CalcModbusCRC(aFrame.data(), int(aFrame.size()));
    aFrame.push_back(uint8_t(crc & 0xFF));
    aFrame.push_back(uint8_t(crc >> 8));
    return aFrame;
}

// Microseconds until aExpected bytes arrived, or -1.
double Exchange(int aFd, const TSimBytes &aRequest, size_t aExpected)
{
    using Clock = std::chrono::steady_clock;
    [[maybe_unused]] ssize_t w = write(aFd, aRequest.data(), aRequest.size());
    const auto start = Clock::now();
    size_t got = 0;
    uint8_t buffer[512];
    while (got < aExpected) {
        pollfd p{aFd, POLLIN, 0};
        if (poll(&p, 1, 1000) <= 0)
            return -1;
        const ssize_t n = read(aFd, buffer, sizeof buffer);
        if (n <= 0)
            return -1;
        got += size_t(n);
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

void Report(const char *aName, std::vector<double> aUs)
{
    std::sort(aUs.begin(), aUs.end());
    auto at = [&](double q) { return aUs[size_t(q * double(aUs.size() - 1))] / 1000.0; };
    std::printf("%-28s n=%zu  min %.2f ms  median %.2f ms  p99 %.2f ms  max %.2f ms\n", aName, aUs.size(), at(0),
                at(0.5), at(0.99), at(1));
}

} // namespace

int main(int argc, char **argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    TzSimulator sim;
    sim.Bus().AddModule(16);
    sim.Log().SetCapacity(1000);
    const std::string path = sim.StartPty();
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 || !SimApplyLineSettings(fd, 9600, 'N', 1))
        return 1;

    const TSimBytes probe = WithCrc({16, 4, 0x90, 0x00, 0, 1});
    const TSimBytes block = WithCrc({16, 3, 0xEA, 0x71, 0, 30});
    std::vector<double> probeUs, blockUs;
    int lost = 0;
    for (int i = 0; i < count; ++i) {
        const double a = Exchange(fd, probe, 7);
        const double b = Exchange(fd, block, 65);
        a < 0 ? ++lost : (probeUs.push_back(a), 0);
        b < 0 ? ++lost : (blockUs.push_back(b), 0);
    }
    std::printf("quadrel-sim answer time on a pty at 9600 (frame gap %.2f ms), lost %d\n", SimFrameGapUs(9600) / 1000.0,
                lost);
    Report("probe 36864 (7-byte answer)", probeUs);
    Report("block 60017 x30 (65 bytes)", blockUs);
    close(fd);
    return 0;
}

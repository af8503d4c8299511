#pragma once
// Small types shared by the simulated module, its bus and its transports.

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

using TSimBytes = std::vector<uint8_t>;

// Milliseconds on a monotonic clock. The register logic takes the time as an argument, so tests
// can drive pulse-width toggling and the network time-out without waiting.
using TzSimClock = std::function<uint64_t()>;

inline uint64_t SimSteadyMs()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// What a transport knows of the line a request came over. A pty carries no parity (the kernel
// forces 8 data bits without parity on it), so parity may be unknown; 0 / '?' mean unknown.
struct TzSimLineParams
{
    int BaudRate = 0;
    char Parity = '?'; // 'N', 'O', 'E' or '?'
    int StopBits = 0;
};

// Modbus exception codes a slave answers with.
enum : uint8_t {
    SimExIllegalFunction = 1,
    SimExIllegalAddress = 2,
    SimExIllegalValue = 3,
};

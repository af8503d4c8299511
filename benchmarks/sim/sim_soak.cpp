// Runs quadrel-sim as its own process, polls it over its pty with libmodbus as the panel does
// (the eight periodic reads, now and then an output switch), and prints the simulator's resident
// memory once a minute, so growth over an hour shows.
//
//   sim_soak [seconds] [path-to-quadrel-sim]

#include <modbus.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

long RssKb(pid_t aPid)
{
    std::ifstream status("/proc/" + std::to_string(aPid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 3600;
    const char *simPath = argc > 2 ? argv[2] : QUADREL_SIM_PATH;

    int out[2];
    if (pipe(out) != 0)
        return 1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        execl(simPath, simPath, "--module", "16", "--log", "/dev/null", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(out[1]);
    FILE *simOut = fdopen(out[0], "r");
    char path[256] = {};
    if (!std::fgets(path, sizeof path, simOut)) {
        std::fprintf(stderr, "no pty path from %s\n", simPath);
        return 1;
    }
    path[std::strcspn(path, "\n")] = 0;

    modbus_t *ctx = modbus_new_rtu(path, 9600, 'N', 8, 1);
    modbus_set_slave(ctx, 16);
    modbus_set_response_timeout(ctx, 0, 500000);
    if (modbus_connect(ctx) != 0) {
        std::fprintf(stderr, "connect %s: %s\n", path, modbus_strerror(errno));
        return 1;
    }

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto nextSample = start;
    long exchanges = 0, failures = 0, firstRss = -1, maxRss = 0;
    uint16_t regs[30];
    uint8_t bit = 0;
    std::printf("minute  exchanges  failures  rss_kb\n");
    while (Clock::now() - start < std::chrono::seconds(seconds)) {
        // The periodic set: 24582, 36881, 60013, 60014, 60015, 60016, the two pulse-width blocks.
        const int results[] = {
            modbus_read_input_registers(ctx, 24582, 1, regs),
            modbus_read_input_registers(ctx, 36881, 1, regs),
            modbus_read_registers(ctx, 60013, 1, regs),
            modbus_read_registers(ctx, 60014, 1, regs),
            modbus_read_registers(ctx, 60015, 1, regs),
            modbus_read_registers(ctx, 60016, 1, regs),
            modbus_read_registers(ctx, 60017, 30, regs),
            modbus_read_registers(ctx, 60047, 30, regs),
            modbus_write_bit(ctx, 4096 + 128 * (exchanges % 20), bit ^= 1),
        };
        for (int r : results) {
            ++exchanges;
            if (r < 0)
                ++failures;
        }
        if (Clock::now() >= nextSample) {
            const long rss = RssKb(pid);
            if (firstRss < 0)
                firstRss = rss;
            maxRss = std::max(maxRss, rss);
            const auto minute = std::chrono::duration_cast<std::chrono::minutes>(Clock::now() - start).count();
            std::printf("%6ld  %9ld  %8ld  %6ld\n", long(minute), exchanges, failures, rss);
            std::fflush(stdout);
            nextSample += std::chrono::minutes(1);
        }
    }
    const long lastRss = RssKb(pid);
    std::printf("exchanges %ld, failures %ld, rss first %ld kB, last %ld kB, max %ld kB\n", exchanges, failures,
                firstRss, lastRss, std::max(maxRss, lastRss));
    modbus_close(ctx);
    modbus_free(ctx);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return 0;
}

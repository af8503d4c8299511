#pragma once
// Helpers of the simulator's tests: frames with their CRC, and a raw serial line on the pty the
// simulator serves (what a master without any Modbus library would see).

#include "port/uModbusCRC.h"
#include "sim/uSimLineSettings.h"
#include "sim/uSimTypes.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <string>

inline TSimBytes WithCrc(TSimBytes aFrame)
{
    const uint16_t crc = CalcModbusCRC(aFrame.data(), static_cast<int>(aFrame.size()));
    aFrame.push_back(static_cast<uint8_t>(crc & 0xFF));
    aFrame.push_back(static_cast<uint8_t>(crc >> 8));
    return aFrame;
}

class TSimRawLine
{
public:
    explicit TSimRawLine(const std::string &aPath, int aBaudRate = 9600)
    {
        fFd = open(aPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fFd >= 0 && !SimApplyLineSettings(fFd, aBaudRate, 'N', 1)) {
            close(fFd);
            fFd = -1;
        }
    }
    ~TSimRawLine()
    {
        if (fFd >= 0)
            close(fFd);
    }
    bool Ok() const { return fFd >= 0; }
    int Fd() const { return fFd; }

    void Write(const TSimBytes &aBytes) { [[maybe_unused]] ssize_t n = write(fFd, aBytes.data(), aBytes.size()); }
    // Bytes until 30 ms of silence after the first one, or nothing within aTimeoutMs.
    TSimBytes Read(int aTimeoutMs)
    {
        TSimBytes result;
        int wait = aTimeoutMs;
        for (;;) {
            pollfd p{fFd, POLLIN, 0};
            if (poll(&p, 1, wait) <= 0)
                return result;
            uint8_t buffer[512];
            const ssize_t n = read(fFd, buffer, sizeof buffer);
            if (n <= 0)
                return result; // hung up: the simulator closed its side
            result.insert(result.end(), buffer, buffer + n);
            wait = 30;
        }
    }
    TSimBytes Exchange(const TSimBytes &aRequest, int aTimeoutMs = 1000)
    {
        Write(aRequest);
        return Read(aTimeoutMs);
    }

private:
    int fFd = -1;
};

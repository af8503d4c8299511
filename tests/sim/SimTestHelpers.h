#pragma once
// Helpers of the simulator's tests: frames with their CRC, a raw serial line on the pty the
// simulator serves (what a master without any Modbus library would see), and a plain UDP socket
// in the panel's place before the converter.

#include "port/uModbusCRC.h"
#include "sim/uSimLineSettings.h"
#include "sim/uSimTypes.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
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

// A UDP socket on aHost:aPort with SO_REUSEADDR, as the panel's transport binds it.
class TUdp
{
public:
    TUdp(const char *aHost, uint16_t aPort)
    {
        fFd = socket(AF_INET, SOCK_DGRAM, 0);
        const int on = 1;
        setsockopt(fFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(aPort);
        inet_pton(AF_INET, aHost, &addr.sin_addr);
        fBound = bind(fFd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    }
    ~TUdp() { close(fFd); }
    bool Ok() const { return fBound; }
    uint16_t Port() const
    {
        sockaddr_in addr{};
        socklen_t length = sizeof addr;
        getsockname(fFd, reinterpret_cast<sockaddr *>(&addr), &length);
        return ntohs(addr.sin_port);
    }
    void SendTo(const char *aHost, uint16_t aPort, const TSimBytes &aData)
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(aPort);
        inet_pton(AF_INET, aHost, &to.sin_addr);
        sendto(fFd, aData.data(), aData.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    }
    // One datagram within aTimeoutMs (empty when none) and the dotted address it came from.
    TSimBytes Receive(int aTimeoutMs, std::string *aFrom = nullptr)
    {
        pollfd p{fFd, POLLIN, 0};
        if (poll(&p, 1, aTimeoutMs) <= 0)
            return {};
        uint8_t buffer[1024];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t n = recvfrom(fFd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), &length);
        if (aFrom != nullptr) {
            char text[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
            *aFrom = text;
        }
        return n > 0 ? TSimBytes(buffer, buffer + n) : TSimBytes{};
    }

private:
    int fFd = -1;
    bool fBound = false;
};

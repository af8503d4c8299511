#pragma once
// Wakes a transport's thread out of its poll(): Stop() signals it, the thread sees the event fd
// become readable.

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

class TzSimWaker
{
public:
    TzSimWaker() : fFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~TzSimWaker()
    {
        if (fFd >= 0)
            close(fFd);
    }
    TzSimWaker(const TzSimWaker &) = delete;
    TzSimWaker &operator=(const TzSimWaker &) = delete;

    int Fd() const { return fFd; }
    void Wake()
    {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = write(fFd, &one, sizeof one);
    }
    void Drain()
    {
        uint64_t value = 0;
        [[maybe_unused]] const ssize_t n = read(fFd, &value, sizeof value);
    }

private:
    int fFd;
};

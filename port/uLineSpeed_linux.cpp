// termios2 / BOTHER: the kernel takes the speed in bit/s instead of a Bnnn code.

#include "port/uLineSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

unsigned int FixedSpeedCode(uint32_t aRate)
{
    static constexpr struct
    {
        uint32_t Rate;
        unsigned int Code;
    } codes[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},
                 {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}};
    for (const auto &c : codes)
        if (c.Rate == aRate)
            return c.Code;
    return B9600;
}

bool SetLineSpeed(int aFd, uint32_t aRate)
{
    if (aRate == 0)
        return false;
    termios2 tio{};
    if (::ioctl(aFd, TCGETS2, &tio) != 0)
        return false;
    tio.c_cflag &= ~tcflag_t(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = aRate;
    tio.c_ospeed = aRate;
    return ::ioctl(aFd, TCSETS2, &tio) == 0;
}

uint32_t ReadLineSpeed(int aFd)
{
    termios2 tio{};
    if (::ioctl(aFd, TCGETS2, &tio) != 0)
        return 0;
    return tio.c_ospeed;
}

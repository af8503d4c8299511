// termios2 / BOTHER: the kernel takes the speed in bit/s instead of a Bnnn code.

#include "port/uLineSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

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

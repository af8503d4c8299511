// POSIX systems without termios2: only the speeds of the fixed Bnnn table.

#include "port/uLineSpeed.h"

#include <termios.h>

namespace {

struct TSpeed
{
    uint32_t Rate;
    speed_t Code;
};

constexpr TSpeed Speeds[] = {
    {110, B110},   {300, B300},     {600, B600},     {1200, B1200},   {2400, B2400},     {4800, B4800},
    {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
};

} // namespace

unsigned int FixedSpeedCode(uint32_t aRate)
{
    for (const TSpeed &s : Speeds)
        if (s.Rate == aRate)
            return s.Code;
    return B9600;
}

bool SetLineSpeed(int aFd, uint32_t aRate)
{
    termios tio{};
    if (::tcgetattr(aFd, &tio) != 0)
        return false;
    for (const TSpeed &s : Speeds)
        if (s.Rate == aRate) {
            ::cfsetispeed(&tio, s.Code);
            ::cfsetospeed(&tio, s.Code);
            return ::tcsetattr(aFd, TCSANOW, &tio) == 0;
        }
    return false;
}

uint32_t ReadLineSpeed(int aFd)
{
    termios tio{};
    if (::tcgetattr(aFd, &tio) != 0)
        return 0;
    const speed_t code = ::cfgetospeed(&tio);
    for (const TSpeed &s : Speeds)
        if (s.Code == code)
            return s.Rate;
    return 0;
}

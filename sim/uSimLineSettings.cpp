#include "sim/uSimLineSettings.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>

namespace {

struct TSpeed
{
    int Rate;
    speed_t Code;
};

constexpr TSpeed Speeds[] = {
    {1200, B1200}, {2400, B2400}, {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400},
};

} // namespace

bool SimParseFormat(const std::string &aText, char &aParity, int &aStopBits)
{
    if (aText == "8N1" || aText == "8O1" || aText == "8E1" || aText == "8N2") {
        aParity = aText[1];
        aStopBits = aText[2] - '0';
        return true;
    }
    return false;
}

bool SimApplyLineSettings(int aFd, int aBaudRate, char aParity, int aStopBits)
{
    termios tio{};
    if (tcgetattr(aFd, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    const auto *speed = std::find_if(std::begin(Speeds), std::end(Speeds), [&](const TSpeed &s) { return s.Rate == aBaudRate; });
    // 14400 and 28800 have no termios code; a pty does not care, a real port refuses below.
    if (speed != std::end(Speeds)) {
        cfsetispeed(&tio, speed->Code);
        cfsetospeed(&tio, speed->Code);
    } else if (isatty(aFd) && aBaudRate != 14400 && aBaudRate != 28800) {
        errno = EINVAL;
        return false;
    }
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(PARENB | PARODD | CSTOPB | CRTSCTS);
    if (aParity == 'E' || aParity == 'O')
        tio.c_cflag |= PARENB;
    if (aParity == 'O')
        tio.c_cflag |= PARODD;
    if (aStopBits == 2)
        tio.c_cflag |= CSTOPB;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return tcsetattr(aFd, TCSANOW, &tio) == 0;
}

int SimReadBaudRate(int aFd)
{
    termios tio{};
    if (tcgetattr(aFd, &tio) != 0)
        return 0;
    const speed_t code = cfgetospeed(&tio);
    for (const TSpeed &s : Speeds)
        if (s.Code == code)
            return s.Rate;
    return 0;
}

int64_t SimFrameGapUs(int aBaudRate)
{
    if (aBaudRate <= 0)
        return 1750;
    return std::max<int64_t>(1750, 3'500'000LL * 11 / aBaudRate);
}

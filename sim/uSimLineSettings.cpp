#include "sim/uSimLineSettings.h"

#include "port/uLineSpeed.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>

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
    cfsetispeed(&tio, speed_t(FixedSpeedCode(uint32_t(std::max(aBaudRate, 0)))));
    cfsetospeed(&tio, speed_t(FixedSpeedCode(uint32_t(std::max(aBaudRate, 0)))));
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
    if (tcsetattr(aFd, TCSANOW, &tio) != 0)
        return false;
    // Any speed, 14400 and 28800 included, through the arbitrary-speed interface.
    if (aBaudRate <= 0 || !SetLineSpeed(aFd, uint32_t(aBaudRate))) {
        errno = EINVAL;
        return false;
    }
    return true;
}

int SimReadBaudRate(int aFd)
{
    return int(ReadLineSpeed(aFd));
}

int64_t SimFrameGapUs(int aBaudRate)
{
    if (aBaudRate <= 0)
        return 1750;
    return std::max<int64_t>(1750, 3'500'000LL * 11 / aBaudRate);
}

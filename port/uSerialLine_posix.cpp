// POSIX backend of the serial layer: termios for the line parameters, poll() for the Win32 read
// and write time-outs, TIOCEXCL plus an advisory lock for exclusive use, and an eventfd that lets
// Close() end a pending read or write from another thread.

#include "port/uSerialLine.h"

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <mutex>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

uint64_t MsSince(Clock::time_point aStart)
{
    return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - aStart).count());
}

struct TSpeed
{
    uint32_t Rate;
    speed_t Code;
};

constexpr TSpeed Speeds[] = {
    {110, B110},       {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
    {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

bool SpeedCode(uint32_t aRate, speed_t &aCode)
{
    for (const TSpeed &s : Speeds)
        if (s.Rate == aRate) {
            aCode = s.Code;
            return true;
        }
    return false;
}

uint32_t SpeedRate(speed_t aCode)
{
    for (const TSpeed &s : Speeds)
        if (s.Code == aCode)
            return s.Rate;
    return 0;
}

// Milliseconds to the nearer of two deadlines for poll(), -1 for none.
int PollTimeout(uint64_t aElapsed, uint64_t aDeadline)
{
    if (aDeadline == UINT64_MAX)
        return -1;
    if (aElapsed >= aDeadline)
        return 0;
    return int(std::min<uint64_t>(aDeadline - aElapsed, 1u << 30));
}

} // namespace

struct TzSerialLine::TImpl
{
    // Held for the length of every call that uses the descriptor, so Close() never pulls it away
    // from under a pending read; a pending call is woken through WakeFd first.
    std::mutex IoMutex;
    int Fd = -1;
    std::atomic<bool> Opened{false}; // readable without waiting for a pending call
    int WakeFd = -1;
    bool HungUp = false;
    TzLineTimeouts Timeouts;
    uint32_t EventMask = 0;
    char ErrorChar = 0;
    char EvtChar = 0;

    enum class TWait { Ready, TimedOut, Woken, Failed };

    TWait WaitFor(short aEvents, int aTimeoutMs, short &aRevents)
    {
        pollfd fds[2] = {{Fd, aEvents, 0}, {WakeFd, POLLIN, 0}};
        for (;;) {
            const int n = ::poll(fds, 2, aTimeoutMs);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return TWait::Failed;
            if (n == 0)
                return TWait::TimedOut;
            if (fds[1].revents)
                return TWait::Woken;
            aRevents = fds[0].revents;
            return TWait::Ready;
        }
    }

    void DrainWake()
    {
        uint64_t value;
        while (::read(WakeFd, &value, sizeof value) > 0) {
        }
    }
};

TzSerialLine::TzSerialLine() : fImpl(std::make_unique<TImpl>())
{
    fImpl->WakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

TzSerialLine::~TzSerialLine()
{
    Close();
    if (fImpl->WakeFd >= 0)
        ::close(fImpl->WakeFd);
}

bool TzSerialLine::Open(const std::string &aDevice)
{
    std::lock_guard lock(fImpl->IoMutex);
    if (fImpl->Fd >= 0 || fImpl->WakeFd < 0)
        return false;
    const int fd = ::open(aDevice.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    // TIOCEXCL keeps other programs out (not a privileged one); the lock keeps out any other
    // user of the device, this process included, that plays by the same rule.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
        ::close(fd);
        return false;
    }
    // VMIN 1 makes an empty non-blocking read fail with EAGAIN, so a read of 0 bytes can only
    // mean a hang-up; the time-outs are ours, never the driver's.
    termios tio{};
    if (::tcgetattr(fd, &tio) == 0) {
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    fImpl->Fd = fd;
    fImpl->Opened = true;
    fImpl->HungUp = false;
    fImpl->Timeouts = TzLineTimeouts();
    fImpl->DrainWake();
    return true;
}

bool TzSerialLine::IsOpen() const
{
    return fImpl->Opened;
}

bool TzSerialLine::Close()
{
    if (fImpl->WakeFd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(fImpl->WakeFd, &one, sizeof one);
    }
    std::lock_guard lock(fImpl->IoMutex);
    bool ok = true;
    if (fImpl->Fd >= 0) {
        ::tcflush(fImpl->Fd, TCIOFLUSH);
        ::ioctl(fImpl->Fd, TIOCNXCL);
        ok = ::close(fImpl->Fd) == 0;
        fImpl->Fd = -1;
        fImpl->Opened = false;
    }
    fImpl->DrainWake();
    return ok;
}

bool TzSerialLine::GetState(TzLineState &aState)
{
    std::lock_guard lock(fImpl->IoMutex);
    termios tio{};
    if (fImpl->Fd < 0 || ::tcgetattr(fImpl->Fd, &tio) != 0)
        return false;
    aState = TzLineState();
    aState.BaudRate = SpeedRate(::cfgetospeed(&tio));
    aState.Flags = DcbFlag::Binary;
    if (tio.c_iflag & INPCK)
        aState.Flags |= DcbFlag::Parity;
    if (tio.c_cflag & CRTSCTS)
        aState.Flags |= DcbFlag::OutxCtsFlow;
    if (tio.c_iflag & IXON)
        aState.Flags |= DcbFlag::OutX;
    if (tio.c_iflag & IXOFF)
        aState.Flags |= DcbFlag::InX;
    switch (tio.c_cflag & CSIZE) {
    case CS5: aState.ByteSize = 5; break;
    case CS6: aState.ByteSize = 6; break;
    case CS7: aState.ByteSize = 7; break;
    default: aState.ByteSize = 8; break;
    }
    if (!(tio.c_cflag & PARENB))
        aState.Parity = DcbCode::NoParity;
    else if (tio.c_cflag & CMSPAR)
        aState.Parity = (tio.c_cflag & PARODD) ? DcbCode::MarkParity : DcbCode::SpaceParity;
    else
        aState.Parity = (tio.c_cflag & PARODD) ? DcbCode::OddParity : DcbCode::EvenParity;
    aState.StopBits = (tio.c_cflag & CSTOPB) ? DcbCode::TwoStopBits : DcbCode::OneStopBit;
    aState.XonChar = char(tio.c_cc[VSTART]);
    aState.XoffChar = char(tio.c_cc[VSTOP]);
    aState.EofChar = char(tio.c_cc[VEOF]);
    aState.ErrorChar = fImpl->ErrorChar;
    aState.EvtChar = fImpl->EvtChar;
    return true;
}

bool TzSerialLine::SetState(const TzLineState &aState)
{
    std::lock_guard lock(fImpl->IoMutex);
    termios tio{};
    if (fImpl->Fd < 0 || ::tcgetattr(fImpl->Fd, &tio) != 0)
        return false;
    speed_t speed;
    if (!SpeedCode(aState.BaudRate, speed) || aState.ByteSize < 5 || aState.ByteSize > 8
        || aState.Parity > DcbCode::SpaceParity || aState.StopBits > DcbCode::TwoStopBits)
        return false;

    // Raw bytes both ways; reads are ended by our own time-outs (see Open for VMIN).
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);

    static constexpr tcflag_t Sizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag = (tio.c_cflag & ~CSIZE) | Sizes[aState.ByteSize - 5];

    tio.c_cflag &= ~(PARENB | PARODD | CMSPAR);
    switch (aState.Parity) {
    case DcbCode::OddParity: tio.c_cflag |= PARENB | PARODD; break;
    case DcbCode::EvenParity: tio.c_cflag |= PARENB; break;
    case DcbCode::MarkParity: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case DcbCode::SpaceParity: tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (aState.Flags & DcbFlag::Parity)
        tio.c_iflag |= INPCK;
    if (aState.StopBits == DcbCode::OneStopBit)
        tio.c_cflag &= ~CSTOPB;
    else
        tio.c_cflag |= CSTOPB;

    if (aState.Flags & DcbFlag::OutxCtsFlow)
        tio.c_cflag |= CRTSCTS;
    else
        tio.c_cflag &= ~CRTSCTS;
    tio.c_iflag &= ~(IXON | IXOFF);
    if (aState.Flags & DcbFlag::OutX)
        tio.c_iflag |= IXON;
    if (aState.Flags & DcbFlag::InX)
        tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = cc_t(aState.XonChar);
    tio.c_cc[VSTOP] = cc_t(aState.XoffChar);
    tio.c_cc[VEOF] = cc_t(aState.EofChar);

    if (::tcsetattr(fImpl->Fd, TCSANOW, &tio) != 0)
        return false;
    fImpl->ErrorChar = aState.ErrorChar;
    fImpl->EvtChar = aState.EvtChar;
    return true;
}

bool TzSerialLine::SetupQueues(uint32_t, uint32_t)
{
    // The kernel sizes its own tty buffers; asking for queues only needs an open line.
    return IsOpen();
}

bool TzSerialLine::GetTimeouts(TzLineTimeouts &aTimeouts)
{
    std::lock_guard lock(fImpl->IoMutex);
    if (fImpl->Fd < 0)
        return false;
    aTimeouts = fImpl->Timeouts;
    return true;
}

bool TzSerialLine::SetTimeouts(const TzLineTimeouts &aTimeouts)
{
    std::lock_guard lock(fImpl->IoMutex);
    if (fImpl->Fd < 0)
        return false;
    fImpl->Timeouts = aTimeouts;
    return true;
}

bool TzSerialLine::GetEventMask(uint32_t &aMask)
{
    std::lock_guard lock(fImpl->IoMutex);
    if (fImpl->Fd < 0)
        return false;
    aMask = fImpl->EventMask;
    return true;
}

bool TzSerialLine::SetEventMask(uint32_t aMask)
{
    std::lock_guard lock(fImpl->IoMutex);
    if (fImpl->Fd < 0)
        return false;
    fImpl->EventMask = aMask;
    return true;
}

bool TzSerialLine::Purge(bool aReceive, bool aTransmit)
{
    std::lock_guard lock(fImpl->IoMutex);
    if (fImpl->Fd < 0)
        return false;
    if (aReceive && ::tcflush(fImpl->Fd, TCIFLUSH) != 0)
        return false;
    if (aTransmit && ::tcflush(fImpl->Fd, TCOFLUSH) != 0)
        return false;
    return true;
}

bool TzSerialLine::Write(const uint8_t *aData, uint32_t aCount, uint32_t &aWritten)
{
    aWritten = 0;
    std::lock_guard lock(fImpl->IoMutex);
    if (fImpl->Fd < 0 || fImpl->HungUp)
        return false;
    const uint64_t total = WriteTotalMs(fImpl->Timeouts, aCount);
    const Clock::time_point start = Clock::now();
    while (aWritten < aCount) {
        const ssize_t n = ::write(fImpl->Fd, aData + aWritten, aCount - aWritten);
        if (n > 0) {
            aWritten += uint32_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            fImpl->HungUp = errno == EIO;
            return false;
        }
        short revents = 0;
        const TImpl::TWait wait = fImpl->WaitFor(POLLOUT, PollTimeout(MsSince(start), total), revents);
        if (wait == TImpl::TWait::TimedOut)
            return true; // as on Win32: the write ends within its time-out, short of bytes
        if (wait != TImpl::TWait::Ready)
            return false;
        if ((revents & (POLLHUP | POLLERR)) && !(revents & POLLOUT)) {
            fImpl->HungUp = true;
            return false;
        }
    }
    return true;
}

bool TzSerialLine::Read(uint8_t *aBuffer, uint32_t aCount, uint32_t &aRead)
{
    aRead = 0;
    std::lock_guard lock(fImpl->IoMutex);
    if (fImpl->Fd < 0 || fImpl->HungUp)
        return false;
    const TzReadEndRule rule = TzReadEndRule::From(fImpl->Timeouts, aCount);
    const Clock::time_point start = Clock::now();
    uint64_t lastByteAt = 0;
    while (aRead < aCount) {
        const ssize_t n = ::read(fImpl->Fd, aBuffer + aRead, aCount - aRead);
        if (n > 0) {
            aRead += uint32_t(n);
            lastByteAt = MsSince(start);
            if (rule.ReturnOnFirstByte)
                return true;
            continue;
        }
        // A non-blocking tty reads 0 bytes only once it has been hung up, and EIO says the same:
        // the other end of the line is gone (an unplugged adapter, a closed pty).
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            fImpl->HungUp = true;
            return aRead > 0;
        }
        if (rule.ReturnAtOnce)
            return true;
        const uint64_t elapsed = MsSince(start);
        uint64_t deadline = rule.TotalMs;
        if (aRead > 0 && rule.IntervalMs != UINT64_MAX)
            deadline = std::min(deadline, lastByteAt + rule.IntervalMs);
        if (deadline != UINT64_MAX && elapsed >= deadline)
            return true;
        short revents = 0;
        const TImpl::TWait wait = fImpl->WaitFor(POLLIN, PollTimeout(elapsed, deadline), revents);
        if (wait == TImpl::TWait::Woken || wait == TImpl::TWait::Failed)
            return false;
        if (wait == TImpl::TWait::Ready && (revents & (POLLHUP | POLLERR | POLLNVAL)) && !(revents & POLLIN)) {
            fImpl->HungUp = true;
            return aRead > 0;
        }
    }
    return true;
}

bool TzSerialLine::ClearErrors()
{
    std::lock_guard lock(fImpl->IoMutex);
    if (fImpl->Fd < 0 || fImpl->HungUp)
        return false;
    int pending = 0;
    return ::ioctl(fImpl->Fd, FIONREAD, &pending) == 0;
}

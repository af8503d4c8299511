// POSIX backend of the serial layer: termios for the line parameters, poll() for the Win32 read
// and write time-outs, TIOCEXCL plus an advisory lock for exclusive use, and an eventfd that lets
// Close() end a pending read or write from another thread.

#include "port/uSerialLine.h"

#include "port/uLineSpeed.h"
#include "port/uReadProgress.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <optional>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// 0 while aStart is still ahead (a read whose total time-out counts from the end of a
// transmission that is still under way).
uint64_t UsSince(Clock::time_point aStart)
{
    const int64_t us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - aStart).count();
    return us > 0 ? uint64_t(us) : 0;
}

// Microseconds to the nearer deadline for a wait, UINT64_MAX for none.
uint64_t WaitUs(uint64_t aElapsedUs, uint64_t aDeadlineUs)
{
    if (aDeadlineUs == UINT64_MAX)
        return UINT64_MAX;
    return aElapsedUs >= aDeadlineUs ? 0 : aDeadlineUs - aElapsedUs;
}

uint64_t MsToUs(uint64_t aMs)
{
    return aMs == UINT64_MAX ? UINT64_MAX : aMs * 1000;
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
    std::atomic<bool> HungUp{false};
    TzLineTimeouts Timeouts;
    uint64_t CharUs = 0;
    // When the last byte was received, and when the last write left the line.
    std::optional<Clock::time_point> LastRx;
    Clock::time_point TxEnd{};
    uint32_t EventMask = 0;
    char ErrorChar = 0;
    char EvtChar = 0;

    enum class TWait { Ready, TimedOut, Woken, Failed };

    // Waits for the line or a wake-up, at most aTimeoutUs (UINT64_MAX: no limit).
    TWait WaitFor(short aEvents, uint64_t aTimeoutUs, short &aRevents)
    {
        pollfd fds[2] = {{Fd, aEvents, 0}, {WakeFd, POLLIN, 0}};
        for (;;) {
            timespec timeout{};
            const uint64_t us = std::min<uint64_t>(aTimeoutUs, uint64_t(1) << 40);
            timeout.tv_sec = time_t(us / 1000000);
            timeout.tv_nsec = long(us % 1000000) * 1000;
            const int n = ::ppoll(fds, 2, aTimeoutUs == UINT64_MAX ? nullptr : &timeout, nullptr);
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
    fImpl->CharUs = 0;
    // The line may still carry the tail of an exchange begun before it was opened (the previous
    // connection's last answer): the first request waits for a frame gap of silence too.
    fImpl->LastRx = Clock::now();
    fImpl->TxEnd = Clock::time_point{};
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
    aState.BaudRate = ReadLineSpeed(fImpl->Fd);
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
    if (aState.BaudRate == 0 || aState.ByteSize < 5 || aState.ByteSize > 8 || aState.Parity > DcbCode::SpaceParity
        || aState.StopBits > DcbCode::TwoStopBits)
        return false;

    // Raw bytes both ways; reads are ended by our own time-outs (see Open for VMIN).
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, speed_t(FixedSpeedCode(aState.BaudRate)));
    ::cfsetospeed(&tio, speed_t(FixedSpeedCode(aState.BaudRate)));

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

    if (::tcsetattr(fImpl->Fd, TCSANOW, &tio) != 0 || !SetLineSpeed(fImpl->Fd, aState.BaudRate))
        return false;
    const uint64_t bits = 1 + aState.ByteSize + (aState.Parity == DcbCode::NoParity ? 0 : 1)
                          + (aState.StopBits == DcbCode::OneStopBit ? 1 : 2);
    fImpl->CharUs = bits * 1000000 / aState.BaudRate;
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
    const uint64_t totalUs = MsToUs(WriteTotalMs(fImpl->Timeouts, aCount));
    const Clock::time_point start = Clock::now();
    bool timedOut = false;
    while (aWritten < aCount) {
        const ssize_t n = ::write(fImpl->Fd, aData + aWritten, aCount - aWritten);
        if (n > 0) {
            aWritten += uint32_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            fImpl->HungUp = errno == EIO || errno == ENXIO || errno == ENODEV;
            return false;
        }
        short revents = 0;
        const TImpl::TWait wait = fImpl->WaitFor(POLLOUT, WaitUs(UsSince(start), totalUs), revents);
        if (wait == TImpl::TWait::TimedOut) {
            timedOut = true; // as on Win32: the write ends within its time-out, short of bytes
            break;
        }
        if (wait != TImpl::TWait::Ready)
            return false;
        if ((revents & (POLLHUP | POLLERR)) && !(revents & POLLOUT)) {
            fImpl->HungUp = true;
            return false;
        }
    }
    // The answer's wait starts when the request has left the line. A pty or a USB adapter may
    // report the bytes sent before they could have crossed the line at its speed.
    if (!timedOut)
        ::tcdrain(fImpl->Fd);
    fImpl->TxEnd = std::max(Clock::now(), start + std::chrono::microseconds(fImpl->CharUs * aWritten));
    return true;
}

bool TzSerialLine::Read(uint8_t *aBuffer, uint32_t aCount, uint32_t &aRead, const TzAnswerNeed &aNeed)
{
    aRead = 0;
    std::lock_guard lock(fImpl->IoMutex);
    if (fImpl->Fd < 0 || fImpl->HungUp)
        return false;
    TzReadProgress progress(TzReadEndRule::From(fImpl->Timeouts, aCount), aCount, &aNeed);
    // The total time-out counts from the end of the last transmission when that is still ahead.
    const Clock::time_point start = std::max(Clock::now(), fImpl->TxEnd);
    for (;;) {
        const uint32_t want = progress.Want(aBuffer);
        if (want == 0)
            return true;
        const ssize_t n = ::read(fImpl->Fd, aBuffer + aRead, want);
        if (n > 0) {
            aRead += uint32_t(n);
            fImpl->LastRx = Clock::now();
            if (progress.Received(uint32_t(n), UsSince(start)))
                return true;
            continue;
        }
        // A non-blocking tty reads 0 bytes only once it has been hung up, and EIO says the same:
        // the other end of the line is gone (an unplugged adapter, a closed pty).
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            fImpl->HungUp = true;
            return aRead > 0;
        }
        const std::optional<uint64_t> waitUs = progress.WaitUs(UsSince(start));
        if (!waitUs)
            return true;
        short revents = 0;
        const TImpl::TWait wait = fImpl->WaitFor(POLLIN, *waitUs, revents);
        if (wait == TImpl::TWait::Woken || wait == TImpl::TWait::Failed)
            return false;
        if (wait == TImpl::TWait::Ready && (revents & (POLLHUP | POLLERR | POLLNVAL)) && !(revents & POLLIN)) {
            fImpl->HungUp = true;
            return aRead > 0;
        }
    }
}

uint32_t TzSerialLine::Drain(uint64_t aSilenceUs, uint64_t aMaxMs, bool aAwaitBytes)
{
    std::lock_guard lock(fImpl->IoMutex);
    if (fImpl->Fd < 0 || fImpl->HungUp)
        return 0;
    const Clock::time_point start = Clock::now();
    const uint64_t maxUs = MsToUs(aMaxMs);
    uint32_t dropped = 0;
    uint8_t scrap[256];
    for (;;) {
        const ssize_t n = ::read(fImpl->Fd, scrap, sizeof scrap);
        if (n > 0) {
            dropped += uint32_t(n);
            fImpl->LastRx = Clock::now();
            continue;
        }
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            fImpl->HungUp = true;
            return dropped;
        }
        const Clock::time_point now = Clock::now();
        const uint64_t elapsed = UsSince(start);
        uint64_t deadline = maxUs;
        if (!aAwaitBytes || dropped > 0) {
            const Clock::time_point quietSince = fImpl->LastRx ? *fImpl->LastRx : start - std::chrono::hours(1);
            const uint64_t quietUs = uint64_t(
                std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::microseconds>(now - quietSince).count()));
            if (quietUs >= aSilenceUs)
                return dropped;
            deadline = std::min(deadline, elapsed + (aSilenceUs - quietUs));
        }
        if (elapsed >= deadline)
            return dropped;
        short revents = 0;
        const TImpl::TWait wait = fImpl->WaitFor(POLLIN, WaitUs(elapsed, deadline), revents);
        if (wait == TImpl::TWait::Woken || wait == TImpl::TWait::Failed)
            return dropped;
        if (wait == TImpl::TWait::Ready && (revents & (POLLHUP | POLLERR | POLLNVAL)) && !(revents & POLLIN)) {
            fImpl->HungUp = true;
            return dropped;
        }
    }
}

bool TzSerialLine::HungUp() const
{
    return fImpl->HungUp;
}

uint64_t TzSerialLine::CharTimeUs() const
{
    return fImpl->CharUs;
}

bool TzSerialLine::ClearErrors()
{
    std::lock_guard lock(fImpl->IoMutex);
    if (fImpl->Fd < 0 || fImpl->HungUp)
        return false;
    int pending = 0;
    return ::ioctl(fImpl->Fd, FIONREAD, &pending) == 0;
}

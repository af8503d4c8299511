#include "sim/uSimSerialServer.h"

#include "sim/uSimLineSettings.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace {

int64_t SteadyUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

constexpr size_t MaxFrameBytes = 512; // beyond any RTU frame; the rest is read and dropped

} // namespace

TzSimSerialServer::TzSimSerialServer(TzSimBus &aBus, TzSimFrameLog &aLog, TzSimFaults &aFaults)
    : fBus(aBus), fLog(aLog), fFaults(aFaults)
{
}

TzSimSerialServer::~TzSimSerialServer()
{
    Stop();
}

void TzSimSerialServer::CloseAll()
{
    if (fFd >= 0)
        close(fFd);
    if (fHoldFd >= 0)
        close(fHoldFd);
    fFd = fHoldFd = -1;
}

std::string TzSimSerialServer::StartPty()
{
    Stop();
    fFd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128] = {};
    if (fFd < 0 || grantpt(fFd) != 0 || unlockpt(fFd) != 0 || ptsname_r(fFd, name, sizeof name) != 0) {
        Fail("cannot create a pseudo-terminal");
        CloseAll();
        return {};
    }
    fHoldFd = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    // Raw from the start, so nothing is echoed or translated before the panel sets the line up.
    if (fHoldFd < 0 || !SimApplyLineSettings(fHoldFd, fBus.LineBaudRate(), 'N', 1)) {
        Fail("cannot set up the pseudo-terminal");
        CloseAll();
        return {};
    }
    fIsPty = true;
    fPath = name;
    fStopping = false;
    fThread = std::thread([this] { Run(); });
    return fPath;
}

bool TzSimSerialServer::StartDevice(const std::string &aPath, int aBaudRate, char aParity, int aStopBits)
{
    Stop();
    fFd = open(aPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fFd < 0) {
        Fail("cannot open " + aPath);
        return false;
    }
    if (!SimApplyLineSettings(fFd, aBaudRate, aParity, aStopBits)) {
        Fail("cannot set " + aPath + " to the requested speed and format");
        CloseAll();
        return false;
    }
    tcflush(fFd, TCIOFLUSH);
    fIsPty = false;
    fPath = aPath;
    fBaudRate = aBaudRate;
    fParity = aParity;
    fStopBits = aStopBits;
    fStopping = false;
    fThread = std::thread([this] { Run(); });
    return true;
}

void TzSimSerialServer::Stop()
{
    if (fThread.joinable()) {
        fStopping = true;
        fWaker.Wake();
        fThread.join();
        fWaker.Drain();
    }
    fQueue.Clear();
    CloseAll();
}

TzSimLineParams TzSimSerialServer::LineParams() const
{
    TzSimLineParams line;
    if (fIsPty) {
        // The pty carries the speed the panel set; parity never reaches it.
        if (fCheckSpeed)
            line.BaudRate = SimReadBaudRate(fFd);
    } else {
        line.BaudRate = fBaudRate;
        line.Parity = fParity;
        line.StopBits = fStopBits;
    }
    return line;
}

void TzSimSerialServer::Run()
{
    TSimBytes frame;
    int64_t lastByteUs = 0;
    int64_t gapUs = SimFrameGapUs(fIsPty ? SimReadBaudRate(fFd) : fBaudRate);
    uint8_t buffer[256];

    while (!fStopping) {
        const int64_t nowUs = SteadyUs();
        // Sleep until the frame's silence is over, the next late answer is due, or input.
        int64_t waitUs = 500'000;
        if (!frame.empty())
            waitUs = std::max<int64_t>(0, lastByteUs + gapUs - nowUs);
        if (const auto due = fQueue.NextDue())
            waitUs = std::min<int64_t>(waitUs, std::max<int64_t>(0, int64_t(*due) * 1000 - nowUs));
        pollfd fds[2] = {{fWaker.Fd(), POLLIN, 0}, {fFd, POLLIN, 0}};
        const timespec timeout{waitUs / 1'000'000, (waitUs % 1'000'000) * 1000};
        const int ready = ppoll(fds, 2, &timeout, nullptr);
        if (fStopping)
            break;
        if (ready < 0 && errno != EINTR)
            break;

        if (ready > 0 && (fds[1].revents & POLLIN)) {
            const ssize_t n = read(fFd, buffer, sizeof buffer);
            if (n > 0) {
                if (frame.empty())
                    gapUs = SimFrameGapUs(fIsPty ? SimReadBaudRate(fFd) : fBaudRate);
                if (frame.size() < MaxFrameBytes)
                    frame.insert(frame.end(), buffer, buffer + std::min<size_t>(size_t(n), MaxFrameBytes - frame.size()));
                lastByteUs = SteadyUs();
            }
        } else if (ready > 0 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))) {
            // A device that went away: wait for stop instead of spinning.
            pollfd wake{fWaker.Fd(), POLLIN, 0};
            poll(&wake, 1, 100);
        }

        if (!frame.empty() && SteadyUs() - lastByteUs >= gapUs) {
            FrameComplete(std::move(frame));
            frame.clear();
        }
        for (TPending &pending : fQueue.PopDue(SimSteadyMs()))
            WriteFrame(pending.Frame, pending.Note);
    }
}

void TzSimSerialServer::FrameComplete(TSimBytes aFrame)
{
    std::string whySilent;
    const std::optional<TSimBytes> answer = fBus.HandleFrame(aFrame, LineParams(), &whySilent);
    fLog.Add(TzSimDirection::Received, "serial", aFrame, {}, whySilent);
    if (!answer)
        return;
    for (TzSimPlannedSend &send : fFaults.Plan(*answer, false)) {
        if (send.DelayMs == 0)
            WriteFrame(send.Frame, send.Note);
        else
            fQueue.Push(SimSteadyMs() + uint64_t(send.DelayMs), {std::move(send.Frame), send.Note});
    }
    if (!fIsPty)
        FollowModuleSettings();
}

void TzSimSerialServer::WriteFrame(const TSimBytes &aFrame, const std::string &aNote)
{
    size_t done = 0;
    while (done < aFrame.size() && !fStopping) {
        const ssize_t n = write(fFd, aFrame.data() + done, aFrame.size() - done);
        if (n > 0) {
            done += size_t(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd out{fFd, POLLOUT, 0};
            poll(&out, 1, 50);
        } else {
            break;
        }
    }
    fLog.Add(TzSimDirection::Sent, "serial", TSimBytes(aFrame.begin(), aFrame.begin() + long(done)), {}, aNote);
}

void TzSimSerialServer::FollowModuleSettings()
{
    // After a restart with new settings the module listens at its new speed and format; on a
    // real line the simulator's side of it must follow (once the answer has left).
    int baud = 0;
    uint16_t format = 0;
    fBus.WithFirstModule([&](TzSimModule &m, uint64_t) {
        baud = TzSimModule::SpeedOfCode(m.ActiveNetwork().SpeedCode);
        format = m.ActiveNetwork().FormatCode;
    });
    if (baud == 0 || format < 4 || format > 7)
        return;
    static constexpr char parity[] = {'N', 'O', 'E', 'N'};
    const char newParity = parity[format - 4];
    const int newStop = format == 7 ? 2 : 1;
    if (baud == fBaudRate && newParity == fParity && newStop == fStopBits)
        return;
    tcdrain(fFd);
    if (SimApplyLineSettings(fFd, baud, newParity, newStop)) {
        fBaudRate = baud;
        fParity = newParity;
        fStopBits = newStop;
    }
}

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

void TzSimSerialServer::CloseAll()
{
    CloseFd(fFd);
    CloseFd(fHoldFd);
}

std::string TzSimSerialServer::StartPty(const std::string &aStableLink)
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
    if (!aStableLink.empty()) {
        // Re-pointed in one step: whoever opens the link meanwhile finds the old pty or the new.
        const std::string fresh = aStableLink + ".new";
        unlink(fresh.c_str());
        if (symlink(name, fresh.c_str()) != 0 || rename(fresh.c_str(), aStableLink.c_str()) != 0) {
            Fail("cannot link " + aStableLink + " to the pseudo-terminal");
            unlink(fresh.c_str());
            CloseAll();
            return {};
        }
        fLink = aStableLink;
    }
    fIsPty = true;
    fPath = name;
    fService.Start([this] { Run(); });
    return fLink.empty() ? fPath : fLink;
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
    fService.Start([this] { Run(); });
    return true;
}

void TzSimSerialServer::Stop()
{
    fService.Stop();
    fQueue.Clear();
    fPaced.clear();
    CloseAll();
    // The line is gone, and with it its name.
    if (!fLink.empty()) {
        unlink(fLink.c_str());
        fLink.clear();
    }
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

int TzSimSerialServer::CurrentBaudRate() const
{
    if (!fIsPty)
        return fBaudRate;
    const int rate = SimReadBaudRate(fFd);
    return rate > 0 ? rate : fBus.LineBaudRate();
}

int64_t TzSimSerialServer::CharUs(int aBaudRate) const
{
    if (aBaudRate <= 0)
        return 0;
    const int bits = 1 + 8 + (fPacing.Parity == 'N' ? 0 : 1) + (fPacing.StopBits == 2 ? 2 : 1);
    return int64_t(bits) * 1'000'000 / aBaudRate;
}

void TzSimSerialServer::Run()
{
    TSimBytes frame;
    int64_t lastByteUs = 0;
    int64_t gapUs = SimFrameGapUs(fIsPty ? SimReadBaudRate(fFd) : fBaudRate);
    int64_t charUs = 0;
    uint8_t buffer[256];

    while (!fService.Stopping()) {
        const int64_t nowUs = SteadyUs();
        // Sleep until the frame's silence is over, the next late answer or paced character is
        // due, or input.
        int64_t waitUs = 500'000;
        if (!frame.empty())
            waitUs = std::max<int64_t>(0, lastByteUs + gapUs - nowUs);
        if (const auto due = fQueue.NextDue())
            waitUs = std::min<int64_t>(waitUs, std::max<int64_t>(0, int64_t(*due) * 1000 - nowUs));
        if (!fPaced.empty()) {
            const TPaced &next = fPaced.front();
            const int64_t dueUs = next.StartUs + int64_t(next.Written + 1) * CharUs(CurrentBaudRate());
            waitUs = std::min<int64_t>(waitUs, std::max<int64_t>(0, dueUs - nowUs));
        }
        pollfd fds[2] = {{fService.WakeFd(), POLLIN, 0}, {fFd, POLLIN, 0}};
        const timespec timeout{waitUs / 1'000'000, (waitUs % 1'000'000) * 1000};
        const int ready = ppoll(fds, 2, &timeout, nullptr);
        if (fService.Stopping())
            break;
        if (ready < 0 && errno != EINTR)
            break;

        if (ready > 0 && (fds[1].revents & POLLIN)) {
            const ssize_t n = read(fFd, buffer, sizeof buffer);
            if (n > 0) {
                const int64_t arrivedUs = SteadyUs();
                if (frame.empty()) {
                    const int rate = fIsPty ? SimReadBaudRate(fFd) : fBaudRate;
                    gapUs = SimFrameGapUs(rate);
                    if (Paced()) {
                        // 3.5 of this line's characters, 1.75 ms above 19200 bit/s.
                        charUs = CharUs(CurrentBaudRate());
                        gapUs = CurrentBaudRate() > 19200 ? 1750 : std::max<int64_t>(1750, charUs * 7 / 2);
                    }
                }
                if (frame.size() < MaxFrameBytes)
                    frame.insert(frame.end(), buffer,
                                 buffer + std::min<size_t>(size_t(n), MaxFrameBytes - frame.size()));
                // On a paced line each character is heard once its last bit has crossed.
                if (Paced())
                    lastByteUs = std::max(lastByteUs, arrivedUs) + int64_t(n) * charUs;
                else
                    lastByteUs = arrivedUs;
            }
        } else if (ready > 0 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))) {
            // A device that went away: wait for stop instead of spinning.
            pollfd wake{fService.WakeFd(), POLLIN, 0};
            poll(&wake, 1, 100);
        }

        if (!frame.empty() && SteadyUs() - lastByteUs >= gapUs) {
            FrameComplete(std::move(frame));
            frame.clear();
        }
        for (TPending &pending : fQueue.PopDue(SimSteadyMs()))
            WriteFrame(pending.Frame, pending.Note);
        PumpPaced(SteadyUs());
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
    if (!Paced()) {
        WriteNow(aFrame, aNote);
        return;
    }
    // After a turnaround, and never over an answer still leaving.
    TPaced paced{aFrame, aNote, SteadyUs() + fPacing.TurnaroundUs, 0};
    if (!fPaced.empty()) {
        const TPaced &last = fPaced.back();
        paced.StartUs = std::max(paced.StartUs, last.StartUs + int64_t(last.Frame.size()) * CharUs(CurrentBaudRate()));
    }
    fPaced.push_back(std::move(paced));
    PumpPaced(SteadyUs());
}

int64_t TzSimSerialServer::PumpPaced(int64_t aNowUs)
{
    while (!fPaced.empty() && !fService.Stopping()) {
        TPaced &paced = fPaced.front();
        const int64_t charUs = std::max<int64_t>(1, CharUs(CurrentBaudRate()));
        const int64_t elapsed = aNowUs - paced.StartUs;
        const size_t due = elapsed <= 0 ? 0 : std::min(paced.Frame.size(), size_t(elapsed / charUs));
        while (paced.Written < due) {
            const ssize_t n = write(fFd, paced.Frame.data() + paced.Written, due - paced.Written);
            if (n > 0) {
                paced.Written += size_t(n);
            } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                pollfd out{fFd, POLLOUT, 0};
                poll(&out, 1, 50);
            } else {
                paced.Written = paced.Frame.size(); // the line is gone: the rest is lost
                break;
            }
        }
        if (paced.Written < paced.Frame.size())
            return paced.StartUs + int64_t(paced.Written + 1) * charUs;
        fLog.Add(TzSimDirection::Sent, "serial", paced.Frame, {}, paced.Note);
        fPaced.pop_front();
    }
    return -1;
}

void TzSimSerialServer::WriteNow(const TSimBytes &aFrame, const std::string &aNote)
{
    size_t done = 0;
    while (done < aFrame.size() && !fService.Stopping()) {
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

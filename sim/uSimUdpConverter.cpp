#include "sim/uSimUdpConverter.h"

#include "sim/uSimLanveyPack.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace {

// A UDP socket bound to aHost:aPort, sharing the port with others that set SO_REUSEADDR too.
int BindUdp(const std::string &aHost, uint16_t aPort)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(aPort);
    if (inet_pton(AF_INET, aHost.c_str(), &addr.sin_addr) != 1) {
        close(fd);
        errno = EINVAL;
        return -1;
    }
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

} // namespace

std::string SimAddressText(const sockaddr_in &aAddr)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &aAddr.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(aAddr.sin_port));
}

void TzSimUdpConverter::CloseAll()
{
    CloseFd(fFd);
    CloseFd(fForeignFd);
}

bool TzSimUdpConverter::Start(const std::string &aHost, uint16_t aPort, const std::string &aForeignHost)
{
    Stop();
    fFd = BindUdp(aHost, aPort);
    if (fFd < 0) {
        Fail("cannot bind " + aHost + ":" + std::to_string(aPort));
        return false;
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    getsockname(fFd, reinterpret_cast<sockaddr *>(&bound), &length);
    fPort = ntohs(bound.sin_port);
    // Without it the foreign-sender fault has nothing to send from; the converter still works.
    fForeignFd = BindUdp(aForeignHost, 0);
    fService.Start([this] { Run(); });
    return true;
}

void TzSimUdpConverter::Stop()
{
    fService.Stop();
    fQueue.Clear();
    fHeld.clear();
    CloseAll();
}

void TzSimUdpConverter::Run()
{
    static thread_local uint8_t buffer[8192];
    while (!fService.Stopping()) {
        int waitMs = 500;
        if (const auto due = fQueue.NextDue()) {
            const uint64_t now = SimSteadyMs();
            waitMs = *due <= now ? 0 : int(std::min<uint64_t>(*due - now, 500));
        }
        if (!fHeld.empty()) {
            const uint64_t now = SimSteadyMs();
            waitMs = std::min(waitMs, fHeldUntil <= now ? 0 : int(std::min<uint64_t>(fHeldUntil - now, 500)));
        }
        pollfd fds[2] = {{fService.WakeFd(), POLLIN, 0}, {fFd, POLLIN, 0}};
        const int ready = poll(fds, 2, waitMs);
        if (fService.Stopping())
            break;
        if (ready < 0 && errno != EINTR)
            break;
        if (ready > 0 && (fds[1].revents & POLLIN)) {
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t n = recvfrom(fFd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), &length);
            if (n >= 0)
                Serve(buffer, size_t(n), from);
        }
        for (TPending &pending : fQueue.PopDue(SimSteadyMs()))
            SendDatagram(pending);
        if (!fHeld.empty() && SimSteadyMs() >= fHeldUntil)
            SendHeld();
    }
}

void TzSimUdpConverter::Serve(const uint8_t *aData, size_t aSize, const sockaddr_in &aFrom)
{
    const std::string channel = "udp " + SimAddressText(aFrom);
    const std::optional<TzLanveyPacket> packet = LanveyUnwrap(aData, aSize);
    if (!packet) {
        fLog.Add(TzSimDirection::Received, channel, TSimBytes(aData, aData + aSize), {},
                 "not a converter packet, dropped");
        return;
    }
    if (fFaults.LoseDatagram()) {
        fLog.Add(TzSimDirection::Received, channel, packet->Payload, packet->Header, "lost");
        return;
    }
    // The converter's own serial side is set up to match its modules, so line settings never
    // stand in the way here.
    std::string whySilent;
    const std::optional<TSimBytes> answer = fBus.HandleFrame(packet->Payload, {}, &whySilent);
    fLog.Add(TzSimDirection::Received, channel, packet->Payload, packet->Header, whySilent);
    if (!answer)
        return;
    const TzSimFaultSettings settings = fFaults.Settings();
    // Every second answer is held back while the reorder fault is on.
    const bool hold = settings.Reorder && fHeld.empty();
    for (const TzSimPlannedSend &send : fFaults.Plan(*answer, true)) {
        const uint8_t version = send.Kind == TzSimSendKind::Version2 ? LanveyVersion2 : LanveyVersion1;
        const uint8_t type = send.Kind == TzSimSendKind::Type2 ? LanveyTypeNoAnswer : LanveyTypeAnswer;
        const uint16_t number = fEchoNumbers ? packet->Number : 0;
        const bool isAnswer = send.Kind == TzSimSendKind::Answer;
        TPending pending{LanveyWrap(version, number, type, send.Frame), aFrom, send.Kind == TzSimSendKind::Foreign,
                         send.Note, isAnswer};
        if (isAnswer && hold) {
            pending.Note = pending.Note.empty() ? "held back" : pending.Note + ", held back";
            pending.ReleasesHeld = false;
            fHeld.push_back(std::move(pending));
            fHeldUntil = SimSteadyMs() + ReorderHoldMs;
            continue;
        }
        if (isAnswer && settings.DuplicateAfterMs >= 0) {
            TPending copy = pending;
            copy.Note = copy.Note.empty() ? "copy" : copy.Note + ", copy";
            copy.ReleasesHeld = false;
            fQueue.Push(SimSteadyMs() + uint64_t(send.DelayMs + settings.DuplicateAfterMs), std::move(copy));
        }
        if (send.DelayMs == 0)
            SendDatagram(pending);
        else
            fQueue.Push(SimSteadyMs() + uint64_t(send.DelayMs), std::move(pending));
    }
}

void TzSimUdpConverter::SendHeld()
{
    for (const TPending &held : std::exchange(fHeld, {}))
        SendDatagram(held);
}

void TzSimUdpConverter::SendDatagram(const TPending &aPending)
{
    const int fd = aPending.FromForeign ? fForeignFd : fFd;
    const std::string channel = "udp " + SimAddressText(aPending.To);
    const TSimBytes header(aPending.Datagram.begin(), aPending.Datagram.begin() + LanveyHeaderSize);
    const TSimBytes frame(aPending.Datagram.begin() + LanveyHeaderSize, aPending.Datagram.end());
    if (fd < 0) {
        fLog.Add(TzSimDirection::Sent, channel, frame, header,
                 aPending.Note + ", no foreign address to send from: not sent");
        return;
    }
    sendto(fd, aPending.Datagram.data(), aPending.Datagram.size(), 0, reinterpret_cast<const sockaddr *>(&aPending.To),
           sizeof aPending.To);
    fLog.Add(TzSimDirection::Sent, channel, frame, header, aPending.Note);
    if (aPending.ReleasesHeld && !fHeld.empty())
        SendHeld();
}

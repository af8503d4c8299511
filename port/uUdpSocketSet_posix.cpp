// POSIX backend of the transport's sockets: poll() with millisecond time-outs and an eventfd that
// CloseAll() raises so a pending wait ends at once.

#include "port/uUdpSocketSet.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

struct TSlot
{
    int Fd = -1;
    int LockFd = -1; // the unix socket whose name marks the local port as this program's
    bool Bound = false;
};

// SO_REUSEADDR lets two panels bind one port and take each other's answers: a lock per port
// keeps a second panel (in this process, another process or another account) out, as if another
// program held the port. The lock is a unix socket bound to a name in the abstract namespace
// ("quadrel-panel-udp-<port>"): no file is made, and the kernel frees the name with the socket,
// even when the panel is killed, so nothing is left behind to block the next panel. The name
// is the same for every account, so panels of different accounts exclude each other too; an
// account can hold a name only while its process runs, as it could hold the UDP port itself.
// The simulated converter binds its own address and takes no lock.
int LockLocalPort(uint16_t aPort)
{
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const std::string name = "quadrel-panel-udp-" + std::to_string(aPort);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // sun_path[0] stays 0: the name lives in the abstract namespace.
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const auto size = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), size) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

struct TzUdpSocketSet::TImpl
{
    // Held while a socket is used, so CloseAll() never closes a descriptor under a pending call;
    // CloseAll() raises WakeFd first to end a pending wait.
    mutable std::mutex Mutex;
    std::vector<TSlot> Slots;
    int WakeFd = -1;

    bool Valid(int aSlot) const { return aSlot >= 0 && aSlot < int(Slots.size()); }

    void CloseLocked()
    {
        for (TSlot &slot : Slots) {
            if (slot.Fd >= 0)
                ::close(slot.Fd);
            if (slot.LockFd >= 0)
                ::close(slot.LockFd);
            slot.Fd = -1;
            slot.LockFd = -1;
            slot.Bound = false;
        }
        uint64_t value;
        while (::read(WakeFd, &value, sizeof value) > 0) {
        }
    }

    void Wake()
    {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(WakeFd, &one, sizeof one);
    }
};

TzUdpSocketSet::TzUdpSocketSet() : fImpl(std::make_unique<TImpl>())
{
    fImpl->WakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

TzUdpSocketSet::~TzUdpSocketSet()
{
    Clear();
    if (fImpl->WakeFd >= 0)
        ::close(fImpl->WakeFd);
}

bool TzUdpSocketSet::Ready() const
{
    return fImpl->WakeFd >= 0;
}

int TzUdpSocketSet::AddSlot()
{
    std::lock_guard lock(fImpl->Mutex);
    fImpl->Slots.push_back(TSlot());
    return int(fImpl->Slots.size()) - 1;
}

int TzUdpSocketSet::SlotCount() const
{
    std::lock_guard lock(fImpl->Mutex);
    return int(fImpl->Slots.size());
}

void TzUdpSocketSet::Clear()
{
    fImpl->Wake();
    std::lock_guard lock(fImpl->Mutex);
    fImpl->CloseLocked();
    fImpl->Slots.clear();
}

bool TzUdpSocketSet::Create(int aSlot)
{
    std::lock_guard lock(fImpl->Mutex);
    if (!fImpl->Valid(aSlot) || fImpl->Slots[aSlot].Fd >= 0)
        return false;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    fImpl->Slots[aSlot].Fd = fd;
    return true;
}

bool TzUdpSocketSet::Bind(int aSlot, uint16_t aPort)
{
    std::lock_guard lock(fImpl->Mutex);
    if (!fImpl->Valid(aSlot) || fImpl->Slots[aSlot].Fd < 0)
        return false;
    TSlot &slot = fImpl->Slots[aSlot];
    if (slot.LockFd < 0)
        slot.LockFd = LockLocalPort(aPort);
    if (slot.LockFd < 0) {
        slot.Bound = false;
        return false;
    }
    const int on = 1;
    ::setsockopt(slot.Fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(aPort);
    slot.Bound = ::bind(slot.Fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    return slot.Bound;
}

bool TzUdpSocketSet::IsOpen(int aSlot) const
{
    std::lock_guard lock(fImpl->Mutex);
    return fImpl->Valid(aSlot) && fImpl->Slots[aSlot].Fd >= 0;
}

bool TzUdpSocketSet::IsBound(int aSlot) const
{
    std::lock_guard lock(fImpl->Mutex);
    return fImpl->Valid(aSlot) && fImpl->Slots[aSlot].Bound;
}

bool TzUdpSocketSet::AnyOpen() const
{
    std::lock_guard lock(fImpl->Mutex);
    for (const TSlot &slot : fImpl->Slots)
        if (slot.Fd >= 0)
            return true;
    return false;
}

void TzUdpSocketSet::CloseAll()
{
    fImpl->Wake();
    std::lock_guard lock(fImpl->Mutex);
    fImpl->CloseLocked();
}

void TzUdpSocketSet::SendTo(int aSlot, const char *aIP, uint16_t aPort, const uint8_t *aData, size_t aCount)
{
    std::lock_guard lock(fImpl->Mutex);
    if (!fImpl->Valid(aSlot) || fImpl->Slots[aSlot].Fd < 0)
        return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::inet_addr(aIP);
    address.sin_port = htons(aPort);
    ::sendto(fImpl->Slots[aSlot].Fd, aData, aCount, 0, reinterpret_cast<const sockaddr *>(&address), sizeof address);
}

int TzUdpSocketSet::RecvFrom(int aSlot, uint8_t *aBuffer, size_t aCapacity, uint32_t &aSender, uint16_t &aSenderPort)
{
    std::lock_guard lock(fImpl->Mutex);
    if (!fImpl->Valid(aSlot) || fImpl->Slots[aSlot].Fd < 0)
        return -1;
    sockaddr_in from{};
    socklen_t fromSize = sizeof from;
    const ssize_t n = ::recvfrom(fImpl->Slots[aSlot].Fd, aBuffer, aCapacity, 0, reinterpret_cast<sockaddr *>(&from),
                                 &fromSize);
    if (n < 0)
        return -1;
    const auto *bytes = reinterpret_cast<const uint8_t *>(&from.sin_addr.s_addr);
    aSender = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
    aSenderPort = ntohs(from.sin_port);
    return int(n);
}

TzUdpSocketSet::TWait TzUdpSocketSet::Wait(int aTimeoutMs, int &aSlot)
{
    std::lock_guard lock(fImpl->Mutex);
    std::vector<pollfd> fds;
    std::vector<int> slots;
    for (int i = 0; i < int(fImpl->Slots.size()); ++i)
        if (fImpl->Slots[i].Fd >= 0) {
            fds.push_back({fImpl->Slots[i].Fd, POLLIN, 0});
            slots.push_back(i);
        }
    if (fds.empty())
        return TWait::Closed;
    fds.push_back({fImpl->WakeFd, POLLIN, 0});
    int n;
    do
        n = ::poll(fds.data(), nfds_t(fds.size()), aTimeoutMs < 0 ? 0 : aTimeoutMs);
    while (n < 0 && errno == EINTR);
    if (n < 0)
        return TWait::Failed;
    if (n == 0)
        return TWait::TimedOut;
    if (fds.back().revents)
        return TWait::Closed;
    for (size_t i = 0; i + 1 < fds.size(); ++i)
        if (fds[i].revents) {
            aSlot = slots[i];
            return (fds[i].revents & POLLIN) ? TWait::Readable : TWait::Other;
        }
    return TWait::Failed;
}

void TzUdpSocketSet::Sleep(int aMs)
{
    pollfd wake{fImpl->WakeFd, POLLIN, 0};
    ::poll(&wake, 1, aMs);
}

void TzUdpSocketSet::RaiseThreadPriority()
{
    thread_local bool raised = false;
    if (raised)
        return;
    raised = true;
    // A lower nice value for this thread alone; unprivileged users are refused, which is fine.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), -5);
}

// Winsock backend of the transport's sockets: one network event per socket selected for
// FD_READ | FD_WRITE | FD_CLOSE, waited on with WSAWaitForMultipleEvents together with a wake
// event that CloseAll() raises so a pending wait ends at once.

#include "port/uUdpSocketSet.h"

#include <mutex>
#include <vector>

// Winsock's headers come before windows.h, which would otherwise pull in the old winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

namespace {

struct TSlot
{
    SOCKET Socket = INVALID_SOCKET;
    WSAEVENT Event = WSA_INVALID_EVENT;
    HANDLE PortLock = nullptr; // the named mutex that marks the local port as this program's
    bool Bound = false;
};

} // namespace

struct TzUdpSocketSet::TImpl
{
    mutable std::mutex Mutex;
    std::vector<TSlot> Slots;
    WSAEVENT WakeEvent = WSA_INVALID_EVENT;
    bool Started = false;

    bool Valid(int aSlot) const { return aSlot >= 0 && aSlot < int(Slots.size()); }

    void CloseLocked()
    {
        for (TSlot &slot : Slots) {
            if (slot.Socket != INVALID_SOCKET)
                closesocket(slot.Socket);
            if (slot.Event != WSA_INVALID_EVENT)
                WSACloseEvent(slot.Event);
            if (slot.PortLock != nullptr)
                CloseHandle(slot.PortLock);
            slot = TSlot();
        }
        WSAResetEvent(WakeEvent);
    }
};

TzUdpSocketSet::TzUdpSocketSet() : fImpl(std::make_unique<TImpl>())
{
    WSADATA data;
    fImpl->Started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    if (fImpl->Started)
        fImpl->WakeEvent = WSACreateEvent();
}

TzUdpSocketSet::~TzUdpSocketSet()
{
    Clear();
    if (fImpl->WakeEvent != WSA_INVALID_EVENT)
        WSACloseEvent(fImpl->WakeEvent);
    if (fImpl->Started)
        WSACleanup();
}

bool TzUdpSocketSet::Ready() const
{
    return fImpl->Started && fImpl->WakeEvent != WSA_INVALID_EVENT;
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
    if (fImpl->WakeEvent != WSA_INVALID_EVENT)
        WSASetEvent(fImpl->WakeEvent);
    std::lock_guard lock(fImpl->Mutex);
    fImpl->CloseLocked();
    fImpl->Slots.clear();
}

bool TzUdpSocketSet::Create(int aSlot)
{
    std::lock_guard lock(fImpl->Mutex);
    if (!Ready() || !fImpl->Valid(aSlot) || fImpl->Slots[aSlot].Socket != INVALID_SOCKET)
        return false;
    TSlot &slot = fImpl->Slots[aSlot];
    slot.Socket = socket(AF_INET, SOCK_DGRAM, 0);
    if (slot.Socket == INVALID_SOCKET)
        return false;
    slot.Event = WSACreateEvent();
    WSAEventSelect(slot.Socket, slot.Event, FD_READ | FD_WRITE | FD_CLOSE);
    return true;
}

bool TzUdpSocketSet::Bind(int aSlot, uint16_t aPort)
{
    std::lock_guard lock(fImpl->Mutex);
    if (!fImpl->Valid(aSlot) || fImpl->Slots[aSlot].Socket == INVALID_SOCKET)
        return false;
    TSlot &slot = fImpl->Slots[aSlot];
    // SO_REUSEADDR lets two panels bind one port and take each other's answers: a named mutex
    // per port keeps a second panel out, as if another program held the port. It is global, so
    // panels in other sessions and accounts are kept out too (another account's mutex cannot
    // even be opened); the system removes it with the last handle, so nothing is left behind.
    if (slot.PortLock == nullptr) {
        char name[64];
        wsprintfA(name, "Global\\QuadrelPanelUdpPort%u", unsigned(aPort));
        HANDLE lockHandle = CreateMutexA(nullptr, FALSE, name);
        if (lockHandle != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
            CloseHandle(lockHandle);
            lockHandle = nullptr;
        }
        if (lockHandle == nullptr) {
            slot.Bound = false;
            return false;
        }
        slot.PortLock = lockHandle;
    }
    const BOOL on = TRUE;
    setsockopt(slot.Socket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char *>(&on), sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(aPort);
    slot.Bound = bind(slot.Socket, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    return slot.Bound;
}

bool TzUdpSocketSet::IsOpen(int aSlot) const
{
    std::lock_guard lock(fImpl->Mutex);
    return fImpl->Valid(aSlot) && fImpl->Slots[aSlot].Socket != INVALID_SOCKET;
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
        if (slot.Socket != INVALID_SOCKET)
            return true;
    return false;
}

void TzUdpSocketSet::CloseAll()
{
    if (fImpl->WakeEvent != WSA_INVALID_EVENT)
        WSASetEvent(fImpl->WakeEvent);
    std::lock_guard lock(fImpl->Mutex);
    fImpl->CloseLocked();
}

void TzUdpSocketSet::SendTo(int aSlot, const char *aIP, uint16_t aPort, const uint8_t *aData, size_t aCount)
{
    std::lock_guard lock(fImpl->Mutex);
    if (!fImpl->Valid(aSlot) || fImpl->Slots[aSlot].Socket == INVALID_SOCKET)
        return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr(aIP);
    address.sin_port = htons(aPort);
    sendto(fImpl->Slots[aSlot].Socket, reinterpret_cast<const char *>(aData), int(aCount), 0,
           reinterpret_cast<const sockaddr *>(&address), sizeof address);
}

int TzUdpSocketSet::RecvFrom(int aSlot, uint8_t *aBuffer, size_t aCapacity, uint32_t &aSender, uint16_t &aSenderPort)
{
    std::lock_guard lock(fImpl->Mutex);
    if (!fImpl->Valid(aSlot) || fImpl->Slots[aSlot].Socket == INVALID_SOCKET)
        return -1;
    sockaddr_in from{};
    int fromSize = sizeof from;
    const int n = recvfrom(fImpl->Slots[aSlot].Socket, reinterpret_cast<char *>(aBuffer), int(aCapacity), 0,
                           reinterpret_cast<sockaddr *>(&from), &fromSize);
    if (n == SOCKET_ERROR)
        return -1;
    const auto *bytes = reinterpret_cast<const uint8_t *>(&from.sin_addr.s_addr);
    aSender = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
    aSenderPort = ntohs(from.sin_port);
    return n;
}

TzUdpSocketSet::TWait TzUdpSocketSet::Wait(int aTimeoutMs, int &aSlot)
{
    std::lock_guard lock(fImpl->Mutex);
    std::vector<WSAEVENT> events;
    std::vector<int> slots;
    for (int i = 0; i < int(fImpl->Slots.size()); ++i)
        if (fImpl->Slots[i].Socket != INVALID_SOCKET) {
            events.push_back(fImpl->Slots[i].Event);
            slots.push_back(i);
        }
    if (events.empty())
        return TWait::Closed;
    events.push_back(fImpl->WakeEvent);
    const DWORD r = WSAWaitForMultipleEvents(DWORD(events.size()), events.data(), FALSE,
                                             DWORD(aTimeoutMs < 0 ? 0 : aTimeoutMs), FALSE);
    if (r == WSA_WAIT_TIMEOUT)
        return TWait::TimedOut;
    if (r < WSA_WAIT_EVENT_0 || r >= WSA_WAIT_EVENT_0 + events.size())
        return TWait::Failed;
    const size_t index = r - WSA_WAIT_EVENT_0;
    if (index == events.size() - 1)
        return TWait::Closed;
    // Enumerating resets the event.
    const TSlot &slot = fImpl->Slots[slots[index]];
    WSANETWORKEVENTS happened{};
    if (WSAEnumNetworkEvents(slot.Socket, slot.Event, &happened) != 0)
        return TWait::Failed;
    aSlot = slots[index];
    return (happened.lNetworkEvents & FD_READ) ? TWait::Readable : TWait::Other;
}

void TzUdpSocketSet::Sleep(int aMs)
{
    WSAWaitForMultipleEvents(1, &fImpl->WakeEvent, FALSE, DWORD(aMs), FALSE);
}

void TzUdpSocketSet::RaiseThreadPriority()
{
    const HANDLE thread = GetCurrentThread();
    if (GetThreadPriority(thread) != THREAD_PRIORITY_HIGHEST)
        SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST);
}

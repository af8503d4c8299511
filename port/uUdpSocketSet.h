#pragma once
// The UDP sockets of one Ethernet transport, behind the few calls the transport needs: create,
// bind, send, receive, and a wait for the first readable socket that closing the sockets from
// another thread ends at once. A POSIX backend (poll + eventfd) and a Winsock backend.
// No Qt here: the Winsock backend is plain Win32.

#include <cstddef>
#include <cstdint>
#include <memory>

class TzUdpSocketSet
{
public:
    TzUdpSocketSet();
    ~TzUdpSocketSet();
    TzUdpSocketSet(const TzUdpSocketSet &) = delete;
    TzUdpSocketSet &operator=(const TzUdpSocketSet &) = delete;

    // False when the platform's socket library could not be started.
    bool Ready() const;

    // Adds a slot with no socket yet and returns its index.
    int AddSlot();
    int SlotCount() const;
    // Closes every socket and forgets the slots.
    void Clear();

    // Creates an IPv4 datagram socket in the slot; false when the system refuses.
    bool Create(int aSlot);
    // Binds the slot's socket to the port on every interface, sharing the address with other
    // sockets that allow it (SO_REUSEADDR).
    bool Bind(int aSlot, uint16_t aPort);
    bool IsOpen(int aSlot) const;
    bool IsBound(int aSlot) const;
    bool AnyOpen() const;
    // Closes every socket; a pending Wait() or Sleep() returns at once.
    void CloseAll();

    // One datagram to a dotted IPv4 address; the outcome is not reported.
    void SendTo(int aSlot, const char *aIP, uint16_t aPort, const uint8_t *aData, size_t aCount);
    // One waiting datagram, or -1. aSender holds the sender's address bytes from the lowest
    // (a.b.c.d gives a + b * 2^8 + c * 2^16 + d * 2^24).
    int RecvFrom(int aSlot, uint8_t *aBuffer, size_t aCapacity, uint32_t &aSender, uint16_t &aSenderPort);

    // Readable: a datagram waits on socket aSlot. Other: a socket signalled something else.
    // Closed: no socket is open, or CloseAll() ran meanwhile.
    enum class TWait { Readable, Other, TimedOut, Closed, Failed };
    // Waits up to aTimeoutMs for the first socket event.
    TWait Wait(int aTimeoutMs, int &aSlot);
    // Sleeps aMs unless CloseAll() runs meanwhile.
    void Sleep(int aMs);

    // Raises the calling thread to the highest normal scheduling level, once per thread; a
    // refusal by the system is ignored.
    static void RaiseThreadPriority();

private:
    struct TImpl;
    std::unique_ptr<TImpl> fImpl;
};

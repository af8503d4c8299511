#pragma once
// The Lanvey-Ethernet converter: a UDP socket on a given address and port (SO_REUSEADDR, so the
// panel can bind the same port on the wildcard address) that unwraps each datagram's frame, puts
// it on the bus and sends the answer back to the sender wrapped in the converter's header.

#include "sim/uSimSendQueue.h"
#include "sim/uSimTransport.h"

#include <netinet/in.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

class TzSimUdpConverter : public TzSimTransport
{
public:
    using TzSimTransport::TzSimTransport;
    ~TzSimUdpConverter() { Stop(); }

    // Binds aHost:aPort (port 0 picks a free one) and serves it. Decoys of the foreign-sender
    // fault leave from aForeignHost, an address the panel does not know.
    bool Start(const std::string &aHost, uint16_t aPort, const std::string &aForeignHost = "127.0.0.3");
    void Stop();

    uint16_t Port() const { return fPort; }
    // Whether answers carry the sequence number of their request (on by default); off, every
    // answer carries 0, as a converter that keeps no count would send.
    void SetEchoNumbers(bool aOn) { fEchoNumbers = aOn; }
    bool EchoNumbers() const { return fEchoNumbers; }

private:
    struct TPending
    {
        TSimBytes Datagram;
        sockaddr_in To{};
        bool FromForeign = false;
        std::string Note;
        bool ReleasesHeld = false; // an answer: the one held back goes out right after it
    };
    // An answer held back by the reorder fault waits at most this long for the next one.
    static constexpr uint64_t ReorderHoldMs = 1000;

    void Run();
    void Serve(const uint8_t *aData, size_t aSize, const sockaddr_in &aFrom);
    void SendDatagram(const TPending &aPending);
    void SendHeld();
    void CloseAll();

    std::atomic<bool> fEchoNumbers{true};
    int fFd = -1;
    int fForeignFd = -1;
    uint16_t fPort = 0;
    TzSimSendQueue<TPending> fQueue;
    std::vector<TPending> fHeld; // the reorder fault's answer that waits for the next one
    uint64_t fHeldUntil = 0;
};

std::string SimAddressText(const sockaddr_in &aAddr);

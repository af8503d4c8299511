#pragma once
// Real peers for the port engine's tests: a pseudo-terminal pair, libmodbus as an independent
// RTU slave on it, a scripted device that answers what a test tells it to, and a UDP peer that
// plays the converter (or a stranger) on a loopback address.

#include "port/uSerialSettings.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// A pty pair: the engine opens SlavePath, the peer talks through MasterFd.
class TPtyPair
{
public:
    TPtyPair();
    ~TPtyPair();
    bool Ok() const { return MasterFd >= 0; }
    // Closes both ends held here: the line is unplugged for whoever holds the slave.
    void Unplug();

    int MasterFd = -1;
    int SlaveFd = -1;
    QString SlavePath;
};

// libmodbus serving holding registers 0..99 (register n holds 0x1000 + n) as slave 1.
class TLibmodbusSlave
{
public:
    explicit TLibmodbusSlave(int aMasterFd, int aSlaveAddr = 1);
    ~TLibmodbusSlave();
    int Served() const { return fServed; }

private:
    void Run();
    int fMasterFd;
    int fSlaveAddr;
    std::atomic<bool> fStop{false};
    std::atomic<int> fServed{0};
    std::thread fThread;
};

// Reads each request (bytes until a 20 ms gap) from the master side and writes what Reply
// returns for it; an empty reply leaves the device silent.
class TScriptedDevice
{
public:
    using TReply = std::function<QByteArray(const QByteArray &aRequest)>;
    TScriptedDevice(int aMasterFd, TReply aReply);
    ~TScriptedDevice();
    std::vector<QByteArray> Requests() const;
    int RequestCount() const;
    // Writes each reply in two pieces, the first aSplitAt bytes, then the rest aPauseMs later.
    void SplitReplies(int aSplitAt, int aPauseMs)
    {
        fSplitAt = aSplitAt;
        fPauseMs = aPauseMs;
    }

private:
    void Run();
    int fMasterFd;
    TReply fReply;
    std::atomic<int> fSplitAt{0};
    std::atomic<int> fPauseMs{0};
    mutable std::mutex fMutex;
    std::vector<QByteArray> fRequests;
    std::atomic<bool> fStop{false};
    std::thread fThread;
};

// A UDP socket bound to aAddress:aPort with SO_REUSEADDR (0 picks a free port).
class TUdpPeer
{
public:
    TUdpPeer(const char *aAddress, uint16_t aPort, bool aShareAddress = true);
    ~TUdpPeer();
    bool Ok() const { return fFd >= 0; }
    uint16_t Port() const { return fPort; }
    // One datagram within aTimeoutMs, or an empty array; aFromPort tells the sender's port.
    QByteArray Receive(int aTimeoutMs, uint16_t *aFromPort = nullptr);
    void SendTo(const char *aAddress, uint16_t aPort, const QByteArray &aData);

private:
    int fFd = -1;
    uint16_t fPort = 0;
};

// A UDP port free on every interface right now.
uint16_t FreeUdpPort();

// A Modbus RTU frame with its CRC appended.
QByteArray WithCrc(const QByteArray &aBody);
QByteArray Hex(const char *aText);

class TzFreePort;

// An engine on the serial line at aPath: 8 data bits, one stop bit, the speed and parity (a Win32
// code) given, and the panel's time-outs unless others are given. Not started.
std::unique_ptr<TzFreePort> SerialEngineAt(const QString &aPath, int aBaudRate = 9600, int aParity = 0,
                                           const TzLineTimeouts &aTimeouts = ModbusLineTimeouts);
// An engine through the converter named by EthernetHost and EthernetPort. Not started.
std::unique_ptr<TzFreePort> ConverterEngine();

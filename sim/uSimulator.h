#pragma once
// One simulated installation: a bus of modules, its fault switches, its frame log, and the ways
// in (a serial line, the converter). Everything runs on the transports' own threads; the caller
// needs no event loop. Destroying it stops both transports.

#include "sim/uSimBus.h"
#include "sim/uSimFaults.h"
#include "sim/uSimFrameLog.h"
#include "sim/uSimSerialServer.h"
#include "sim/uSimUdpConverter.h"

#include <memory>

class TzSimulator
{
public:
    explicit TzSimulator(TzSimClock aClock = SimSteadyMs);
    ~TzSimulator();

    TzSimBus &Bus() { return fBus; }
    TzSimFaults &Faults() { return fFaults; }
    TzSimFrameLog &Log() { return fLog; }
    TzSimSerialServer &Serial() { return *fSerial; }
    TzSimUdpConverter &Udp() { return *fUdp; }

    // A new pty pair; the path the panel opens, empty on failure (Serial().LastError() says why).
    // With aStableLink the pty is reached through that link, which a later StartPty with the
    // same link re-points (see TzSimSerialServer::StartPty).
    std::string StartPty(const std::string &aStableLink = {}) { return fSerial->StartPty(aStableLink); }
    bool StartSerialDevice(const std::string &aPath, int aBaudRate, char aParity = 'N', int aStopBits = 1)
    {
        return fSerial->StartDevice(aPath, aBaudRate, aParity, aStopBits);
    }
    // The converter on its own loopback address by default, so the panel can bind the same port.
    bool StartUdp(const std::string &aHost = "127.0.0.2", uint16_t aPort = 40000) { return fUdp->Start(aHost, aPort); }
    void Stop();

private:
    TzSimBus fBus;
    TzSimFaults fFaults;
    TzSimFrameLog fLog;
    std::unique_ptr<TzSimSerialServer> fSerial;
    std::unique_ptr<TzSimUdpConverter> fUdp;
};

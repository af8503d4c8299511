#pragma once
// The bus on a serial line: a pseudo-terminal pair it creates (the panel opens the slave side)
// or a real device. Its own thread frames requests by the line's silence, hands them to the bus
// and writes the answers, as late as the faults say.

#include "sim/uSimBus.h"
#include "sim/uSimLastError.h"
#include "sim/uSimFaults.h"
#include "sim/uSimFrameLog.h"
#include "sim/uSimSendQueue.h"
#include "sim/uSimWaker.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

class TzSimSerialServer
{
public:
    TzSimSerialServer(TzSimBus &aBus, TzSimFrameLog &aLog, TzSimFaults &aFaults);
    ~TzSimSerialServer();
    TzSimSerialServer(const TzSimSerialServer &) = delete;
    TzSimSerialServer &operator=(const TzSimSerialServer &) = delete;

    // Creates a pty pair and serves it; the path the panel opens (/dev/pts/N), empty on failure.
    std::string StartPty();
    // Serves a device at a speed and format (parity 'N', 'O' or 'E'; 1 or 2 stop bits).
    bool StartDevice(const std::string &aPath, int aBaudRate, char aParity, int aStopBits);
    void Stop();

    bool Running() const { return fThread.joinable(); }
    std::string Path() const { return fPath; }
    std::string LastError() const { return fError.Get(); }
    // On a pty, a module answers only when the speed the panel set matches its own (as on a real
    // line); off, every speed is heard.
    void SetCheckLineSpeed(bool aOn) { fCheckSpeed = aOn; }

private:
    struct TPending
    {
        TSimBytes Frame;
        std::string Note;
    };

    void Run();
    void FrameComplete(TSimBytes aFrame);
    void WriteFrame(const TSimBytes &aFrame, const std::string &aNote);
    TzSimLineParams LineParams() const;
    void FollowModuleSettings();
    void Fail(const std::string &aError) { fError.SetFromErrno(aError); }
    void CloseAll();

    TzSimBus &fBus;
    TzSimFrameLog &fLog;
    TzSimFaults &fFaults;
    TzSimWaker fWaker;
    std::thread fThread;
    std::atomic<bool> fStopping{false};
    std::atomic<bool> fCheckSpeed{true};
    int fFd = -1;      // the side the simulator reads and writes
    int fHoldFd = -1;  // the pty's slave side, held open so the master never sees a hang-up
    bool fIsPty = false;
    std::string fPath;
    int fBaudRate = 9600;
    char fParity = 'N';
    int fStopBits = 1;
    TzSimLastError fError;
    TzSimSendQueue<TPending> fQueue; // touched by the server's thread only
};

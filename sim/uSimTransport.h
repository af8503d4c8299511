#pragma once
// What the serial line and the converter share: the bus they serve, its frame log and faults, the
// thread they serve on and their last error.

#include "sim/uSimBus.h"
#include "sim/uSimFaults.h"
#include "sim/uSimFrameLog.h"
#include "sim/uSimLastError.h"
#include "sim/uSimWaker.h"

#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

// The thread a transport serves on, and how it is stopped: Stop() raises the flag and wakes the
// thread out of its poll() through the waker's descriptor, which the thread polls beside its own.

class TzSimServiceThread
{
public:
    TzSimServiceThread() = default;
    ~TzSimServiceThread() { Stop(); }
    TzSimServiceThread(const TzSimServiceThread &) = delete;
    TzSimServiceThread &operator=(const TzSimServiceThread &) = delete;

    void Start(std::function<void()> aRun)
    {
        fStopping = false;
        fThread = std::thread(std::move(aRun));
    }
    void Stop()
    {
        if (!fThread.joinable())
            return;
        fStopping = true;
        fWaker.Wake();
        fThread.join();
        fWaker.Drain();
    }
    bool Running() const { return fThread.joinable(); }
    bool Stopping() const { return fStopping; }
    // Readable when Stop() wants the thread back.
    int WakeFd() const { return fWaker.Fd(); }

private:
    TzSimWaker fWaker;
    std::thread fThread;
    std::atomic<bool> fStopping{false};
};

// A transport stops its thread itself (its destructor calls its own Stop()) before its members go.
class TzSimTransport
{
public:
    TzSimTransport(TzSimBus &aBus, TzSimFrameLog &aLog, TzSimFaults &aFaults) : fBus(aBus), fLog(aLog), fFaults(aFaults)
    {
    }
    TzSimTransport(const TzSimTransport &) = delete;
    TzSimTransport &operator=(const TzSimTransport &) = delete;

    bool Running() const { return fService.Running(); }
    std::string LastError() const { return fError.Get(); }

protected:
    ~TzSimTransport() = default;

    void Fail(const std::string &aError) { fError.SetFromErrno(aError); }
    static void CloseFd(int &aFd)
    {
        if (aFd >= 0)
            close(aFd);
        aFd = -1;
    }

    TzSimBus &fBus;
    TzSimFrameLog &fLog;
    TzSimFaults &fFaults;
    TzSimServiceThread fService;
    TzSimLastError fError;
};

// Win32 backend of the serial layer. The driver itself applies COMMTIMEOUTS, so reads end exactly
// as the time-outs say. I/O is overlapped only so that Close() from another thread can end a
// pending read or write at once; each call still waits for its own completion.

#include "port/uSerialLine.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <mutex>

#include <windows.h>

namespace {

// The DCB's flag word is a run of bit fields right after BaudRate.
constexpr size_t DcbFlagsOffset = offsetof(DCB, BaudRate) + sizeof(DWORD);

uint32_t DcbFlags(const DCB &aDcb)
{
    uint32_t flags;
    std::memcpy(&flags, reinterpret_cast<const char *>(&aDcb) + DcbFlagsOffset, sizeof flags);
    return flags;
}

void SetDcbFlags(DCB &aDcb, uint32_t aFlags)
{
    std::memcpy(reinterpret_cast<char *>(&aDcb) + DcbFlagsOffset, &aFlags, sizeof aFlags);
}

// Errors with which the driver fails every call once the device has gone (a pulled USB adapter).
bool DeviceGone(DWORD aError)
{
    return aError == ERROR_ACCESS_DENIED || aError == ERROR_BAD_COMMAND || aError == ERROR_DEVICE_REMOVED
           || aError == ERROR_DEV_NOT_EXIST || aError == ERROR_GEN_FAILURE || aError == ERROR_DEVICE_NOT_CONNECTED;
}

} // namespace

struct TzSerialLine::TImpl
{
    std::mutex IoMutex;
    HANDLE Handle = INVALID_HANDLE_VALUE;
    std::atomic<bool> Opened{false}; // readable without waiting for a pending call
    std::atomic<bool> HungUp{false};
    HANDLE AbortEvent = nullptr; // manual reset: raised by Close(), lowered by Open()
    HANDLE IoEvent = nullptr;
    TzLineTimeouts Timeouts; // as last set; reads with a length rule apply their own per call
    uint64_t CharUs = 0;
    ULONGLONG LastRxMs = 0; // GetTickCount64 of the last byte received, 0 for none

    // One overlapped ReadFile under the given time-outs.
    bool ReadOnce(uint8_t *aBuffer, DWORD aCount, const COMMTIMEOUTS &aTimeouts, DWORD &aDone)
    {
        aDone = 0;
        COMMTIMEOUTS to = aTimeouts;
        if (!SetCommTimeouts(Handle, &to))
            return NoteFailure();
        OVERLAPPED ov{};
        ov.hEvent = IoEvent;
        ResetEvent(IoEvent);
        const BOOL started = ReadFile(Handle, aBuffer, aCount, &aDone, &ov);
        const bool ok = Complete(started, ov, aDone);
        if (aDone > 0)
            LastRxMs = GetTickCount64();
        return ok;
    }

    void RestoreTimeouts()
    {
        COMMTIMEOUTS to{Timeouts.ReadIntervalTimeout, Timeouts.ReadTotalTimeoutMultiplier,
                        Timeouts.ReadTotalTimeoutConstant, Timeouts.WriteTotalTimeoutMultiplier,
                        Timeouts.WriteTotalTimeoutConstant};
        SetCommTimeouts(Handle, &to);
    }

    // Waits for an overlapped call that went pending; false when it failed or Close() ended it.
    bool Complete(BOOL aStarted, OVERLAPPED &aOv, DWORD &aDone)
    {
        if (!aStarted && GetLastError() != ERROR_IO_PENDING)
            return NoteFailure();
        const HANDLE events[2] = {IoEvent, AbortEvent};
        if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
            CancelIo(Handle);
            GetOverlappedResult(Handle, &aOv, &aDone, TRUE);
            return false;
        }
        return GetOverlappedResult(Handle, &aOv, &aDone, FALSE) != 0 || NoteFailure();
    }

    // Remembers a failure that says the device has gone; always false.
    bool NoteFailure()
    {
        if (DeviceGone(GetLastError()))
            HungUp = true;
        return false;
    }
};

TzSerialLine::TzSerialLine() : fImpl(std::make_unique<TImpl>())
{
    fImpl->AbortEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    fImpl->IoEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

TzSerialLine::~TzSerialLine()
{
    Close();
    if (fImpl->AbortEvent)
        CloseHandle(fImpl->AbortEvent);
    if (fImpl->IoEvent)
        CloseHandle(fImpl->IoEvent);
}

bool TzSerialLine::Open(const std::string &aDevice)
{
    std::lock_guard lock(fImpl->IoMutex);
    if (fImpl->Handle != INVALID_HANDLE_VALUE || !fImpl->AbortEvent || !fImpl->IoEvent)
        return false;
    const std::string path = Win32ComDevicePath(aDevice);
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED | FILE_FLAG_NO_BUFFERING, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    ResetEvent(fImpl->AbortEvent);
    fImpl->Handle = handle;
    fImpl->Opened = true;
    fImpl->HungUp = false;
    return true;
}

bool TzSerialLine::IsOpen() const
{
    return fImpl->Opened;
}

bool TzSerialLine::Close()
{
    if (fImpl->AbortEvent)
        SetEvent(fImpl->AbortEvent);
    std::lock_guard lock(fImpl->IoMutex);
    if (fImpl->Handle == INVALID_HANDLE_VALUE)
        return true;
    PurgeComm(fImpl->Handle, PURGE_RXCLEAR);
    PurgeComm(fImpl->Handle, PURGE_TXCLEAR);
    if (!CloseHandle(fImpl->Handle))
        return false;
    fImpl->Handle = INVALID_HANDLE_VALUE;
    fImpl->Opened = false;
    return true;
}

bool TzSerialLine::GetState(TzLineState &aState)
{
    std::lock_guard lock(fImpl->IoMutex);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (fImpl->Handle == INVALID_HANDLE_VALUE || !GetCommState(fImpl->Handle, &dcb))
        return false;
    aState.BaudRate = dcb.BaudRate;
    aState.Flags = DcbFlags(dcb);
    aState.XonLim = dcb.XonLim;
    aState.XoffLim = dcb.XoffLim;
    aState.ByteSize = dcb.ByteSize;
    aState.Parity = dcb.Parity;
    aState.StopBits = dcb.StopBits;
    aState.XonChar = dcb.XonChar;
    aState.XoffChar = dcb.XoffChar;
    aState.ErrorChar = dcb.ErrorChar;
    aState.EofChar = dcb.EofChar;
    aState.EvtChar = dcb.EvtChar;
    return true;
}

bool TzSerialLine::SetState(const TzLineState &aState)
{
    std::lock_guard lock(fImpl->IoMutex);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (fImpl->Handle == INVALID_HANDLE_VALUE || !GetCommState(fImpl->Handle, &dcb))
        return false;
    dcb.BaudRate = aState.BaudRate;
    SetDcbFlags(dcb, aState.Flags);
    dcb.XonLim = aState.XonLim;
    dcb.XoffLim = aState.XoffLim;
    dcb.ByteSize = aState.ByteSize;
    dcb.Parity = aState.Parity;
    dcb.StopBits = aState.StopBits;
    dcb.XonChar = aState.XonChar;
    dcb.XoffChar = aState.XoffChar;
    dcb.ErrorChar = aState.ErrorChar;
    dcb.EofChar = aState.EofChar;
    dcb.EvtChar = aState.EvtChar;
    if (!SetCommState(fImpl->Handle, &dcb))
        return false;
    if (aState.BaudRate > 0) {
        const uint64_t bits = 1 + aState.ByteSize + (aState.Parity == 0 ? 0 : 1) + (aState.StopBits == 0 ? 1 : 2);
        fImpl->CharUs = bits * 1000000 / aState.BaudRate;
    }
    return true;
}

bool TzSerialLine::SetupQueues(uint32_t aInSize, uint32_t aOutSize)
{
    std::lock_guard lock(fImpl->IoMutex);
    return fImpl->Handle != INVALID_HANDLE_VALUE && SetupComm(fImpl->Handle, aInSize, aOutSize);
}

bool TzSerialLine::GetTimeouts(TzLineTimeouts &aTimeouts)
{
    std::lock_guard lock(fImpl->IoMutex);
    COMMTIMEOUTS to{};
    if (fImpl->Handle == INVALID_HANDLE_VALUE || !GetCommTimeouts(fImpl->Handle, &to))
        return false;
    aTimeouts.ReadIntervalTimeout = to.ReadIntervalTimeout;
    aTimeouts.ReadTotalTimeoutMultiplier = to.ReadTotalTimeoutMultiplier;
    aTimeouts.ReadTotalTimeoutConstant = to.ReadTotalTimeoutConstant;
    aTimeouts.WriteTotalTimeoutMultiplier = to.WriteTotalTimeoutMultiplier;
    aTimeouts.WriteTotalTimeoutConstant = to.WriteTotalTimeoutConstant;
    return true;
}

bool TzSerialLine::SetTimeouts(const TzLineTimeouts &aTimeouts)
{
    std::lock_guard lock(fImpl->IoMutex);
    fImpl->Timeouts = aTimeouts;
    COMMTIMEOUTS to{aTimeouts.ReadIntervalTimeout, aTimeouts.ReadTotalTimeoutMultiplier,
                    aTimeouts.ReadTotalTimeoutConstant, aTimeouts.WriteTotalTimeoutMultiplier,
                    aTimeouts.WriteTotalTimeoutConstant};
    return fImpl->Handle != INVALID_HANDLE_VALUE && SetCommTimeouts(fImpl->Handle, &to);
}

bool TzSerialLine::GetEventMask(uint32_t &aMask)
{
    std::lock_guard lock(fImpl->IoMutex);
    DWORD mask = 0;
    if (fImpl->Handle == INVALID_HANDLE_VALUE || !GetCommMask(fImpl->Handle, &mask))
        return false;
    aMask = mask;
    return true;
}

bool TzSerialLine::SetEventMask(uint32_t aMask)
{
    std::lock_guard lock(fImpl->IoMutex);
    return fImpl->Handle != INVALID_HANDLE_VALUE && SetCommMask(fImpl->Handle, aMask);
}

bool TzSerialLine::Purge(bool aReceive, bool aTransmit)
{
    std::lock_guard lock(fImpl->IoMutex);
    if (fImpl->Handle == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    if (aReceive)
        ok = PurgeComm(fImpl->Handle, PURGE_RXCLEAR) && ok;
    if (aTransmit)
        ok = PurgeComm(fImpl->Handle, PURGE_TXCLEAR) && ok;
    return ok;
}

bool TzSerialLine::Write(const uint8_t *aData, uint32_t aCount, uint32_t &aWritten)
{
    aWritten = 0;
    std::lock_guard lock(fImpl->IoMutex);
    if (fImpl->Handle == INVALID_HANDLE_VALUE)
        return false;
    OVERLAPPED ov{};
    ov.hEvent = fImpl->IoEvent;
    ResetEvent(fImpl->IoEvent);
    DWORD done = 0;
    const BOOL started = WriteFile(fImpl->Handle, aData, aCount, &done, &ov);
    const bool ok = fImpl->Complete(started, ov, done);
    aWritten = done;
    return ok;
}

bool TzSerialLine::Read(uint8_t *aBuffer, uint32_t aCount, uint32_t &aRead, const TzAnswerNeed &aNeed)
{
    aRead = 0;
    std::lock_guard lock(fImpl->IoMutex);
    if (fImpl->Handle == INVALID_HANDLE_VALUE)
        return false;
    if (!aNeed) {
        OVERLAPPED ov{};
        ov.hEvent = fImpl->IoEvent;
        ResetEvent(fImpl->IoEvent);
        DWORD done = 0;
        const BOOL started = ReadFile(fImpl->Handle, aBuffer, aCount, &done, &ov);
        const bool ok = fImpl->Complete(started, ov, done);
        aRead = done;
        if (done > 0)
            fImpl->LastRxMs = GetTickCount64();
        return ok;
    }
    // With a length rule: read no further than the answer can reach, one call after another.
    // The first call waits within the total time-out; each further call ends after the interval
    // without a byte, which is the silence rule across calls.
    const TzReadEndRule rule = TzReadEndRule::From(fImpl->Timeouts, aCount);
    const ULONGLONG start = GetTickCount64();
    bool ok = true;
    while (aRead < aCount) {
        const uint32_t need = aNeed(aBuffer, aRead);
        if (need == 0)
            break;
        const DWORD want = DWORD(need == AnswerNeedUnknown ? aCount - aRead : std::min(need, aCount - aRead));
        const ULONGLONG elapsed = GetTickCount64() - start;
        if (rule.TotalMs != UINT64_MAX && elapsed >= rule.TotalMs)
            break;
        const DWORD left = rule.TotalMs == UINT64_MAX ? 0 : DWORD(rule.TotalMs - elapsed);
        COMMTIMEOUTS to{};
        to.ReadIntervalTimeout = rule.IntervalMs == UINT64_MAX ? 0 : DWORD(rule.IntervalMs);
        to.ReadTotalTimeoutConstant = left;
        if (aRead > 0 && rule.IntervalMs != UINT64_MAX)
            to.ReadTotalTimeoutConstant = left == 0 ? DWORD(rule.IntervalMs) : std::min(left, DWORD(rule.IntervalMs));
        DWORD done = 0;
        ok = fImpl->ReadOnce(aBuffer + aRead, want, to, done);
        aRead += done;
        if (!ok || done == 0)
            break;
    }
    fImpl->RestoreTimeouts();
    return ok;
}

uint32_t TzSerialLine::Drain(uint64_t aSilenceUs, uint64_t aMaxMs, bool aAwaitBytes)
{
    std::lock_guard lock(fImpl->IoMutex);
    if (fImpl->Handle == INVALID_HANDLE_VALUE)
        return 0;
    const DWORD silenceMs = DWORD((aSilenceUs + 999) / 1000);
    const ULONGLONG start = GetTickCount64();
    uint32_t dropped = 0;
    uint8_t scrap[256];
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const ULONGLONG elapsed = now - start;
        if (elapsed >= aMaxMs)
            break;
        DWORD wait = DWORD(std::min<ULONGLONG>(aMaxMs - elapsed, 0x7FFFFFFF));
        if (!aAwaitBytes || dropped > 0) {
            const ULONGLONG quiet = fImpl->LastRxMs == 0 ? ULONGLONG(silenceMs) : now - fImpl->LastRxMs;
            wait = quiet >= silenceMs ? 0 : std::min<DWORD>(wait, DWORD(silenceMs - quiet));
        }
        COMMTIMEOUTS to{};
        if (wait == 0)
            to.ReadIntervalTimeout = MAXDWORD; // return at once with what is there
        else
            to.ReadTotalTimeoutConstant = wait;
        DWORD done = 0;
        if (!fImpl->ReadOnce(scrap, sizeof scrap, to, done))
            break;
        dropped += done;
        if (done == 0 && wait == 0)
            break;
    }
    fImpl->RestoreTimeouts();
    return dropped;
}

uint64_t TzSerialLine::CharTimeUs() const
{
    return fImpl->CharUs;
}

bool TzSerialLine::ClearErrors()
{
    std::lock_guard lock(fImpl->IoMutex);
    DWORD errors = 0;
    COMSTAT stat{};
    if (fImpl->Handle == INVALID_HANDLE_VALUE)
        return false;
    return ClearCommError(fImpl->Handle, &errors, &stat) || fImpl->NoteFailure();
}

bool TzSerialLine::HungUp() const
{
    return fImpl->HungUp;
}

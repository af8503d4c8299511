// Win32 backend of the serial layer. The driver itself applies COMMTIMEOUTS, so reads end exactly
// as the time-outs say. I/O is overlapped only so that Close() from another thread can end a
// pending read or write at once; each call still waits for its own completion.

#include "port/uSerialLine.h"

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

} // namespace

struct TzSerialLine::TImpl
{
    std::mutex IoMutex;
    HANDLE Handle = INVALID_HANDLE_VALUE;
    std::atomic<bool> Opened{false}; // readable without waiting for a pending call
    HANDLE AbortEvent = nullptr; // manual reset: raised by Close(), lowered by Open()
    HANDLE IoEvent = nullptr;

    // Waits for an overlapped call that went pending; false when it failed or Close() ended it.
    bool Complete(BOOL aStarted, OVERLAPPED &aOv, DWORD &aDone)
    {
        if (!aStarted && GetLastError() != ERROR_IO_PENDING)
            return false;
        const HANDLE events[2] = {IoEvent, AbortEvent};
        if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
            CancelIo(Handle);
            GetOverlappedResult(Handle, &aOv, &aDone, TRUE);
            return false;
        }
        return GetOverlappedResult(Handle, &aOv, &aDone, FALSE) != 0;
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
    return SetCommState(fImpl->Handle, &dcb) != 0;
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

bool TzSerialLine::Read(uint8_t *aBuffer, uint32_t aCount, uint32_t &aRead)
{
    aRead = 0;
    std::lock_guard lock(fImpl->IoMutex);
    if (fImpl->Handle == INVALID_HANDLE_VALUE)
        return false;
    OVERLAPPED ov{};
    ov.hEvent = fImpl->IoEvent;
    ResetEvent(fImpl->IoEvent);
    DWORD done = 0;
    const BOOL started = ReadFile(fImpl->Handle, aBuffer, aCount, &done, &ov);
    const bool ok = fImpl->Complete(started, ov, done);
    aRead = done;
    return ok;
}

bool TzSerialLine::ClearErrors()
{
    std::lock_guard lock(fImpl->IoMutex);
    DWORD errors = 0;
    COMSTAT stat{};
    return fImpl->Handle != INVALID_HANDLE_VALUE && ClearCommError(fImpl->Handle, &errors, &stat);
}

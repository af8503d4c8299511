#pragma once
// The serial layer under the port engine: one serial line opened exclusively, read and written
// with the semantics of the Win32 communications interface (COMMTIMEOUTS decide when a read
// ends). A POSIX backend (termios + poll) and a Win32 backend implement it. Close() may be called
// from another thread while a read or write is pending: it ends that call at once.
// No Qt here: the Win32 backend is plain Win32.

#include "port/uSerialSettings.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// How many more bytes an answer needs at least before it can be complete, judged from the bytes
// received so far: 0 when they already are a complete answer (the read ends at once),
// AnswerNeedUnknown when only the line's silence can end it.
inline constexpr uint32_t AnswerNeedUnknown = UINT32_MAX;
using TzAnswerNeed = std::function<uint32_t(const uint8_t *aBytes, uint32_t aCount)>;

class TzSerialLine
{
public:
    TzSerialLine();
    ~TzSerialLine();
    TzSerialLine(const TzSerialLine &) = delete;
    TzSerialLine &operator=(const TzSerialLine &) = delete;

    // Opens the device exclusively; false when it is absent or held by anyone else.
    bool Open(const std::string &aDevice);
    bool IsOpen() const;
    // Ends a pending read or write, then releases the device. True also when nothing was open.
    bool Close();

    bool GetState(TzLineState &aState);
    bool SetState(const TzLineState &aState);
    bool SetupQueues(uint32_t aInSize, uint32_t aOutSize);
    bool GetTimeouts(TzLineTimeouts &aTimeouts);
    bool SetTimeouts(const TzLineTimeouts &aTimeouts);
    bool GetEventMask(uint32_t &aMask);
    bool SetEventMask(uint32_t aMask);
    // Drops what waits in the receive and/or transmit queue.
    bool Purge(bool aReceive, bool aTransmit);

    // Blocking write within the write time-outs; aWritten is what the line accepted. Returns once
    // the bytes have left the line (tcdrain), so the next read's total time-out counts from the
    // end of transmission; never earlier than the bytes need at the line's speed.
    bool Write(const uint8_t *aData, uint32_t aCount, uint32_t &aWritten);
    // Blocking read of up to aCount bytes, ended by the read time-outs (see ReadEndRule), or as
    // soon as aNeed, when given, says the bytes read so far are a complete answer.
    bool Read(uint8_t *aBuffer, uint32_t aCount, uint32_t &aRead, const TzAnswerNeed &aNeed = nullptr);
    // Reads and drops what arrives until the line has been silent for aSilenceUs since the last
    // byte received, at most aMaxMs. With aAwaitBytes the silence only counts once a byte has
    // arrived in this call (listening for a late answer). Returns the number of bytes dropped.
    uint32_t Drain(uint64_t aSilenceUs, uint64_t aMaxMs, bool aAwaitBytes = false);
    // One character at the line's speed and format (start, data, parity and stop bits), in
    // microseconds; 0 before the line has been set up.
    uint64_t CharTimeUs() const;
    // Reads and resets the line's error state; fails when the line is closed or gone.
    bool ClearErrors();
    // The device went away under the open line (a pulled USB adapter, a closed pty): every call
    // fails from then on, until the line is closed and opened again.
    bool HungUp() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> fImpl;
};

// When a read of aCount bytes ends, as the Win32 read time-outs decide it. Times in ms; a
// deadline of UINT64_MAX means "none".
struct TzReadEndRule
{
    bool ReturnAtOnce = false;        // hand over what is there without waiting
    bool ReturnOnFirstByte = false;   // wait for the first byte only
    uint64_t TotalMs = UINT64_MAX;    // from the start of the read
    uint64_t IntervalMs = UINT64_MAX; // longest gap after a byte arrived

    static TzReadEndRule From(const TzLineTimeouts &aTimeouts, uint32_t aCount);
};

// The write time-out of aCount bytes in ms, UINT64_MAX when writes wait without limit.
uint64_t WriteTotalMs(const TzLineTimeouts &aTimeouts, uint32_t aCount);

// The Win32 device path of a port name: COM1..COM9 stay as they are, COM10 and above go through
// "\\.\"; other names are used unchanged.
std::string Win32ComDevicePath(const std::string &aName);

#pragma once
// The serial line as the engine's transport: one exchange at a time on a line opened exclusively.
// An answer ends by its length or by the line's silence; after a request that got no answer of
// its own the line is listened to for it before the next request goes; a line that goes away is
// closed and opened again every second with the same settings.

#include "port/uSerialSettings.h"
#include "port/uTransport.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

class TzSerialLine;

// Codes of Open: the step that failed.
inline constexpr uint32_t OpenErrCreateFile = 128;
inline constexpr uint32_t OpenErrGetCommState = 1;
inline constexpr uint32_t OpenErrSetCommState = 2;
inline constexpr uint32_t OpenErrSetupComm = 4;
inline constexpr uint32_t OpenErrGetCommTimeouts = 8;
inline constexpr uint32_t OpenErrSetCommTimeouts = 16;
inline constexpr uint32_t OpenErrGetCommMask = 32;
inline constexpr uint32_t OpenErrSetCommMask = 64;

class TzSerialTransport : public TzTransport
{
public:
    TzSerialTransport();
    ~TzSerialTransport() override;

    // Opens the line of this name with these settings; 0, or the code of the step that failed.
    uint32_t Open(const QString &aPortName, const TzDCB &aDCB, const TzTimeouts &aTimeouts);
    bool Close() override;
    bool IsOpen() const;
    // The line went away under the engine (a pulled adapter, a closed pty): it is closed, and
    // opened again by name every second with the same settings until it is back or the engine
    // is stopped. Meanwhile every request fails at once with ErrPortFailure.
    bool LineLost() const { return fLineLost; }

    TzExchangeResult Exchange(const TStringBytes &aCmd, const TzExchangeRules &aRules) override;
    void Maintain() override;
    uint32_t IdleWaitMs() const override;

private:
    bool Transfer(const uint8_t *aOut, uint32_t aOutLen, bool aEndByLength, uint8_t *aIn, uint32_t &aInLen);
    void PrepareLine(bool aEndByLength);
    void AwaitLateAnswer();
    uint64_t FrameGapUs() const;
    uint32_t TotalWaitMs() const;
    void LoseLine();

    std::unique_ptr<TzSerialLine> FLine;
    QString FNamePort;
    TzLineState FDCB;
    TzLineTimeouts FComTO;
    uint32_t FCommEvtMask = 0;

    // Until when (ms tick) the line is listened to for a late answer.
    uint32_t fLateAnswerUntil = 0;
    bool fLateAnswerPending = false;

    // Taken while the line is opened, closed or reopened, so a stop never crosses a reopen:
    // once Close has run, the worker opens nothing again.
    std::mutex fLineMutex;
    std::atomic<bool> fLineLost{false};
    uint32_t fLastReopenTry = 0; // ms tick of the last attempt to open the lost line
};

// The serial line as the engine's transport.

#include "port/uSerialTransport.h"

#include "common/uUtils.h"
#include "port/uAnswerFit.h"
#include "port/uPortLog.h"
#include "port/uSerialLine.h"

#include <algorithm>
#include <array>

namespace {

constexpr uint32_t AnswerCapacity = 255;
constexpr uint32_t QueueSize = 256;
constexpr uint32_t EventMaskRxCharErr = 0x0081; // EV_RXCHAR | EV_ERR
// How often a lost line is tried again.
constexpr uint32_t ReopenIntervalMs = 1000;
// Above 19200 bit/s the frame gap is fixed instead of 3.5 characters.
constexpr uint32_t FixedGapAbove = 19200;
constexpr uint64_t FixedGapUs = 1750;
constexpr uint32_t NotSet = 0xFFFFFFFFu;

} // namespace

TzSerialTransport::TzSerialTransport() : FLine(std::make_unique<TzSerialLine>()) {}

TzSerialTransport::~TzSerialTransport() = default;

// ---- one exchange ----

TzExchangeResult TzSerialTransport::Exchange(const TStringBytes &aCmd, const TzExchangeRules &aRules)
{
    std::array<uint8_t, 256> out{};
    std::array<uint8_t, 256> in{};
    const uint32_t outLen = aCmd.Size();
    for (uint32_t i = 0; i < outLen; ++i)
        out[i] = aCmd.GetByte(uint8_t(i + 1));

    // Before the exchange's time starts: these waits belong to the requests before.
    if (!fLineLost)
        PrepareLine(aRules.EndByLength);
    TzExchangeResult result;
    uint32_t inLen = 0;
    const uint32_t start = GetTickCount32();
    const bool transferred = Transfer(out.data(), outLen, aRules.EndByLength, in.data(), inLen);
    result.TimeMs = GetTickCount32() - start;
    if (!transferred) {
        result.ErrCode = ErrPortFailure;
        return result;
    }
    result.ErrCode = JudgeAnswer(out.data(), outLen, in.data(), inLen);
    if (result.ErrCode == ErrAnswerOK)
        result.Answer = TStringBytes::FromRaw(in.data(), int(inLen));
    // Its own answer may still be on its way: listen for it before the next request is sent.
    if (result.ErrCode == ErrNoAnswer && aRules.LateAnswerGuard) {
        fLateAnswerPending = true;
        fLateAnswerUntil = GetTickCount32() + TotalWaitMs();
    }
    return result;
}

// Writes the request and reads its answer; false when the line failed.
bool TzSerialTransport::Transfer(const uint8_t *aOut, uint32_t aOutLen, bool aEndByLength, uint8_t *aIn,
                                 uint32_t &aInLen)
{
    // The line is gone: fail at once instead of waiting on a closed port.
    if (fLineLost)
        return false;
    FLine->Purge(true, false);
    FLine->Purge(false, true);
    uint32_t written = 0;
    FLine->Write(aOut, aOutLen, written);
    TzAnswerNeed need;
    if (aEndByLength)
        need = [aOut, aOutLen](const uint8_t *aBytes, uint32_t aCount) {
            return AnswerBytesNeeded(aOut, aOutLen, aBytes, aCount);
        };
    FLine->Read(aIn, AnswerCapacity, aInLen, need);
    if (!FLine->ClearErrors()) {
        if (FLine->HungUp())
            LoseLine();
        return false;
    }
    return true;
}

// The line is made ready for the next request: a late answer to the last one is waited for, and
// the frame gap since the last byte received is kept; what arrives meanwhile (the tail of an
// answer that ended by its length) is dropped.
void TzSerialTransport::PrepareLine(bool aEndByLength)
{
    AwaitLateAnswer();
    if (aEndByLength)
        FLine->Drain(FrameGapUs(), TotalWaitMs());
}

void TzSerialTransport::AwaitLateAnswer()
{
    if (!fLateAnswerPending)
        return;
    fLateAnswerPending = false;
    const int32_t left = int32_t(fLateAnswerUntil - GetTickCount32());
    if (left <= 0)
        return;
    // Ends early once a late answer has come and the line has fallen silent again.
    const uint32_t interval = FComTO.ReadIntervalTimeout;
    const uint64_t silenceUs = interval == 0 || interval == NotSet ? FrameGapUs() : uint64_t(interval) * 1000;
    FLine->Drain(silenceUs, uint64_t(left), true);
}

uint64_t TzSerialTransport::FrameGapUs() const
{
    if (FDCB.BaudRate > FixedGapAbove)
        return FixedGapUs;
    return std::max<uint64_t>(FLine->CharTimeUs() * 7 / 2, FixedGapUs);
}

uint32_t TzSerialTransport::TotalWaitMs() const
{
    const TzReadEndRule rule = TzReadEndRule::From(FComTO, AnswerCapacity);
    return rule.TotalMs == UINT64_MAX ? 1000 : uint32_t(std::min<uint64_t>(rule.TotalMs, 60000));
}

// ---- a line that goes away ----

void TzSerialTransport::LoseLine()
{
    std::lock_guard line(fLineMutex);
    // Closed by a stop meanwhile, or opened afresh by a start: nothing to reopen.
    if (!FLine->IsOpen() || !FLine->HungUp())
        return;
    // Released at once: a replugged adapter then gets its old device name back.
    FLine->Close();
    fLineLost = true;
    fLastReopenTry = GetTickCount32();
    qCWarning(lcPort).noquote() << QStringLiteral("Порт %1 пропал (устройство отключено или закрыто), "
                                                  "повторное открытие каждую секунду")
                                       .arg(FNamePort);
}

void TzSerialTransport::Maintain()
{
    if (!fLineLost)
        return;
    std::lock_guard line(fLineMutex);
    if (!fLineLost || GetTickCount32() - fLastReopenTry < ReopenIntervalMs)
        return;
    fLastReopenTry = GetTickCount32();
    if (!FLine->Open(FNamePort.toStdString()))
        return;
    // The settings and time-outs the line had before it went away.
    if (FLine->SetState(FDCB) && FLine->SetupQueues(QueueSize, QueueSize) && FLine->SetTimeouts(FComTO)
        && FLine->SetEventMask(EventMaskRxCharErr)) {
        fLineLost = false;
        fLateAnswerPending = false;
        qCInfo(lcPort).noquote() << QStringLiteral("Порт %1 снова открыт, обмен возобновлён").arg(FNamePort);
        return;
    }
    FLine->Close();
}

uint32_t TzSerialTransport::IdleWaitMs() const
{
    // An idle engine sleeps until a request is queued; a lost line wakes it when its next
    // reopening is due.
    if (!fLineLost)
        return ReopenIntervalMs;
    const uint32_t since = GetTickCount32() - fLastReopenTry;
    return since < ReopenIntervalMs ? ReopenIntervalMs - since + 1 : 1;
}

// ---- open and close ----

uint32_t TzSerialTransport::Open(const QString &aPortName, const TzDCB &aDCB, const TzTimeouts &aTimeouts)
{
    std::lock_guard line(fLineMutex);
    fLineLost = false;
    FNamePort = aPortName;
    uint32_t code = 0;
    if (!FLine->Open(aPortName.toStdString()))
        code = OpenErrCreateFile;
    else if (!FLine->GetState(FDCB))
        code = OpenErrGetCommState;
    if (code == 0) {
        aDCB.AssignTo(FDCB);
        if (!FLine->SetState(FDCB))
            code = OpenErrSetCommState;
        else if (!FLine->SetupQueues(QueueSize, QueueSize))
            code = OpenErrSetupComm;
        else if (!FLine->GetTimeouts(FComTO))
            code = OpenErrGetCommTimeouts;
    }
    if (code == 0) {
        aTimeouts.AssignTo(FComTO);
        if (!FLine->SetTimeouts(FComTO))
            code = OpenErrSetCommTimeouts;
        else if (!FLine->GetEventMask(FCommEvtMask))
            code = OpenErrGetCommMask;
        else if (!FLine->SetEventMask(EventMaskRxCharErr))
            code = OpenErrSetCommMask;
    }
    return code;
}

bool TzSerialTransport::Close()
{
    std::lock_guard line(fLineMutex);
    // A stop also ends the reopening of a lost line.
    fLineLost = false;
    if (!FLine->IsOpen())
        return true;
    // Close() ends a pending read first, then purges both queues and releases the line.
    return FLine->Close();
}

bool TzSerialTransport::IsOpen() const
{
    return FLine->IsOpen();
}

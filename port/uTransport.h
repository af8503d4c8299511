#pragma once
// The transport under the port engine: how one request frame is exchanged with the module, over
// the serial line or through the Lanvey-Ethernet converter. The worker picks one when the engine
// starts and hands it every request; each exchange's outcome comes back in TzExchangeResult.

#include "common/uStringBytes.h"

#include <QString>

#include <cstdint>

// Outcome codes of an exchange.
inline constexpr uint32_t ErrAnswerOK = 0;
inline constexpr uint32_t ErrNoAnswer = 512;
inline constexpr uint32_t ErrAnswerCRC = 4626;
inline constexpr uint32_t ErrPortFailure = 4294967295u;

// What the engine's settings decide for one exchange; read afresh for every request.
struct TzExchangeRules
{
    // Over the serial line: whether an answer ends by its length or only by the line's silence.
    bool EndByLength = true;
    // After a request that got no answer of its own, wait for it (and drop it) before the next
    // request goes, so a late answer is never taken for the next one.
    bool LateAnswerGuard = true;
};

// The outcome of one exchange.
struct TzExchangeResult
{
    TStringBytes Answer; // empty unless ErrCode is ErrAnswerOK
    uint32_t ErrCode = 0;
    // ms from the moment the request could go (after the waits that belong to the requests
    // before it) to the end of reception
    uint32_t TimeMs = 0;
    // Set when the exchange ended in a failure nobody expected; logged with its outcome.
    QString FailureText;
};

class TzTransport
{
public:
    // How long an idle worker sleeps at most when the transport asks for no upkeep.
    static constexpr uint32_t IdleCheckMs = 1000;

    virtual ~TzTransport() = default;

    // Sends the frame and receives its answer, judged against the request. Waits that belong to
    // the requests before (a late answer, the frame gap) come first and are not counted.
    virtual TzExchangeResult Exchange(const TStringBytes &aCmd, const TzExchangeRules &aRules) = 0;
    // Closes the line or the sockets; an exchange under way ends at once.
    virtual bool Close() = 0;
    // Between requests: the chance to bring back a line that went away.
    virtual void Maintain() {}
    // How long an idle worker may sleep before Maintain is due again.
    virtual uint32_t IdleWaitMs() const { return IdleCheckMs; }
};

// The outcome code of the aCount bytes received for aRequest: no answer, a bad CRC, another
// request's answer (counted as no answer of its own), or a good one.
uint32_t JudgeAnswer(const uint8_t *aRequest, uint32_t aRequestLen, const uint8_t *aAnswer, uint32_t aCount);

#pragma once
// The decisions of one serial read, without the line: how many bytes to ask the line for next,
// and when the read ends, as the read time-outs (TzReadEndRule) and the length-aware answer end
// decide it. The POSIX read feeds it what the line delivers and when; tests and the fuzzer feed
// it a script. Times in microseconds from the start of the read. No Qt and no I/O here.

#include "port/uSerialLine.h"

#include <cstdint>
#include <optional>

class TzReadProgress
{
public:
    // aNeed, when given, is consulted before each read (see TzAnswerNeed); it must stay valid
    // for the life of this object.
    TzReadProgress(const TzReadEndRule &aRule, uint32_t aCount, const TzAnswerNeed *aNeed = nullptr);

    // How many bytes to ask the line for now, aBuffer holding the Received() bytes so far; 0 when
    // the read is over (all bytes asked for are there, or they are a complete answer).
    uint32_t Want(const uint8_t *aBuffer) const;
    // aBytes more arrived aAtUs after the start; true when that ends the read.
    bool Received(uint32_t aBytes, uint64_t aAtUs);
    // The line has nothing more at aNowUs: how long to wait for it (UINT64_MAX: no limit), or
    // nothing when the read ends now. A wait returned is never 0.
    std::optional<uint64_t> WaitUs(uint64_t aNowUs) const;

    uint32_t Count() const { return fCount; }

private:
    TzReadEndRule fRule;
    uint32_t fAsked;
    const TzAnswerNeed *fNeed;
    uint64_t fTotalUs;
    uint64_t fIntervalUs;
    uint32_t fCount = 0;
    uint64_t fLastByteUs = 0;
};

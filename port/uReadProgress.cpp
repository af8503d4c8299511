#include "port/uReadProgress.h"

#include <algorithm>

namespace {

uint64_t MsToUs(uint64_t aMs)
{
    return aMs >= UINT64_MAX / 1000 ? UINT64_MAX : aMs * 1000;
}

} // namespace

TzReadProgress::TzReadProgress(const TzReadEndRule &aRule, uint32_t aCount, const TzAnswerNeed *aNeed)
    : fRule(aRule), fAsked(aCount), fNeed(aNeed && *aNeed ? aNeed : nullptr), fTotalUs(MsToUs(aRule.TotalMs)),
      fIntervalUs(MsToUs(aRule.IntervalMs))
{
}

uint32_t TzReadProgress::Want(const uint8_t *aBuffer) const
{
    if (fCount >= fAsked)
        return 0;
    uint32_t want = fAsked - fCount;
    // With a length rule, ask no further than the answer can reach, so bytes that follow a
    // complete answer stay on the line to be drained.
    if (fNeed) {
        const uint32_t need = (*fNeed)(aBuffer, fCount);
        if (need == 0)
            return 0;
        if (need != AnswerNeedUnknown)
            want = std::min(want, need);
    }
    return want;
}

bool TzReadProgress::Received(uint32_t aBytes, uint64_t aAtUs)
{
    fCount += aBytes;
    fLastByteUs = aAtUs;
    return fRule.ReturnOnFirstByte && aBytes > 0;
}

std::optional<uint64_t> TzReadProgress::WaitUs(uint64_t aNowUs) const
{
    if (fRule.ReturnAtOnce)
        return std::nullopt;
    uint64_t deadline = fTotalUs;
    if (fCount > 0 && fIntervalUs != UINT64_MAX)
        deadline = std::min(deadline, fLastByteUs + fIntervalUs);
    if (deadline == UINT64_MAX)
        return UINT64_MAX;
    if (aNowUs >= deadline)
        return std::nullopt;
    return deadline - aNowUs;
}

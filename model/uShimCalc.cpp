#include "model/uShimCalc.h"

#include <QRegularExpression>

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace ShimCalc {

namespace {

// One candidate of the way back, with how far it lands from what was wanted.
struct TzCandidate
{
    TzShimParams Params;
    TzShimDurations Got;
    int64_t CycleError = std::numeric_limits<int64_t>::max();
    // How far the closed share of the cycle is from the wanted share, cross-multiplied:
    // |got on x wanted cycle - wanted on x got cycle|. With the cycle exact this is the distance
    // of the closed durations.
    int64_t ShareError = std::numeric_limits<int64_t>::max();
    int64_t RatioError = std::numeric_limits<int64_t>::max(); // |k x cycle - 1000 x on|
};

bool Better(const TzCandidate &a, const TzCandidate &b)
{
    if (a.CycleError != b.CycleError)
        return a.CycleError < b.CycleError;
    if (a.ShareError != b.ShareError)
        return a.ShareError < b.ShareError;
    if (a.Params.Scale != b.Params.Scale)
        return a.Params.Scale < b.Params.Scale;
    return a.RatioError < b.RatioError;
}

// What the module really does with the parameters, also for a fill factor of 0 (always open),
// which the duration display leaves blank.
TzShimDurations ModuleDurations(const TzShimParams &aParams)
{
    const int64_t unitMs = MsPerUnit * aParams.Scale;
    const int64_t cycle = unitMs * aParams.Period;
    const int64_t on = int64_t(aParams.Koef) * aParams.Period / 1000 * unitMs;
    return {on, cycle - on};
}

} // namespace

bool ParamsValid(const TzShimParams &aParams)
{
    return aParams.Scale >= MinScale && aParams.Scale <= MaxScale && aParams.Period >= MinPeriod
           && aParams.Period <= MaxPeriod && aParams.Koef >= MinKoef && aParams.Koef <= MaxKoef;
}

TzShimDurations Durations(const TzShimParams &aParams)
{
    if (aParams.Koef == 0 || !ParamsValid(aParams))
        return {};
    return ModuleDurations(aParams);
}

TzShimFit FitDurations(const TzShimDurations &aWanted)
{
    // Far beyond the longest cycle nothing changes any more; the cap keeps the products in range.
    const int64_t wantOn = std::clamp<int64_t>(aWanted.OnMs, 0, 1000 * MaxCycleMs);
    const int64_t wantOff = std::clamp<int64_t>(aWanted.OffMs, 0, 1000 * MaxCycleMs);
    const int64_t wantCycle = wantOn + wantOff;

    // First the cycle: for every unit of count the period or two nearest to the wanted cycle.
    TzCandidate best;
    for (int scale = MinScale; scale <= MaxScale; ++scale) {
        const int64_t unitMs = MsPerUnit * scale;
        const int64_t lower = std::clamp<int64_t>(wantCycle / unitMs, MinPeriod, MaxPeriod);
        const int64_t upper = std::clamp<int64_t>(lower + 1, MinPeriod, MaxPeriod);
        for (const int64_t period : {lower, upper}) {
            const int64_t cycle = unitMs * period;
            const int64_t cycleError = std::llabs(cycle - wantCycle);
            if (cycleError > best.CycleError)
                continue;
            // Then the fill factor: every k of the range, the closed share (in the whole units the
            // module counts) nearest to the wanted one first, then k nearest to the wanted ratio
            // (so 0 stays 0 and a full cycle 1000).
            for (int koef = MinKoef; koef <= MaxKoef; ++koef) {
                TzCandidate c;
                c.Params = {scale, int(period), koef};
                c.Got = ModuleDurations(c.Params);
                c.CycleError = cycleError;
                c.ShareError = std::llabs(c.Got.OnMs * wantCycle - wantOn * cycle);
                c.RatioError = std::llabs(koef * cycle - 1000 * wantOn);
                if (Better(c, best))
                    best = c;
            }
        }
    }

    TzShimFit fit;
    fit.Params = best.Params;
    fit.Got = best.Got;
    fit.OnExact = fit.Got.OnMs == wantOn;
    fit.OffExact = fit.Got.OffMs == wantOff;
    return fit;
}

bool ParseDuration(const QString &aText, int64_t &aMs)
{
    static const QRegularExpression form(QStringLiteral("^([0-9 ]{2,3}):([0-9 ]{2}):([0-9 ]{2})\\.([0-9 ]{3})$"));
    const QRegularExpressionMatch match = form.match(aText);
    if (!match.hasMatch())
        return false;
    // Blanks are unfilled places of the field: they read as zeros where they stand.
    auto group = [&match](int aIndex) { return match.captured(aIndex).replace(u' ', u'0').toLongLong(); };
    const int64_t hours = group(1), minutes = group(2), seconds = group(3), millis = group(4);
    if (minutes >= 60 || seconds >= 60)
        return false;
    aMs = ((hours * 60 + minutes) * 60 + seconds) * 1000 + millis;
    return true;
}

} // namespace ShimCalc

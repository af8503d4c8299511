#pragma once
// Pulse-width arithmetic of one output, without widgets: the closed and open durations that a unit
// of count, a period and a fill factor give, and the way back from two entered durations to the
// three parameters that represent them best.

#include <QString>

#include <cstdint>

namespace ShimCalc {

// Ranges of the three parameters, both bounds inclusive.
constexpr int MinScale = 1, MaxScale = 240;      // unit of count, x 10 ms
constexpr int MinPeriod = 50, MaxPeriod = 36000; // in units of count
constexpr int MinKoef = 0, MaxKoef = 1000;       // tenths of a percent of the cycle closed
constexpr int64_t MsPerUnit = 10;
constexpr int64_t MaxCycleMs = MsPerUnit * MaxScale * MaxPeriod; // 24 h
constexpr int64_t MinCycleMs = MsPerUnit * MinScale * MinPeriod; // 0.5 s

struct TzShimParams
{
    int Scale = 1;
    int Period = 50;
    int Koef = 0;
    bool operator==(const TzShimParams &) const = default;
};

struct TzShimDurations
{
    int64_t OnMs = 0;
    int64_t OffMs = 0;
    bool operator==(const TzShimDurations &) const = default;
};

bool ParamsValid(const TzShimParams &aParams);

// What the module does with the parameters: it keeps the output closed for whole units of count,
// (k x p) div 1000 of them, and open for the rest of the cycle u x 10 x p ms. Parameters outside
// their ranges, and a fill factor of 0 (no pulsing at all), give two zero durations.
TzShimDurations Durations(const TzShimParams &aParams);

// The result of the way back from durations to parameters.
struct TzShimFit
{
    TzShimParams Params;
    TzShimDurations Got; // the durations the parameters really give (closed part counted as the module counts it)
    bool OnExact = false;
    bool OffExact = false;
};

// The parameters whose cycle comes nearest to aWanted.OnMs + aWanted.OffMs, and among those the
// ones whose closed share of the cycle comes nearest to the wanted share (with the cycle exact:
// the closed duration nearest to aWanted.OnMs); further ties go to the smaller unit of count
// (finer steps) and the fill factor nearest to the wanted ratio. A pair that can be
// represented comes back exactly. A closed duration of 0 gives fill factor 0 (always open), an
// open duration of 0 gives 1000 (always closed). Negative durations count as 0.
TzShimFit FitDurations(const TzShimDurations &aWanted);

// Reads "HH:MM:SS.mmm" as the duration fields show it; blanks count as zeros, so "  :01:  .5  "
// is one minute and 500 ms. Minutes and seconds must be below 60; false for anything else.
bool ParseDuration(const QString &aText, int64_t &aMs);

} // namespace ShimCalc

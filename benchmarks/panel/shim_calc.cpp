// Measures the way back from two durations to the pulse-width parameters over a spread of
// durations, including the costliest (long cycles that many units of count can make exactly), and
// prints the median and the worst time of one calculation.

#include "model/uShimCalc.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char **argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const ShimCalc::TzShimDurations cases[] = {
        {250, 250},    {7740, 15570}, {5, 495},    {3600000, 1800000},   {43200000, 43200000}, {60000, 86340000},
        {90000000, 0}, {0, 0},        {1230, 770}, {21600000, 21600000}, {12345678, 2345678},  {10, 990},
    };
    std::vector<double> micros;
    long long checksum = 0;
    for (int r = 0; r < rounds; ++r)
        for (const auto &wanted : cases) {
            const auto start = std::chrono::steady_clock::now();
            const ShimCalc::TzShimFit fit = ShimCalc::FitDurations(wanted);
            const auto stop = std::chrono::steady_clock::now();
            checksum += fit.Params.Scale + fit.Params.Period + fit.Params.Koef;
            micros.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
        }
    std::sort(micros.begin(), micros.end());
    std::printf("FitDurations: %zu calculations, median %.1f us, 99th %.1f us, worst %.1f us (checksum %lld)\n",
                micros.size(), micros[micros.size() / 2], micros[micros.size() * 99 / 100], micros.back(), checksum);
    return 0;
}

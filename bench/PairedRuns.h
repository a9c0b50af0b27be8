// Times the project's code and its peer in turn, round after round, so that a shared
// machine's drift hits both alike, and reports medians over the rounds: the rates of
// each ("mine", "peer") and the ratio of the two rates within each round ("ratio",
// above 1 when ours is faster). Times are CPU time of this process.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <functional>
#include <vector>

namespace paired {

inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t half = values.size() / 2;
    return values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
}

// CPU seconds of `times` calls of `work`.
inline double CpuSeconds(const std::function<void()>& work, int times)
{
    const std::clock_t start = std::clock();
    for (int i = 0; i < times; ++i)
        work();
    return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

// One round per benchmark iteration. A round calls each side as often as it takes the
// faster one about `roundSeconds`, so that short calls are timed in bulk. `units` is
// the amount one call handles (megabytes, say); the rates are units per second.
inline void Run(benchmark::State& state, double units, const std::function<void()>& mine,
                const std::function<void()>& peer, double roundSeconds = 0.02)
{
    const double fastest = std::min(CpuSeconds(mine, 1), CpuSeconds(peer, 1));
    const int calls = std::max(1, static_cast<int>(std::ceil(roundSeconds / std::max(fastest, 1e-6))));
    std::vector<double> mineRates, peerRates, ratios;
    for (auto _ : state) {
        const double mineSeconds = CpuSeconds(mine, calls);
        const double peerSeconds = CpuSeconds(peer, calls);
        mineRates.push_back(units * calls / mineSeconds);
        peerRates.push_back(units * calls / peerSeconds);
        ratios.push_back(peerSeconds / mineSeconds);
    }
    state.counters["mine"] = Median(mineRates);
    state.counters["peer"] = Median(peerRates);
    state.counters["ratio"] = Median(ratios);
}

}  // namespace paired

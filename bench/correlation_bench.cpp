// Cost of one correlation step, run once per trigger cycle (about 1000 per
// second). BM_CorrelationStep: the Pearson sweep and the averaging at the
// slowest speed (291 coefficients, 500 positions) plus the strip decision.
// Target: under 5 us per step (0.5 % of one core at 1000 steps/s).
// BM_StripRender: rendering the 300 x 16 strip after a change (done at most
// once per screen refresh).
#include "correlation/MMCorrelation.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>

namespace {

void BM_CorrelationStep(benchmark::State& state)
{
    std::array<double, 601> l{}, r{};
    for (int i = 0; i < 601; ++i) {
        l[static_cast<size_t>(i)] = std::sin(i * 0.3);
        r[static_cast<size_t>(i)] = std::sin(i * 0.3 + 1.0);
    }
    TMMCorrelation c;
    c.ApplySpeed(2);
    TMMCorrelationStrip strip;
    strip.SetColors(0x00FFFF, 0x0000FF, 0x00FF00);
    int k = 0;
    for (auto _ : state) {
        l[1] = (++k % 7) * 0.01;  // a changing table, as live data gives
        c.Step(l.data(), r.data());
        benchmark::DoNotOptimize(strip.Draw(c.SmoothedPosition(), c.BarPosition()));
    }
}
BENCHMARK(BM_CorrelationStep);

void BM_StripRender(benchmark::State& state)
{
    TMMCorrelationStrip strip;
    strip.SetColors(0x00FFFF, 0x0000FF, 0x00FF00);
    int b = 20;
    for (auto _ : state) {
        b = b == 280 ? 20 : b + 1;
        strip.Draw(150, b);
        benchmark::DoNotOptimize(strip.Pixels()[0]);
    }
}
BENCHMARK(BM_StripRender);

}  // namespace

// Standard-instrument ballistics per sample of one channel, the bar's block
// path with the detector, and the live loudness of 24 channels (the loudness
// window summing 12 pairs) per second of audio.
#include "metering/MMBallistics.h"
#include "metering/MMLoudness.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr int kRate = 48000;

std::vector<float> tone()
{
    std::vector<float> v(kRate);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<float>(20000 * std::pow(10.0, -std::fmod(i * 1e-4, 2.0)) * std::sin(i * 0.13));
    return v;
}

void BM_Step(benchmark::State& state)
{
    TMMBallistics b(static_cast<TMMInstrument>(state.range(0)), kRate);
    const std::vector<float> v = tone();
    for (auto _ : state) {
        float m = 0;
        for (float x : v) m = std::max(m, b.Step(x));
        benchmark::DoNotOptimize(m);
    }
    state.SetLabel(InstrumentName(b.Kind()));
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(v.size()), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Step)->DenseRange(inTypeI, inTruePeak);

// The bar's path: 50-frame stereo 16-bit blocks, left channel selected.
void BM_FeedBlock(benchmark::State& state)
{
    TMMBallistics b(static_cast<TMMInstrument>(state.range(0)), kRate);
    const std::vector<float> t = tone();
    std::vector<int16_t> pcm(2 * t.size());
    for (size_t i = 0; i < t.size(); ++i) pcm[2 * i] = pcm[2 * i + 1] = static_cast<int16_t>(t[i]);
    for (auto _ : state) {
        float m = 0;
        for (size_t f = 0; f + 50 <= t.size(); f += 50) m = std::max(m, b.FeedBlock(&pcm[2 * f], 50, 2, 2, chLeft, 0, 0));
        benchmark::DoNotOptimize(m);
    }
    state.SetLabel(InstrumentName(b.Kind()));
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(t.size()), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_FeedBlock)->DenseRange(inTypeI, inTruePeak);

// One second of 12 stereo pairs in the recorders' 2400-frame buffers; the
// share of a core is the time per iteration in seconds (1 % = 10 ms).
void BM_LoudnessLive24(benchmark::State& state)
{
    TMMLoudnessMeter m(kRate);
    m.setActivePairs(tv::kPairs);
    m.setPair(state.range(0) ? TMMLoudnessMeter::SumOfPairs : 0);
    const std::vector<float> t = tone();
    std::vector<int16_t> pcm(2 * t.size());
    for (size_t i = 0; i < t.size(); ++i) pcm[2 * i] = pcm[2 * i + 1] = static_cast<int16_t>(t[i]);
    for (auto _ : state) {
        for (size_t f = 0; f < t.size(); f += 2400)
            for (int p = 0; p < tv::kPairs; ++p) m.AddPair(p, &pcm[2 * f], 2400);
        // The window reads all values 4 times a second.
        for (int r = 0; r < 4; ++r) {
            benchmark::DoNotOptimize(m.Momentary());
            benchmark::DoNotOptimize(m.ShortTerm());
            benchmark::DoNotOptimize(m.Integrated());
            benchmark::DoNotOptimize(m.Range());
            benchmark::DoNotOptimize(m.TruePeak());
        }
    }
    state.SetLabel(state.range(0) ? "sum of 12 pairs" : "one pair");
}
BENCHMARK(BM_LoudnessLive24)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

// The share of the sum's measurement itself: one 24-channel programme.
void BM_Loudness24Channels(benchmark::State& state)
{
    TMMLoudness l(2 * tv::kPairs, kRate, true);
    const std::vector<float> t = tone();
    std::vector<int16_t> pcm(2 * tv::kPairs * t.size());
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(t[i / (2 * tv::kPairs)]);
    for (auto _ : state)
        for (size_t f = 0; f < t.size(); f += 2400) l.AddFrames(&pcm[2 * tv::kPairs * f], 2400);
}
BENCHMARK(BM_Loudness24Channels)->Unit(benchmark::kMillisecond);

}  // namespace

// Level bar costs: analysis and update per 50-frame stereo 16-bit block,
// and composing one 16 x 735 bar into its working bitmap.
#include "metering/MMLevel.h"
#include "metering/MMPresets.h"
#include "metering/MainBar.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

// A bar of the meter window after the start: the design values of strip 1,
// then the default standard (DIN 45406) with its stored limits and the
// restored peak settings.
void programBar(TMMCustomLevel& lv)
{
    ApplyMainBarDesign(lv, 1);
    lv.SetBounds(18, 737);
    const TMMPreset& din = PresetOf(1);
    lv.setMeterStandard(din.MeterStandard);
    lv.setSensitivy(din.Sensitivy);
    lv.setPoint2(din.TopDefault);
    lv.setPoint1(din.BottomDefault);
    lv.setSpotSpace(0);
    lv.setNumPeaks(3);
    lv.setPeakDelay(MainBarPeakDelay);
    lv.setPeakSpeed(MainBarPeakSpeed);
    lv.setLeaveMaxPeak(true);
}

// One second of programme-like stereo audio at 48 kHz: a tone whose
// level wanders over 40 dB, so the bar moves.
std::vector<int16_t> programme()
{
    std::vector<int16_t> v(48000 * 2);
    for (size_t i = 0; i < 48000; ++i) {
        const double env = std::pow(10.0, -2.0 * (0.5 + 0.5 * std::sin(i * 2e-4)));
        const double s = 32000 * env * std::sin(i * 0.13);
        v[2 * i] = static_cast<int16_t>(s);
        v[2 * i + 1] = static_cast<int16_t>(-s / 2);
    }
    return v;
}

void runBlocks(benchmark::State& state, TMMCustomLevel& lv)
{
    const std::vector<int16_t> audio = programme();
    long dirty = 0;
    lv.OnInvalidate = [&] { ++dirty; };
    const size_t step = static_cast<size_t>(lv.Samples()) * 2;
    size_t pos = 0;
    for (auto _ : state) {
        lv.ProcessBlock(audio.data() + pos);
        pos += step;
        if (pos + step > audio.size()) pos = 0;
    }
    benchmark::DoNotOptimize(dirty);
    state.SetItemsProcessed(state.iterations() * lv.Samples());
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * lv.Samples()), benchmark::Counter::kIsRate);
}

void BM_ProcessBlockDefault(benchmark::State& state)
{
    TMMCustomLevel lv;
    programBar(lv);
    runBlocks(state, lv);
}
BENCHMARK(BM_ProcessBlockDefault);

void BM_ProcessBlockIntegration300ms(benchmark::State& state)
{
    TMMCustomLevel lv;
    programBar(lv);
    lv.setIntegralOn(true);
    lv.setIntegralLength(299);
    runBlocks(state, lv);
}
BENCHMARK(BM_ProcessBlockIntegration300ms);

// The costliest curves (powers), for comparison.
void BM_ProcessBlockK20(benchmark::State& state)
{
    TMMCustomLevel lv;
    programBar(lv);
    lv.setMeterStandard(5);
    lv.setSensitivy(-70);
    runBlocks(state, lv);
}
BENCHMARK(BM_ProcessBlockK20);

void BM_DrawLevel(benchmark::State& state)
{
    TMMCustomLevel lv;
    programBar(lv);
    lv.setBitDepth(static_cast<int>(state.range(0)));
    lv.setDecayMode(dmNone);
    lv.setValue(100);
    lv.setValue(30);  // bar well into the middle zone, peak at the top
    for (auto _ : state) {
        lv.DrawLevel();
        benchmark::ClobberMemory();
    }
    state.SetLabel(std::to_string(lv.BarSpots()) + " lit, peak " + std::to_string(lv.PeakSpot()));
}
BENCHMARK(BM_DrawLevel)->Arg(8)->Arg(24);

void BM_DrawLevelDoted(benchmark::State& state)
{
    TMMCustomLevel lv;
    programBar(lv);
    lv.setActiveDoted(true);
    lv.setInactiveDoted(true);
    lv.setDecayMode(dmNone);
    lv.setValue(100);
    lv.setValue(30);
    for (auto _ : state) {
        lv.DrawLevel();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_DrawLevelDoted);

// One display frame of a moving bar as the widget draws it: only the area
// between the drawn and the present bar and peak.
void BM_DrawLevelChangedArea(benchmark::State& state)
{
    TMMCustomLevel lv;
    programBar(lv);
    lv.setDecayMode(dmNone);
    lv.setLeaveMaxPeak(false);
    lv.setValue(100);
    lv.DrawLevel();
    int i = 0;
    for (auto _ : state) {
        lv.setValue(25 + (i++ % 8));  // a few segments up or down per frame
        lv.DrawLevel(lv.ChangedArea());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_DrawLevelChangedArea);

}  // namespace

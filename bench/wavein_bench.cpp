// Device callback to chain delivery per 2048-byte buffer on the simulated
// back end: the device fills a queued header (512 stereo frames), posts it on
// the window route, the recorder hands it down its chain and queues it again.
// Target: under 5 us per buffer.
#include "audio/MMSimWaveIn.h"
#include "audio/MMWavIn.h"

#include <benchmark/benchmark.h>

namespace {

// A chain sink that reads the buffer, as a connector's copy would.
class Sink : public TMMDSPComponent {
public:
    void BufferReady(PWaveHdr h) override
    {
        const auto* s = reinterpret_cast<const int16_t*>(h->lpData);
        int32_t acc = 0;
        for (uint32_t i = 0; i < h->dwBytesRecorded / 2; ++i) acc += s[i];
        benchmark::DoNotOptimize(acc);
        TMMDSPComponent::BufferReady(h);
    }
};

void deliver(benchmark::State& state, const char* signal, TMMCBMode mode)
{
    TMMSimulatedWaveIn sim;
    sim.SetSignal(0, signal);
    TMMWaveIn rec(sim);
    Sink sink;
    rec.setNumBuffers(5);
    rec.setMode(mStereo);
    rec.setBitLength(b16Bit);
    rec.setSampleRate(44100);
    rec.setCallBackMode(mode);
    rec.setOutput(&sink);
    rec.Start();
    for (auto _ : state) {
        sim.Pump(0, 1);
        if (mode == cmWindow) WindowPoster().ProcessMessages();
    }
    if (rec.BytesDelivered() != static_cast<int64_t>(state.iterations()) * 2048)
        state.SkipWithError("buffers were lost");
    state.SetBytesProcessed(rec.BytesDelivered());
    rec.Close();
}

void BM_WindowRoute_Silence(benchmark::State& s) { deliver(s, "silence", cmWindow); }
void BM_WindowRoute_Sine(benchmark::State& s) { deliver(s, "sine:997:-3/sine:1499:-4.5", cmWindow); }
void BM_WindowRoute_Noise(benchmark::State& s) { deliver(s, "noise:-10", cmWindow); }
void BM_CallbackRoute_Sine(benchmark::State& s) { deliver(s, "sine:997:-3/sine:1499:-4.5", cmCallback); }

BENCHMARK(BM_WindowRoute_Silence);
BENCHMARK(BM_WindowRoute_Sine);
BENCHMARK(BM_WindowRoute_Noise);
BENCHMARK(BM_CallbackRoute_Sine);

}  // namespace

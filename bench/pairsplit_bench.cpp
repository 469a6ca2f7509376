// Splitting a 24-channel 512-frame block of a shared capture stream into its
// twelve stereo pairs. Target: 3 us per block.
//   SplitPairs:   the plain copy into twelve buffers;
//   SharedWrite:  the back end's path, into twelve recorders' queued 2048-byte
//                 headers, each handed back and queued again when full.
#include "audio/MMPairSplit.h"

#include "base/TvConstants.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

constexpr size_t kFrames = 512;
constexpr int kChannels = tv::kStrips;

std::vector<int16_t> Block()
{
    std::vector<int16_t> in(kFrames * kChannels);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<int16_t>(i * 7919);
    return in;
}

void SplitPairsBench(benchmark::State& state)
{
    const auto in = Block();
    std::vector<std::vector<int16_t>> pairs(tv::kPairs, std::vector<int16_t>(kFrames * 2));
    std::vector<int16_t*> outs;
    for (auto& p : pairs) outs.push_back(p.data());
    for (auto _ : state) {
        SplitPairs(in.data(), kFrames, kChannels, outs.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(SplitPairsBench);

struct Pair {
    TMMPairTap tap;
    std::vector<char> mem = std::vector<char>(kFrames * 4);
    WaveHdr hdr;
    static void Notify(HWAVEIN, uint32_t msg, void* self, PWaveHdr h)
    {
        if (msg == WIM_DATA) static_cast<Pair*>(self)->tap.queue.Add(h);
    }
};

void SharedWriteBench(benchmark::State& state)
{
    const auto in = Block();
    TMMSharedCapture shared;
    std::vector<std::unique_ptr<Pair>> pairs;
    for (int p = 0; p < tv::kPairs; ++p) {
        auto q = std::make_unique<Pair>();
        q->tap.first = 2 * p;
        q->tap.gridFrames = kFrames;
        q->tap.queue.Bind(static_cast<HWAVEIN>(p + 1), &Pair::Notify, q.get());
        q->hdr.lpData = q->mem.data();
        q->hdr.dwBufferLength = static_cast<uint32_t>(q->mem.size());
        q->tap.queue.Add(&q->hdr);
        shared.Attach(&q->tap);
        shared.Arm(&q->tap);
        pairs.push_back(std::move(q));
    }
    for (auto _ : state) {
        shared.Write(in.data(), kFrames, kChannels);
        benchmark::ClobberMemory();
    }
    if (shared.Overrun() != 0) state.SkipWithError("frames were dropped");
}
BENCHMARK(SharedWriteBench);

}  // namespace

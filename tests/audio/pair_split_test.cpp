// The pairs of a multichannel device and the stream they share: names, the
// channel copy at its edges, alignment of pairs started together or late,
// halting one pair, the device going away (also while a pair is stopped on
// another thread), a restart of the stream.
#include "audio/MMPairSplit.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <iterator>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

namespace {

TEST(PairSplit, PairsAndNames)
{
    EXPECT_EQ(PairCount(1), 0);
    EXPECT_EQ(PairCount(2), 0);
    EXPECT_EQ(PairCount(3), 2);
    EXPECT_EQ(PairCount(8), 4);
    EXPECT_EQ(PairCount(24), 12);
    EXPECT_EQ(PairName("MADI", 24, 0), "MADI (1-2)");
    EXPECT_EQ(PairName("MADI", 24, 11), "MADI (23-24)");
    EXPECT_EQ(PairName("X", 5, 2), "X (5)");
    EXPECT_EQ(PairWidth(5, 2), 1);
    EXPECT_EQ(PairWidth(5, 1), 2);
    EXPECT_EQ(PairFirstChannel(3), 6);
}

TEST(PairSplit, CopyKeepsFullScaleAndFeedsMonoToBothSides)
{
    // 3 channels: the last one mono.
    const std::vector<int16_t> in = {1, 2, 32767, -32768, 5, 0, 7, 8, -1};
    std::vector<int16_t> out(6, 99);
    CopyChannels(in.data(), 3, 3, 1, 2, out.data(), 2);
    EXPECT_EQ(out, (std::vector<int16_t>{2, 32767, 5, 0, 8, -1}));
    CopyChannels(in.data(), 3, 3, 2, 1, out.data(), 2);
    EXPECT_EQ(out, (std::vector<int16_t>{32767, 32767, 0, 0, -1, -1}));
    std::vector<int16_t> mono(3, 99);
    CopyChannels(in.data(), 3, 3, 0, 2, mono.data(), 1);
    EXPECT_EQ(mono, (std::vector<int16_t>{1, -32768, 7}));

    std::vector<int16_t> frames(24 * 4);
    for (size_t i = 0; i < frames.size(); ++i) frames[i] = static_cast<int16_t>(i);
    std::vector<std::vector<int16_t>> pairs(12, std::vector<int16_t>(8));
    std::vector<int16_t*> outs;
    for (auto& p : pairs) outs.push_back(p.data());
    SplitPairs(frames.data(), 4, 24, outs.data());
    EXPECT_EQ(pairs[0], (std::vector<int16_t>{0, 1, 24, 25, 48, 49, 72, 73}));
    EXPECT_EQ(pairs[11], (std::vector<int16_t>{22, 23, 46, 47, 70, 71, 94, 95}));
}

// A recorder's side: headers of `frames` stereo frames, re-queued when done.
struct Rec {
    TMMPairTap tap;
    std::vector<std::vector<int16_t>> blocks;  // every buffer that came back
    std::vector<std::unique_ptr<WaveHdr>> hdrs;
    std::vector<std::vector<char>> mem;
    bool requeue = true;

    Rec(int first, int width, uint32_t frames, int n = 3)
    {
        tap.first = first;
        tap.width = width;
        tap.gridFrames = frames;
        tap.queue.Bind(1, &Notify, this);
        for (int i = 0; i < n; ++i) {
            mem.emplace_back(frames * 4);
            auto h = std::make_unique<WaveHdr>();
            h->lpData = mem.back().data();
            h->dwBufferLength = frames * 4;
            tap.queue.Add(h.get());
            hdrs.push_back(std::move(h));
        }
    }
    static void Notify(HWAVEIN, uint32_t msg, void* self, PWaveHdr h)
    {
        auto* r = static_cast<Rec*>(self);
        if (msg != WIM_DATA) return;
        const auto* p = reinterpret_cast<const int16_t*>(h->lpData);
        r->blocks.emplace_back(p, p + h->dwBytesRecorded / 2);
        if (r->requeue) r->tap.queue.Add(h);
    }
};

// Sample of frame f, channel c: both recoverable from the value.
int16_t Sample(uint64_t f, int c) { return static_cast<int16_t>((f % 1000) * 32 + c); }

void Feed(TMMSharedCapture& s, uint64_t& pos, size_t frames, int channels = 8)
{
    std::vector<int16_t> in(frames * static_cast<size_t>(channels));
    for (size_t f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c) in[f * static_cast<size_t>(channels) + static_cast<size_t>(c)] = Sample(pos + f, c);
    s.Write(in.data(), frames, channels);
    pos += frames;
}

// A JACK client's float planes as 16-bit frames: every channel count and
// ragged frame count, full scale and beyond, infinities and NaN, against the
// sample-by-sample rule.
TEST(PairSplit, FloatPlanesClipTruncateAndZeroNaN)
{
    const float specials[] = {0.0f, -0.0f, 1.0f, -1.0f, 1.0001f, -1.0001f, 0.99999f, -0.99999f, 1e30f, -1e30f,
                              std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                              std::numeric_limits<float>::quiet_NaN(), 0.5f / 32767, -1.5f / 32767, 12345.6f / 32767};
    auto rule = [](float x) -> int16_t {
        const double v = static_cast<double>(x * 32767.0f);
        if (x != x) return 0;
        if (v >= 32767) return 32767;
        if (v <= -32768) return -32768;
        return static_cast<int16_t>(std::trunc(v));
    };
    uint32_t seed = 7;
    for (int channels = 1; channels <= 5; ++channels)
        for (size_t frames = 0; frames <= 11; ++frames) {
            std::vector<std::vector<float>> planes(static_cast<size_t>(channels), std::vector<float>(frames));
            std::vector<const float*> in;
            for (auto& p : planes) {
                for (auto& x : p) {
                    seed = seed * 1664525u + 1013904223u;
                    x = seed % 3 == 0 ? specials[(seed >> 8) % std::size(specials)]
                                      : static_cast<float>(static_cast<int32_t>(seed) / 2147483648.0 * 1.2);
                }
                in.push_back(p.data());
            }
            std::vector<int16_t> out(frames * static_cast<size_t>(channels), 77);
            FloatPlanesTo16(in.data(), frames, channels, out.data());
            for (size_t f = 0; f < frames; ++f)
                for (int c = 0; c < channels; ++c)
                    ASSERT_EQ(out[f * static_cast<size_t>(channels) + static_cast<size_t>(c)], rule(planes[c][f]))
                        << channels << " channels, frame " << f << " of " << frames << ", sample " << planes[c][f];
        }
}

TEST(SharedCapture, PairsStayAlignedAndCarryTheirChannels)
{
    TMMSharedCapture s;
    Rec a(0, 2, 64), b(6, 2, 64), late(2, 2, 64);
    ASSERT_TRUE(s.Attach(&a.tap));
    ASSERT_TRUE(s.Attach(&b.tap));
    ASSERT_TRUE(s.Attach(&late.tap));
    EXPECT_EQ(s.Taps(), 3);
    EXPECT_EQ(s.HighestChannel(), 8);
    s.Arm(&a.tap);
    s.Arm(&b.tap);
    uint64_t pos = 0;
    Feed(s, pos, 100);  // odd block sizes cross header ends
    s.Arm(&late.tap);   // joins mid-stream: starts on the next 64-frame boundary
    for (int i = 0; i < 5; ++i) Feed(s, pos, 37);

    ASSERT_EQ(a.blocks.size(), 4u);
    ASSERT_EQ(b.blocks.size(), 4u);
    for (size_t k = 0; k < a.blocks.size(); ++k)
        for (size_t f = 0; f < 64; ++f) {
            const uint64_t frame = k * 64 + f;
            ASSERT_EQ(a.blocks[k][2 * f], Sample(frame, 0));
            ASSERT_EQ(a.blocks[k][2 * f + 1], Sample(frame, 1));
            ASSERT_EQ(b.blocks[k][2 * f], Sample(frame, 6));
            ASSERT_EQ(b.blocks[k][2 * f + 1], Sample(frame, 7));
        }
    // Armed at frame 100: its first buffer holds frames 128 ... 191, the
    // same frames as buffer 2 of the others.
    ASSERT_EQ(late.blocks.size(), 2u);
    EXPECT_EQ(late.blocks[0][0], Sample(128, 2));
    EXPECT_EQ(late.blocks[0][1], Sample(128, 3));
    EXPECT_EQ(late.tap.frames.load(), pos - 128);

    // Halting one pair leaves the others running.
    s.Halt(&b.tap);
    Feed(s, pos, 64);
    EXPECT_EQ(b.blocks.size(), 4u);
    EXPECT_EQ(a.blocks.size(), 5u);
    EXPECT_TRUE(s.AnyStarted());
    s.Halt(&a.tap);
    s.Halt(&late.tap);
    EXPECT_FALSE(s.AnyStarted());
}

TEST(SharedCapture, MonoPairAndTooFewChannels)
{
    TMMSharedCapture s;
    Rec mono(4, 1, 16), beyond(8, 2, 16);
    s.Attach(&mono.tap);
    s.Attach(&beyond.tap);
    s.Arm(&mono.tap);
    s.Arm(&beyond.tap);
    uint64_t pos = 0;
    Feed(s, pos, 16, 5);
    ASSERT_EQ(mono.blocks.size(), 1u);
    EXPECT_EQ(mono.blocks[0][0], Sample(0, 4));
    EXPECT_EQ(mono.blocks[0][1], Sample(0, 4));
    // A stream narrower than the pair never writes into it.
    EXPECT_TRUE(beyond.blocks.empty());
}

TEST(SharedCapture, LoseReturnsEveryHeaderAndRestartRealigns)
{
    TMMSharedCapture s;
    Rec a(0, 2, 32, 2), b(2, 2, 32, 2);
    s.Attach(&a.tap);
    s.Attach(&b.tap);
    s.Arm(&a.tap);
    s.Arm(&b.tap);
    uint64_t pos = 0;
    Feed(s, pos, 40);  // one full buffer each, 8 frames in the next

    // A restart of the stream (more channels wanted): partial buffers are
    // emptied and both start again at frame 0 of the new stream.
    s.Restart();
    pos = 0;
    Feed(s, pos, 32);
    ASSERT_EQ(a.blocks.size(), 2u);
    ASSERT_EQ(b.blocks.size(), 2u);
    EXPECT_EQ(a.blocks[1][0], Sample(0, 0));
    EXPECT_EQ(b.blocks[1][0], Sample(0, 2));

    a.requeue = b.requeue = false;
    Feed(s, pos, 8);
    s.Lose();
    EXPECT_TRUE(a.tap.gone.load());
    EXPECT_TRUE(b.tap.gone.load());
    EXPECT_FALSE(s.AnyStarted());
    // The partial buffer with its 8 frames, then the empty one.
    ASSERT_EQ(a.blocks.size(), 4u);
    EXPECT_EQ(a.blocks[2].size(), 16u);
    EXPECT_TRUE(a.blocks[3].empty());
    Feed(s, pos, 64);
    EXPECT_EQ(a.blocks.size(), 4u);

    s.Detach(&a.tap);
    s.Detach(&b.tap);
    EXPECT_EQ(s.Taps(), 0);
    EXPECT_EQ(s.HighestChannel(), 0);
}

// A tap whose headers count how often each came back (from any thread).
struct CountedTap {
    TMMPairTap tap;
    std::array<WaveHdr, 3> hdrs;
    std::array<std::vector<char>, 3> mem;
    std::array<std::atomic<int>, 3> returned{};

    explicit CountedTap(int first)
    {
        tap.first = first;
        tap.gridFrames = 16;
        tap.queue.Bind(1, &Notify, this);
        for (size_t i = 0; i < hdrs.size(); ++i) {
            mem[i].resize(16 * 4);
            hdrs[i].lpData = mem[i].data();
            hdrs[i].dwBufferLength = 16 * 4;
            hdrs[i].dwUser = i;
            tap.queue.Add(&hdrs[i]);
        }
    }
    static void Notify(HWAVEIN, uint32_t msg, void* self, PWaveHdr h)
    {
        if (msg == WIM_DATA) ++static_cast<CountedTap*>(self)->returned[h->dwUser];
    }
};

// The device goes away on the audio thread while the GUI thread stops and
// resets one recorder: every header comes back exactly once, from one side
// or the other, and the queue is never worked on by both at a time.
TEST(SharedCapture, LoseWhileAPairIsStoppedReturnsEachHeaderOnce)
{
    for (int round = 0; round < 200; ++round) {
        TMMSharedCapture s;
        CountedTap stopped(0), running(2);
        s.Attach(&stopped.tap);
        s.Attach(&running.tap);
        s.Arm(&stopped.tap);
        s.Arm(&running.tap);
        uint64_t pos = 0;
        Feed(s, pos, 24);  // one full header each, 8 frames in the next
        std::atomic<bool> go{false};
        std::thread audio([&] {
            while (!go.load()) {
            }
            s.Lose();
        });
        go.store(true);
        s.Halt(&stopped.tap);
        stopped.tap.queue.ReturnAll();
        audio.join();
        for (CountedTap* t : {&stopped, &running})
            for (size_t i = 0; i < t->hdrs.size(); ++i) ASSERT_EQ(t->returned[i].load(), 1) << round << " " << i;
        EXPECT_TRUE(stopped.tap.gone.load());
        EXPECT_FALSE(s.AnyStarted());
    }
}

TEST(SharedCapture, FullTableAndOverrun)
{
    TMMSharedCapture s;
    std::vector<std::unique_ptr<Rec>> recs;
    for (int i = 0; i < TMMSharedCapture::MaxTaps; ++i) {
        recs.push_back(std::make_unique<Rec>(0, 2, 8, 1));
        ASSERT_TRUE(s.Attach(&recs.back()->tap));
    }
    Rec extra(0, 2, 8, 1);
    EXPECT_FALSE(s.Attach(&extra.tap));
    // A recorder that does not give its buffer back loses what follows.
    Rec& r = *recs[0];
    r.requeue = false;
    s.Arm(&r.tap);
    uint64_t pos = 0;
    Feed(s, pos, 20, 2);
    EXPECT_EQ(r.blocks.size(), 1u);
    EXPECT_EQ(s.Overrun(), 12u * 4u);
}

}  // namespace

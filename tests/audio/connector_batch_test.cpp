// The wake-up rule of the connectors' loop on the manual loop and a fake
// clock: the GUI thread wakes once per display frame (or later, when it is
// held up) and catches up on every 1 ms trigger cycle due by then, with the
// buffers the device posted meanwhile tapped between the cycles at their post
// times.
#include "audio/MMConnector.h"
#include "audio/MMNotify.h"
#include "metering/MMLevel.h"
#include "tests/support/ManualLoop.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <deque>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

namespace {

constexpr int kBufferBytes = 2048;    // 512 frames of 16-bit stereo
constexpr int64_t kBufferUs = 10667;  // at 48 kHz
constexpr int kBlocks = 10;           // whole 200-byte blocks per buffer

// Every block and slice with the cycle time it was fed at.
struct Bar : TMMLevelSink {
    std::vector<int16_t> first;
    std::vector<int64_t> at;
    void SetWaveFormat(const WaveFormat*) override {}
    int BlockBytes() const override { return 200; }
    void ProcessBlock(const void* b) override
    {
        int16_t s;
        std::memcpy(&s, b, 2);
        first.push_back(s);
        at.push_back(TMMConnector::CycleMicros());
    }
    void ResetData() override {}
};

struct Scope : TMMOscopeSink {
    std::vector<int16_t> first;
    void ApplyFormat(const WaveFormat*) override {}
    int DisplayBytes() const override { return 792; }
    void AcceptSamples(const void* p) override
    {
        int16_t s;
        std::memcpy(&s, p, 2);
        first.push_back(s);
    }
    void ClearDisplay() override {}
    bool Scroll() const override { return false; }
    bool Accelerate() const override { return false; }
    int FFTLength() const override { return 128; }
    int BitLength() const override { return b16Bit; }
    int Mode() const override { return mStereo; }
};

// A device on the window route: it posts each filled buffer (as a recorder
// in cmWindow mode does) and the GUI thread hands it to the connector.
struct Device : TMMMessageTarget {
    explicit Device(TMMConnector& c) : conn(c) { TMMMessagePoster::Register(this); }
    ~Device() override { TMMMessagePoster::Unregister(this); }
    // Buffer n: block k starts with the sample value n * kBlocks + k + 1,
    // so the value counts the blocks of the stream.
    void Record()
    {
        buffers.emplace_back(kBufferBytes, 0);
        std::vector<char>& d = buffers.back();
        for (int k = 0; k < kBlocks; ++k) {
            const auto v = static_cast<int16_t>(recorded * kBlocks + k + 1);
            std::memcpy(d.data() + k * 200, &v, 2);
        }
        postedAt.push_back(ConnectorLoop().NowMicros());
        ++recorded;
        WindowPoster().Post(this, 1, 1, &buffers.back());
    }
    void HandleMessage(uint32_t, uintptr_t, void* p) override
    {
        auto* d = static_cast<std::vector<char>*>(p);
        WaveHdr h;
        h.lpData = d->data();
        h.dwBufferLength = h.dwBytesRecorded = kBufferBytes;
        conn.BufferReady(&h);
    }
    TMMConnector& conn;
    std::deque<std::vector<char>> buffers;  // stable addresses
    std::vector<int64_t> postedAt;
    int recorded = 0;
};

class ConnectorBatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetConnectorLoop(&loop);
        loop.SetTime(5000000);
        loop.mFrameUs = 16667;
    }
    void TearDown() override
    {
        WindowPoster().ProcessMessages();  // drops what the test's devices left posted
        SetConnectorLoop(nullptr);
    }

    void Start(TMMConnector& c)
    {
        WaveFormat f;
        BuildPcmFormat(f, 16, 2, 48000);
        c.SetFormat(&f);
        c.Opened();
        c.Started();
        loop.RunPending();  // activation: the first cycle runs at once
    }

    // Real time passes in 100 us steps; the device records on its own
    // schedule; the GUI thread wakes when its frame is due unless it is held
    // up until `stallEnd`.
    void Run(Device& d, int64_t us, int64_t stallEnd = -1)
    {
        const int64_t end = loop.NowMicros() + us;
        while (loop.NowMicros() < end) {
            loop.Advance(100);
            if (loop.NowMicros() >= mNextBuffer) {
                d.Record();
                mNextBuffer += kBufferUs;
            }
            if (loop.NowMicros() >= stallEnd) loop.RunPending();
        }
    }

    TMMManualLoop loop{true};
    int64_t mNextBuffer = 5000000 + 300;
};

class ConnectorBatchModes : public ConnectorBatch, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        ConnectorBatch::SetUp();
        TMMConnector::setBatchCycles(GetParam());
    }
    void TearDown() override
    {
        TMMConnector::setBatchCycles(true);
        ConnectorBatch::TearDown();
    }
};

TEST_P(ConnectorBatchModes, StalledGuiThreadCatchesUpOnEveryBlockAndEveryCycleInOrder)
{
    // Batched, a bar gets a run of cycles' blocks at the run's last cycle:
    // at the wake-up's end or before the next buffer, within one frame.
    const int64_t lateness = GetParam() ? 16667 + 1000 : 1000;
    const long skipped0 = TMMConnector::SkippedCycles();
    TMMConnector c;
    Bar bar;
    Scope scope;
    c.setLevel1(&bar);
    c.setOscope1(&scope);
    std::vector<int64_t> cycles;
    std::vector<size_t> slicesAtCycle;
    c.OnTrigger = [&](TMMConnector*) {
        cycles.push_back(TMMConnector::CycleMicros());
        slicesAtCycle.push_back(scope.first.size());
    };
    Device dev(c);
    Start(c);

    Run(dev, 200000);
    // 100 ms without a wake-up, then on as before.
    Run(dev, 300000, loop.NowMicros() + 100000);
    Run(dev, 100000);
    const int64_t endTime = loop.NowMicros();

    // One trigger cycle (one correlation step) per millisecond of clock time,
    // each at its own place on the grid, none twice, none left out.
    ASSERT_FALSE(cycles.empty());
    for (size_t i = 1; i < cycles.size(); ++i) ASSERT_EQ(cycles[i] - cycles[i - 1], 1000) << i;
    EXPECT_LE(endTime - cycles.back(), 16667 + 1000);
    EXPECT_NEAR(static_cast<double>(cycles.size()), 600.0, 18.0);

    // Every block of every buffer tapped before the last wake-up, once, in
    // stream order, fed at a cycle no earlier than its due time after the
    // device posted its buffer and no later than the next cycle (batched:
    // the end of its run of cycles).
    // The newest buffers may still wait in the route (posted after the last
    // wake-up) or in the tap (not yet due).
    const int tapped = dev.recorded - 3;
    ASSERT_GE(static_cast<int>(bar.first.size()), tapped * kBlocks);
    for (size_t i = 0; i < bar.first.size(); ++i) {
        ASSERT_EQ(bar.first[i], static_cast<int16_t>(i + 1)) << i;
        const size_t buffer = i / kBlocks;
        const int64_t due = dev.postedAt[buffer] + static_cast<int64_t>(i % kBlocks) * 200 * 1000000 / 192000;
        EXPECT_GE(bar.at[i], due) << i;
        EXPECT_LT(bar.at[i], due + lateness) << i;
    }

    // Two 792-byte slices per 2048-byte buffer, one per cycle, in order, the
    // stall included.
    ASSERT_GE(static_cast<int>(scope.first.size()), 2 * tapped);
    for (size_t i = 0; i < scope.first.size(); i += 2)
        EXPECT_EQ(scope.first[i], static_cast<int16_t>(i / 2 * kBlocks + 1)) << i;
    for (size_t i = 1; i < slicesAtCycle.size(); ++i) EXPECT_LE(slicesAtCycle[i] - slicesAtCycle[i - 1], 1u);
    EXPECT_EQ(TMMConnector::SkippedCycles(), skipped0);
}

INSTANTIATE_TEST_SUITE_P(BlockByBlockAndBatched, ConnectorBatchModes, ::testing::Bool());

TEST_F(ConnectorBatch, OneWakeUpPerFrameAndNoneWhenIdle)
{
    TMMConnector c;
    Bar bar;
    c.setLevel1(&bar);
    Device dev(c);
    Start(c);
    const long cycles0 = TMMConnector::LoopCycles();
    int steps = 0;
    // Count the wake-ups: a due step is what RunPending runs.
    const int64_t end = loop.NowMicros() + 1000000;
    while (loop.NowMicros() < end) {
        loop.Advance(100);
        if (loop.NowMicros() >= mNextBuffer) {
            dev.Record();
            mNextBuffer += kBufferUs;
        }
        const long before = TMMConnector::LoopCycles();
        loop.RunPending();
        if (TMMConnector::LoopCycles() != before) ++steps;
    }
    // 60 wake-ups a second carry 1000 cycles; the buffers posted meanwhile
    // woke nobody.
    EXPECT_NEAR(steps, 60, 2);
    EXPECT_NEAR(TMMConnector::LoopCycles() - cycles0, 1000, 20);
    EXPECT_TRUE(WindowPoster().ClockDrains());
    EXPECT_GE(static_cast<int>(bar.first.size()), (dev.recorded - 3) * kBlocks);

    // Stopped: the loop ends and the route wakes the GUI thread itself again.
    c.Stopped();
    loop.Advance(20000);
    loop.RunPending();
    EXPECT_FALSE(TMMConnector::LoopRunning());
    EXPECT_FALSE(loop.StepScheduled());
    EXPECT_FALSE(WindowPoster().ClockDrains());
}

TEST_F(ConnectorBatch, AWakeUpMoreThanASecondLateSkipsOnlyTheOldestCycles)
{
    TMMConnector c;
    Bar bar;
    c.setLevel1(&bar);
    long triggers = 0;
    c.OnTrigger = [&](TMMConnector*) { ++triggers; };
    Device dev(c);
    Start(c);
    const long skipped0 = TMMConnector::SkippedCycles();
    triggers = 0;
    loop.Advance(3000000);
    loop.RunPending();
    // One second of cycles caught up at most; the rest counted as skipped.
    EXPECT_NEAR(triggers, 1000, 2);
    EXPECT_NEAR(TMMConnector::SkippedCycles() - skipped0, 2000, 2);
}

// Programme-like audio (tone bursts, noise, pauses, a full-scale click)
// through two connectors into four real bars of different ballistics, with a
// scope and a correlation step on one of them. The GUI thread wakes at 60
// frames a second with stalls of up to 80 ms, and each recorder posts its
// buffers with its own jitter. The bars, their peak ticks (every 25 ms, after
// the wake-up, as the window runs them) and every correlation step must be the
// same block by block and batched.
struct ProgrammeDevice : TMMMessageTarget {
    ProgrammeDevice(TMMConnector& c, unsigned seed) : conn(c), rng(seed) { TMMMessagePoster::Register(this); }
    ~ProgrammeDevice() override { TMMMessagePoster::Unregister(this); }
    void Record()
    {
        std::vector<int16_t> d(kBufferBytes / 2);
        std::normal_distribution<double> noise(0, 3000);
        for (size_t i = 0; i < d.size(); i += 2, ++frame) {
            const double t = frame / 48000.0;
            const bool on = std::fmod(t, 0.37) < 0.21;
            double l = on ? 20000 * std::sin(2 * M_PI * 997 * t) : 0;
            double r = on ? -12000 * std::sin(2 * M_PI * 997 * t + 0.4) : noise(rng);
            if (frame % 9000 == 17) l = 32767;
            d[i] = static_cast<int16_t>(l);
            d[i + 1] = static_cast<int16_t>(std::clamp(r, -32768.0, 32767.0));
        }
        buffers.push_back(std::move(d));
        WindowPoster().Post(this, 1, 1, &buffers.back());
    }
    void HandleMessage(uint32_t, uintptr_t, void* p) override
    {
        auto* d = static_cast<std::vector<int16_t>*>(p);
        WaveHdr h;
        h.lpData = reinterpret_cast<char*>(d->data());
        h.dwBufferLength = h.dwBytesRecorded = kBufferBytes;
        conn.BufferReady(&h);
    }
    TMMConnector& conn;
    std::mt19937 rng;
    std::deque<std::vector<int16_t>> buffers;
    int64_t frame = 0;
};

struct SliceScope : Scope {
    std::vector<int16_t> last = std::vector<int16_t>(396);
    void AcceptSamples(const void* p) override
    {
        Scope::AcceptSamples(p);
        std::memcpy(last.data(), p, 792);
    }
};

using TBarState = std::tuple<int, int, int, int, int>;

struct TProgrammeRun {
    std::vector<std::vector<TBarState>> frames;  // every bar after every wake-up
    std::vector<double> steps;                   // every correlation step
    long blocks = 0;
};

TProgrammeRun RunProgramme(TMMManualLoop& loop, bool batch)
{
    TMMConnector::setBatchCycles(batch);
    loop.SetTime(5000000);
    TMMConnector c1, c2;
    TMMCustomLevel bars[4];
    bars[0].setMeterStandard(0);  // defaults: peak, held
    bars[1].setIntegralOn(true);
    bars[1].setIntegralLength(10);
    bars[2].setDecayMode(dmExponential);
    bars[2].setDecay(40);
    bars[2].setChannel(chRight);
    bars[3].setMeterStandard(4);  // K-20
    bars[3].setBallistics(bmStandard);
    bars[3].setChannel(chRight);
    for (auto& b : bars) {
        b.setNumPeaks(1);
        b.setPeakDelay(8);
    }
    std::unique_ptr<TMMLevelSinkFor<TMMCustomLevel>> sinks[4];
    for (int i = 0; i < 4; ++i) sinks[i] = std::make_unique<TMMLevelSinkFor<TMMCustomLevel>>(bars[i]);
    c1.setLevel1(sinks[0].get());
    c1.setLevel2(sinks[2].get());
    c2.setLevel1(sinks[1].get());
    c2.setLevel2(sinks[3].get());
    SliceScope scope;
    c1.setOscope1(&scope);
    TProgrammeRun run;
    c1.OnTrigger = [&](TMMConnector*) {
        double lr = 0, ll = 0, rr = 0;
        for (size_t i = 0; i < scope.last.size(); i += 2) {
            lr += scope.last[i] * double(scope.last[i + 1]);
            ll += scope.last[i] * double(scope.last[i]);
            rr += scope.last[i + 1] * double(scope.last[i + 1]);
        }
        run.steps.push_back(ll > 0 && rr > 0 ? lr / std::sqrt(ll * rr) : 0);
    };
    WaveFormat f;
    BuildPcmFormat(f, 16, 2, 48000);
    ProgrammeDevice d1(c1, 1), d2(c2, 2);
    for (TMMConnector* c : {&c1, &c2}) {
        c->SetFormat(&f);
        c->Opened();
        c->Started();
    }
    loop.RunPending();
    std::mt19937 jitter(7);
    std::uniform_int_distribution<int> late(0, 2500), stall(0, 30);
    int64_t next1 = loop.NowMicros() + 300, next2 = loop.NowMicros() + 4100, stalledUntil = 0, nextTick = -1;
    const int64_t end = loop.NowMicros() + 3000000;
    while (loop.NowMicros() < end) {
        loop.Advance(100);
        const int64_t now = loop.NowMicros();
        if (now >= next1) d1.Record(), next1 += kBufferUs - 1250 + late(jitter);
        if (now >= next2) d2.Record(), next2 += kBufferUs - 1250 + late(jitter);
        if (now < stalledUntil) continue;
        const long before = TMMConnector::LoopCycles();
        loop.RunPending();
        if (TMMConnector::LoopCycles() == before) continue;
        // After the wake-up: the 25 ms peak ticks due by now, then the frame.
        if (nextTick < 0) nextTick = now;
        for (; nextTick <= now; nextTick += 25000)
            for (auto& b : bars) b.PeakTick();
        std::vector<TBarState> frame;
        for (auto& b : bars)
            frame.emplace_back(b.CurrentLevel(), b.LastBlockPeak(), b.BarSpots(), b.PeakSpot(), b.PeakCounter());
        run.frames.push_back(frame);
        if (stall(jitter) == 0) stalledUntil = now + 80000;
    }
    run.blocks = c1.LevelCycles() + c2.LevelCycles();
    for (TMMConnector* c : {&c1, &c2}) c->Stopped();
    WindowPoster().ProcessMessages();
    TMMConnector::setBatchCycles(true);
    return run;
}

TEST_F(ConnectorBatch, BatchedCyclesShowExactlyWhatBlockByBlockCyclesShow)
{
    const TProgrammeRun reference = RunProgramme(loop, false);
    const TProgrammeRun batched = RunProgramme(loop, true);
    ASSERT_GT(reference.blocks, 2 * 2700);
    EXPECT_EQ(batched.blocks, reference.blocks);
    ASSERT_EQ(batched.frames.size(), reference.frames.size());
    for (size_t i = 0; i < reference.frames.size(); ++i)
        for (size_t b = 0; b < 4; ++b) ASSERT_EQ(batched.frames[i][b], reference.frames[i][b]) << "frame " << i << " bar " << b;
    ASSERT_EQ(batched.steps.size(), reference.steps.size());
    for (size_t i = 0; i < reference.steps.size(); ++i) ASSERT_EQ(batched.steps[i], reference.steps[i]) << i;
    // The run moved the bars and held peaks (the comparison is not of zeros).
    int lit = 0, held = 0;
    for (const auto& frame : reference.frames)
        for (const auto& bar : frame) lit += std::get<2>(bar) > 0, held += std::get<4>(bar) > 0;
    EXPECT_GT(lit, 100);
    EXPECT_GT(held, 100);
}

}  // namespace

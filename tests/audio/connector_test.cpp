#include "audio/MMConnector.h"
#include "tests/support/ManualLoop.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

WaveFormat pcm(int bits, int channels, int rate)
{
    WaveFormat f;
    BuildPcmFormat(f, bits, channels, rate);
    return f;
}

// Records every block it is given: the first sample and the feed time.
struct FakeLevel : TMMLevelSink {
    explicit FakeLevel(TMMManualLoop& l, int bytes = 200) : loop(l), blockBytes(bytes) {}
    TMMManualLoop& loop;
    int blockBytes;
    int formats = 0, resets = 0;
    std::vector<int16_t> first;
    std::vector<int64_t> at;
    void SetWaveFormat(const WaveFormat* f) override
    {
        if (!IsValidPcmFormat(f)) throw std::runtime_error("Invalid WaveFormat");
        ++formats;
    }
    int BlockBytes() const override { return blockBytes; }
    void ProcessBlock(const void* b) override
    {
        int16_t s;
        std::memcpy(&s, b, 2);
        first.push_back(s);
        at.push_back(loop.NowMicros());
    }
    void ResetData() override { ++resets; }
};

struct FakeScope : TMMOscopeSink {
    int bytes = 792, clears = 0;
    std::vector<int16_t> first;
    void ApplyFormat(const WaveFormat*) override {}
    int DisplayBytes() const override { return bytes; }
    void AcceptSamples(const void* p) override
    {
        int16_t s;
        std::memcpy(&s, p, 2);
        first.push_back(s);
    }
    void ClearDisplay() override { ++clears; }
    bool Scroll() const override { return false; }
    bool Accelerate() const override { return true; }
    int FFTLength() const override { return 128; }
    int BitLength() const override { return b16Bit; }
    int Mode() const override { return mStereo; }
};

class Connector : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetConnectorLoop(&loop);
        SetConnectorTimerList(&timers);
        loop.SetTime(1000000);
    }
    void TearDown() override
    {
        SetConnectorLoop(nullptr);
        SetConnectorTimerList(nullptr);
    }
    // Opens and starts the connector's chain in `fmt` and lets activation run.
    void Start(TMMConnector& c, const WaveFormat& fmt)
    {
        c.SetFormat(&fmt);
        c.Opened();
        c.Started();
        loop.RunPending();
    }
    // One buffer of 16-bit stereo whose block k (of `blockBytes`) starts
    // with the sample value k + 1.
    void Deliver(TMMConnector& c, int bytes, int blockBytes = 200)
    {
        std::vector<char> data(static_cast<size_t>(bytes), 0);
        for (int k = 0; k * blockBytes < bytes; ++k) {
            const int16_t v = static_cast<int16_t>(k + 1);
            std::memcpy(data.data() + k * blockBytes, &v, 2);
        }
        WaveHdr h;
        h.lpData = data.data();
        h.dwBufferLength = h.dwBytesRecorded = static_cast<uint32_t>(bytes);
        c.BufferReady(&h);
    }
    TMMManualLoop loop{true};
    // The 25 ms list on a hand-driven platform timer (the test calls Tick).
    struct ManualTimer : IMMPlatformTimer {
        bool Start(int, std::function<void()>) override { return true; }
        void Stop() override {}
    };
    TMMTimerList timers{std::make_unique<ManualTimer>()};
};

TEST_F(Connector, CyclesFireOnTriggerAndPaceBlocksToRealTime)
{
    TMMConnector c;
    FakeLevel l1(loop), l2(loop);
    c.setLevel1(&l1);
    c.setLevel2(&l2);
    int triggers = 0;
    c.OnTrigger = [&](TMMConnector* s) {
        EXPECT_EQ(s, &c);
        ++triggers;
    };
    const auto f = pcm(16, 2, 44100);  // 176400 bytes/s
    Start(c, f);
    EXPECT_TRUE(c.Active());
    EXPECT_EQ(TMMConnector::ActiveCount(), 1);
    EXPECT_EQ(l1.formats, 2);  // at the format change and at start

    // No data yet: cycles still fire OnTrigger.
    loop.RunFor(5000, 100);
    EXPECT_GE(triggers, 4);
    EXPECT_TRUE(l1.first.empty());

    const int64_t arrival = loop.NowMicros();
    Deliver(c, 2048);
    loop.RunFor(12000, 100);
    ASSERT_EQ(l1.first.size(), 10u);  // ten whole blocks of 200 bytes
    EXPECT_EQ(l2.first, l1.first);
    for (int k = 0; k < 10; ++k) {
        EXPECT_EQ(l1.first[static_cast<size_t>(k)], k + 1);
        const int64_t due = static_cast<int64_t>(k) * 200 * 1000000 / 176400;
        EXPECT_GE(l1.at[static_cast<size_t>(k)] - arrival, due) << k;
        EXPECT_LE(l1.at[static_cast<size_t>(k)] - arrival, due + 1100) << k;  // within a loop step
    }
    // The block at read position 1800 waits until 10204 us after arrival.
    EXPECT_GE(l1.at[9] - arrival, 10204);
    EXPECT_FALSE(c.LevelHasData());
}

TEST_F(Connector, SlowLoopStillFeedsEveryBlockOnce)
{
    // 48 kHz stereo, 2048-byte buffers every 10667 us, loop ticking at ~860 Hz.
    TMMConnector c;
    FakeLevel l1(loop);
    c.setLevel1(&l1);
    const auto f = pcm(16, 2, 48000);
    Start(c, f);
    const int buffers = 94;  // about one second
    int64_t next = loop.NowMicros();
    for (int b = 0; b < buffers; ++b) {
        Deliver(c, 2048);
        next += 10667;
        loop.RunFor(next - loop.NowMicros(), 1163);
    }
    EXPECT_EQ(l1.first.size(), static_cast<size_t>(buffers * 10));

    // A loop that stalls for 5 ms at a time loses nothing either: blocks
    // still unfed when the next buffer arrives are handed over first.
    FakeLevel l2(loop);
    c.setLevel1(&l2);
    for (int b = 0; b < 20; ++b) {
        Deliver(c, 2048);
        next += 10667;
        loop.RunFor(next - loop.NowMicros(), 5000);
    }
    Deliver(c, 2048);
    EXPECT_EQ(l2.first.size(), 200u);
    for (size_t i = 0; i < l2.first.size(); ++i) EXPECT_EQ(l2.first[i], static_cast<int16_t>(i % 10 + 1));
}

TEST_F(Connector, ShortBuffersAndOscopeSlices)
{
    TMMConnector c;
    FakeLevel l1(loop, 200), l2(loop, 300);  // the larger BlockBytes is the step
    FakeScope s1;
    c.setLevel1(&l1);
    c.setLevel2(&l2);
    c.setOscope1(&s1);
    const auto f = pcm(16, 2, 44100);
    Start(c, f);
    Deliver(c, 250, 300);
    loop.RunFor(3000, 100);
    EXPECT_TRUE(l1.first.empty());
    EXPECT_FALSE(c.LevelHasData());
    EXPECT_TRUE(s1.first.empty());  // 250 < 792

    Deliver(c, 2048, 300);
    loop.RunFor(12000, 100);
    EXPECT_EQ(l1.first.size(), 6u);  // 6 x 300 bytes fit into 2048
    EXPECT_EQ(l2.first, l1.first);
    // Scope slices of 792 bytes: at 0 and 792 only.
    ASSERT_EQ(s1.first.size(), 2u);
    EXPECT_EQ(s1.first[0], 1);
    EXPECT_EQ(c.OscopeCycles(), 2);
}

TEST_F(Connector, DisableResetsSinksAtOnceAndResumes)
{
    TMMConnector c;
    c.setRefreshOnStop(false);
    FakeLevel l1(loop);
    FakeScope s1;
    c.setLevel1(&l1);
    c.setOscope1(&s1);
    const auto f = pcm(16, 2, 48000);
    Start(c, f);
    c.setEnabled(false);
    EXPECT_EQ(l1.resets, 1);
    EXPECT_EQ(s1.clears, 1);
    EXPECT_FALSE(c.Active());
    EXPECT_EQ(TMMConnector::ActiveCount(), 0);
    Deliver(c, 2048);
    loop.RunFor(12000, 100);
    EXPECT_TRUE(l1.first.empty());
    EXPECT_FALSE(TMMConnector::LoopRunning());  // no loop without an active connector

    c.setEnabled(true);
    loop.RunPending();
    EXPECT_TRUE(c.Active());
    Deliver(c, 2048);
    loop.RunFor(12000, 100);
    EXPECT_EQ(l1.first.size(), 10u);

    c.Stopped();  // RefreshOnStop false: no reset
    EXPECT_EQ(l1.resets, 1);
    EXPECT_FALSE(c.Running());
    EXPECT_EQ(TMMConnector::ActiveCount(), 0);
    loop.RunFor(3000, 100);
    EXPECT_FALSE(TMMConnector::LoopRunning());
}

TEST_F(Connector, PauseFeedsSilenceFromTheRefresher)
{
    TMMConnector c;
    FakeLevel l1(loop);
    c.setLevel1(&l1);
    const auto f = pcm(16, 2, 48000);
    Start(c, f);
    EXPECT_EQ(c.RefresherIntervalMs(), 25);  // 2048 bytes are 11 ms
    Deliver(c, 2048);
    loop.RunFor(3000, 100);
    c.Paused();
    loop.RunFor(20000, 100);
    l1.first.clear();
    Deliver(c, 2048);  // ignored while paused
    timers.Tick();     // the shared 25 ms list
    loop.RunFor(12000, 100);
    ASSERT_EQ(l1.first.size(), 10u);
    for (int16_t s : l1.first) EXPECT_EQ(s, 0);  // silence
    c.Restarted();
    l1.first.clear();
    timers.Tick();  // unsubscribed: no refresh
    loop.RunFor(12000, 100);
    EXPECT_TRUE(l1.first.empty());
}

TEST_F(Connector, PropertiesAndSlots)
{
    TMMConnector c;
    FakeLevel a(loop), b(loop);
    c.setLevel1(&a);
    c.setLevel2(&a);  // already in the partner slot
    EXPECT_EQ(c.Level2(), nullptr);
    c.setLevel2(&b);
    {
        FakeLevel gone(loop);
        c.setLevel1(&gone);
        EXPECT_EQ(c.Level1(), &gone);
    }
    EXPECT_EQ(c.Level1(), nullptr);  // a destroyed sink leaves its slot

    c.setSpeed(0);
    EXPECT_EQ(c.Speed(), 1);
    c.setSpeed(10000);
    EXPECT_EQ(c.Speed(), 5000);

    const auto f = pcm(16, 2, 48000);
    c.SetFormat(&f);
    c.Opened();
    try {
        c.setRealTime(false);
        FAIL() << "no error";
    } catch (const EMMConnectorError& e) {
        EXPECT_STREQ(e.what(), "Change to property while device was open");
    }
    EXPECT_TRUE(c.RealTime());
    c.Closed();
    c.setRealTime(false);
    EXPECT_FALSE(c.RealTime());

    // A sink that rejects the format raises its error to the assigner.
    const auto bad = pcm(24, 2, 48000);
    EXPECT_THROW(c.SetFormat(&bad), std::runtime_error);
    FakeLevel late(loop);
    EXPECT_THROW(c.setLevel1(&late), std::runtime_error);
}

TEST_F(Connector, NotRealTimeRunsOneCyclePerBuffer)
{
    TMMConnector c;
    c.setRealTime(false);
    FakeLevel l1(loop);
    c.setLevel1(&l1);
    int triggers = 0;
    c.OnTrigger = [&](TMMConnector*) { ++triggers; };
    const auto f = pcm(16, 2, 48000);
    Start(c, f);
    EXPECT_FALSE(c.Active());
    Deliver(c, 2048);
    EXPECT_EQ(triggers, 1);
    EXPECT_EQ(l1.first.size(), 1u);  // only block 0 is due at arrival
}

TEST_F(Connector, ActiveCountStaysTrue)
{
    TMMConnector c;
    FakeLevel l1(loop);
    c.setLevel1(&l1);
    const auto f = pcm(16, 2, 48000);
    c.SetFormat(&f);
    c.Opened();
    c.Started();
    // Re-enabled before the first activation arrived: two activations posted.
    c.setEnabled(false);
    c.setEnabled(true);
    loop.RunPending();
    EXPECT_EQ(TMMConnector::ActiveCount(), 1);
    // Switching the trigger method while active still uncounts it on stop.
    c.setTriggerMethod(tmTimer);
    c.Stopped();
    EXPECT_EQ(TMMConnector::ActiveCount(), 0);
    loop.RunFor(3000, 100);
    EXPECT_FALSE(TMMConnector::LoopRunning());
}

TEST_F(Connector, ExceptionStopsTheLoopUntilNextActivation)
{
    TMMConnector c;
    FakeLevel l1(loop);
    c.setLevel1(&l1);
    int triggers = 0;
    c.OnTrigger = [&](TMMConnector*) {
        if (++triggers == 3) throw std::runtime_error("boom");
    };
    const auto f = pcm(16, 2, 48000);
    Start(c, f);
    loop.RunFor(10000, 100);
    EXPECT_EQ(triggers, 3);
    ASSERT_EQ(loop.mErrors.size(), 1u);
    EXPECT_EQ(loop.mErrors[0], "boom");
    EXPECT_FALSE(TMMConnector::LoopRunning());
    c.setAutoTrigger(false);
    c.setAutoTrigger(true);
    loop.RunFor(5000, 100);
    EXPECT_GT(triggers, 5);
}

TEST_F(Connector, SpeedAndEnterIdleShapeTheLoopStep)
{
    TMMConnector a, b;
    a.setSpeed(4998);  // the highest Speed of all connectors counts
    b.setSpeed(10);
    TMMConnector::setEnterIdle(true);
    const auto f = pcm(16, 2, 48000);
    a.SetFormat(&f);
    a.Opened();
    a.Started();
    EXPECT_TRUE(loop.mIdleInstalled);
    loop.RunPending();  // activation, then the first loop step
    loop.mProcessCalls = loop.mOneMessageCalls = 0;
    loop.RunFor(10000, 1000);
    const int steps = loop.mOneMessageCalls;
    EXPECT_GE(steps, 9);
    EXPECT_EQ(loop.mProcessCalls, 3 * steps);  // 5001 - 4998 per step
    a.Stopped();
    EXPECT_FALSE(loop.mIdleInstalled);  // removed with the last active connector
    TMMConnector::setEnterIdle(false);
}

TEST_F(Connector, TimerMethodRunsFromItsOwnTimer)
{
    TMMConnector c;
    c.setTriggerMethod(tmTimer);
    const auto f = pcm(16, 2, 48000);
    Start(c, f);
    EXPECT_TRUE(c.Active());
    EXPECT_TRUE(c.Timer().Running());
    EXPECT_EQ(c.Timer().Interval(), 20);
    EXPECT_EQ(TMMConnector::ActiveCount(), 0);
    c.Stopped();
    EXPECT_FALSE(c.Timer().Running());
}

TEST(FindTrigger, Flanks)
{
    const auto f16 = pcm(16, 2, 44100);
    const int16_t up[] = {-100, 5, -50, 5, 200, 5, 400, 5};  // left: -100, -50, 200, 400
    EXPECT_EQ(FindTrigger(&f16, up, sizeof up, 0, tmUpFlank), 8);  // frame 2
    EXPECT_EQ(FindTrigger(&f16, up, sizeof up, 1, tmUpFlank), 12);  // 327: frame 3
    EXPECT_EQ(FindTrigger(&f16, up, sizeof up, 1, tmDownFlank), -1);
    EXPECT_EQ(FindTrigger(&f16, up, sizeof up, 0, tmNone), -1);
    EXPECT_EQ(FindTrigger(&f16, up, 8, 0, tmUpFlank), -1);  // fewer than three frames
    const int16_t down[] = {400, 0, 200, 0, -50, 0};
    EXPECT_EQ(FindTrigger(&f16, down, sizeof down, 0, tmDownFlank), 8);
    const auto f8 = pcm(8, 1, 11025);
    const uint8_t b[] = {100, 120, 128, 140};  // threshold 128 at level 0
    EXPECT_EQ(FindTrigger(&f8, b, 4, 0, tmUpFlank), 2);
    EXPECT_EQ(FindTrigger(&f8, b, 4, 10, tmUpFlank), 3);  // 12 + 128 = 140
    EXPECT_EQ(FindTrigger(nullptr, b, 4, 0, tmUpFlank), -1);
}

}  // namespace

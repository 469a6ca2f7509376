// End to end on the Qt event loop: simulated recorder (real-time clock,
// 48 kHz 16-bit stereo, 2048-byte buffers) -> connector -> two level bars.
#include "audio/MMConnector.h"
#include "audio/MMNotify.h"
#include "audio/MMSimWaveIn.h"
#include "audio/MMWavIn.h"
#include "audio/qt/MMConnectorLoop.h"
#include "metering/MMLevel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QEventLoop>

#include <gtest/gtest.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <chrono>
#include <functional>
#include <vector>

namespace {

// Window messages of the recorder delivered on the Qt loop: the posting
// thread only writes an eventfd.
class EventFdPoster : public TMMMessagePoster {
public:
    EventFdPoster() : mFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), mNotifier(mFd, QSocketNotifier::Read)
    {
        QObject::connect(&mNotifier, &QSocketNotifier::activated, [this] {
            uint64_t v;
            while (read(mFd, &v, sizeof v) > 0) {
            }
            ProcessMessages();
        });
    }
    ~EventFdPoster() override { close(mFd); }

protected:
    void Wake() override
    {
        const uint64_t one = 1;
        [[maybe_unused]] auto r = write(mFd, &one, sizeof one);
    }

private:
    int mFd;
    QSocketNotifier mNotifier;
};

// A level bar that also counts its blocks.
struct CountingBar : TMMLevelSinkFor<TMMCustomLevel> {
    explicit CountingBar(TMMCustomLevel& l) : TMMLevelSinkFor<TMMCustomLevel>(l) {}
    long blocks = 0;
    std::function<void(const void*)> onBlock, afterBlock;
    void ProcessBlock(const void* b) override
    {
        ++blocks;
        if (onBlock) onBlock(b);
        TMMLevelSinkFor<TMMCustomLevel>::ProcessBlock(b);
        if (afterBlock) afterBlock(b);
    }
    void ProcessBlocks(const char* first, int count, int stride) override
    {
        for (int i = 0; i < count; ++i) ProcessBlock(first + i * stride);
    }
};

void RunFor(int ms)
{
    QEventLoop ev;
    QTimer::singleShot(ms, Qt::PreciseTimer, &ev, &QEventLoop::quit);
    ev.exec();
}

// Installed before the recorder registers with the poster.
struct PosterInstall {
    PosterInstall() { SetWindowPoster(&poster); }
    ~PosterInstall() { SetWindowPoster(nullptr); }
    EventFdPoster poster;
};

struct Chain {
    Chain()
        : sim(TMMSimulatedWaveIn::Clock::RealTime), rec(sim), bar1(level1), bar2(level2)
    {
        rec.setDeviceID(0);
        rec.setChannels(2);
        rec.setBitLength(b16Bit);
        rec.setSampleRate(48000);
        rec.setBufferSize(2048);
        rec.setCallBackMode(cmWindow);
        rec.setOutput(&conn);
        conn.setLevel1(&bar1);
        conn.setLevel2(&bar2);
    }
    ~Chain() { rec.Close(); }
    PosterInstall install;
    TMMSimulatedWaveIn sim;
    TMMWaveIn rec;
    TMMConnector conn;
    TMMCustomLevel level1, level2;
    CountingBar bar1, bar2;
};

TEST(ConnectorChain, EveryBlockOfEveryBufferOnce)
{
    TMMConnectorQtLoop loop;
    Chain c;
    c.sim.SetSignal(0, "sine:997:-6/sine:1499:-9");
    c.rec.Open();
    c.rec.Start();
    RunFor(300);  // settle
    EXPECT_GT(c.level1.BarSpots(), 0);
    const long b0 = c.bar1.blocks;
    const int64_t bytes0 = c.rec.BytesDelivered();
    const long steps0 = loop.Steps();
    QElapsedTimer t;
    t.start();
    RunFor(2000);
    const double secs = t.nsecsElapsed() / 1e9;
    const long blocks = c.bar1.blocks - b0;
    const int64_t bytes = c.rec.BytesDelivered() - bytes0;
    const double steps = (loop.Steps() - steps0) / secs;
    c.rec.Stop();

    // Every whole block of every buffer, once (10 per 2048-byte buffer).
    const double buffers = bytes / 2048.0;
    EXPECT_NEAR(blocks, buffers * 10, buffers * 10 * 0.01 + 10);
    EXPECT_EQ(c.bar2.blocks, c.bar1.blocks);
    // 937.5 blocks a second, within 1 %, give or take the buffers that were
    // on their way at either edge of the window (a loaded machine holds more
    // of them back at its start and hands them over inside it).
    const double edge = c.rec.NumBuffers() * 10.0 / secs;
    EXPECT_NEAR(blocks / secs, 937.5, 9.375 + edge) << "loop steps per second: " << steps;
    // Stopped: bars reset, the loop ends at its next wake-up (25 ms apart
    // without a window).
    EXPECT_EQ(c.level1.BarSpots(), 0);
    RunFor(80);
    EXPECT_EQ(TMMConnector::ActiveCount(), 0);
    EXPECT_FALSE(loop.TimerActive());
}

double LoadAverage()
{
    double load = 0;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1) load = 0;
        std::fclose(f);
    }
    return load;
}

// More runnable threads than 1.5 per core: the GUI thread itself is kept
// from running for milliseconds at a time.
bool Overloaded() { return LoadAverage() > 1.5 * QThread::idealThreadCount(); }

double NowMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// At the display rate chosen: 60 frames a second, and the lowest, 12.
class ConnectorChainAtRate : public ::testing::TestWithParam<int> {};

TEST_P(ConnectorChainAtRate, LevelStepReachesTheBarWithinABufferPlusAFrame)
{
    TMMConnectorQtLoop loop;
    const double kFrameMs = 1000.0 / GetParam();
    loop.setFramePeriodUs(16667);
    loop.setFrameRate(GetParam());
    Chain c;
    // The due time of the first sound sample the bar is given: the time the
    // device posted its buffer + its place in the buffer.
    double posted = 0, stepAt = -1, stepPosted = -1;
    c.conn.OnBufferReady = [&](TMMCustomDSPComponent*, PWaveHdr) { posted = WindowPoster().DispatchTime() / 1000.0; };
    c.bar1.onBlock = [&](const void* b) {
        if (stepAt >= 0) return;
        const auto* smp = static_cast<const int16_t*>(b);
        const auto offset = static_cast<const char*>(b) - c.conn.TapData();
        for (int i = 0; i < c.bar1.BlockBytes() / 2; ++i)
            if (smp[i] != 0) {
                stepAt = posted + (offset + i * 2) * 1000.0 / 192000;
                stepPosted = posted;
                break;
            }
    };
    double lit = -1;
    c.bar1.afterBlock = [&](const void*) {
        if (lit < 0 && c.level1.BarSpots() > 0) lit = NowMs();
    };
    c.sim.SetSignal(0, "silence");
    c.rec.Open();
    c.rec.Start();
    RunFor(200);
    std::vector<double> late, sincePost;
    for (int trial = 0; trial < 7; ++trial) {
        c.conn.setEnabled(false);  // bars reset
        c.conn.setEnabled(true);
        RunFor(50);
        ASSERT_EQ(c.level1.BarSpots(), 0);
        stepAt = lit = -1;
        c.sim.SetSignal(0, "sine:997:-3");
        QElapsedTimer t;
        t.start();
        while (lit < 0 && t.elapsed() < 500) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 1);
        ASSERT_GE(lit, 0);
        ASSERT_GE(stepAt, 0);
        late.push_back(lit - stepAt);
        sincePost.push_back(lit - stepPosted);
        c.sim.SetSignal(0, "silence");
        RunFor(60);
    }
    c.rec.Stop();
    std::sort(late.begin(), late.end());
    std::sort(sincePost.begin(), sincePost.end());
    // The device posts a buffer once it is full, one buffer (10.7 ms) after
    // its first sample; the bar has the step at the next wake-up of the GUI
    // thread, at most one frame later (median trial; an overloaded machine
    // gets one more frame).
    const double slack = Overloaded() ? kFrameMs : 2.0;
    EXPECT_LE(sincePost[3], kFrameMs + slack) << "since post " << sincePost[0] << " .. " << sincePost[6] << " ms";
    EXPECT_LE(late[3], kFrameMs + slack) << "lateness " << late[0] << " .. " << late[6] << " ms, load "
                                         << LoadAverage();
}

INSTANTIATE_TEST_SUITE_P(DisplayRates, ConnectorChainAtRate, ::testing::Values(60, 12));

TEST(ConnectorChain, PauseFeedsSilenceWithinOneRefresherInterval)
{
    TMMConnectorQtLoop loop;
    Chain c;
    c.sim.SetSignal(0, "sine:997:-3");
    c.rec.Open();
    c.rec.Start();
    RunFor(200);
    ASSERT_GT(c.level1.CurrentLevel(), 10000);
    EXPECT_EQ(c.conn.RefresherIntervalMs(), 25);
    c.rec.Pause();
    ASSERT_TRUE(c.conn.IsTapPaused());
    QElapsedTimer t;
    t.start();
    while (c.level1.CurrentLevel() != 0 && t.elapsed() < 500)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 1);
    const double ms = t.nsecsElapsed() / 1e6;
    // 25 ms refresher, plus a loop step and some scheduling slack.
    EXPECT_LE(ms, Overloaded() ? 25 + 25 : 25 + 10) << ms << " ms, load " << LoadAverage();
    EXPECT_EQ(c.level2.CurrentLevel(), 0);
    c.rec.Restart();
    RunFor(100);
    EXPECT_GT(c.level1.CurrentLevel(), 10000);
    c.rec.Stop();
}

}  // namespace

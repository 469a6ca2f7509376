// End to end on the Qt event loop: simulated recorder (real-time clock,
// 48 kHz 16-bit stereo, 2048-byte buffers) -> connector -> two level bars.
#include "audio/MMConect.h"
#include "audio/MMNotify.h"
#include "audio/MMSimWaveIn.h"
#include "audio/MMWavIn.h"
#include "audio/qt/MMConnectorLoop.h"
#include "metering/MMLevel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>

#include <gtest/gtest.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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
    void ProcessBlock(const void* b) override
    {
        ++blocks;
        TMMLevelSinkFor<TMMCustomLevel>::ProcessBlock(b);
    }
};

void RunFor(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
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
    // 937.5 blocks a second, within 1 %.
    EXPECT_NEAR(blocks / secs, 937.5, 9.375) << "loop steps per second: " << steps;
    // Stopped: bars reset, the loop ends.
    EXPECT_EQ(c.level1.BarSpots(), 0);
    RunFor(20);
    EXPECT_EQ(TMMConnector::ActiveCount(), 0);
    EXPECT_FALSE(loop.TimerActive());
}

double NowMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

TEST(ConnectorChain, LevelStepReachesTheBarWithinABufferPlus2ms)
{
    TMMConnectorQtLoop loop;
    Chain c;
    // Arrival of every buffer and where in it the signal starts.
    double arrival = 0, stepAt = -1;
    c.conn.OnBufferReady = [&](TMMCustomDSPComponent*, PWaveHdr h) {
        arrival = NowMs();
        if (stepAt >= 0) return;
        const auto* s = reinterpret_cast<const int16_t*>(h->lpData);
        for (uint32_t i = 0; i < h->dwBytesRecorded / 2; ++i)
            if (s[i] != 0) {
                stepAt = arrival + (i * 2) * 1000.0 / 192000;  // due time of that sample
                break;
            }
    };
    double lit = -1;
    c.level1.OnInvalidate = [&] {
        if (lit < 0 && c.level1.BarSpots() > 0) lit = NowMs();
    };
    c.sim.SetSignal(0, "silence");
    c.rec.Open();
    c.rec.Start();
    RunFor(200);
    std::vector<double> late;
    for (int trial = 0; trial < 5; ++trial) {
        c.conn.setEnabled(false);  // bars reset
        c.conn.setEnabled(true);
        RunFor(30);
        ASSERT_EQ(c.level1.BarSpots(), 0);
        stepAt = lit = -1;
        c.sim.SetSignal(0, "sine:997:-3");
        QElapsedTimer t;
        t.start();
        while (lit < 0 && t.elapsed() < 500) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 1);
        ASSERT_GE(lit, 0);
        ASSERT_GE(stepAt, 0);
        // The step's place in the stream is one buffer before its due time;
        // the bar must follow within 2 ms of that due time.
        late.push_back(lit - stepAt);
        c.sim.SetSignal(0, "silence");
        RunFor(40);
    }
    c.rec.Stop();
    std::sort(late.begin(), late.end());
    // A loaded machine may delay a single trial.
    EXPECT_LE(late[3], 2.0) << "lateness " << late[0] << " .. " << late[4] << " ms";
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The bars on the GUI thread's one clock (a manual loop with a fake clock
// standing in for the connectors' loop): their repaints and 25 ms peak ticks
// run at its frames, and a bar with nothing to show asks for none.
#include "audio/MMConnectorLoop.h"
#include "metering/MMPresets.h"
#include "metering/MainBar.h"
#include "metering/qt/MMLevel.h"
#include "tests/support/ManualLoop.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>

#include <vector>

namespace {

std::vector<int16_t> Block(int16_t v) { return std::vector<int16_t>(100, v); }  // 50 stereo frames

class LevelClock : public ::testing::Test {
protected:
    void SetUp() override
    {
        loop.SetTime(1000000);
        loop.mFrameUs = 16667;
        loop.mFrames = true;
        SetConnectorLoop(&loop);
    }
    void TearDown() override { SetConnectorLoop(nullptr); }

    // `ms` of clock time: a block of `v` every millisecond, the frames as
    // they come due, and the paints they ask for.
    void Run(TMMLevel& w, int ms, int16_t v)
    {
        const auto b = Block(v);
        for (int i = 0; i < ms; ++i) {
            w.ProcessBlock(b.data());
            loop.Advance(1000);
            if (loop.FrameRequested()) {
                loop.RunPending();
                QCoreApplication::processEvents();
            }
        }
    }

    TMMManualLoop loop{true};
};

// A 100-segment bar with the main window's design.
void MainDesign(TMMLevel& w)
{
    ApplyMainBarDesign(w.Core(), 1);
    w.resize(18, 102);
    WaveFormat f;
    BuildPcmFormat(f, 16, 2, 48000);
    w.SetWaveFormat(&f);
}

TEST_F(LevelClock, SilenceWithASettledPeakRepaintsNothingAndWantsNoFrame)
{
    for (int k = 0; k <= PresetPeakDBFS; ++k) {
        for (const TMMBallisticsMode mode : {bmAsPreset, bmStandard}) {
            for (const TMMDecayMode decay : {dmNone, dmStepUp, dmExponential, dmUniform}) {
                SCOPED_TRACE(testing::Message() << "standard " << k << " ballistics " << mode << " decay " << decay);
                TMMLevel w;
                MainDesign(w);
                TMMCustomLevel& c = w.Core();
                c.setMeterStandard(PresetOf(k).MeterStandard);
                c.setSensitivy(PresetOf(k).Sensitivy);
                c.setBallistics(mode);
                c.setDecayMode(decay);
                c.setPeakDelay(4);
                c.setPeakSpeed(1);
                w.show();
                ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
                Run(w, 100, 16000);  // sound, then digital silence
                Run(w, 6000, 0);     // the bar falls, the peak is held and falls
                // (A detector may leave its lowest segment lit: steady, not moving.)
                EXPECT_LE(c.BarSpots(), 1);
                const int paints = w.PaintCount();
                Run(w, 2000, 0);
                EXPECT_EQ(w.PaintCount(), paints);
                // Without a held peak to count down, the bar wants no wake-up.
                if (c.PeakSpot() == 0) {
                    EXPECT_FALSE(loop.FrameRequested());
                }
            }
        }
    }
}

TEST_F(LevelClock, PeakTicksCountTwentyFiveMillisecondsOfTheClock)
{
    TMMLevel w;
    MainDesign(w);
    TMMCustomLevel& c = w.Core();
    c.setDecayMode(dmNone);
    c.setPeakDelay(4);  // held 9 ticks
    c.setPeakSpeed(0);  // then gone
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    Run(w, 1, 32767);
    ASSERT_GT(c.PeakSpot(), 0);
    Run(w, 50, 0);
    const int paints = w.PaintCount();
    int ms = 50;
    while (c.PeakSpot() > 0 && ms < 1000) {
        Run(w, 1, 0);
        ++ms;
    }
    // 9 ticks of 25 ms: 225 ms, give or take the phase of the ticks and a frame.
    EXPECT_GE(ms, 200);
    EXPECT_LE(ms, 250 + 17);
    // The peak's fall reached the screen at the same frame.
    EXPECT_GT(w.PaintCount(), paints);
}

TEST_F(LevelClock, ChangesOfAFrameShareOneRepaint)
{
    TMMLevel w;
    MainDesign(w);
    w.Core().setNumPeaks(0);
    w.Core().setDecayMode(dmNone);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    Run(w, 50, 0);
    const int paints = w.PaintCount();
    // A bar that rises on every block of one second: one repaint per frame.
    for (int i = 0; i < 1000; ++i) Run(w, 1, static_cast<int16_t>(300 + i * 32));
    const int n = w.PaintCount() - paints;
    EXPECT_LE(n, 61);
    EXPECT_GE(n, 20);  // the log scale moves less at the top
}

}  // namespace

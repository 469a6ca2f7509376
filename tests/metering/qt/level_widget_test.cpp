// The level bar widget, offscreen: repaints coalesced to the refresh
// period, what a grab shows, the peak tick on the GUI thread, lifecycle.
#include "base/TvConstants.h"
#include "metering/qt/MMLevel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QTest>

#include <memory>
#include <vector>

namespace {

// A bar of the meter window, shorter: 18 x 102, raised bevel 1,
// 100 segments, zones at 56 and 70 segments.
void meterBar(TMMLevel& w)
{
    TMMCustomLevel& c = w.Core();
    TMMBevel b;
    b.BevelOuter = bvRaised;
    c.setBevel(b);
    c.setKind(lkVertical);
    w.resize(18, 102);
    c.setSpotWidth(1);
    c.setSpotSpace(0);
    c.setPoint1(56);
    c.setPoint2(70);
    c.setBar1Color(clLime);
    c.setBar2Color(clYellow);
    c.setInactive1Color(clBlack);
    c.setInactive2Color(clBlack);
    c.setInactive3Color(clBlack);
    c.setBitLength(b16Bit);
    c.setMeterStandard(4);
    c.setSensitivy(-40);
}

std::vector<int16_t> block(int peak) { std::vector<int16_t> v(50, 0); v[7] = static_cast<int16_t>(peak); return v; }

}  // namespace

TEST(LevelWidget, GeometryFollowsCoreAndGrabShowsZones)
{
    TMMLevel w;
    meterBar(w);
    EXPECT_EQ(w.Core().DrawWidth(), 16);
    EXPECT_EQ(w.Core().DrawHeight(), 100);
    EXPECT_EQ(w.Core().NumSpots(), 100);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.ProcessBlock(block(32767).data());  // the whole bar, three zones
    const QImage img = w.grab().toImage();
    ASSERT_EQ(img.size(), QSize(18, 102));
    EXPECT_EQ(img.pixelColor(0, 0), QColor(Qt::white));      // raised bevel: light top-left
    EXPECT_EQ(img.pixelColor(17, 101), QColor(128, 128, 128));  // dark bottom-right
    EXPECT_EQ(img.pixelColor(8, 100), QColor(0, 255, 0));      // segment 1 at the bottom
    EXPECT_EQ(img.pixelColor(8, 101 - 60), QColor(255, 255, 0));  // segment 60: middle zone
    EXPECT_EQ(img.pixelColor(8, 1), QColor(255, 0, 0));         // segment 100: top zone
    w.ProcessBlock(block(0).data());  // bar empty, peak held at the top
    const QImage img2 = w.grab().toImage();
    EXPECT_EQ(img2.pixelColor(8, 100), QColor(0, 0, 0));
    EXPECT_EQ(img2.pixelColor(8, 1), QColor(255, 0, 0));
    EXPECT_EQ(img2.pixelColor(8, 2), QColor(0, 0, 0));

    // Kind swaps the widget's own size as well.
    w.Core().setKind(lkHorizontal);
    EXPECT_EQ(w.size(), QSize(102, 18));
    EXPECT_EQ(w.Core().DrawWidth(), 100);
}

TEST(LevelWidget, RepaintsAreCoalescedToTheRefresh)
{
    TMMLevel w;
    meterBar(w);
    w.Core().setNumPeaks(0);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QTest::qWait(50);
    const int before = w.PaintCount();
    QElapsedTimer t;
    t.start();
    int blocks = 0;
    while (t.elapsed() < 300) {  // every block moves the bar
        w.ProcessBlock(block(blocks % 2 ? 32767 : 3277).data());
        ++blocks;
        QCoreApplication::processEvents();
    }
    const qint64 ms = t.elapsed();
    const int paints = w.PaintCount() - before;
    EXPECT_GT(blocks, 2 * paints);
    EXPECT_LE(paints, ms / w.FrameMs() + 3) << blocks << " blocks, " << ms << " ms";
    EXPECT_GE(paints, 2);
    // The last state reaches the screen within a frame.
    w.ProcessBlock(block(32767).data());
    QTRY_VERIFY_WITH_TIMEOUT(w.grab().toImage().pixelColor(8, 1) == QColor(255, 0, 0), 1000);
}

TEST(LevelWidget, PeakTickRunsAndPauses)
{
    TMMLevel w;
    meterBar(w);
    w.Core().setPeakDelay(0);
    w.Core().setPeakSpeed(0);
    w.show();
    w.ProcessBlock(block(32767).data());
    EXPECT_EQ(w.Core().PeakSpot(), 100);
    QTRY_COMPARE_WITH_TIMEOUT(w.Core().PeakSpot(), 0, 2000);  // one 25 ms tick later

    // NumPeaks 0 pauses the tick: a peak set by hand would stay.
    w.Core().setNumPeaks(0);
    w.Core().setNumPeaks(2);
    w.Core().setPeakDelay(4);  // hold 9 ticks
    w.ProcessBlock(block(32767).data());
    w.Core().setNumPeaks(0);  // pauses; PeakCounter := 0
    QTest::qWait(150);
    EXPECT_EQ(w.Core().PeakSpot(), 100);
    w.Core().setNumPeaks(2);
    QTRY_COMPARE_WITH_TIMEOUT(w.Core().PeakSpot(), 0, 2000);
}

TEST(LevelWidget, HiddenOrDisabledAnalysesNothing)
{
    TMMLevel w;
    meterBar(w);
    w.show();
    w.hide();
    w.ProcessBlock(block(20000).data());
    EXPECT_EQ(w.CurrentLevel(), 0);
    w.show();
    w.setEnabled(false);
    EXPECT_FALSE(w.Core().Enabled());
    w.ProcessBlock(block(20000).data());
    EXPECT_EQ(w.CurrentLevel(), 0);
    w.setEnabled(true);
    w.Sink().ProcessBlock(block(20000).data());
    EXPECT_EQ(w.CurrentLevel(), 20000);
    WaveFormat f;
    BuildPcmFormat(f, 24, 2, 48000);
    EXPECT_THROW(w.Sink().SetWaveFormat(&f), EMMLevelError);
}

TEST(LevelWidget, TwentyFourBarsComeAndGo)
{
    for (int round = 0; round < 3; ++round) {
        QWidget parent;
        std::vector<TMMLevel*> bars;
        for (int i = 0; i < tv::kStrips; ++i) {
            auto* b = new TMMLevel(&parent);
            meterBar(*b);
            b->move(i * 20, 0);
            bars.push_back(b);
        }
        parent.show();
        for (int k = 0; k < 50; ++k) {
            for (auto* b : bars) b->ProcessBlock(block(1000 * (k % 30)).data());
            QCoreApplication::processEvents();
        }
        QTest::qWait(30);
        EXPECT_GT(bars[23]->Core().BarSpots(), 0);
    }
}

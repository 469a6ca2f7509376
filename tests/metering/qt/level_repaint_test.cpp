// The level bar widget's repaints, offscreen: a steady bar asks for none, a
// moving one repaints only the changed span, and the kept image always shows
// what a bar drawn afresh shows.
#include "metering/qt/MMLevel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPaintEvent>
#include <QTest>

#include <vector>

namespace {

class ProbeLevel : public TMMLevel {
public:
    std::vector<QRect> rects;

protected:
    void paintEvent(QPaintEvent* e) override
    {
        rects.push_back(e->rect());
        TMMLevel::paintEvent(e);
    }
};

// 18 x 102, raised bevel 1, 100 segments of one pixel.
void meterBar(TMMLevel& w, int depth)
{
    TMMCustomLevel& c = w.Core();
    c.setBitDepth(depth);
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
    c.setInactive1Color(clNavy);
    c.setBitLength(b16Bit);
    c.setMeterStandard(4);
    c.setSensitivy(-40);
}

std::vector<int16_t> block(int peak)
{
    std::vector<int16_t> v(50, 0);
    v[7] = static_cast<int16_t>(peak);
    return v;
}

// Lets the refresh clock run and the repaints land.
void settle() { QTest::qWait(80); }

}  // namespace

TEST(LevelRepaint, SteadyBarAsksForNoRepaint)
{
    ProbeLevel w;
    meterBar(w, 8);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.ProcessBlock(block(16000).data());
    settle();
    const int before = w.PaintCount();
    // The same level block after block: the peak is caught again at its
    // segment every time, which changes no pixel.
    for (int i = 0; i < 200; ++i) {
        w.ProcessBlock(block(16000).data());
        if (i % 10 == 0) QCoreApplication::processEvents();
    }
    settle();
    EXPECT_EQ(w.PaintCount(), before);
}

TEST(LevelRepaint, MovingBarRepaintsOnlyItsSpanAndMatchesAFreshBar)
{
    for (int depth : {8, 24}) {
        ProbeLevel w;
        meterBar(w, depth);
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        w.ProcessBlock(block(32767).data());
        settle();
        w.rects.clear();
        w.ProcessBlock(block(3277).data());  // 100 -> 50 segments, peak held at the top
        settle();
        ASSERT_FALSE(w.rects.empty()) << depth;
        const QRect r = w.rects.back();
        EXPECT_GE(r.top(), 2) << depth;  // the held peak and the bevel stay as they are
        EXPECT_LE(r.bottom(), 101 - 50) << depth;
        EXPECT_LT(r.height(), 60) << depth;

        // Several partial repaints later the picture equals one drawn at once.
        for (int peak : {8000, 20000, 1000, 12000}) {
            w.ProcessBlock(block(peak).data());
            settle();
        }
        TMMLevel fresh;
        meterBar(fresh, depth);
        for (int peak : {32767, 12000}) fresh.ProcessBlock(block(peak).data());
        EXPECT_EQ(w.grab().toImage(), fresh.grab().toImage()) << depth;
    }
}

// What the widget shows against a full compose of the core's present state.
int differingPixels(TMMLevel& w)
{
    const QImage shown = w.grab().toImage();
    TMMCustomLevel& c = w.Core();
    c.DrawLevel();
    const TMMDIBCanvas& dib = c.WorkCanvas();
    const int inset = c.Bevel().TotalWidth();
    int bad = 0;
    for (int y = 0; y < dib.Height(); ++y)
        for (int x = 0; x < dib.Width(); ++x) {
            const TColor p = dib.Pixel(x, y);
            if (shown.pixelColor(x + inset, y + inset) != QColor(ColorRed(p), ColorGreen(p), ColorBlue(p))) ++bad;
        }
    return bad;
}

TEST(LevelRepaint, PartialRedrawsMatchAFullCompose)
{
    struct Case {
        int depth;
        TMMLevelDirection dir;
        int space;
        bool doted;
        TMMLevelKind kind;
    };
    const Case cases[] = {{8, dirNormal, 1, true, lkVertical},
                          {24, dirReversed, 0, false, lkVertical},
                          {8, dirNormal, 2, false, lkHorizontal},
                          {8, dirSymetric, 0, false, lkVertical}};
    for (const Case& k : cases) {
        TMMLevel w;
        meterBar(w, k.depth);
        TMMCustomLevel& c = w.Core();
        c.setDirection(k.dir);
        c.setSpotSpace(k.space);
        c.setActiveDoted(k.doted);
        c.setNumPeaks(3);
        // The widget's own 25 ms ticks move a held peak only after 10000 ticks,
        // so only the ticks below move it (a tick shows at the next block).
        c.setLeaveMaxPeak(true);
        c.setPeakSpeed(1);
        if (k.kind == lkHorizontal) c.setKind(lkHorizontal);
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        int step = 0;
        for (int peak : {32767, 3277, 20000, 500, 9000, 30000, 0, 0, 12000, 16000}) {
            w.ProcessBlock(block(peak).data());
            for (int t = 0; t < (step % 3) * 10000; ++t) c.PeakTick();  // the held peak falls
            if (step++ % 2) w.ProcessBlock(block(peak / 2).data());
            settle();
        }
        EXPECT_EQ(differingPixels(w), 0) << k.depth << " " << k.dir << " " << k.space << " " << k.kind;
    }
}

TEST(LevelRepaint, PropertyChangesRepaintTheWholeBar)
{
    ProbeLevel w;
    meterBar(w, 8);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.ProcessBlock(block(3277).data());
    settle();
    // Same frame width, other style: no bitmap pixel changes, the frame does.
    w.rects.clear();
    TMMBevel b = w.Core().Bevel();
    b.BevelOuter = bvLowered;
    w.Core().setBevel(b);
    settle();
    ASSERT_FALSE(w.rects.empty());
    EXPECT_EQ(w.rects.back(), w.rect());

    // A one-pixel bitmap has the same row size at both depths.
    ProbeLevel thin;
    meterBar(thin, 8);
    thin.resize(3, 102);
    thin.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&thin));
    thin.ProcessBlock(block(32767).data());
    settle();
    thin.Core().setBitDepth(24);
    thin.ProcessBlock(block(32767).data());
    settle();
    TMMLevel fresh;
    meterBar(fresh, 24);
    fresh.resize(3, 102);
    fresh.ProcessBlock(block(32767).data());
    EXPECT_EQ(thin.grab().toImage(), fresh.grab().toImage());
}

TEST(LevelRepaint, HiddenBarCatchesUpWhenShown)
{
    TMMLevel w;
    meterBar(w, 8);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    settle();
    w.hide();
    w.Core().setBar1Color(clRed);  // changes while hidden
    w.setValue(30);
    settle();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    settle();
    EXPECT_EQ(w.grab().toImage().pixelColor(8, 100), QColor(255, 0, 0));
}

TEST(LevelRepaint, FallingPeakShowsWithoutFurtherBlocks)
{
    ProbeLevel w;
    meterBar(w, 8);
    w.Core().setPeakDelay(1);
    w.Core().setPeakSpeed(1);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.ProcessBlock(block(32767).data());
    w.ProcessBlock(block(0).data());  // bar down, peak held at the top
    settle();
    const int peakBefore = w.Core().PeakSpot();
    const int paintsBefore = w.PaintCount();
    QTest::qWait(400);  // the 25 ms ticks lower the peak; no block arrives
    EXPECT_LT(w.Core().PeakSpot(), peakBefore);
    EXPECT_GT(w.PaintCount(), paintsBefore);
}

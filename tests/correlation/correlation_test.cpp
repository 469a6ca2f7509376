#include "correlation/MMCorrelation.h"
#include "correlation/MMCorrelationPair.h"
#include "correlation/MMCorrelationPlace.h"
#include "correlation/MMOscope.h"
#include "audio/MMDSPObj.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace {

using Table = std::array<double, 601>;

Table Wave(double amp, double period, double phase = 0)
{
    Table t{};
    for (int i = 0; i < 601; ++i) t[static_cast<size_t>(i)] = amp * std::sin(2 * M_PI * i / period + phase);
    return t;
}

TEST(Correlation, PearsonOverEntries1To199)
{
    const Table a = Wave(0.7, 40);
    Table neg = a;
    for (double& v : neg) v = -v;
    EXPECT_EQ(ColumnCorrelation(a.data(), a.data()), 1.0);  // not a hair above
    EXPECT_EQ(ColumnCorrelation(a.data(), neg.data()), -1.0);
    EXPECT_NEAR(ColumnCorrelation(a.data(), Wave(0.3, 40, M_PI / 2).data()), 0.0, 0.02);
    // A constant (silent) side gives 0, not a division by zero.
    const Table flat{};
    EXPECT_EQ(ColumnCorrelation(a.data(), flat.data()), 0.0);
    EXPECT_EQ(ColumnCorrelation(flat.data(), flat.data()), 0.0);
    // Entry 0 and entries from 200 on take no part.
    Table b = a;
    b[0] = -5;
    for (size_t i = 200; i < b.size(); ++i) b[i] = 9;
    EXPECT_EQ(ColumnCorrelation(a.data(), b.data()), 1.0);
}

TEST(Correlation, RoundingHalvesToEvenAndPercentages)
{
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(-0.5), 0);
    EXPECT_EQ(RoundHalfEven(-1.5), -2);
    EXPECT_EQ(RoundHalfEven(-2.6), -3);
    EXPECT_EQ(RoundHalfEven(std::nan("")), 0);
    EXPECT_EQ(PercentHalfEven(8, 10), 80);
    EXPECT_EQ(PercentHalfEven(1, 8), 12);  // 12.5
    EXPECT_EQ(PercentHalfEven(3, 8), 38);  // 37.5
    EXPECT_EQ(PercentHalfEven(1, 200), 0);  // 0.5
    EXPECT_EQ(PercentHalfEven(3, 200), 2);  // 1.5
    EXPECT_EQ(PercentHalfEven(0, 0), 0);
    EXPECT_EQ(FormatCorrelationPercent(80), "80%");
    EXPECT_EQ(FormatCorrelationExtreme(1.0), "   1.00");
    EXPECT_EQ(FormatCorrelationExtreme(-1.0), "  -1.00");
    EXPECT_EQ(FormatCorrelationExtreme(0.8), "   0.80");
}

TEST(Correlation, BarPositions)
{
    EXPECT_EQ(CorrelationBarPosition(-1), 8);
    EXPECT_EQ(CorrelationBarPosition(0), 150);
    EXPECT_EQ(CorrelationBarPosition(1), 292);
    EXPECT_EQ(CorrelationBarPosition(1.7), 292);   // limited
    EXPECT_EQ(CorrelationBarPosition(-3), 8);
    EXPECT_EQ(CorrelationBarPosition(0.0065), 150);  // 6 / 7 truncates
    EXPECT_EQ(CorrelationBarPosition(-0.007), 149);
    EXPECT_EQ(CorrelationBarPosition(0.0005), 150);  // 0.5 rounds to 0
    EXPECT_EQ(CorrelationBarPosition(-0.994), 8);
    EXPECT_EQ(CorrelationBarPosition(-0.993), 9);
}

TEST(Correlation, FastFillsOver31StepsThenSlides)
{
    TMMCorrelation c;
    c.ApplySpeed(0);
    ASSERT_EQ(c.N(), 30);
    ASSERT_EQ(c.P(), 100);
    // Coefficients 0.01, 0.02, ...: the filling mean of k of them is
    // 0.01 (k + 1) / 2.
    for (int k = 1; k <= 31; ++k) {
        const auto r = c.StepCoefficient(0.01 * k);
        EXPECT_NEAR(c.Mean(), 0.01 * (k + 1) / 2, 1e-12) << k;
        EXPECT_EQ(c.Fill(), k);
        EXPECT_EQ(r.maxChanged, k == 31) << k;
        EXPECT_EQ(c.Maximum(), k == 31 ? c.Mean() : 0.0) << k;
    }
    // The 32nd covers 0.02 ... 0.32.
    c.StepCoefficient(0.32);
    EXPECT_NEAR(c.Mean(), 0.17, 1e-12);
    EXPECT_EQ(c.Fill(), 31);
    // A run of any length keeps sliding (the fill count stops at N + 1).
    for (int i = 0; i < 5000; ++i) c.StepCoefficient(-0.5);
    EXPECT_EQ(c.Fill(), 31);
    EXPECT_DOUBLE_EQ(c.Mean(), -0.5);
    EXPECT_DOUBLE_EQ(c.Minimum(), -0.5);
    EXPECT_EQ(c.Steps(), 5032u);
}

TEST(Correlation, ExtremesResetAndSpeedChange)
{
    TMMCorrelation c;
    c.ApplySpeed(0);
    for (int i = 0; i < 31; ++i) c.StepCoefficient(-0.4);
    for (int i = 0; i < 31; ++i) c.StepCoefficient(0.3);
    EXPECT_DOUBLE_EQ(c.Minimum(), -0.4);
    EXPECT_DOUBLE_EQ(c.Maximum(), 0.3);
    c.ResetExtremes();
    EXPECT_EQ(c.Minimum(), 0.0);
    EXPECT_EQ(c.Maximum(), 0.0);
    for (int i = 0; i < 31; ++i) c.StepCoefficient(0.8);
    EXPECT_DOUBLE_EQ(c.Maximum(), 0.8);
    EXPECT_EQ(c.Minimum(), 0.0);  // no negative mean since the reset

    // SLOW restarts the fill but keeps the extremes and the coefficients.
    c.ApplySpeed(2);
    EXPECT_EQ(c.Fill(), 0);
    EXPECT_EQ(c.N(), 290);
    EXPECT_EQ(c.P(), 499);
    for (int i = 0; i < 290; ++i) EXPECT_FALSE(c.StepCoefficient(-0.9).minChanged);
    EXPECT_DOUBLE_EQ(c.Maximum(), 0.8);
    EXPECT_EQ(c.Minimum(), 0.0);
    EXPECT_TRUE(c.StepCoefficient(-0.9).minChanged);  // the 291st
    EXPECT_NEAR(c.Minimum(), -0.9, 1e-12);
    // Out-of-range speeds take the nearest.
    c.ApplySpeed(7);
    EXPECT_EQ(c.SpeedIndex(), 2);
    c.ApplySpeed(-1);
    EXPECT_EQ(c.SpeedIndex(), 0);
}

TEST(Correlation, StepsBeforeAnySpeedDoNotDivideByZero)
{
    TMMCorrelation c;
    EXPECT_FALSE(c.SpeedApplied());
    const Table a = Wave(0.5, 33);
    c.Step(a.data(), a.data());
    EXPECT_EQ(c.Mean(), 1.0);
    EXPECT_EQ(c.SmoothedPosition(), 292);  // a window of one position
    c.Tick();
    EXPECT_EQ(c.PositiveTicks(), 0);  // not shown yet: not positive
    EXPECT_EQ(c.AllTicks(), 1);
}

TEST(Correlation, SmoothedPositionRisesFromZeroAndTicksCount)
{
    TMMCorrelation c;
    c.ApplySpeed(0);  // P = 100
    c.StepCoefficient(1);
    EXPECT_EQ(c.BarPosition(), 292);
    EXPECT_EQ(c.SmoothedPosition(), 2);  // 292 / 101
    for (int i = 0; i < 100; ++i) c.StepCoefficient(1);
    EXPECT_EQ(c.SmoothedPosition(), 292);
    // 8 of 10 ticks non-negative: 80 %.
    for (int i = 0; i < 8; ++i) c.Tick();
    for (int i = 0; i < 31; ++i) c.StepCoefficient(-0.2);
    c.Tick();
    c.Tick();
    EXPECT_EQ(c.PositivePercent(), 80);
    c.ResetTicks();
    EXPECT_EQ(c.PositivePercent(), 0);
    c.Tick();  // negative
    for (int i = 0; i < 31; ++i) c.StepCoefficient(0);
    for (int i = 0; i < 7; ++i) c.Tick();  // 0 counts as positive
    EXPECT_EQ(c.PositivePercent(), 88);   // 7 of 8 = 87.5
}

TEST(CorrelationStrip, MarkersOfTheThreeEdgeCases)
{
    TMMCorrelationStrip s;
    // Before the window is shown all colours are black.
    ASSERT_TRUE(s.Draw(292, 292));
    EXPECT_EQ(s.Pixel(296, 0), 0u);
    s.SetColors(clYellow, clRed, clLime);

    // +1: marker at 296 outlined lime with a yellow core; the bar is drawn
    // from the smoothed end (293) to it.
    ASSERT_TRUE(s.Draw(292, 292));
    EXPECT_EQ(s.MarkerColumn(), 296);
    EXPECT_EQ(s.MarkerColor(), clLime);
    for (int y : {0, 14, 15}) EXPECT_EQ(s.Pixel(297, y), clLime) << y;
    for (int x : {295, 296, 298, 299}) EXPECT_EQ(s.Pixel(x, 8), clLime) << x;
    EXPECT_EQ(s.Pixel(297, 8), clYellow);
    EXPECT_EQ(s.Pixel(294, 4), clYellow);  // bar
    EXPECT_EQ(s.Pixel(200, 4), clBlack);
    EXPECT_FALSE(s.Draw(292, 292));  // nothing changes: no redraw

    // -1: column 4, red.
    ASSERT_TRUE(s.Draw(8, 8));
    EXPECT_EQ(s.MarkerColumn(), 4);
    EXPECT_EQ(s.Pixel(4, 10), clRed);
    EXPECT_EQ(s.Pixel(5, 10), clYellow);
    EXPECT_EQ(s.Pixel(3, 15), clRed);
    EXPECT_EQ(s.Pixel(292, 4), clBlack);

    // 0: column 150, all yellow; a bar to the smoothed position 100 - 4.
    ASSERT_TRUE(s.Draw(100, 150));
    EXPECT_EQ(s.MarkerColumn(), 150);
    EXPECT_EQ(s.Pixel(150, 0), clYellow);
    EXPECT_EQ(s.Pixel(97, 4), clYellow);
    EXPECT_EQ(s.Pixel(120, 8), clYellow);
    EXPECT_EQ(s.Pixel(120, 9), clBlack);
    EXPECT_EQ(s.Pixel(94, 4), clBlack);
    // Right of the centre the smoothed end moves out by 1, the marker by 4.
    ASSERT_TRUE(s.Draw(151, 160));
    EXPECT_EQ(s.MarkerColumn(), 164);
    EXPECT_EQ(s.Pixel(151, 4), clYellow);  // a + 1 = 152, pen one beyond
    EXPECT_EQ(s.Pixel(150, 4), clBlack);
}

// Scopes set up as the window's: 200 x 200, a lowered 1-pixel bevel.
struct ScopePair {
    TMMOscope l, r;
    ScopePair()
    {
        WaveFormat f;
        BuildPcmFormat(f, 16, 2, 44100);
        TMMBevel b;
        b.BevelOuter = bvLowered;
        for (TMMOscope* s : {&l, &r}) {
            s->setKind(okConLines);
            s->setBevel(b);
            s->SetClientSize(200, 200);
            s->ApplyFormat(&f);
        }
        l.setChannel(chLeft);
        r.setChannel(chRight);
    }
    void Feed(double gainRight, double amp = 20000)
    {
        std::vector<int16_t> frames;
        for (int i = 0; i < 198; ++i) {
            const double v = amp * std::sin(i * 2 * M_PI / 45.3);
            frames.push_back(static_cast<int16_t>(std::lround(v)));
            frames.push_back(static_cast<int16_t>(std::lround(v * gainRight)));
        }
        l.AcceptSamples(frames.data());
        r.AcceptSamples(frames.data());
    }
};

TEST(Correlation, ThroughScopeColumnValues)
{
    ScopePair p;
    ASSERT_EQ(p.l.Columns(), 198);
    ASSERT_EQ(p.l.DisplayBytes(), 792);
    TMMCorrelation c;
    c.ApplySpeed(1);
    // Identical: 1.00 and the marker at 296.
    p.Feed(1);
    for (int i = 0; i < 151; ++i) c.Step(p.l.ColumnValues().data(), p.r.ColumnValues().data());
    EXPECT_EQ(FormatCorrelationExtreme(c.Maximum()), "   1.00");
    EXPECT_EQ(c.BarPosition(), 292);
    // Left = -right survives the row quantisation: -1.00 and column 4.
    c.ApplySpeed(1);
    p.Feed(-1);
    for (int i = 0; i < 151; ++i) c.Step(p.l.ColumnValues().data(), p.r.ColumnValues().data());
    EXPECT_EQ(FormatCorrelationExtreme(c.Minimum()), "  -1.00");
    EXPECT_EQ(c.BarPosition(), 8);
    // At a low level only a few rows are used, and the rows of -s are not
    // the mirror of those of s: a little short of -1.
    c.ApplySpeed(0);
    p.Feed(-1, 800);
    for (int i = 0; i < 31; ++i) c.Step(p.l.ColumnValues().data(), p.r.ColumnValues().data());
    EXPECT_LT(c.Mean(), -0.97);
    // One side silent: 0.
    p.Feed(0);
    c.Step(p.l.ColumnValues().data(), p.r.ColumnValues().data());
    EXPECT_EQ(c.Coefficient(), 0.0);
}

// ---- pair selection ----------------------------------------------------------

struct FakeHost : TCorrelationHost {
    std::vector<std::string> log;
    std::array<TMMDSPComponent, 6> connectors;
    int failStart = 0;
    void CloseRecorder(int k) override { log.push_back("close" + std::to_string(k)); }
    void StartRecorder(int k) override
    {
        if (k == failStart) throw std::runtime_error("WaveInOpen:\n\rno device");
        log.push_back("start" + std::to_string(k));
    }
    TMMDSPComponent& Connector(int k) override { return connectors[static_cast<size_t>(k - 1)]; }
    int ReadInt(const std::string&, int def) override { return def; }
};

TEST(CorrelationPair, RewiresAndRestartsInOrder)
{
    FakeHost h;
    TMMDSPComponent core;
    h.Connector(1).setOutput(&core);
    SelectCorrelationPair(h, core, 3);
    EXPECT_EQ(h.log, (std::vector<std::string>{"close1", "close2", "close3", "close4", "close5", "close6", "start1",
                                               "start2", "start3", "start4", "start5", "start6"}));
    for (int k = 1; k <= 6; ++k) EXPECT_EQ(h.Connector(k).Output(), k == 4 ? &core : nullptr) << k;
    EXPECT_EQ(core.Input(), &h.Connector(4));

    // A failing start ends the sequence there.
    h.log.clear();
    h.failStart = 3;
    EXPECT_THROW(SelectCorrelationPair(h, core, 9), std::runtime_error);  // 9: the last pair
    EXPECT_EQ(h.log.back(), "start2");
    EXPECT_EQ(h.log.size(), 8u);
    EXPECT_EQ(h.Connector(6).Output(), &core);
}

TEST(CorrelationPlace, BesideTheMainWindowWithoutHidingItsCaptionOrMenu)
{
    const TPlaceRect screen{0, 0, 1920, 1080};
    auto covers = [](TPlacePoint p, int w, int h, const TPlaceRect& m) {
        return p.x < m.x + m.w && m.x < p.x + w && p.y < m.y + m.h && m.y < p.y + h;
    };
    // Two channels: a narrow main window, room on its right.
    const TPlaceRect narrow{8, 7, 130, 1028};
    TPlacePoint p = CorrelationWindowPlace(screen, narrow, 60, 569, 138);
    EXPECT_EQ(p.x, 138);
    EXPECT_EQ(p.y, 7);
    // A main window at the right edge: the window goes to its left.
    const TPlaceRect right{1400, 0, 500, 1000};
    p = CorrelationWindowPlace(screen, right, 60, 569, 138);
    EXPECT_FALSE(covers(p, 569, 138, right));
    EXPECT_EQ(p.x, 1400 - 569);
    // Short and wide: below it.
    const TPlaceRect wide{0, 0, 1900, 500};
    p = CorrelationWindowPlace(screen, wide, 60, 569, 138);
    EXPECT_EQ(p.y, 500);
    EXPECT_FALSE(covers(p, 569, 138, wide));
    // 24 channels on a full HD screen: no free place; it covers a sliver of the
    // strips under the menu, never the caption and menu.
    const TPlaceRect full{8, 7, 1390, 1060};
    p = CorrelationWindowPlace(screen, full, 60, 569, 138);
    EXPECT_EQ(p.x, 1920 - 569);
    EXPECT_EQ(p.y, 67);
    // A screen smaller than the window keeps its top left corner on it.
    p = CorrelationWindowPlace({100, 50, 300, 100}, {100, 50, 300, 100}, 40, 569, 138);
    EXPECT_EQ(p.x, 100);
    EXPECT_EQ(p.y, 50);
}

}  // namespace

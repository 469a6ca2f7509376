// Label layout and tick rows of the level scale, measured with a fake font.
#include "metering/MMScale.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// 13 pixels high; digits 6, minus 4, blank 3, anything else 7 pixels wide.
class FakeFont : public IScaleTextMeasure {
public:
    int Height = 13;
    int TextWidth(const std::string& t) const override
    {
        int w = 0;
        for (char c : t) w += (c >= '0' && c <= '9') ? 6 : c == '-' ? 4 : c == ' ' ? 3 : 7;
        return w;
    }
    int TextHeight(const std::string&) const override { return Height; }
};

std::vector<TScaleOp> OpsOf(const std::vector<TScaleOp>& ops, TScaleOpKind kind)
{
    std::vector<TScaleOp> out;
    for (const auto& op : ops)
        if (op.Kind == kind) out.push_back(op);
    return out;
}

struct Painted {
    std::vector<TScaleOp> Texts;
    std::vector<TScaleOp> Lines;
};

Painted PaintScale(TMMCustomLevelScale& s, const FakeFont& font = FakeFont())
{
    TScaleCanvas c(s.Width(), s.Height(), &font);
    s.Paint(c);
    return {OpsOf(c.Ops(), TScaleOpKind::Text), OpsOf(c.Ops(), TScaleOpKind::Line)};
}

std::vector<std::string> TextsOf(const std::vector<TScaleOp>& texts)
{
    std::vector<std::string> out;
    for (const auto& t : texts) out.push_back(t.Text);
    return out;
}

// The strip scale: vertical, 31 x 753, 26 positions.
void StripScale(TMMCustomLevelScale& s, int sensitivy)
{
    s.setKind(lkVertical);
    s.setBounds(31, 753);
    s.setScaleTicks(26);
    s.setSensitivy(sensitivy);
}

}  // namespace

TEST(ScaleMath, MulDivRoundsHalvesAwayFromZero)
{
    EXPECT_EQ(ScaleMath::MulDiv(1, 5, 2), 3);
    EXPECT_EQ(ScaleMath::MulDiv(-1, 5, 2), -3);
    EXPECT_EQ(ScaleMath::MulDiv(1, -42, 25), -2);   // -1.68
    EXPECT_EQ(ScaleMath::MulDiv(3, -42, 25), -5);   // -5.04
    EXPECT_EQ(ScaleMath::MulDiv(32767, 1, 25), 1311);
    EXPECT_EQ(ScaleMath::MulDiv(0x40000000, 8, 4), -1);  // result beyond 32 bits
    EXPECT_EQ(ScaleMath::MulDiv(5, 5, 0), -1);
    EXPECT_EQ(ScaleMath::RoundDiv(7, 752, 25), 211);
    EXPECT_EQ(ScaleMath::RoundDiv(-1, 5, 2), -2);  // truncating division
    EXPECT_EQ(ScaleMath::RoundDiv(1, 1, 0), 0);
    EXPECT_EQ(ScaleMath::Round(50.5L), 50);
    EXPECT_EQ(ScaleMath::Round(51.5L), 52);
}

TEST(LevelScaleLabels, VerticalMinus42AtStripHeight)
{
    TMMCustomLevelScale s;
    StripScale(s, -42);
    const Painted p = PaintScale(s);
    const std::vector<std::string> expected = {
        "0",   "--",  "--",  "-5",  "--",  "--",  "-10", "--",  "--",  "-15", "--",  "--",  "-20",
        "--",  "--",  "-25", "--",  "--",  "-30", "-32", "-34", "-35", "-37", "-39", "-40"};
    EXPECT_EQ(TextsOf(p.Texts), expected);  // the 26th ("-42" at 752) would overflow
    ASSERT_EQ(p.Texts.size(), 25u);
    const int tops[] = {0, 30, 60, 90, 120, 150, 180, 211, 241};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(p.Texts[i].Y1, tops[i]) << i;
    EXPECT_EQ(p.Texts.back().Y1, 722);
    // Right-aligned on a column as wide as "-42" (16) centred in 31 pixels.
    FakeFont f;
    for (const auto& t : p.Texts) EXPECT_EQ(t.X1 + f.TextWidth(t.Text), 23) << t.Text;
}

TEST(LevelScaleLabels, VerticalMinus72AndZoneColours)
{
    TMMCustomLevelScale s;
    StripScale(s, -72);
    s.setPoint1(91);
    s.setPoint2(92);
    s.setScale1Color(clSilver);
    s.setScale2Color(clSilver);
    const Painted p = PaintScale(s);
    const std::vector<std::string> expected = {
        "0",   "--",  "-6",  "-9",  "--",  "-14", "--",  "-20", "-23", "-26", "--",  "-32", "-35",
        "-37", "-40", "-43", "-46", "-49", "-52", "-55", "-58", "-60", "-63", "-66", "-69"};
    EXPECT_EQ(TextsOf(p.Texts), expected);
    for (size_t i = 0; i < p.Texts.size(); ++i)
        EXPECT_EQ(p.Texts[i].Color, i < 3 ? clRed : clSilver) << i;
}

TEST(LevelScaleLabels, HorizontalWritesEveryValueRightAligned)
{
    TMMCustomLevelScale s;  // horizontal by default
    s.setBounds(400, 13);
    s.setScaleTicks(26);
    s.setSensitivy(-42);
    const Painted p = PaintScale(s);
    ASSERT_FALSE(p.Texts.empty());
    for (const auto& t : p.Texts) EXPECT_NE(t.Text, "--");
    // The walk starts at the right (0 dB) end.
    FakeFont f;
    const TScaleOp& zero = p.Texts.front();
    EXPECT_EQ(zero.Text, "0");
    EXPECT_EQ(zero.X1 + f.TextWidth("0"), 399);
    EXPECT_EQ(p.Texts.back().Text, "-40");  // "-42" at position 0 would start left of 0
    EXPECT_EQ(p.Texts.back().X1, 0);
    EXPECT_EQ(p.Texts.size(), 25u);
}

TEST(LevelScaleLabels, LinearAmplitudeValues)
{
    TMMCustomLevelScale s;
    StripScale(s, -42);
    s.setScaleTicks(3);
    s.setLogAmp(false);
    s.setBounds(31, 300);
    const Painted p = PaintScale(s);
    // Top 0 dB, middle half amplitude (-6 dB), bottom skipped (would overflow).
    EXPECT_EQ(TextsOf(p.Texts), (std::vector<std::string>{"0", "-6"}));
    EXPECT_EQ(TMMCustomLevelScale::LabelValue(0, 25, -42, false), -42);
    EXPECT_EQ(TMMCustomLevelScale::LabelValue(0, 25, -90, false), -90);
}

TEST(LevelScaleLabels, ReversedAndSymmetricPlacement)
{
    TMMCustomLevelScale s;
    StripScale(s, -40);
    s.setScaleTicks(5);
    s.setBounds(31, 201);
    s.setDirection(dirReversed);
    Painted p = PaintScale(s);
    // 0 dB at the bottom, its text ending on the last row; -40 at the top
    // would start above the control.
    EXPECT_EQ(TextsOf(p.Texts), (std::vector<std::string>{"0", "-10", "-20", "-30"}));
    EXPECT_EQ(p.Texts.front().Y1, 200 - 13);
    EXPECT_EQ(p.Texts.back().Y1, 50 - 13);

    s.setDirection(dirSymetric);
    p = PaintScale(s);
    // Centre "0" then pairs mirrored about the middle row 101.
    ASSERT_GE(p.Texts.size(), 3u);
    EXPECT_EQ(p.Texts[0].Text, "0");
    EXPECT_EQ(p.Texts[0].Y1, 100 + 1 - 6);
    EXPECT_EQ(p.Texts[1].Text, "-10");
    EXPECT_EQ(p.Texts[2].Text, "+10");
    EXPECT_EQ(p.Texts[1].Y1 + p.Texts[2].Y1, 2 * (101 - 6));
}

TEST(LevelScaleLabels, SpacingSearchHasAnAnswerForEveryInput)
{
    EXPECT_EQ(TMMCustomLevelScale::LabelSpacing(753, 13, 25), 1);
    EXPECT_EQ(TMMCustomLevelScale::LabelSpacing(200, 13, 25), 2);   // 12 * 13 <= 200
    EXPECT_EQ(TMMCustomLevelScale::LabelSpacing(20, 13, 25), 13);   // one interval fits
    EXPECT_EQ(TMMCustomLevelScale::LabelSpacing(10, 13, 25), 25);   // none fits: ends only
    EXPECT_EQ(TMMCustomLevelScale::LabelSpacing(0, 13, 25), 25);
    EXPECT_EQ(TMMCustomLevelScale::LabelSpacing(-5, 13, 25), 25);
    EXPECT_EQ(TMMCustomLevelScale::LabelSpacing(100, 0, 25), 1);    // zero-size font

    TMMCustomLevelScale s;
    StripScale(s, -42);
    s.setBounds(31, 10);
    EXPECT_TRUE(PaintScale(s).Texts.empty());  // too short: no label fits
    s.setBounds(31, 0);
    EXPECT_TRUE(PaintScale(s).Texts.empty());
    FakeFont zero;
    zero.Height = 0;
    s.setBounds(31, 100);
    EXPECT_EQ(PaintScale(s, zero).Texts.size(), 26u);
    s.setKind(lkHorizontal);  // width measures come from the font too
    s.setScaleTicks(MaxScaleCount + 100);
    EXPECT_EQ(s.ScaleTicks(), MaxScaleCount);
    EXPECT_NO_THROW(PaintScale(s));
}

TEST(LevelScaleProperties, ClampsKindSwapAndNotifications)
{
    TMMCustomLevelScale s;
    int changes = 0;
    s.OnChange = [&](TMMCustomLevelScale*) { ++changes; };
    s.setSensitivy(-100);
    EXPECT_EQ(s.Sensitivy(), -90);
    s.setSensitivy(0);
    EXPECT_EQ(s.Sensitivy(), -9);
    s.setPoint1(0);
    s.setPoint2(101);
    EXPECT_EQ(s.Point1(), 1);
    EXPECT_EQ(s.Point2(), 100);
    s.setScaleTicks(1);
    EXPECT_EQ(s.ScaleTicks(), 2);
    EXPECT_EQ(changes, 5);

    EXPECT_EQ(s.Width(), 200);
    EXPECT_EQ(s.Height(), 7);
    s.setKind(lkVertical);
    EXPECT_EQ(s.Width(), 7);
    EXPECT_EQ(s.Height(), 200);
    s.setKind(lkVertical);
    EXPECT_EQ(s.Width(), 7);

    EXPECT_FALSE(s.Scale().Visible());
    s.Scale().setSize(9);  // a change of the owned row repaints too
    EXPECT_EQ(changes, 8);
}

TEST(TickRow, BandWidthClampsAndMissingCanvas)
{
    TMMScale row;
    EXPECT_TRUE(row.Visible());
    EXPECT_EQ(row.BandWidth(), 7);
    row.setConnect(true);
    EXPECT_EQ(row.BandWidth(), 8);
    row.setStyle(stLowered);
    EXPECT_EQ(row.BandWidth(), 9);

    row.setTickCount(0);
    row.setEnlargeEvery(0);
    row.setSize(-3);
    EXPECT_EQ(row.TickCount(), 2);
    EXPECT_EQ(row.EnlargeEvery(), 1);
    EXPECT_EQ(row.Size(), 1);

    try {
        row.DrawScale({0, 0, 10, 100}, true);
        FAIL() << "no error without a canvas";
    } catch (const EMMScaleError& e) {
        EXPECT_STREQ(e.what(), "Canvas needed for this operation");
    }
}

TEST(TickRow, AssignCopiesIntoTheOwnedRowAndRepaints)
{
    TMMScale src;
    src.setStyle(stRaised);
    src.setTickCount(21);
    src.setOrigin(soOuter);
    TMMCustomLevelScale owner;
    int changes = 0;
    owner.OnChange = [&](TMMCustomLevelScale*) { ++changes; };
    owner.setScale(src);
    EXPECT_TRUE(owner.Scale().Visible());
    EXPECT_EQ(owner.Scale().Style(), stRaised);
    EXPECT_EQ(owner.Scale().TickCount(), 21);
    EXPECT_EQ(owner.Scale().Origin(), soOuter);
    EXPECT_EQ(changes, 1);
}

TEST(TickRow, VerticalRowPositionsRoundHalvesToEven)
{
    TMMScale row;
    TScaleCanvas c(20, 120);
    row.DrawScale(&c, {0, 0, 7, 101}, true);  // 11 ticks over 101 rows, inner on the left
    const auto lines = OpsOf(c.Ops(), TScaleOpKind::Line);
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[0].Y1, 0);
    EXPECT_EQ(lines[1].Y1, 10);
    EXPECT_EQ(lines[5].Y1, 50);   // 50.5
    EXPECT_EQ(lines[10].Y1, 101);
    EXPECT_EQ(lines[0].X1, 0);    // long tick from Right - Size
    EXPECT_EQ(lines[0].X2, 7);
    EXPECT_EQ(lines[1].X1, 4);    // short tick of Size div 2
    EXPECT_EQ(lines[5].X1, 0);

    c.Clear();
    row.setOrigin(soOuter);
    row.DrawScale({0, 0, 7, 101}, true);  // outer on the first side: from Left
    EXPECT_EQ(OpsOf(c.Ops(), TScaleOpKind::Line)[1].X1, 0);
    EXPECT_EQ(OpsOf(c.Ops(), TScaleOpKind::Line)[1].X2, 3);
}

TEST(TickRow, LoweredStyleDrawsBlackThenWhiteShifted)
{
    TMMScale row;
    row.setStyle(stLowered);
    row.setConnect(true);
    row.setTickCount(2);
    TScaleCanvas c(200, 20);
    row.DrawScale(&c, {0, 0, 100, 9}, true);  // horizontal row
    const auto lines = OpsOf(c.Ops(), TScaleOpKind::Line);
    ASSERT_EQ(lines.size(), 6u);
    // Base line at Bottom - 1 (cv = 1), mostly horizontal: white copy one row down.
    EXPECT_EQ(lines[0].Color, clBlack);
    EXPECT_EQ(lines[0].Y1, 8);
    EXPECT_EQ(lines[0].X2, 101);
    EXPECT_EQ(lines[1].Color, clWhite);
    EXPECT_EQ(lines[1].Y1, 9);
    // Vertical tick: white copy one column right.
    EXPECT_EQ(lines[2].X1, 0);
    EXPECT_EQ(lines[3].X1, 1);
    EXPECT_EQ(lines[3].Color, clWhite);
}

TEST(TickRow, LevelScaleZonesColourTheTicks)
{
    TMMCustomLevelScale s;
    s.setKind(lkVertical);
    s.setBounds(31, 101);
    s.setScalePos(spAboveOrLeft);
    s.setScale1Color(clLime);
    s.setScale2Color(clYellow);
    s.setScale3Color(clRed);
    s.Scale().setVisible(true);
    const Painted p = PaintScale(s);
    // Row (0, 6, 7, 106): the top of a vertical bar is its loud end.
    ASSERT_EQ(p.Lines.size(), 11u);
    EXPECT_EQ(p.Lines[0].Y1, 6);
    EXPECT_EQ(p.Lines[10].Y1, 106);
    EXPECT_EQ(s.Scale().Zone1(), 2);
    EXPECT_EQ(s.Scale().Zone2(), 5);
    EXPECT_EQ(p.Lines[1].Color, clRed);
    EXPECT_EQ(p.Lines[2].Color, clYellow);
    EXPECT_EQ(p.Lines[4].Color, clYellow);
    EXPECT_EQ(p.Lines[5].Color, clLime);
    // Labels use what is left right of the row.
    ASSERT_FALSE(p.Texts.empty());
    for (const auto& t : p.Texts) EXPECT_GE(t.X1, 7);
    // The paint's canvas is not kept.
    EXPECT_EQ(s.Scale().Canvas(), nullptr);
    EXPECT_THROW(s.Scale().DrawScale({0, 0, 7, 100}, true), EMMScaleError);
}

TEST(LevelScaleLabels, RandomLayoutsKeepLabelsInsideTheControl)
{
    // A bounded sweep of sizes, counts and orientations: every painted
    // label of a non-symmetric scale lies inside the control.
    uint32_t seed = 12345;
    auto next = [&](int lo, int hi) {
        seed = seed * 1664525u + 1013904223u;
        return lo + static_cast<int>((seed >> 8) % static_cast<uint32_t>(hi - lo + 1));
    };
    FakeFont font;
    for (int n = 0; n < 2000; ++n) {
        TMMCustomLevelScale s;
        s.setKind(next(0, 1) ? lkVertical : lkHorizontal);
        s.setDirection(static_cast<TMMLevelDirection>(next(0, 2)));
        s.setBounds(next(-3, 900), next(-3, 900));
        s.setScaleTicks(next(-2, 400));
        s.setSensitivy(next(-120, 5));
        s.setLogAmp(next(0, 1));
        s.setPoint1(next(-5, 110));
        s.setPoint2(next(-5, 110));
        s.Scale().setVisible(next(0, 1));
        s.Scale().setConnect(next(0, 1));
        s.Scale().setTickCount(next(0, 100));
        s.Scale().setSize(next(0, 20));
        s.setScalePos(static_cast<TMMScalePos>(next(0, 2)));
        font.Height = next(0, 20);
        TScaleCanvas c(s.Width(), s.Height(), &font);
        s.Paint(c);
        if (s.Direction() == dirSymetric) continue;
        for (const auto& op : c.Ops()) {
            if (op.Kind != TScaleOpKind::Text) continue;
            if (s.Kind() == lkVertical) {
                ASSERT_GE(op.Y1, 0) << n;
                ASSERT_LE(op.Y1 + font.Height, s.Height()) << n;
            } else {
                ASSERT_GE(op.X1, 0) << n;
                ASSERT_LE(op.X1 + font.TextWidth(op.Text), s.Width()) << n;
            }
        }
    }
}

// Coordinates of the scale pictures, read from the recorded operations.
#include "app/ScaleImages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::vector<TScaleOp> Of(const TScaleCanvas& c, TScaleOpKind kind)
{
    std::vector<TScaleOp> out;
    for (const auto& op : c.Ops())
        if (op.Kind == kind) out.push_back(op);
    return out;
}

const TScaleOp* FindText(const TScaleCanvas& c, const std::string& text)
{
    for (const auto& op : c.Ops())
        if (op.Kind == TScaleOpKind::Text && op.Text == text) return &op;
    return nullptr;
}

std::vector<std::string> Figures(const TScaleCanvas& c)
{
    std::vector<std::string> out;
    for (const auto& op : Of(c, TScaleOpKind::Text)) out.push_back(op.Text);
    return out;
}

// y of every full-width line (x from 0 to W) inside the surface.
std::vector<int> FullLines(const TScaleCanvas& c)
{
    std::vector<int> ys;
    for (const auto& op : Of(c, TScaleOpKind::Line))
        if (op.X1 == 0 && op.X2 == c.Width() && op.Y1 >= 0 && op.Y1 < c.Height())
            ys.push_back(op.Y1);
    return ys;
}

void ExpectCommonStartAndEnd(const TScaleCanvas& c)
{
    const auto& first = c.Ops().front();
    EXPECT_EQ(first.Kind, TScaleOpKind::FillRect);
    EXPECT_EQ(first.X1, 0);
    EXPECT_EQ(first.Y1, 0);
    EXPECT_EQ(first.X2, c.Width());
    EXPECT_EQ(first.Y2, c.Height());
    EXPECT_EQ(first.Color, clBlack);
    EXPECT_EQ(c.PenColor, ScaleCream);
    EXPECT_EQ(c.BrushColor, clBlack);
    EXPECT_EQ(c.FontColor, ScaleCream);
    for (const auto& op : c.Ops())
        if (op.Kind == TScaleOpKind::Text) {
            EXPECT_TRUE(op.Opaque);
            EXPECT_EQ(op.Back, clBlack);
        }
}

}  // namespace

TEST(ScaleImages, K20TicksFiguresAndDashes)
{
    TScaleCanvas c(37, 903);
    DrawK20Scale(c);
    ExpectCommonStartAndEnd(c);
    std::vector<int> expected = {10};
    for (int y = 54; y <= 854; y += 50) expected.push_back(y);
    EXPECT_EQ(FullLines(c), expected);  // ticks 18 .. 20 lie below the surface

    const TScaleOp* top = FindText(c, " 20 ");
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->X1, 8);
    EXPECT_EQ(top->Y1, 5);
    // Ticks 1 .. 8 at x = 10, from 9 on at x = 8, each 7 rows above its line.
    const TScaleOp* t1 = FindText(c, " 16 ");
    ASSERT_NE(t1, nullptr);
    EXPECT_EQ(t1->X1, 10);
    EXPECT_EQ(t1->Y1, 47);
    const TScaleOp* t9 = FindText(c, " -16 ");
    ASSERT_NE(t9, nullptr);
    EXPECT_EQ(t9->X1, 8);
    EXPECT_EQ(t9->Y1, 4 + 9 * 50 - 7);

    // Each dash text follows the figure it covers, on the same row.
    const auto texts = Of(c, TScaleOpKind::Text);
    std::vector<int> dashRows;
    for (size_t k = 1; k < texts.size(); ++k)
        if (texts[k].Text == "    ----       " && texts[k - 1].Y1 == texts[k].Y1)
            dashRows.push_back(texts[k].Y1 + 7);
    EXPECT_EQ(dashRows, (std::vector<int>{654, 754, 854, 954}));

    const std::vector<std::string> figures = {
        " 20 ",  " 16 ",  " 12 ",  " 8 ",   " 4 ",   " 0 ",   " -4 ",  " -8 ",  " -12 ",
        " -16 ", " -20 ", " -24 ", " -28 ", " -34 ", " -40 ", " -46 ", " -52 ", " -58 ",
        " -64 ", " -70 ", " -76 "};
    std::vector<std::string> got = Figures(c);
    got.erase(std::remove(got.begin(), got.end(), "    ----       "), got.end());
    EXPECT_EQ(got, figures);
}

TEST(ScaleImages, K14SkipsTickOneAndK12Figures)
{
    TScaleCanvas c(37, 903);
    DrawK14Scale(c);
    ExpectCommonStartAndEnd(c);
    EXPECT_EQ(FullLines(c).at(1), 104);  // tick 1 (y = 54) has no line
    EXPECT_EQ(FindText(c, " 12 "), nullptr);
    const TScaleOp* marker = FindText(c, "--- 12 ---");
    ASSERT_NE(marker, nullptr);
    EXPECT_EQ(marker->X1, 0);
    EXPECT_EQ(marker->Y1, 104 - 50);
    std::vector<std::string> got = Figures(c);
    EXPECT_EQ(std::count(got.begin(), got.end(), "    ----    "), 5);
    got.erase(std::remove(got.begin(), got.end(), "    ----    "), got.end());
    EXPECT_EQ(got.at(1), " 8 ");  // after the top figure " 14 "
    EXPECT_EQ(got.back(), " -82 ");

    TScaleCanvas k12(37, 903);
    DrawK12Scale(k12);
    got = Figures(k12);
    got.erase(std::remove(got.begin(), got.end(), "    ----    "), got.end());
    EXPECT_EQ(got.front(), " 12 ");
    EXPECT_EQ(got.at(1), " 8 ");
    EXPECT_EQ(got.at(10), " -28 ");  // 4-dB steps up to tick 9 (to tick 10), then 6
    EXPECT_EQ(got.at(11), " -34 ");
    EXPECT_EQ(got.back(), " -88 ");
}

TEST(ScaleImages, N9AndDINPositions)
{
    TScaleCanvas n9(37, 903);
    DrawN9Scale(n9);
    ExpectCommonStartAndEnd(n9);
    EXPECT_EQ(FindText(n9, " -6 ")->Y1, 4 + 6 * 50 - 5);
    // Second part: step 903 div 19 = 47 from y(6) = 304.
    EXPECT_EQ(FindText(n9, " -12")->Y1, 304 + 2 * 47 - 7);
    EXPECT_EQ(FindText(n9, " -42")->Y1, 304 + 12 * 47 - 7);

    TScaleCanvas din(37, 903);
    DrawDINScale(din);
    ExpectCommonStartAndEnd(din);
    EXPECT_EQ(FindText(din, " -5")->Y1, 180 + 4 * 26 - 7);
    EXPECT_EQ(FindText(din, " -10")->Y1, 180 + 8 * 32 - 7);
    EXPECT_EQ(FindText(din, " -40")->Y1, 150 + 15 * 45 - 7);
}

TEST(ScaleImages, EBUAndBBCFigures)
{
    TScaleCanvas ebu(37, 903);
    DrawEBUScale(ebu);
    ExpectCommonStartAndEnd(ebu);
    EXPECT_EQ(Figures(ebu), (std::vector<std::string>{"+ 12", "+ 8", "+ 4", " 0", " -4", " -8",
                                                       " -12"}));
    EXPECT_EQ(FindText(ebu, "+ 12")->Y1, 25 + 2 * 53 - 7);
    // 8 long lines, 15 short ones and the top line; tick 1 gets none.
    EXPECT_EQ(Of(ebu, TScaleOpKind::Line).size(), 24u);

    TScaleCanvas bbc(37, 903);
    DrawBBCScale(bbc);
    ExpectCommonStartAndEnd(bbc);
    EXPECT_EQ(Figures(bbc), (std::vector<std::string>{" 7", " 6", " 5", " 4", " 3", " 2", " 1"}));
    const int y4 = 25 + 4 * 64;
    EXPECT_EQ(FindText(bbc, " 5")->Y1, y4 - 5);
    EXPECT_EQ(FindText(bbc, " 1")->Y1, y4 + 8 * 60 - 5);
    EXPECT_EQ(Of(bbc, TScaleOpKind::Line).size(), 19u);
}

TEST(ScaleImages, SmallSurfacesAndOtherStandards)
{
    // Below 18 rows every K-System tick lies at y = 4.
    TScaleCanvas c(37, 17);
    DrawK20Scale(c);
    for (const auto& op : Of(c, TScaleOpKind::Line))
        if (op.Y1 != 10) {
            EXPECT_EQ(op.Y1, 4);
        }
    for (int standard = 0; standard <= 6; ++standard) {
        for (int h : {0, 1, 5, 17}) {
            TScaleCanvas tiny(3, h);
            EXPECT_TRUE(DrawStandardScale(tiny, standard));
        }
    }
    TScaleCanvas none(37, 903);
    EXPECT_FALSE(DrawStandardScale(none, 7));
    EXPECT_FALSE(DrawStandardScale(none, 8));
    EXPECT_FALSE(DrawStandardScale(none, -1));
    EXPECT_TRUE(none.Ops().empty());

    TScaleCanvas alarm(37, 903);
    DrawAlarmFill(alarm);
    ASSERT_EQ(alarm.Ops().size(), 1u);
    EXPECT_EQ(alarm.Ops()[0].Y1, 5);
    EXPECT_EQ(alarm.Ops()[0].Y2, 903);
    EXPECT_EQ(alarm.Ops()[0].Color, clRed);
}

#include "widgets/MMLEDText.h"

#include <gtest/gtest.h>

TEST(LedText, CharacterCodesMapUmlautsAndBlankTheRest)
{
    EXPECT_EQ(LEDCharCode(U'A'), 'A');
    EXPECT_EQ(LEDCharCode(U'\u00C4'), 135);  // capital A umlaut
    EXPECT_EQ(LEDCharCode(U'\u00E4'), 135);  // small a umlaut shares it
    EXPECT_EQ(LEDCharCode(U'\u00D6'), 140);
    EXPECT_EQ(LEDCharCode(U'\u00F6'), 140);
    EXPECT_EQ(LEDCharCode(U'\u00DC'), 137);
    EXPECT_EQ(LEDCharCode(U'\u00FC'), 137);
    EXPECT_EQ(LEDCharCode(U'\u00DF'), 149);
    EXPECT_EQ(LEDCharCode(U'\u00B1'), 150);
    // Edges of the font range; anything else is a space.
    EXPECT_EQ(LEDCharCode(32), 32);
    EXPECT_EQ(LEDCharCode(157), 157);
    EXPECT_EQ(LEDCharCode(158), 32);
    EXPECT_EQ(LEDCharCode(31), 32);
    EXPECT_EQ(LEDCharCode(0), 32);
    EXPECT_EQ(LEDCharCode(200), 32);
    EXPECT_EQ(LEDCharCode(0x20AC), 32);  // euro sign
    EXPECT_EQ(LEDCharCode(0x10FFFF), 32);
}

TEST(LedText, LabelSizeRule)
{
    TMMLEDLabelSizeIn in;
    in.Bevel = 3;
    in.GlyphW = 16;
    in.GlyphH = 20;
    in.LEDSpace = 1;
    in.CaptionLength = 3;  // "ABC"
    TMMLEDLabelSizeOut out = LEDLabelSize(in);
    EXPECT_EQ(out.NumChars, 3);
    EXPECT_EQ(out.Width, 54);
    EXPECT_EQ(out.Height, 26);
    EXPECT_TRUE(out.SetsWidth);

    for (TMMAlign a : {alTop, alBottom}) {
        in.Align = a;
        out = LEDLabelSize(in);
        EXPECT_FALSE(out.SetsWidth);
        EXPECT_EQ(out.Height, 26);
    }
    in.Align = alLeft;
    EXPECT_TRUE(LEDLabelSize(in).SetsWidth);

    // Wider spacing: pitch w + space - 1.
    in.LEDSpace = 3;
    EXPECT_EQ(LEDLabelSize(in).Width, 6 + 18 * 3 - 3 + 1);
}

TEST(LedText, NumCharsFollowsWidthWithoutAutoSize)
{
    TMMLEDLabelSizeIn in;
    in.Bevel = 3;
    in.GlyphW = 11;
    in.GlyphH = 13;
    in.AutoSize = false;
    in.CaptionLength = 40;  // ignored
    in.Width = 57;          // a channel strip: (57 + 1 - 6 - 1) div 11 = 4 cells
    TMMLEDLabelSizeOut out = LEDLabelSize(in);
    EXPECT_EQ(out.NumChars, 4);
    EXPECT_EQ(out.Width, 6 + 11 * 4 - 1 + 1);
    // Width, then NumChars, then width again is stable.
    in.Width = out.Width;
    EXPECT_EQ(LEDLabelSize(in).NumChars, 4);
    // Too narrow for one cell, or narrower than the frame: no cells, no negative sizes.
    in.Width = 4;
    out = LEDLabelSize(in);
    EXPECT_EQ(out.NumChars, 0);
    EXPECT_EQ(out.Width, 6);
}

TEST(LedText, EmptyCaptionAndMissingFontKeepTheFrame)
{
    TMMLEDLabelSizeIn in;
    in.Bevel = 0;
    in.GlyphW = 16;
    in.GlyphH = 20;
    in.LEDSpace = 5;
    in.CaptionLength = 0;
    EXPECT_EQ(LEDLabelSize(in).Width, 0);  // not 0 - 5 + 1
    in.Bevel = 2;
    in.GlyphW = in.GlyphH = 0;  // no font
    in.CaptionLength = 3;
    const TMMLEDLabelSizeOut out = LEDLabelSize(in);
    EXPECT_GE(out.Width, 4);
    EXPECT_EQ(out.Height, 4);
}

TEST(LedText, TextWindowByAlignment)
{
    const std::u32string abc = U"ABCDEFG";
    EXPECT_EQ(LEDTextWindow(abc, 3, taLeftJustify, 0), U"ABC");
    EXPECT_EQ(LEDTextWindow(abc, 3, taLeftJustify, 2), U"CDE");
    EXPECT_EQ(LEDTextWindow(abc, 3, taLeftJustify, 6), U"G  ");
    EXPECT_EQ(LEDTextWindow(abc, 3, taLeftJustify, 7), U"   ");
    EXPECT_EQ(LEDTextWindow(abc, 3, taLeftJustify, 99), U"   ");  // clamped, no overrun
    EXPECT_EQ(LEDTextWindow(abc, 3, taRightJustify, 0), U"EFG");
    EXPECT_EQ(LEDTextWindow(abc, 3, taCenter, 0), U"CDE");  // from (7 - 3) div 2 + 1
    EXPECT_EQ(LEDTextWindow(abc, 6, taCenter, 0), U"ABCDEF");

    EXPECT_EQ(LEDTextWindow(U"AB", 5, taLeftJustify, 0), U"AB   ");
    EXPECT_EQ(LEDTextWindow(U"AB", 5, taRightJustify, 0), U"   AB");
    EXPECT_EQ(LEDTextWindow(U"AB", 5, taCenter, 0), U" AB  ");  // (5 - 2) div 2 in front
    EXPECT_EQ(LEDTextWindow(U"", 2, taCenter, 0), U"  ");
    EXPECT_EQ(LEDTextWindow(U"AB", 0, taRightJustify, 0), U"");
    EXPECT_EQ(LEDTextWindow(U"AB", -3, taLeftJustify, 0), U"");
}

TEST(LedText, ScrollerStepsRestartsAndStops)
{
    TMMLEDScroller s;
    EXPECT_FALSE(s.SetStartStep(4, 3));  // beyond the caption: ignored
    EXPECT_FALSE(s.SetCurrentStep(-1, 3));
    EXPECT_TRUE(s.SetStartStep(1, 3));
    EXPECT_TRUE(s.SetCurrentStep(3, 3));

    EXPECT_TRUE(s.Start(3));
    EXPECT_EQ(s.CurrentStep(), 1);  // was at the end: back to StartStep
    EXPECT_FALSE(s.Start(3));       // already running
    EXPECT_EQ(s.Tick(3, true), TMMLEDScroller::tkStep);
    EXPECT_EQ(s.CurrentStep(), 2);
    EXPECT_EQ(s.Tick(3, true), TMMLEDScroller::tkEnd);
    EXPECT_EQ(s.CurrentStep(), 1);  // looped
    EXPECT_TRUE(s.Running());

    EXPECT_EQ(s.Tick(3, false), TMMLEDScroller::tkStep);
    EXPECT_EQ(s.Tick(3, false), TMMLEDScroller::tkEnd);
    EXPECT_FALSE(s.Running());

    // An empty caption ends at every tick without running away.
    TMMLEDScroller e;
    EXPECT_TRUE(e.Start(0));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(e.Tick(0, true), TMMLEDScroller::tkEnd);
    EXPECT_EQ(e.CurrentStep(), 0);
}

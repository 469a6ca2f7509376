// The off-screen pixel buffer: palette matching, depths, clipping, errors.
#include "metering/MMDIBCv.h"

#include <gtest/gtest.h>

TEST(DIBCanvas, PaletteAndNearestEntry)
{
    const auto& pal = TMMDIBCanvas::Palette();
    EXPECT_EQ(pal[0], clBlack);
    EXPECT_EQ(pal[9], clSkyBlue);
    EXPECT_EQ(pal[246], clCream);
    EXPECT_EQ(pal[255], clWhite);
    EXPECT_EQ(TMMDIBCanvas::NearestIndex(clLime), 250);
    EXPECT_EQ(TMMDIBCanvas::NearestIndex(RGBColor(250, 10, 5)), 249);   // red
    EXPECT_EQ(TMMDIBCanvas::NearestIndex(RGBColor(100, 100, 100)), 248);  // grey
    EXPECT_EQ(TMMDIBCanvas::NearestIndex(RGBColor(1, 1, 1)), 0);
}

TEST(DIBCanvas, DepthsFillsAndClipping)
{
    for (int bits : {8, 24}) {
        TMMDIBCanvas c;
        c.SetBitCount(bits);
        c.SetSize(5, 3);
        EXPECT_EQ(c.Stride(), bits == 8 ? 8 : 16);  // rows padded to 4 bytes
        c.FillRect({-10, -10, 100, 100}, clNavy);
        c.FillRect({3, 1, 9, 9}, RGBColor(250, 250, 5));  // clipped; 8-bit: nearest is yellow
        EXPECT_EQ(c.Pixel(0, 0), clNavy);
        EXPECT_EQ(c.Pixel(4, 2), bits == 8 ? clYellow : RGBColor(250, 250, 5));
        EXPECT_EQ(c.Pixel(2, 1), clNavy);
        EXPECT_EQ(c.Pixel(5, 0), clBlack);  // outside
        c.FillRect({0, 0, 5, 3}, clBlack);
        c.FillRectDoted({-1, -1, 5, 3}, clWhite);  // grid anchored at (-1, -1)
        EXPECT_EQ(c.Pixel(1, 1), clWhite);
        EXPECT_EQ(c.Pixel(0, 0), clBlack);
        EXPECT_EQ(c.Pixel(3, 1), clWhite);
        EXPECT_EQ(c.Pixel(1, 2), clBlack);

        TMMDIBCanvas copy;
        copy.SetBitCount(bits);
        copy.SetSize(5, 3);
        copy.CopyFrom(c);
        EXPECT_EQ(copy.Pixel(1, 1), clWhite);
        TMMDIBCanvas other;  // different size: nothing copied
        other.SetSize(2, 2);
        other.CopyFrom(c);
        EXPECT_EQ(other.Pixel(1, 1), clBlack);
    }
}

TEST(DIBCanvas, Errors)
{
    TMMDIBCanvas c("TMMLevel");
    c.SetSize(4, 4);
    try {
        c.SetBitCount(16);
        FAIL();
    } catch (const EMMDIBError& e) {
        EXPECT_STREQ(e.what(), "Bitlength not supported yet");
    }
    EXPECT_EQ(c.BitCount(), 8);
    c.BeginDraw();
    EXPECT_TRUE(c.Drawing());
    try {
        c.SetSize(8, 8);
        FAIL();
    } catch (const EMMDIBError& e) {
        EXPECT_STREQ(e.what(), "TMMLevel: Attempt to create new DIB while initialized for drawing");
    }
    EXPECT_THROW(c.SetBitCount(24), EMMDIBError);
    c.EndDraw();
    c.EndDraw();  // unbalanced release is ignored
    c.SetSize(8, 8);
    EXPECT_EQ(c.Width(), 8);
    c.SetSize(-5, 1 << 30);  // cut to sane sizes
    EXPECT_EQ(c.Width(), 0);
    EXPECT_EQ(c.Height(), 16384);
}

TEST(DIBCanvas, ClipRectangleLimitsFillsAndCopies)
{
    for (int bits : {8, 24}) {
        TMMDIBCanvas back, c;
        back.SetBitCount(bits);
        c.SetBitCount(bits);
        back.SetSize(6, 6);
        c.SetSize(6, 6);
        back.FillRect({0, 0, 6, 6}, clNavy);
        c.FillRect({0, 0, 6, 6}, clRed);
        c.SetClip({1, 2, 4, 100});  // cut to the canvas as well
        c.CopyFrom(back);
        EXPECT_EQ(c.Pixel(1, 2), clNavy);
        EXPECT_EQ(c.Pixel(3, 5), clNavy);
        EXPECT_EQ(c.Pixel(0, 2), clRed);
        EXPECT_EQ(c.Pixel(4, 2), clRed);
        EXPECT_EQ(c.Pixel(1, 1), clRed);
        // The dot grid stays anchored at the rectangle, not at the clip.
        c.FillRectDoted({0, 1, 6, 6}, clLime);
        EXPECT_EQ(c.Pixel(2, 3), clLime);
        EXPECT_EQ(c.Pixel(1, 3), clNavy);
        EXPECT_EQ(c.Pixel(2, 2), clNavy);
        EXPECT_EQ(c.Pixel(0, 3), clRed);
        c.SetClip({5, 5, 2, 2});  // empty
        c.FillRect({0, 0, 6, 6}, clWhite);
        c.CopyFrom(back);
        EXPECT_EQ(c.Pixel(5, 5), clRed);
        c.ClearClip();
        c.FillRect({0, 0, 6, 6}, clWhite);
        EXPECT_EQ(c.Pixel(0, 0), clWhite);
        EXPECT_EQ(c.Pixel(5, 5), clWhite);
    }
}

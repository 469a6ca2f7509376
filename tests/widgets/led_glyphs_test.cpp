#include "widgets/MMDigitCache.h"
#include "widgets/MMLEDFontArt.h"
#include "widgets/MMLEDGlyphs.h"
#include "widgets/MMLEDText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace {

int countPixels(const TMMGlyphBitmap& b, int x0, int y0, int w, int h, uint8_t v)
{
    int n = 0;
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) n += b.At(x, y) == v;
    return n;
}

}  // namespace

TEST(LedGlyphs, FontResourcesHaveTheirLayout)
{
    struct Case {
        const char* name;
        int w, h, gw, gh;
    } cases[] = {{"FONT_11X13", 693, 28, 11, 13},
                 {"FONT_16X20", 1008, 42, 16, 20},
                 {"FONT_11X13_BOLD", 694, 28, 11, 13}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TMMLEDResource font = LoadLEDResource(c.name);
        ASSERT_TRUE(font);
        EXPECT_EQ(font->Width, c.w);
        EXPECT_EQ(font->Height, c.h);
        const TMMLEDFontGeometry g = TMMLEDFontGeometry::FromBitmap(font->Width, font->Height);
        EXPECT_EQ(g.w, c.gw);
        EXPECT_EQ(g.h, c.gh);
        // The two-pixel gap between the rows is background only.
        EXPECT_EQ(countPixels(*font, 0, g.h, font->Width, 2, gpBlack), font->Width * 2);
        // Space is all unlit, 'A' has lit dots, code 157 (second row, last) is reachable.
        EXPECT_EQ(countPixels(*font, g.GlyphX(32), g.GlyphY(32), g.w, g.h, gpWhite), 0);
        EXPECT_GT(countPixels(*font, g.GlyphX('A'), g.GlyphY('A'), g.w, g.h, gpWhite), 10);
        EXPECT_EQ(g.GlyphY(95), g.h + 2);
        EXPECT_EQ(g.GlyphX(157) + g.w, 63 * g.w);
    }
    EXPECT_EQ(LoadLEDResource("font_16x20"), LoadLEDResource("FONT_16X20"));  // shared, any case
}

TEST(LedGlyphs, BoldFontLightsMoreThanRegular)
{
    const TMMLEDResource regular = LoadLEDResource("FONT_11X13");
    const TMMLEDResource bold = LoadLEDResource("FONT_11X13_BOLD");
    const TMMLEDFontGeometry g{11, 13};
    const int r = countPixels(*regular, g.GlyphX('H'), 0, 11, 13, gpWhite);
    const int b = countPixels(*bold, g.GlyphX('H'), 0, 11, 13, gpWhite);
    EXPECT_GT(b, r);
}

TEST(LedGlyphs, ArtworkIsWellFormed)
{
    std::set<int> codes;
    for (size_t i = 0; i < LEDFontArtCount; ++i) {
        const TMMDotGlyphArt& a = LEDFontArt[i];
        SCOPED_TRACE(a.Code);
        EXPECT_TRUE(a.Code >= 32 && a.Code <= 157);
        EXPECT_TRUE(codes.insert(a.Code).second) << "duplicate glyph";
        for (const char* row : a.Rows) {
            ASSERT_NE(row, nullptr);
            EXPECT_LE(std::strlen(row), 5u);
        }
    }
    // Every printable ASCII character and every mapped target has artwork.
    for (int c = 33; c <= 126; ++c) EXPECT_TRUE(codes.count(c)) << char(c);
    for (int c : {135, 137, 140, 149, 150}) EXPECT_TRUE(codes.count(c)) << c;
}

TEST(LedGlyphs, DigitStripsForEverySize)
{
    for (int s = 0; s < LEDSizeCount; ++s) {
        const TMMGlyphSize g = LEDDigitGlyphSize(TMMLEDSize(s));
        SCOPED_TRACE(LEDDigitResourceName(TMMLEDSize(s), false));
        const TMMLEDResource digits = LoadLEDResource(LEDDigitResourceName(TMMLEDSize(s), false));
        const TMMLEDResource special = LoadLEDResource(LEDDigitResourceName(TMMLEDSize(s), true));
        ASSERT_TRUE(digits && special);
        EXPECT_EQ(digits->Width, 11 * g.Width);
        EXPECT_EQ(special->Width, 4 * g.Width);
        EXPECT_EQ(digits->Height, g.Height);
        // Glyph 0 is all unlit; '8' lights exactly what glyph 0 shows unlit.
        const int off = countPixels(*digits, 0, 0, g.Width, g.Height, gpSilver);
        EXPECT_GT(off, 0);
        EXPECT_EQ(countPixels(*digits, 0, 0, g.Width, g.Height, gpWhite), 0);
        EXPECT_EQ(countPixels(*digits, 9 * g.Width, 0, g.Width, g.Height, gpWhite), off);
        EXPECT_LT(countPixels(*digits, 2 * g.Width, 0, g.Width, g.Height, gpWhite),
                  countPixels(*digits, 1 * g.Width, 0, g.Width, g.Height, gpWhite));  // 1 < 0
        // Special glyphs: off shows nothing lit; point, colon, minus light something.
        EXPECT_EQ(countPixels(*special, 0, 0, g.Width, g.Height, gpWhite), 0);
        for (int k = 1; k < 4; ++k)
            EXPECT_GT(countPixels(*special, k * g.Width, 0, g.Width, g.Height, gpWhite), 0) << k;
    }
    EXPECT_EQ(LEDDigitResourceName(ls06x07, false), "LCD_06X07");
    EXPECT_EQ(LEDDigitResourceName(ls23x41, true), "LCDS_23X41");
    EXPECT_EQ(LEDDigitResourceName(TMMLEDSize(13), false), "");
    EXPECT_FALSE(LoadLEDResource("LCD_99X99"));
    EXPECT_FALSE(LoadLEDResource(""));
}

TEST(LedGlyphs, RecolouringFollowsThePaletteRule)
{
    TMMGlyphBitmap b(4, 1);
    b.Pixels = {gpWhite, gpBlack, gpSilver, 12 /* palette blue, kept */};
    TMMLEDColors c{clRed, clNavy, clMaroon, true};
    std::vector<uint32_t> px = RecolorGlyphs(b, c);
    EXPECT_EQ(px[0], 0xFFFF0000u);  // red
    EXPECT_EQ(px[1], 0xFF000080u);  // navy
    EXPECT_EQ(px[2], 0xFF800000u);  // maroon
    EXPECT_EQ(px[3], 0xFF0000FFu);  // blue stays blue
    c.DrawInactive = false;
    px = RecolorGlyphs(b, c);
    EXPECT_EQ(px[2], px[1]);  // unlit parts vanish into the background
}

TEST(LedGlyphs, MissingResourceGivesNothing)
{
    SetLEDResourceLoader([](const std::string&) { return TMMLEDResource(); });
    EXPECT_FALSE(LoadLEDResource("FONT_16X20"));
    TMMDigitKey key;
    EXPECT_EQ(TMMDigitCache::Instance().Acquire(key), nullptr);
    EXPECT_EQ(TMMDigitCache::Instance().RefCount(key), 0);
    SetLEDResourceLoader(nullptr);
    EXPECT_TRUE(LoadLEDResource("FONT_16X20"));
}

TEST(LedGlyphs, DigitCacheCountsReferences)
{
    TMMDigitCache& cache = TMMDigitCache::Instance();
    const size_t before = cache.Count();
    TMMDigitKey a;
    a.Size = ls08x13;
    a.Colors = {clRed, clBlack, clMaroon, true};
    TMMDigitKey b = a;
    b.Colors.DrawInactive = false;

    const TMMDigitStrip* s1 = cache.Acquire(a);
    const TMMDigitStrip* s2 = cache.Acquire(a);
    const TMMDigitStrip* s3 = cache.Acquire(b);
    ASSERT_TRUE(s1 && s3);
    EXPECT_EQ(s1, s2);  // one strip for equal keys
    EXPECT_NE(s1, s3);  // DrawInactive is part of the key
    EXPECT_EQ(s1->GlyphWidth, 8);
    EXPECT_EQ(s1->GlyphCount, 11);
    EXPECT_EQ(cache.RefCount(a), 2);
    EXPECT_EQ(cache.Count(), before + 2);

    cache.Release(s1);
    EXPECT_EQ(cache.RefCount(a), 1);
    cache.Release(s2);
    EXPECT_EQ(cache.RefCount(a), 0);  // freed with its last holder
    cache.Release(s3);
    cache.Release(nullptr);
    EXPECT_EQ(cache.Count(), before);
}

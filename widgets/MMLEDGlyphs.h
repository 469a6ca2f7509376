// Glyph bitmaps of the LED widgets — the dot-matrix fonts and the
// seven-segment digit strips — looked up by resource name, and their
// recolouring into the colours of a control. No Qt; GUI thread.
#pragma once

#include "base/MMTypes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// A 16-colour palette bitmap (palette of the platform's 4-bit bitmaps).
// Three entries carry meaning: white = lit, black = background,
// silver = unlit.
constexpr uint8_t gpBlack = 0;
constexpr uint8_t gpSilver = 7;
constexpr uint8_t gpWhite = 15;
TColor GlyphPaletteColor(uint8_t index);

struct TMMGlyphBitmap {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Pixels;  // palette indices, row-major

    TMMGlyphBitmap() = default;
    TMMGlyphBitmap(int w, int h) : Width(w), Height(h), Pixels(size_t(w) * size_t(h), gpBlack) {}
    uint8_t At(int x, int y) const { return Pixels[size_t(y) * size_t(Width) + size_t(x)]; }
    void Set(int x, int y, uint8_t v);  // ignores points outside
};

enum TMMLEDFontSize { fs11x13 = 0, fs16x20 = 1, fs11x13_bold = 2 };

enum TMMLEDSize {
    ls06x07 = 0, ls07x11, ls08x13, ls11x19, ls13x20, ls13x21, ls15x24,
    ls15x25, ls17x29, ls18x25, ls19x33, ls21x37, ls23x41
};
constexpr int LEDSizeCount = 13;

struct TMMGlyphSize {
    int Width;
    int Height;
};
// The glyph size of one digit of the given size (0 x 0 for an invalid size).
TMMGlyphSize LEDDigitGlyphSize(TMMLEDSize size);

// Resource names: "FONT_11X13", "FONT_16X20", "FONT_11X13_BOLD";
// "LCD_13X21" (11 digit glyphs), "LCDS_13X21" (4 special glyphs).
std::string LEDFontResourceName(TMMLEDFontSize size);
std::string LEDDigitResourceName(TMMLEDSize size, bool special);

using TMMLEDResource = std::shared_ptr<const TMMGlyphBitmap>;
// Looks a glyph bitmap up by name (without regard to case); null when there
// is none. Built-in bitmaps are generated once and shared.
TMMLEDResource LoadLEDResource(const std::string& name);
// Replaces the source of LoadLEDResource; an empty function restores the
// built-in one.
using TMMLEDResourceLoader = std::function<TMMLEDResource(const std::string&)>;
void SetLEDResourceLoader(TMMLEDResourceLoader loader);

// The generators behind the built-in resources.
TMMGlyphBitmap MakeDotMatrixFont(TMMLEDFontSize size);
TMMGlyphBitmap MakeDigitStrip(TMMLEDSize size);    // 11 glyphs: off, 0 .. 9
TMMGlyphBitmap MakeSpecialStrip(TMMLEDSize size);  // 4 glyphs: off, point, colon, minus

struct TMMLEDColors {
    TColor Lit = clLime;          // LEDColor
    TColor Background = clBlack;  // Color
    TColor Unlit = clGreen;       // InactiveColor
    bool DrawInactive = true;
    bool operator==(const TMMLEDColors& o) const
    {
        return Lit == o.Lit && Background == o.Background && Unlit == o.Unlit &&
               DrawInactive == o.DrawInactive;
    }
};

// Opaque 0xAARRGGBB pixel of a colour (the layout of a 32-bit image).
constexpr uint32_t ToArgb(TColor c)
{
    return 0xFF000000u | (uint32_t(ColorRed(c)) << 16) | (uint32_t(ColorGreen(c)) << 8) |
           uint32_t(ColorBlue(c));
}

// White -> Lit, black -> Background, silver -> Unlit (Background without
// DrawInactive); any other palette entry keeps its own colour.
std::vector<uint32_t> RecolorGlyphs(const TMMGlyphBitmap& bitmap, const TMMLEDColors& colors);

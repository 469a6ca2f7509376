// Types shared by the display components: colours, orientation, the bevel frame.
#pragma once

#include <cstdint>

// Colours are 32-bit integers laid out 0x00BBGGRR.
using TColor = uint32_t;
constexpr TColor RGBColor(int r, int g, int b)
{
    return static_cast<TColor>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int ColorRed(TColor c) { return c & 0xFF; }
constexpr int ColorGreen(TColor c) { return (c >> 8) & 0xFF; }
constexpr int ColorBlue(TColor c) { return (c >> 16) & 0xFF; }

// The twenty static colours of the platform palette, by name.
constexpr TColor clBlack = 0x000000, clMaroon = 0x000080, clGreen = 0x008000, clOlive = 0x008080,
                 clNavy = 0x800000, clPurple = 0x800080, clTeal = 0x808000, clSilver = 0xC0C0C0,
                 clMoneyGreen = 0xC0DCC0, clSkyBlue = 0xF0CAA6, clCream = 0xF0FBFF,
                 clMedGray = 0xA4A0A0, clGray = 0x808080, clRed = 0x0000FF, clLime = 0x00FF00,
                 clYellow = 0x00FFFF, clBlue = 0xFF0000, clFuchsia = 0xFF00FF, clAqua = 0xFFFF00,
                 clWhite = 0xFFFFFF;

enum TMMLevelKind { lkHorizontal = 0, lkVertical = 1 };
enum TMMLevelDirection { dirNormal = 0, dirReversed = 1, dirSymetric = 2 };

enum TMMBevelCut { bvNone = 0, bvLowered = 1, bvRaised = 2 };

// The frame of a control. The drawing area is inset on every side by
// TotalWidth().
struct TMMBevel {
    int BorderWidth = 0;
    int BorderSpace = 0;
    TMMBevelCut BevelOuter = bvNone;
    int BevelOuterWidth = 1;
    TMMBevelCut BevelInner = bvNone;
    int BevelInnerWidth = 1;
    bool BorderLine = false;  // a one-pixel line around everything
    TColor BorderColor = clBlack;
    TColor HighlightColor = clWhite;
    TColor ShadowColor = clGray;

    int TotalWidth() const
    {
        return BorderWidth + BorderSpace + (BevelOuter != bvNone ? BevelOuterWidth : 0) +
               (BevelInner != bvNone ? BevelInnerWidth : 0) + (BorderLine ? 1 : 0);
    }
    bool operator==(const TMMBevel& o) const
    {
        return BorderWidth == o.BorderWidth && BorderSpace == o.BorderSpace &&
               BevelOuter == o.BevelOuter && BevelOuterWidth == o.BevelOuterWidth &&
               BevelInner == o.BevelInner && BevelInnerWidth == o.BevelInnerWidth &&
               BorderLine == o.BorderLine && BorderColor == o.BorderColor &&
               HighlightColor == o.HighlightColor && ShadowColor == o.ShadowColor;
    }
    bool operator!=(const TMMBevel& o) const { return !(*this == o); }
};

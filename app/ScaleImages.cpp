#include "app/ScaleImages.h"

#include <string>

namespace {

// Fill black, optional red block, then cream pen and font on black.
void CommonStart(TScaleCanvas& c)
{
    c.TextOpaque = true;
    c.BrushColor = clBlack;
    c.FillRect(0, 0, c.Width(), c.Height());
}

void CreamOnBlack(TScaleCanvas& c)
{
    c.PenColor = ScaleCream;
    c.BrushColor = clBlack;
    c.FontColor = ScaleCream;
}

struct KSystem {
    const char* Top;
    bool FirstSkipped;
    int Start;
    int Limit4dB;
    int DashFrom;  // dash ticks DashFrom, DashFrom + 2, ... up to 20
    const char* Dash;
    bool K14Marker;
};

void DrawKScale(TScaleCanvas& c, const KSystem& k)
{
    CommonStart(c);
    CreamOnBlack(c);
    const int W = c.Width();
    const int s = c.Height() / 18;
    int v = k.Start;
    c.Line(0, 10, W, 10);
    c.TextOut(8, 5, k.Top);
    for (int i = 1; i <= 20; ++i) {
        const int y = 4 + i * s;
        if (!(i == 1 && k.FirstSkipped)) {
            c.Line(0, y, W, y);
            c.TextOut(i <= 8 ? 10 : 8, y - 7, " " + std::to_string(v) + " ");
        }
        if (k.K14Marker && i == 2) c.TextOut(0, y - 50, "--- 12 ---");
        if (i >= k.DashFrom && (i - k.DashFrom) % 2 == 0) c.TextOut(0, y - 7, k.Dash);
        v -= i <= k.Limit4dB ? 4 : 6;
    }
}

}  // namespace

void DrawK20Scale(TScaleCanvas& image)
{
    DrawKScale(image, {" 20 ", false, 16, 11, 13, "    ----       ", false});
}

void DrawK14Scale(TScaleCanvas& image)
{
    DrawKScale(image, {" 14 ", true, 12, 10, 12, "    ----    ", true});
}

void DrawK12Scale(TScaleCanvas& image)
{
    DrawKScale(image, {" 12 ", false, 8, 9, 11, "    ----    ", false});
}

void DrawEBUScale(TScaleCanvas& c)
{
    CommonStart(c);
    CreamOnBlack(c);
    const int W = c.Width(), H = c.Height();
    const int y0 = (H / 6) / 6;
    const int s = H / 17;
    c.Line(3, y0, W - 15, y0);
    int v = 12;
    for (int i = 2; i <= 16; i += 2, v -= 4) {
        const int y = y0 + i * s;
        c.Line(3, y, W - 10, y);
        if (v > 0)
            c.TextOut(13, y - 7, "+ " + std::to_string(v));
        else if (v > -16)
            c.TextOut(13, y - 7, " " + std::to_string(v));
    }
    for (int i = 2; i <= 16; ++i) {
        const int y = y0 + i * s;
        c.Line(3, y, W - 25, y);
    }
}

void DrawBBCScale(TScaleCanvas& c)
{
    CommonStart(c);
    CreamOnBlack(c);
    const int W = c.Width(), H = c.Height();
    const int y0 = (H / 6) / 6;
    c.Line(3, y0, W - 15, y0);
    c.TextOut(20, y0 - 5, " 7");
    const int s1 = H / 14;
    int y = y0;
    for (int i = 1; i <= 4; ++i) {
        y = y0 + i * s1;
        if (i % 2 == 0) {
            c.Line(3, y, W - 12, y);
            c.TextOut(20, y - 5, i == 2 ? " 6" : " 5");
        } else {
            c.Line(3, y, W - 25, y);
        }
    }
    const int s2 = H / 15;
    int v = 4;
    for (int i = 5; i <= 18; ++i) {
        y += s2;
        if (i % 2 == 0) {
            c.Line(3, y, W - 12, y);
            if (v > 0) c.TextOut(20, y - 5, " " + std::to_string(v));
            --v;
        } else {
            c.Line(3, y, W - 25, y);
        }
    }
}

void DrawN9Scale(TScaleCanvas& c)
{
    CommonStart(c);
    const int W = c.Width(), H = c.Height();
    c.BrushColor = clRed;
    c.FillRect(10, 10, W - 10, (H / 8) - 7);
    CreamOnBlack(c);
    const int s1 = H / 18, s2 = H / 19;
    c.Line(0, 10, W, 10);
    int y = 0;
    for (int i = 1; i <= 6; ++i) {
        y = 4 + i * s1;
        if (i % 2 == 0)
            c.Line(0, y, W, y);
        else
            c.Line(10, y, W - 10, y);
        if (i == 6) c.TextOut(10, y - 5, " -6 ");
    }
    int v = -12;
    for (int i = 7; i <= 18; ++i) {
        y += s2;
        if (i % 2 == 0) {
            c.Line(0, y, W, y);
            c.TextOut(8, y - 7, " " + std::to_string(v));
            v -= 6;
        } else {
            c.Line(10, y, W - 10, y);
        }
    }
    c.TextOut(9, 0, "+12");
    c.TextOut(11, 2 * s1 + 7, "+6");
    c.TextOut(8, 4 * s1 - 2, "Test");
}

void DrawDINScale(TScaleCanvas& c)
{
    CommonStart(c);
    const int W = c.Width(), H = c.Height();
    c.BrushColor = clRed;
    c.FillRect(3, 10, W - 20, H / 6);
    CreamOnBlack(c);
    const int f = H / 5, e = H / 6, q = H / 24, t = H / 20, u = H / 34, r = H / 28;
    auto shortLine = [&](int y) { c.Line(3, y, W - 15, y); };

    c.TextOut(24, 5, "+5");
    c.Line(3, 10, W - 12, 10);
    shortLine(e / 4);
    shortLine((e / 2) - 3);
    shortLine(H / 7);
    shortLine(H / 9);
    c.Line(3, e, W - 12, e);
    c.TextOut(24, e - 5, " 0");
    for (int k = 0; k <= 3; ++k) shortLine(f + k * u);
    c.Line(3, f + 4 * u, W - 12, f + 4 * u);
    c.TextOut(20, f + 4 * u - 7, " -5");
    for (int k = 5; k <= 7; ++k) shortLine(f + k * u);
    c.PenColor = clRed;
    c.FontColor = clRed;
    shortLine(f + 8 * u + 5);
    c.PenColor = ScaleCream;
    c.FontColor = ScaleCream;
    shortLine(f + 8 * r);
    c.TextOut(16, f + 8 * r - 7, " -10");
    shortLine(f + 11 * q);
    shortLine(f + 9 * q);
    c.TextOut(16, f + 9 * q - 7, " -15");
    shortLine(f + 13 * q);
    c.TextOut(16, f + 11 * q - 7, " -20");
    c.TextOut(16, f + 13 * q - 7, " -25");
    shortLine(f + 15 * q);
    c.TextOut(16, f + 15 * q - 7, " -30");
    shortLine(e + 15 * t);
    c.TextOut(16, e + 15 * t - 7, " -40");
    shortLine(f + 16 * t - 10);
    c.TextOut(16, f + 16 * t - 17, " -50");
}

void DrawAlarmFill(TScaleCanvas& c)
{
    c.BrushColor = clRed;
    c.FillRect(0, 5, c.Width(), c.Height());
}

bool DrawStandardScale(TScaleCanvas& image, int standard)
{
    switch (standard) {
    case 0: DrawN9Scale(image); return true;
    case 1: DrawDINScale(image); return true;
    case 2: DrawBBCScale(image); return true;
    case 3: DrawEBUScale(image); return true;
    case 4: DrawK20Scale(image); return true;
    case 5: DrawK14Scale(image); return true;
    case 6: DrawK12Scale(image); return true;
    default: return false;
    }
}

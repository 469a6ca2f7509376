#include "widgets/MMLEDGlyphs.h"

#include "widgets/MMLEDFontArt.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <mutex>

namespace {

constexpr TColor kPalette[16] = {
    0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080, 0x808000, 0xC0C0C0,
    0x808080, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF};

constexpr TMMGlyphSize kDigitSizes[LEDSizeCount] = {
    {6, 7},   {7, 11},  {8, 13},  {11, 19}, {13, 20}, {13, 21}, {15, 24},
    {15, 25}, {17, 29}, {18, 25}, {19, 33}, {21, 37}, {23, 41}};

bool validSize(TMMLEDSize s) { return int(s) >= 0 && int(s) < LEDSizeCount; }

std::string upper(std::string s)
{
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// ---- dot-matrix fonts ----

struct DotLayout {
    int w, h;          // glyph cell
    int dot, pitch;    // dot size and dot pitch, both axes
    int x0;            // x of the first dot column
    int extraColumns;  // background columns right of the last glyph
    bool bold;
};

DotLayout dotLayout(TMMLEDFontSize size)
{
    switch (size) {
    case fs16x20: return {16, 20, 2, 3, 1, 0, false};
    case fs11x13_bold: return {11, 13, 1, 2, 1, 1, true};
    case fs11x13:
    default: return {11, 13, 1, 2, 1, 0, false};
    }
}

bool artLit(const TMMDotGlyphArt* art, int col, int row)
{
    if (!art) return false;
    const char* r = art->Rows[row];
    for (int i = 0; i < col; ++i)
        if (!r[i]) return false;
    return r[col] == '#';
}

void fillRect(TMMGlyphBitmap& b, int x, int y, int w, int h, uint8_t v)
{
    for (int yy = y; yy < y + h; ++yy)
        for (int xx = x; xx < x + w; ++xx) b.Set(xx, yy, v);
}

void drawDotGlyph(TMMGlyphBitmap& b, const DotLayout& L, int ox, int oy, const TMMDotGlyphArt* art)
{
    for (int row = 0; row < 7; ++row)
        for (int col = 0; col < 5; ++col) {
            const bool lit = artLit(art, col, row);
            const int x = ox + L.x0 + col * L.pitch, y = oy + row * L.pitch;
            fillRect(b, x, y, L.dot, L.dot, lit ? gpWhite : gpSilver);
        }
    if (!L.bold) return;
    // Bold: every lit dot also lights the gap to its right, and the gap below
    // it when the dot below is lit too.
    for (int row = 0; row < 7; ++row)
        for (int col = 0; col < 5; ++col) {
            if (!artLit(art, col, row)) continue;
            const int x = ox + L.x0 + col * L.pitch, y = oy + row * L.pitch;
            const int gap = L.pitch - L.dot;
            fillRect(b, x + L.dot, y, gap, L.dot, gpWhite);
            if (row < 6 && artLit(art, col, row + 1))
                fillRect(b, x, y + L.dot, L.dot + gap, gap, gpWhite);
        }
}

// ---- seven segments ----

enum : unsigned { segA = 1, segB = 2, segC = 4, segD = 8, segE = 16, segF = 32, segG = 64 };
constexpr unsigned kDigitSegments[10] = {
    segA | segB | segC | segD | segE | segF,         segB | segC,
    segA | segB | segD | segE | segG,                segA | segB | segC | segD | segG,
    segB | segC | segF | segG,                       segA | segC | segD | segF | segG,
    segA | segC | segD | segE | segF | segG,         segA | segB | segC,
    segA | segB | segC | segD | segE | segF | segG,  segA | segB | segC | segD | segF | segG};

int segThickness(int w, int h) { return std::max(1, std::min(w, h) / 6); }

// Draws the seven segments of one glyph cell at ox; segments in `lit` white,
// the others silver.
void drawSegments(TMMGlyphBitmap& b, int ox, int w, int h, unsigned lit)
{
    const int t = segThickness(w, h);
    const int m = w >= 11 ? 1 : 0;       // side margin
    const int gap = t >= 3 ? 1 : 0;      // shortening of the segment ends
    const int x0 = ox + m, x1 = ox + w - 1 - m;
    const int y1 = h - 1;
    const int gTop = (h - t) / 2, gBot = gTop + t - 1;
    auto seg = [&](unsigned s, int x, int y, int sw, int sh) {
        if (sw > 0 && sh > 0) fillRect(b, x, y, sw, sh, (lit & s) ? gpWhite : gpSilver);
    };
    const int hx = x0 + t + gap, hw = (x1 - t - gap) - hx + 1;
    seg(segA, hx, 0, hw, t);
    seg(segG, hx, gTop, hw, t);
    seg(segD, hx, y1 - t + 1, hw, t);
    const int upY = t + gap, upH = (gTop - 1 - gap) - upY + 1;
    const int loY = gBot + 1 + gap, loH = (y1 - t - gap) - loY + 1;
    seg(segF, x0, upY, t, upH);
    seg(segB, x1 - t + 1, upY, t, upH);
    seg(segE, x0, loY, t, loH);
    seg(segC, x1 - t + 1, loY, t, loH);
}

TMMLEDResourceLoader& customLoader()
{
    static TMMLEDResourceLoader loader;
    return loader;
}

TMMLEDResource builtIn(const std::string& name)
{
    static std::mutex lock;
    static std::map<std::string, TMMLEDResource> made;
    const std::lock_guard<std::mutex> guard(lock);
    auto it = made.find(name);
    if (it != made.end()) return it->second;

    TMMLEDResource r;
    for (int f = 0; f < 3 && !r; ++f)
        if (name == LEDFontResourceName(TMMLEDFontSize(f)))
            r = std::make_shared<const TMMGlyphBitmap>(MakeDotMatrixFont(TMMLEDFontSize(f)));
    for (int s = 0; s < LEDSizeCount && !r; ++s) {
        if (name == LEDDigitResourceName(TMMLEDSize(s), false))
            r = std::make_shared<const TMMGlyphBitmap>(MakeDigitStrip(TMMLEDSize(s)));
        else if (name == LEDDigitResourceName(TMMLEDSize(s), true))
            r = std::make_shared<const TMMGlyphBitmap>(MakeSpecialStrip(TMMLEDSize(s)));
    }
    if (r) made.emplace(name, r);
    return r;
}

}  // namespace

TColor GlyphPaletteColor(uint8_t index) { return kPalette[index & 15]; }

void TMMGlyphBitmap::Set(int x, int y, uint8_t v)
{
    if (x < 0 || y < 0 || x >= Width || y >= Height) return;
    Pixels[size_t(y) * size_t(Width) + size_t(x)] = v;
}

TMMGlyphSize LEDDigitGlyphSize(TMMLEDSize size)
{
    return validSize(size) ? kDigitSizes[size] : TMMGlyphSize{0, 0};
}

std::string LEDFontResourceName(TMMLEDFontSize size)
{
    switch (size) {
    case fs11x13: return "FONT_11X13";
    case fs16x20: return "FONT_16X20";
    case fs11x13_bold: return "FONT_11X13_BOLD";
    }
    return "";
}

std::string LEDDigitResourceName(TMMLEDSize size, bool special)
{
    if (!validSize(size)) return "";
    const TMMGlyphSize g = kDigitSizes[size];
    char buf[24];
    std::snprintf(buf, sizeof buf, "%s_%02dX%02d", special ? "LCDS" : "LCD", g.Width, g.Height);
    return buf;
}

TMMLEDResource LoadLEDResource(const std::string& name)
{
    const std::string key = upper(name);
    if (customLoader()) return customLoader()(key);
    return builtIn(key);
}

void SetLEDResourceLoader(TMMLEDResourceLoader loader) { customLoader() = std::move(loader); }

TMMGlyphBitmap MakeDotMatrixFont(TMMLEDFontSize size)
{
    const DotLayout L = dotLayout(size);
    TMMGlyphBitmap b(63 * L.w + L.extraColumns, 2 * L.h + 2);
    const TMMDotGlyphArt* byCode[158] = {};
    for (size_t i = 0; i < LEDFontArtCount; ++i) {
        const int c = LEDFontArt[i].Code;
        if (c >= 32 && c <= 157) byCode[c] = &LEDFontArt[i];
    }
    for (int c = 32; c <= 157; ++c) {
        const int col = (c - 32) % 63, row = (c - 32) / 63;
        drawDotGlyph(b, L, col * L.w, row * (L.h + 2), byCode[c]);
    }
    return b;
}

TMMGlyphBitmap MakeDigitStrip(TMMLEDSize size)
{
    const TMMGlyphSize g = LEDDigitGlyphSize(size);
    TMMGlyphBitmap b(11 * g.Width, g.Height);
    if (g.Width == 0) return b;
    drawSegments(b, 0, g.Width, g.Height, 0);
    for (int d = 0; d < 10; ++d) drawSegments(b, (d + 1) * g.Width, g.Width, g.Height, kDigitSegments[d]);
    return b;
}

TMMGlyphBitmap MakeSpecialStrip(TMMLEDSize size)
{
    const TMMGlyphSize g = LEDDigitGlyphSize(size);
    TMMGlyphBitmap b(4 * g.Width, g.Height);
    if (g.Width == 0) return b;
    const int w = g.Width, h = g.Height, t = segThickness(w, h);
    const int cx = (w - t) / 2;
    drawSegments(b, 0, w, h, 0);                            // off
    fillRect(b, w + cx, h - t, t, t, gpWhite);              // decimal point
    fillRect(b, 2 * w + cx, h / 3 - t / 2, t, t, gpWhite);  // colon
    fillRect(b, 2 * w + cx, (2 * h) / 3 - t / 2, t, t, gpWhite);
    drawSegments(b, 3 * w, w, h, segG);                     // minus
    return b;
}

std::vector<uint32_t> RecolorGlyphs(const TMMGlyphBitmap& bitmap, const TMMLEDColors& colors)
{
    uint32_t map[16];
    for (int i = 0; i < 16; ++i) map[i] = ToArgb(kPalette[i]);
    map[gpWhite] = ToArgb(colors.Lit);
    map[gpBlack] = ToArgb(colors.Background);
    map[gpSilver] = ToArgb(colors.DrawInactive ? colors.Unlit : colors.Background);
    std::vector<uint32_t> out(bitmap.Pixels.size());
    for (size_t i = 0; i < out.size(); ++i) out[i] = map[bitmap.Pixels[i] & 15];
    return out;
}

#include "widgets/MMLEDText.h"

#include <algorithm>

int LEDCharCode(char32_t c)
{
    switch (c) {
    case 177: return 150;  // plus-minus
    case 196: return 135;  // A umlaut
    case 214: return 140;  // O umlaut
    case 220: return 137;  // U umlaut
    case 223: return 149;  // sharp s
    case 228: return 135;  // a umlaut
    case 246: return 140;  // o umlaut
    case 252: return 137;  // u umlaut
    default: break;
    }
    return (c >= 32 && c <= 157) ? int(c) : 32;
}

TMMLEDFontGeometry TMMLEDFontGeometry::FromBitmap(int width, int height)
{
    TMMLEDFontGeometry g;
    if (width <= 0 || height <= 2) return g;
    g.w = width / 63;
    g.h = (height - 2) / 2;
    return g;
}

TMMLEDLabelSizeOut LEDLabelSize(const TMMLEDLabelSizeIn& in)
{
    TMMLEDLabelSizeOut out;
    const int B = std::max(0, in.Bevel);
    const int pitch = in.GlyphW + in.LEDSpace - 1;
    if (in.AutoSize)
        out.NumChars = std::max(0, in.CaptionLength);
    else if (pitch > 0)
        out.NumChars = std::max(0, (in.Width + in.LEDSpace - 2 * B - 1) / pitch);
    // Without glyphs, or with no cells, the label keeps just its frame.
    const long long cells = (long long)pitch * out.NumChars - in.LEDSpace + 1;
    out.Width = 2 * B + int(std::clamp<long long>(cells, 0, 1 << 20));
    out.Height = 2 * B + std::max(0, in.GlyphH);
    out.SetsWidth = in.Align != alTop && in.Align != alBottom;
    return out;
}

std::u32string LEDTextWindow(const std::u32string& caption, int numChars, TMMAlignment alignment,
                             int currentStep)
{
    const int n = std::max(0, numChars);
    const int L = int(caption.size());
    std::u32string out;
    switch (alignment) {
    case taRightJustify:
        if (L >= n) return caption.substr(size_t(L - n));
        return std::u32string(size_t(n - L), U' ') + caption;
    case taCenter:
        if (L >= n) return caption.substr(size_t((L - n) / 2), size_t(n));
        out = std::u32string(size_t((n - L) / 2), U' ') + caption;
        break;
    case taLeftJustify:
    default: {
        const int from = std::clamp(currentStep, 0, L);
        out = caption.substr(size_t(from), size_t(n));
        break;
    }
    }
    out.resize(size_t(n), U' ');
    return out;
}

bool TMMLEDScroller::SetStartStep(int v, int captionLength)
{
    if (v < 0 || v > captionLength) return false;
    mStartStep = v;
    return true;
}

bool TMMLEDScroller::SetCurrentStep(int v, int captionLength)
{
    if (v < 0 || v > captionLength) return false;
    mCurrentStep = v;
    return true;
}

bool TMMLEDScroller::Start(int captionLength)
{
    if (mRunning) return false;
    if (mCurrentStep >= captionLength) mCurrentStep = mStartStep;
    mRunning = true;
    return true;
}

TMMLEDScroller::TTick TMMLEDScroller::Tick(int captionLength, bool loop)
{
    ++mCurrentStep;
    if (mCurrentStep < captionLength) return tkStep;
    if (loop)
        mCurrentStep = mStartStep;
    else
        mRunning = false;
    return tkEnd;
}

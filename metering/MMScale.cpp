#include "metering/MMScale.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace ScaleMath {

int MulDiv(int a, int b, int c)
{
    if (c == 0) return -1;
    const int64_t p = static_cast<int64_t>(a) * b;
    const int64_t ap = p < 0 ? -p : p;
    const int64_t ac = c < 0 ? -static_cast<int64_t>(c) : c;
    int64_t q = (ap + ac / 2) / ac;
    if ((p < 0) != (c < 0)) q = -q;
    if (q > INT32_MAX || q < INT32_MIN) return -1;
    return static_cast<int>(q);
}

int RoundDiv(int a, int b, int c)
{
    if (c == 0) return 0;
    const int64_t q = (static_cast<int64_t>(a) * b + c / 2) / c;
    return static_cast<int>(std::clamp<int64_t>(q, INT32_MIN, INT32_MAX));
}

int Round(long double x)
{
    const long double r = std::nearbyint(x);  // default mode: halves to even
    if (r >= static_cast<long double>(INT32_MAX)) return INT32_MAX;
    if (r <= static_cast<long double>(INT32_MIN)) return INT32_MIN;
    return static_cast<int>(r);
}

}  // namespace ScaleMath

using ScaleMath::MulDiv;
using ScaleMath::RoundDiv;

// ---------------------------------------------------------------- canvas

std::vector<TScaleRect> LineSpans(const TScaleOp& op)
{
    std::vector<TScaleRect> spans;
    const int x1 = op.X1, y1 = op.Y1, x2 = op.X2, y2 = op.Y2;
    if (x1 == x2 && y1 == y2) return spans;
    if (y1 == y2) {
        // Start included, end excluded, in either direction.
        const int lo = x2 > x1 ? x1 : x2 + 1;
        const int hi = x2 > x1 ? x2 : x1 + 1;
        spans.push_back({lo, y1, hi, y1 + 1});
        return spans;
    }
    if (x1 == x2) {
        const int lo = y2 > y1 ? y1 : y2 + 1;
        const int hi = y2 > y1 ? y2 : y1 + 1;
        spans.push_back({x1, lo, x1 + 1, hi});
        return spans;
    }
    // Bresenham from the start point, stopping before the end point.
    const int64_t dx = std::llabs(static_cast<int64_t>(x2) - x1);
    const int64_t dy = std::llabs(static_cast<int64_t>(y2) - y1);
    const int sx = x2 > x1 ? 1 : -1, sy = y2 > y1 ? 1 : -1;
    int64_t err = dx - dy;
    int x = x1, y = y1;
    const int64_t steps = std::max(dx, dy);
    for (int64_t n = 0; n < steps; ++n) {
        spans.push_back({x, y, x + 1, y + 1});
        const int64_t e2 = 2 * err;
        if (e2 > -dy) {
            err -= dy;
            x += sx;
        }
        if (e2 < dx) {
            err += dx;
            y += sy;
        }
    }
    return spans;
}

TScaleCanvas::TScaleCanvas(int width, int height, const IScaleTextMeasure* measure)
    : mWidth(std::max(0, width)), mHeight(std::max(0, height)), mMeasure(measure)
{
}

void TScaleCanvas::Line(int x1, int y1, int x2, int y2)
{
    TScaleOp op;
    op.Kind = TScaleOpKind::Line;
    op.X1 = x1;
    op.Y1 = y1;
    op.X2 = x2;
    op.Y2 = y2;
    op.Color = PenColor;
    mOps.push_back(op);
}

void TScaleCanvas::FillRect(int left, int top, int right, int bottom)
{
    TScaleOp op;
    op.Kind = TScaleOpKind::FillRect;
    op.X1 = left;
    op.Y1 = top;
    op.X2 = right;
    op.Y2 = bottom;
    op.Color = BrushColor;
    mOps.push_back(op);
}

void TScaleCanvas::TextOut(int x, int y, const std::string& text)
{
    TScaleOp op;
    op.Kind = TScaleOpKind::Text;
    op.X1 = x;
    op.Y1 = y;
    op.Color = FontColor;
    op.Back = BrushColor;
    op.Opaque = TextOpaque;
    op.Text = text;
    mOps.push_back(op);
}

int TScaleCanvas::TextWidth(const std::string& text) const
{
    return mMeasure ? mMeasure->TextWidth(text) : 0;
}

int TScaleCanvas::TextHeight(const std::string& text) const
{
    return mMeasure ? mMeasure->TextHeight(text) : 0;
}

// ---------------------------------------------------------------- tick row

void TMMCustomScale::Changed()
{
    if (OnChange) OnChange(this);
}

void TMMCustomScale::setVisible(bool v)
{
    if (v == mVisible) return;
    mVisible = v;
    Changed();
}

void TMMCustomScale::setColor(TColor c)
{
    mColor = mColor2 = mColor3 = c;
    Changed();
}

void TMMCustomScale::setMiddleColor(TColor c)
{
    if (c == mColor2) return;
    mColor2 = c;
    Changed();
}

void TMMCustomScale::setTopColor(TColor c)
{
    if (c == mColor3) return;
    mColor3 = c;
    Changed();
}

void TMMCustomScale::setStyle(TMMScaleStyle s)
{
    if (s != stLowered && s != stRaised) s = stColor;
    if (s == mStyle) return;
    mStyle = s;
    Changed();
}

void TMMCustomScale::setTickCount(int v)
{
    v = std::clamp(v, 2, MaxScaleCount);
    if (v == mTickCount) return;
    mTickCount = v;
    Changed();
}

void TMMCustomScale::setEnlargeEvery(int v)
{
    v = std::max(v, 1);
    if (v == mEnlargeEvery) return;
    mEnlargeEvery = v;
    Changed();
}

void TMMCustomScale::setSize(int v)
{
    v = std::clamp(v, 1, MaxScaleCount);
    if (v == mSize) return;
    mSize = v;
    Changed();
}

void TMMCustomScale::setOrigin(TMMScaleOrigin v)
{
    if (v != soOuter) v = soInner;
    if (v == mOrigin) return;
    mOrigin = v;
    Changed();
}

void TMMCustomScale::setConnect(bool v)
{
    if (v == mConnect) return;
    mConnect = v;
    Changed();
}

void TMMCustomScale::SetZoneColors(TColor low, TColor middle, TColor top)
{
    mColor = low;
    mColor2 = middle;
    mColor3 = top;
}

void TMMCustomScale::SetZones(int z1, int z2)
{
    mZ1 = z1;
    mZ2 = z2;
}

int TMMCustomScale::BandWidth() const
{
    return mSize + (mConnect ? 1 : 0) + (mConnect && mStyle != stColor ? 1 : 0);
}

void TMMCustomScale::Assign(const TMMCustomScale& src)
{
    if (&src != this) {
        mVisible = src.mVisible;
        mColor = src.mColor;
        mColor2 = src.mColor2;
        mColor3 = src.mColor3;
        mStyle = src.mStyle;
        mTickCount = src.mTickCount;
        mEnlargeEvery = src.mEnlargeEvery;
        mSize = src.mSize;
        mOrigin = src.mOrigin;
        mConnect = src.mConnect;
    }
    Changed();
}

void TMMCustomScale::DrawLine(int x1, int y1, int x2, int y2, TColor color)
{
    TScaleCanvas& c = *mCanvas;
    if (mStyle == stColor) {
        c.PenColor = color;
        c.Line(x1, y1, x2, y2);
        return;
    }
    // Relief: the second copy one pixel down for a mostly horizontal line,
    // otherwise one pixel right (left when the line slopes the other way).
    const int64_t dx = static_cast<int64_t>(x2) - x1, dy = static_cast<int64_t>(y2) - y1;
    int sx = 0, sy = 0;
    if (std::llabs(dx) > std::llabs(dy))
        sy = 1;
    else
        sx = (dx != 0 && (dx < 0) != (dy < 0)) ? -1 : 1;
    const TColor first = mStyle == stLowered ? clBlack : clWhite;
    const TColor second = mStyle == stLowered ? clWhite : clBlack;
    c.PenColor = first;
    c.Line(x1, y1, x2, y2);
    c.PenColor = second;
    c.Line(x1 + sx, y1 + sy, x2 + sx, y2 + sy);
}

void TMMCustomScale::DrawScale(TScaleCanvas* canvas, const TScaleRect& r, bool firstSide)
{
    setCanvas(canvas);
    DrawScale(r, firstSide);
}

void TMMCustomScale::DrawScale(const TScaleRect& r, bool firstSide)
{
    if (!mCanvas) throw EMMScaleError("Canvas needed for this operation");

    const bool horizontal = (r.Bottom - r.Top) < (r.Right - r.Left);
    const float L = static_cast<float>(horizontal ? r.Right - r.Left : r.Bottom - r.Top);

    const bool zones = mStyle == stColor && !(mColor == mColor2 && mColor2 == mColor3) &&
                       0 <= mZ1 && mZ1 <= mZ2 && mZ2 <= mTickCount;
    float z1 = 0, z2 = 0, step = 0;
    if (zones) {
        z1 = static_cast<float>(static_cast<long double>(mZ1) / mTickCount * L);
        z2 = static_cast<float>(static_cast<long double>(mZ2) / mTickCount * L);
        step = static_cast<float>(static_cast<long double>(L) / mTickCount);
    }
    const bool inner = firstSide ? mOrigin == soInner : mOrigin == soOuter;
    const int cv = mConnect && mStyle != stColor ? 1 : 0;

    if (mConnect) {
        // Base line: start and end along the row, the fixed coordinate across it.
        int start, end, across;
        if (horizontal) {
            across = inner ? r.Bottom - cv : r.Top - 1;
            start = r.Left;
            end = r.Right + 1;
        } else {
            across = inner ? r.Right - cv - 1 : r.Left;
            start = r.Top + 1;
            end = r.Bottom + 1;
        }
        auto piece = [&](int a, int b, TColor col) {
            if (horizontal)
                DrawLine(a, across, b, across, col);
            else
                DrawLine(across, a, across, b, col);
        };
        if (zones) {
            const int m1 = start + static_cast<int>(std::trunc(static_cast<long double>(z1) + step));
            const int m2 = start + static_cast<int>(std::trunc(static_cast<long double>(z2) + step));
            piece(start, m1, mColor);
            piece(m1, m2, mColor2);
            piece(m2, end, mColor3);
        } else {
            piece(start, end, mColor);
        }
    }

    for (int c = 0; c < mTickCount; ++c) {
        const float pos = static_cast<float>(static_cast<long double>(L) / (mTickCount - 1) * c);
        const int len = c % mEnlargeEvery == 0 ? mSize : mSize / 2;
        TColor col = mColor;
        if (zones) col = pos > z2 ? mColor3 : (pos > z1 ? mColor2 : mColor);
        if (horizontal) {
            const int x = static_cast<int>(std::trunc(static_cast<long double>(r.Left) + pos));
            if (inner)
                DrawLine(x, r.Bottom - len, x, r.Bottom, col);
            else
                DrawLine(x, r.Top, x, r.Top + len, col);
        } else {
            const int y = ScaleMath::Round(static_cast<long double>(r.Top) + pos);
            if (inner)
                DrawLine(r.Right - len - cv, y, r.Right - cv, y, col);
            else
                DrawLine(r.Left + cv, y, r.Left + cv + len, y, col);
        }
    }
}

// ---------------------------------------------------------------- level scale

TMMCustomLevelScale::TMMCustomLevelScale()
{
    mScale.OnChange = [this](TMMCustomScale*) { Changed(); };
}

void TMMCustomLevelScale::Changed()
{
    if (OnChange) OnChange(this);
}

void TMMCustomLevelScale::setScaleTicks(int v)
{
    mScaleTicks = std::clamp(v, 2, MaxScaleCount);
    Changed();
}

void TMMCustomLevelScale::setSensitivy(int v)
{
    mSensitivy = std::clamp(v, -90, -9);
    Changed();
}

void TMMCustomLevelScale::setLogAmp(bool v)
{
    mLogAmp = v;
    Changed();
}

void TMMCustomLevelScale::setPoint1(int v)
{
    mPoint1 = std::clamp(v, 1, 100);
    Changed();
}

void TMMCustomLevelScale::setPoint2(int v)
{
    mPoint2 = std::clamp(v, 1, 100);
    Changed();
}

void TMMCustomLevelScale::setScale1Color(TColor c)
{
    mScale1Color = c;
    Changed();
}

void TMMCustomLevelScale::setScale2Color(TColor c)
{
    mScale2Color = c;
    Changed();
}

void TMMCustomLevelScale::setScale3Color(TColor c)
{
    mScale3Color = c;
    Changed();
}

void TMMCustomLevelScale::setKind(TMMLevelKind k)
{
    if (k != lkVertical) k = lkHorizontal;
    mKind = k;
    if ((k == lkHorizontal && mWidth < mHeight) || (k == lkVertical && mHeight < mWidth))
        std::swap(mWidth, mHeight);
    Changed();
}

void TMMCustomLevelScale::setDirection(TMMLevelDirection d)
{
    if (d != dirReversed && d != dirSymetric) d = dirNormal;
    mDirection = d;
    Changed();
}

void TMMCustomLevelScale::setScalePos(TMMScalePos p)
{
    if (p != spAboveOrLeft && p != spBelowOrRight) p = spBoth;
    mScalePos = p;
    Changed();
}

void TMMCustomLevelScale::setColor(TColor c)
{
    mColor = c;
    Changed();
}

void TMMCustomLevelScale::setWidth(int v)
{
    mWidth = std::max(0, v);
    Changed();
}

void TMMCustomLevelScale::setHeight(int v)
{
    mHeight = std::max(0, v);
    Changed();
}

void TMMCustomLevelScale::setBounds(int width, int height)
{
    mWidth = std::max(0, width);
    mHeight = std::max(0, height);
    Changed();
}

int TMMCustomLevelScale::LabelSpacing(int length, int textSize, int n)
{
    if (n < 1) return 1;
    if (textSize < 1) return 1;
    for (int k = 1; k <= n; ++k) {
        const int64_t span = static_cast<int64_t>(n / k) * textSize;
        if (length / span >= 1) return k;
    }
    return n;
}

int TMMCustomLevelScale::LabelValue(int m, int n, int sensitivy, bool logAmp)
{
    if (n < 1) return 0;
    if (logAmp) return MulDiv(m, sensitivy, n);
    const float lo = static_cast<float>(32767.0L / std::pow(10.0L, -sensitivy / 20.0L));
    const long double a = (static_cast<long double>(lo) +
                           (32767.0L - static_cast<long double>(lo)) * m / n) / 32767.0L;
    return ScaleMath::Round(20.0L * std::log10(a));
}

std::string TMMCustomLevelScale::LabelText(int value, bool vertical)
{
    if (vertical) {
        switch (value) {
        case -2: case -3: case -7: case -8: case -12: case -13: case -17: case -18:
        case -22: case -24: case -27: case -29:
            return "--";
        default:
            break;
        }
    }
    return std::to_string(value);
}

void TMMCustomLevelScale::Paint(TScaleCanvas& canvas)
{
    const bool vertical = mKind == lkVertical;
    const bool reversed = mDirection == dirReversed;

    canvas.BrushColor = mColor;
    canvas.FillRect(0, 0, mWidth, mHeight);
    TScaleRect r{0, 0, mWidth, mHeight};

    const int half = (vertical ? canvas.TextHeight("0") : canvas.TextWidth("0")) / 2;

    if (mScale.Visible()) {
        int p1, p2;
        if (vertical != reversed) {
            mScale.SetZoneColors(mScale3Color, mScale2Color, mScale1Color);
            p1 = 100 - mPoint2;
            p2 = 100 - mPoint1;
        } else {
            mScale.SetZoneColors(mScale1Color, mScale2Color, mScale3Color);
            p1 = mPoint1;
            p2 = mPoint2;
        }
        mScale.SetZones(MulDiv(p1 - 1, mScale.TickCount(), 100),
                        MulDiv(p2 - 1, mScale.TickCount(), 100));
        mScale.setCanvas(&canvas);
        const int b = mScale.BandWidth();
        if (mScalePos == spAboveOrLeft || mScalePos == spBoth) {
            if (vertical) {
                if (reversed)
                    mScale.DrawScale({r.Left, r.Top - half, r.Left + b, r.Bottom - half - 1}, true);
                else
                    mScale.DrawScale({r.Left, r.Top + half, r.Left + b, r.Bottom + half - 1}, true);
                r.Left += b;
            } else {
                if (reversed)
                    mScale.DrawScale({r.Left + half, r.Top, r.Right + half - 1, r.Top + b}, true);
                else
                    mScale.DrawScale({r.Left - half - 1, r.Top, r.Right - half - 1, r.Top + b}, true);
                r.Top += b;
            }
        }
        if (mScalePos == spBelowOrRight || mScalePos == spBoth) {
            if (vertical) {
                if (reversed)
                    mScale.DrawScale({r.Right - b, r.Top - half, r.Right, r.Bottom - half - 1}, false);
                else
                    mScale.DrawScale({r.Right - b, r.Top + half, r.Right, r.Bottom + half - 1}, false);
                r.Right -= b;
            } else {
                if (reversed)
                    mScale.DrawScale({r.Left + half, r.Bottom - b, r.Right + half - 1, r.Bottom}, false);
                else
                    mScale.DrawScale({r.Left - half - 1, r.Bottom - b, r.Right - half - 1, r.Bottom},
                                     false);
                r.Bottom -= b;
            }
        }
        mScale.setCanvas(nullptr);  // the canvas lives only for this paint
    }

    if (r.Top <= r.Bottom && r.Left <= r.Right) PaintLabels(canvas, r);
}

void TMMCustomLevelScale::PaintLabels(TScaleCanvas& canvas, const TScaleRect& r)
{
    const bool vertical = mKind == lkVertical;
    const bool reversed = mDirection == dirReversed;
    const bool symmetric = mDirection == dirSymetric;

    const int TH = canvas.TextHeight("W");
    const int CW = canvas.TextWidth(std::to_string(mSensitivy));
    const int N = mScaleTicks - 1;

    int D = vertical ? mHeight : mWidth;
    if (symmetric) D /= 2;
    const int k = LabelSpacing(D, vertical ? TH : CW, N);

    // Walk upwards in i for a vertical scale without dirReversed and for a
    // horizontal one with it; downwards otherwise.
    const bool ascending = vertical != reversed;
    // With logAmp, m counts from the 0 dB end; without, from the empty end.
    const bool logFromEnd = vertical == reversed;
    const bool linFromEnd = ascending;

    const int cx = r.Right - (r.Right - r.Left) / 2;
    const int xr = cx - CW / 2 + CW - 1;
    const long double limit2 = mPoint2 * 32767.0L / 100.0L;
    const long double limit1 = mPoint1 * 32767.0L / 100.0L;

    for (int j = 0; j <= N; ++j) {
        if (j % k != 0) continue;
        const int i = ascending ? j : N - j;

        int h = MulDiv(32767, i, N);
        if (ascending) h = 32767 - h;
        canvas.FontColor = h > limit2 ? mScale3Color : (h > limit1 ? mScale2Color : mScale1Color);

        const int m = mLogAmp ? (logFromEnd ? N - i : i) : (linFromEnd ? N - i : i);
        const int value = LabelValue(m, N, mSensitivy, mLogAmp);
        const std::string text = LabelText(value, vertical);
        const std::string mirror = "+" + std::to_string(std::abs(value));
        const int W = canvas.TextWidth(text);

        if (vertical && !symmetric) {
            int y = RoundDiv(i, r.Bottom - r.Top - 1, N);
            if (reversed) y -= TH;
            if (y < 0 || static_cast<int64_t>(y) + TH > mHeight) continue;
            canvas.TextOut(xr - W, r.Top + y, text);
        } else if (vertical) {
            const int halfH = (r.Bottom - r.Top) / 2;
            const int y = RoundDiv(i, (r.Bottom - r.Top - 1) / 2, N);
            if (y < 0 || static_cast<int64_t>(y) + TH > halfH) continue;
            canvas.TextOut(xr - W, r.Top + halfH + 1 + y - TH / 2, text);
            if (i > 0) canvas.TextOut(xr - W, r.Top + halfH + 1 - y - TH / 2, mirror);
        } else if (!symmetric) {
            int x = RoundDiv(i, r.Right - r.Left - 1, N);
            if (!reversed) x -= W;
            if (x < 0 || static_cast<int64_t>(x) + W > mWidth) continue;
            canvas.TextOut(r.Left + x, r.Top + (r.Bottom - r.Top - TH) / 2, text);
        } else {
            const int halfW = (r.Right - r.Left) / 2;
            const int x = RoundDiv(i, (r.Right - r.Left - 1) / 2, N);
            if (x < 0 || W > x) continue;
            const int y = r.Top + (r.Bottom - r.Top - TH) / 2;
            canvas.TextOut(r.Left + x - W / 2, y, text);
            if (i < N) canvas.TextOut(r.Left + 2 * halfW - x - 1 - W / 2, y, mirror);
        }
    }
}

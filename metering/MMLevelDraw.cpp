// Drawing of the level bar core: spot geometry, the background and the
// repaint of the changed area into the bar's canvas.
#include "metering/MMLevel.h"

#include <algorithm>

using namespace mmlevel;

namespace {

// Holds the drawing lock and the canvas prepared, also through exceptions.
class DrawGuard {
public:
    explicit DrawGuard(TMMDIBCanvas& c) : mCanvas(c) { mCanvas.BeginDraw(); }
    ~DrawGuard() { mCanvas.EndDraw(); }
    DrawGuard(const DrawGuard&) = delete;
    DrawGuard& operator=(const DrawGuard&) = delete;

private:
    TMMDIBCanvas& mCanvas;
};

}  // namespace

// ---- geometry ---------------------------------------------------------------

void TMMCustomLevel::calcDrawArea()
{
    const int inset = mBevel.TotalWidth();
    mDrawWidth = std::max(mWidth - 2 * inset, 1);
    mDrawHeight = std::max(mHeight - 2 * inset, 1);
    mWork.SetSize(mDrawWidth, mDrawHeight);
    mBack.SetSize(mDrawWidth, mDrawHeight);
    // The canvases cut absurd sizes; keep the geometry within them.
    mDrawWidth = std::max(mWork.Width(), 1);
    mDrawHeight = std::max(mWork.Height(), 1);
}

void TMMCustomLevel::CalcSpots()
{
    mSpotWidth = std::max(mSpotWidth, 1);
    const int l = mKind == lkHorizontal ? mDrawWidth : mDrawHeight;
    const int stride = mSpotWidth + mSpotSpace;
    mNumSpots = std::max((l + mSpotSpace) / stride, 1);
    mSpotOffset = (l - (mNumSpots * stride - mSpotSpace)) / 2;
    mZone1Spots = mPoint1 * mNumSpots / 100;
    mZone2Spots = mPoint2 * mNumSpots / 100;
    RenderBackground();
    mPeakSpot = 0;
    mBarSpots = 0;
    Invalidate();
}

TMMRect TMMCustomLevel::SpotRect(int i) const
{
    const int k = (i - 1) * (mSpotWidth + mSpotSpace);
    TMMRect r;
    if (mKind == lkHorizontal) {
        r.Top = 0;
        r.Bottom = mDrawHeight;
        if (mDirection == dirNormal) {
            r.Left = mSpotOffset + k;
            r.Right = r.Left + mSpotWidth;
        } else {
            r.Right = mDrawWidth - mSpotOffset - k;
            r.Left = r.Right - mSpotWidth;
        }
    } else {
        r.Left = 0;
        r.Right = mDrawWidth;
        if (mDirection == dirNormal) {
            r.Bottom = mDrawHeight - mSpotOffset - k;
            r.Top = r.Bottom - mSpotWidth;
        } else {
            r.Top = mSpotOffset + k;
            r.Bottom = r.Top + mSpotWidth;
        }
    }
    return r;
}

int TMMCustomLevel::ZoneOf(int i) const
{
    if (i > mZone2Spots) return 3;
    if (i > mZone1Spots) return 2;
    return 1;
}

// ---- drawing ----------------------------------------------------------------

void TMMCustomLevel::drawSpot(TMMDIBCanvas& dib, int i, TColor c, bool doted) const
{
    if (doted)
        dib.FillRectDoted(SpotRect(i), c);
    else
        dib.FillRect(SpotRect(i), c);
}

namespace {

// Segments a .. b (a <= b) of one colour; touching solid segments are
// filled as one rectangle.
template <typename Level>
void drawRange(const Level& lv, TMMDIBCanvas& dib, int a, int b, TColor c, bool doted)
{
    if (a > b) return;
    if (!doted && lv.SpotSpace() == 0) {
        const TMMRect ra = lv.SpotRect(a), rb = lv.SpotRect(b);
        dib.FillRect({std::min(ra.Left, rb.Left), std::min(ra.Top, rb.Top), std::max(ra.Right, rb.Right),
                      std::max(ra.Bottom, rb.Bottom)},
                     c);
        return;
    }
    for (int i = a; i <= b; ++i) {
        if (doted)
            dib.FillRectDoted(lv.SpotRect(i), c);
        else
            dib.FillRect(lv.SpotRect(i), c);
    }
}

// Segments 1 .. n in the colours of their zones (ZoneOf as ranges).
template <typename Level>
void drawZones(const Level& lv, TMMDIBCanvas& dib, int n, const TColor (&colors)[3], bool doted)
{
    const int z1 = std::max(lv.Zone1Spots(), 0), z2 = std::max(lv.Zone2Spots(), 0);
    drawRange(lv, dib, 1, std::min({z1, z2, n}), colors[0], doted);
    drawRange(lv, dib, z1 + 1, std::min(z2, n), colors[1], doted);
    drawRange(lv, dib, z2 + 1, n, colors[2], doted);
}

}  // namespace

void TMMCustomLevel::RenderBackground()
{
    if (mOnDrawBar) return;
    DrawGuard guard(mBack);
    mBack.FillRect({0, 0, mBack.Width(), mBack.Height()}, mColor);
    drawZones(*this, mBack, mNumSpots, mInactive, mInactiveDoted);
}

TMMRect TMMCustomLevel::ChangedArea() const
{
    const TMMRect all{0, 0, mWork.Width(), mWork.Height()};
    if (mRedraw || mOnDrawBar || !mEnabled || mDirection == dirSymetric || mDrawnBar < 0 || mDrawnPeak < 0)
        return all;
    if (mBarSpots == mDrawnBar && mPeakSpot == mDrawnPeak) return {};
    // Segments lit by the bar in one state and not in the other, and both
    // peak stacks (a segment lit by bar or peak has the same colour).
    int lo = mNumSpots + 1, hi = 0;
    const auto add = [&](int a, int b) {
        a = std::max(a, 1);
        b = std::min(b, mNumSpots);
        if (a > b) return;
        lo = std::min(lo, a);
        hi = std::max(hi, b);
    };
    add(std::min(mBarSpots, mDrawnBar) + 1, std::max(mBarSpots, mDrawnBar));
    if (mNumPeaks > 0) {
        add(mDrawnPeak - mNumPeaks + 1, mDrawnPeak);
        add(mPeakSpot - mNumPeaks + 1, mPeakSpot);
    }
    if (lo > hi) return {};
    const TMMRect a = SpotRect(lo), b = SpotRect(hi);
    return {std::max(std::min(a.Left, b.Left), 0), std::max(std::min(a.Top, b.Top), 0),
            std::min(std::max(a.Right, b.Right), all.Right), std::min(std::max(a.Bottom, b.Bottom), all.Bottom)};
}

void TMMCustomLevel::DrawLevel() { drawLevel(nullptr); }

void TMMCustomLevel::DrawLevel(const TMMRect& area) { drawLevel(&area); }

void TMMCustomLevel::drawLevel(const TMMRect* area)
{
    if (OnPaint) OnPaint(this);
    DrawGuard guard(mWork);
    mRedraw = false;
    mDrawnBar = mEnabled ? mBarSpots : -1;
    mDrawnPeak = mEnabled ? mPeakSpot : -1;
    if (mOnDrawBar) {
        mOnDrawBar(this, mWork, TMMRect{0, 0, mDrawWidth, mDrawHeight}, mBarSpots, mPeakSpot);
        return;
    }
    // The clip holds only while this call draws.
    struct ClipGuard {
        TMMDIBCanvas& c;
        ~ClipGuard() { c.ClearClip(); }
    } clip{mWork};
    if (area) mWork.SetClip(*area);
    mWork.CopyFrom(mBack);
    if (!mEnabled) return;

    if (mDirection == dirSymetric) {
        const int c = std::clamp(mBarSpots, 1, mNumSpots);
        const TColor col = mBar[ZoneOf(c) - 1];
        drawRange(*this, mWork, std::max(c - 2, 1), std::min(c + 2, mNumSpots), col, mActiveDoted);
    } else {
        drawZones(*this, mWork, std::min(mBarSpots, mNumSpots), mBar, mActiveDoted);
    }

    if (mNumPeaks > 0 && mPeakSpot > mBarSpots) {
        for (int j = 0; j < mNumPeaks; ++j) {
            const int i = mPeakSpot - j;
            if (i < 1) break;
            drawSpot(mWork, i, mBar[ZoneOf(i) - 1], mActiveDoted);
        }
    }
}

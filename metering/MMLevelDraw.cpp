// Drawing of the level bar core: spot geometry, the background and the
// repaint of the changed area into the bar's canvas.
#include "metering/MMLevel.h"

#include <algorithm>

using namespace mmlevel;

namespace {

// Holds the drawing lock and the canvas prepared, also through exceptions.
class DrawGuard {
public:
    explicit DrawGuard(TMMDIBCanvas& c) : fCanvas(c) { fCanvas.BeginDraw(); }
    ~DrawGuard() { fCanvas.EndDraw(); }
    DrawGuard(const DrawGuard&) = delete;
    DrawGuard& operator=(const DrawGuard&) = delete;

private:
    TMMDIBCanvas& fCanvas;
};

}  // namespace

// ---- geometry ---------------------------------------------------------------

void TMMCustomLevel::calcDrawArea()
{
    const int inset = fBevel.TotalWidth();
    fDrawWidth = std::max(fWidth - 2 * inset, 1);
    fDrawHeight = std::max(fHeight - 2 * inset, 1);
    fWork.SetSize(fDrawWidth, fDrawHeight);
    fBack.SetSize(fDrawWidth, fDrawHeight);
    // The canvases cut absurd sizes; keep the geometry within them.
    fDrawWidth = std::max(fWork.Width(), 1);
    fDrawHeight = std::max(fWork.Height(), 1);
}

void TMMCustomLevel::CalcSpots()
{
    fSpotWidth = std::max(fSpotWidth, 1);
    const int l = fKind == lkHorizontal ? fDrawWidth : fDrawHeight;
    const int stride = fSpotWidth + fSpotSpace;
    fNumSpots = std::max((l + fSpotSpace) / stride, 1);
    fSpotOffset = (l - (fNumSpots * stride - fSpotSpace)) / 2;
    fZone1Spots = fPoint1 * fNumSpots / 100;
    fZone2Spots = fPoint2 * fNumSpots / 100;
    RenderBackground();
    fPeakSpot = 0;
    fBarSpots = 0;
    Invalidate();
}

TMMRect TMMCustomLevel::SpotRect(int i) const
{
    const int k = (i - 1) * (fSpotWidth + fSpotSpace);
    TMMRect r;
    if (fKind == lkHorizontal) {
        r.Top = 0;
        r.Bottom = fDrawHeight;
        if (fDirection == dirNormal) {
            r.Left = fSpotOffset + k;
            r.Right = r.Left + fSpotWidth;
        } else {
            r.Right = fDrawWidth - fSpotOffset - k;
            r.Left = r.Right - fSpotWidth;
        }
    } else {
        r.Left = 0;
        r.Right = fDrawWidth;
        if (fDirection == dirNormal) {
            r.Bottom = fDrawHeight - fSpotOffset - k;
            r.Top = r.Bottom - fSpotWidth;
        } else {
            r.Top = fSpotOffset + k;
            r.Bottom = r.Top + fSpotWidth;
        }
    }
    return r;
}

int TMMCustomLevel::ZoneOf(int i) const
{
    if (i > fZone2Spots) return 3;
    if (i > fZone1Spots) return 2;
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
    if (fOnDrawBar) return;
    DrawGuard guard(fBack);
    fBack.FillRect({0, 0, fBack.Width(), fBack.Height()}, fColor);
    drawZones(*this, fBack, fNumSpots, fInactive, fInactiveDoted);
}

TMMRect TMMCustomLevel::ChangedArea() const
{
    const TMMRect all{0, 0, fWork.Width(), fWork.Height()};
    if (fRedraw || fOnDrawBar || !fEnabled || fDirection == dirSymetric || fDrawnBar < 0 || fDrawnPeak < 0)
        return all;
    if (fBarSpots == fDrawnBar && fPeakSpot == fDrawnPeak) return {};
    // Segments lit by the bar in one state and not in the other, and both
    // peak stacks (a segment lit by bar or peak has the same colour).
    int lo = fNumSpots + 1, hi = 0;
    const auto add = [&](int a, int b) {
        a = std::max(a, 1);
        b = std::min(b, fNumSpots);
        if (a > b) return;
        lo = std::min(lo, a);
        hi = std::max(hi, b);
    };
    add(std::min(fBarSpots, fDrawnBar) + 1, std::max(fBarSpots, fDrawnBar));
    if (fNumPeaks > 0) {
        add(fDrawnPeak - fNumPeaks + 1, fDrawnPeak);
        add(fPeakSpot - fNumPeaks + 1, fPeakSpot);
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
    DrawGuard guard(fWork);
    fRedraw = false;
    fDrawnBar = fEnabled ? fBarSpots : -1;
    fDrawnPeak = fEnabled ? fPeakSpot : -1;
    if (fOnDrawBar) {
        fOnDrawBar(this, fWork, TMMRect{0, 0, fDrawWidth, fDrawHeight}, fBarSpots, fPeakSpot);
        return;
    }
    // The clip holds only while this call draws.
    struct ClipGuard {
        TMMDIBCanvas& c;
        ~ClipGuard() { c.ClearClip(); }
    } clip{fWork};
    if (area) fWork.SetClip(*area);
    fWork.CopyFrom(fBack);
    if (!fEnabled) return;

    if (fDirection == dirSymetric) {
        const int c = std::clamp(fBarSpots, 1, fNumSpots);
        const TColor col = fBar[ZoneOf(c) - 1];
        drawRange(*this, fWork, std::max(c - 2, 1), std::min(c + 2, fNumSpots), col, fActiveDoted);
    } else {
        drawZones(*this, fWork, std::min(fBarSpots, fNumSpots), fBar, fActiveDoted);
    }

    if (fNumPeaks > 0 && fPeakSpot > fBarSpots) {
        for (int j = 0; j < fNumPeaks; ++j) {
            const int i = fPeakSpot - j;
            if (i < 1) break;
            drawSpot(fWork, i, fBar[ZoneOf(i) - 1], fActiveDoted);
        }
    }
}

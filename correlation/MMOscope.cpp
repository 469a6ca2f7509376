#include "correlation/MMOscope.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

int16_t Read16(const uint8_t* p)
{
    int16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

int16_t Signed8(int byte) { return static_cast<int16_t>((byte - 128) * 256); }

}  // namespace

TMMOscope::TMMOscope() { Recalc(); }

TMMOscope::~TMMOscope() = default;

void TMMOscope::Recalc()
{
    int w = mClientW, h = mClientH;
    mPlotX = 0;
    mPlotY = 0;
    if (mDrawAmpScale) {
        mPlotX += 32;
        w -= 64;
    }
    if (mDrawTimeScale) h -= 40;
    const int bw = mBevel.TotalWidth();
    mPlotX += bw;
    mPlotY += bw;
    w -= 2 * bw;
    h -= 2 * bw;
    mN = std::max(w, 4);
    mH = std::max(h, 4);
    mSamples.assign(static_cast<size_t>(mN), 0);
    mScrollMin.assign(static_cast<size_t>(mN), 0);
    mScrollMax.assign(static_cast<size_t>(mN), 0);
    mScrollPos = 0;
    RecalcDisplayBytes();
}

void TMMOscope::RecalcDisplayBytes()
{
    const int b = FrameBytes();
    if (mScroll) {
        mDisplayBytes = b * mFFTLength;
    } else if (mZoom > 0) {
        mDisplayBytes = b * mN * mZoom;
    } else {
        mDisplayBytes = ((b * mN / (std::abs(mZoom) + 1) + 5) / 4) * 4;
    }
}

void TMMOscope::Changed()
{
    if (mView) mView->Invalidate();
}

void TMMOscope::SetClientSize(int width, int height)
{
    if (width == mClientW && height == mClientH) return;
    mClientW = width;
    mClientH = height;
    Recalc();
    Changed();
}

void TMMOscope::setBevel(const TMMBevel& b)
{
    if (b == mBevel) return;
    mBevel = b;
    Recalc();
    Changed();
}

void TMMOscope::ApplyFormat(const WaveFormat* fmt)
{
    if (!IsValidPcmFormat(fmt)) throw EMMOscopeError("Invalid WaveFormat");
    setSampleRate(static_cast<int>(fmt->nSamplesPerSec));
    setBitLength(fmt->wBitsPerSample / 8 - 1);
    setMode(fmt->nChannels - 1);
}

void TMMOscope::setKind(TMMOscopeKind k)
{
    if (k < okDots || k > okSpikes || k == mKind) return;
    mKind = k;
    Changed();
}

void TMMOscope::setBitLength(int b)
{
    if ((b != b8Bit && b != b16Bit) || b == mBitLength) return;
    mBitLength = b;
    RecalcDisplayBytes();
}

void TMMOscope::setChannel(TMMChannel c)
{
    if (c < chBoth || c > chRight || c == mChannel) return;
    mChannel = c;
    RecalcDisplayBytes();
}

void TMMOscope::setMode(int m)
{
    // 4-channel streams give Mode 3: frames of four samples.
    if (m < 0 || m > 3 || m == mMode) return;
    mMode = m;
    RecalcDisplayBytes();
}

void TMMOscope::setSampleRate(int r) { mSampleRate = std::clamp(r, 8000, 88200); }

void TMMOscope::setZoom(int z)
{
    if (z == 0 || z < -9 || z > 9 || z == mZoom) return;
    mZoom = z;
    RecalcDisplayBytes();
    Changed();
}

void TMMOscope::setSteps(int s)
{
    s = std::clamp(s, 1, 9);
    if (s == mSteps) return;
    mSteps = s;
    Changed();
}

void TMMOscope::setGain(int g)
{
    if (g < -8 || g > 32 || g == mGain) return;
    mGain = g;
    Changed();
}

void TMMOscope::setEffect(TMMOscopeEffect e)
{
    if (e < efNone || e > efSplit || e == mEffect) return;
    mEffect = e;
    Changed();
}

void TMMOscope::setEnabled(bool e)
{
    if (e == mEnabled) return;
    mEnabled = e;
    Changed();
}

void TMMOscope::setScroll(bool s)
{
    if (s == mScroll) return;
    mScroll = s;
    std::fill(mScrollMin.begin(), mScrollMin.end(), 0);
    std::fill(mScrollMax.begin(), mScrollMax.end(), 0);
    mScrollPos = 0;
    RecalcDisplayBytes();
    Changed();
}

void TMMOscope::setFFTLength(int n)
{
    n = std::clamp(n, 1, 4096);
    int p = 1;
    while (p * 2 <= n) p *= 2;
    if (p == mFFTLength) return;
    mFFTLength = p;
    RecalcDisplayBytes();
}

void TMMOscope::setUseSelection(bool u)
{
    mUseSelection = u;
    Changed();
}

void TMMOscope::setDrawMidLine(bool d)
{
    if (d == mDrawMidLine) return;
    mDrawMidLine = d;
    Changed();
}

void TMMOscope::setDrawAmpScale(bool d)
{
    if (d == mDrawAmpScale) return;
    mDrawAmpScale = d;
    Recalc();
    Changed();
}

void TMMOscope::setDrawTimeScale(bool d)
{
    if (d == mDrawTimeScale) return;
    mDrawTimeScale = d;
    Recalc();
    Changed();
}

void TMMOscope::setDrawGrid(bool d)
{
    if (d == mDrawGrid) return;
    mDrawGrid = d;
    Changed();
}

void TMMOscope::setBarWidth(int w)
{
    mBarWidth = std::max(w, 1);
    Changed();
}

double TMMOscope::ColumnValue(int x) const
{
    if (x < 0 || x >= kColumnValues) return 0.0;
    return mColumnValues[static_cast<size_t>(x)];
}

void TMMOscope::AcceptSamples(const void* frames)
{
    if (!frames || !mEnabled || mReadout) return;
    if (mView && !mView->IsShown()) return;
    const auto* data = static_cast<const uint8_t*>(frames);
    const int b = FrameBytes();
    const bool wide = mBitLength == b16Bit;
    const bool two = mMode >= mStereo;

    auto sampleAt = [&](int f) -> int16_t {
        const uint8_t* p = data + static_cast<size_t>(f) * static_cast<size_t>(b);
        if (wide) {
            if (!two) return Read16(p);
            const int16_t l = Read16(p), r = Read16(p + 2);
            if (mChannel == chLeft) return l;
            if (mChannel == chRight) return r;
            return static_cast<int16_t>((l + r) / 2);
        }
        if (!two) return Signed8(p[0]);
        if (mChannel == chLeft) return Signed8(p[0]);
        if (mChannel == chRight) return Signed8(p[1]);
        return Signed8((p[0] + p[1]) / 2);
    };

    // Never read past the DisplayBytes the connector guarantees.
    const int lastFrame = std::max(mDisplayBytes / b - 1, 0);

    if (mScroll) {
        int16_t lo = 0, hi = 0;
        const int n = std::min(mFFTLength, lastFrame + 1);
        for (int f = 0; f < n; ++f) {
            const int16_t s = sampleAt(f);
            if (f == 0 || s < lo) lo = s;
            if (f == 0 || s > hi) hi = s;
        }
        mScrollMin[static_cast<size_t>(mScrollPos)] = lo;
        mScrollMax[static_cast<size_t>(mScrollPos)] = hi;
        mScrollPos = (mScrollPos + 1) % mN;
    } else {
        for (int i = 0; i < mN; ++i) {
            int f = mZoom > 0 ? i * mZoom : i / (std::abs(mZoom) + 1);
            if (f > lastFrame) f = lastFrame;
            mSamples[static_cast<size_t>(i)] = sampleAt(f);
        }
    }
    Redraw(nullptr);
    Changed();
    if (OnUpdate) OnUpdate(*this);
}

void TMMOscope::ClearDisplay()
{
    mReadout = false;
    std::fill(mSamples.begin(), mSamples.end(), 0);
    std::fill(mScrollMin.begin(), mScrollMin.end(), 0);
    std::fill(mScrollMax.begin(), mScrollMax.end(), 0);
    Redraw(nullptr);
    Changed();
}

int TMMOscope::RowOf(int16_t s)
{
    if (s >= 32767 && OnPcmOverflow) OnPcmOverflow(*this);
    const int64_t g = mGain + 8;
    const int64_t d = mKind == okSpikes ? 32767 : 65535;
    const int64_t o = mKind == okSpikes ? 0 : 32767;
    const int64_t h = ((static_cast<int64_t>(s) * g) / 8 + o) * mH / d;
    if (h > mH && OnGainOverflow) OnGainOverflow(*this);
    const int64_t row = mH - h - 1;
    return static_cast<int>(std::clamp<int64_t>(row, -1000000, 1000000));
}

float TMMOscope::PointToAmplitude(int column, int row) const
{
    if (column < 0 || column >= mN || row < 0 || row >= mH) return 0.0f;
    if (mKind == okSpikes) {
        const double r = (10.0 / (mH - 1)) * (mH - row - 1) * 0.1;
        return static_cast<float>(r);
    }
    double c = mH / 2.0 - row;
    if (c < 0) c -= 1;
    return static_cast<float>((10.0 / mH) * c * 0.2);
}

double TMMOscope::ColumnToMs(int column) const
{
    const int f = mZoom > 0 ? column * mZoom : column / (std::abs(mZoom) + 1);
    return f * 1000.0 / mSampleRate;
}

void TMMOscope::Redraw(TMMOscopeSurface* s)
{
    if (mView && !mView->CanDraw()) return;
    if (s) {
        s->Fill(Color);
        if (mDrawMidLine) s->Line(0, MidRow(), mN - 1, MidRow(), DisabledColor);
        if (mDrawGrid) {
            for (int x = mN / 4; x < mN; x += std::max(mN / 4, 1))
                for (int y = 0; y < mH; y += 2) s->Pixel(x, y, GridColor);
            for (int y = mH / 4; y < mH; y += std::max(mH / 4, 1))
                for (int x = 0; x < mN; x += 2) s->Pixel(x, y, GridColor);
        }
    }
    if (mEnabled) {
        if (OnDrawLine) {
            if (s) OnDrawLine(*this, *s, mSamples);
        } else {
            DrawData(s);
        }
    } else if (s) {
        s->Line(0, 0, mN - 1, mH - 1, DisabledColor);
        s->Line(0, mH - 1, mN - 1, 0, DisabledColor);
    }
    if (s && OnPostPaint) OnPostPaint(*this);
}

void TMMOscope::DrawData(TMMOscopeSurface* s)
{
    if (mScroll) {
        if (!s) return;
        // Chart: one bar per delivery from its minimum to its maximum, the
        // newest at the right.
        const int bw = std::max(mBarWidth, 1);
        const int bars = std::max(mN / bw, 1);
        for (int k = 0; k < bars; ++k) {
            const int idx = ((mScrollPos - bars + k) % mN + mN) % mN;
            const int top = ClipRow(RowOf(mScrollMax[static_cast<size_t>(idx)]));
            const int bot = ClipRow(RowOf(mScrollMin[static_cast<size_t>(idx)]));
            for (int x = k * bw; x < k * bw + bw - 1 && x < mN; ++x) s->Line(x, top, x, bot, BarColor);
        }
        return;
    }
    const TColor col = mEffect == efNone ? ForegroundColor : EffectColor;
    const bool record = mKind == okConLines && mEffect == efNone;
    if (!record && !s) return;

    if (mKind == okConLines) {
        int px = 0, py = RowOf(mSamples[0]);
        if (record && OnArrayNew) OnArrayNew(*this);
        int x = mSteps;
        for (; x < mN; x += mSteps) {
            const int r = RowOf(mSamples[static_cast<size_t>(x)]);
            if (record && x < kColumnValues)
                mColumnValues[static_cast<size_t>(x)] = PointToAmplitude(x, r);
            if (s) s->Line(px, ClipRow(py), x, ClipRow(r), col);
            px = x;
            py = r;
            if (record && OnArrayFull) OnArrayFull(*this);
        }
        if (s) s->Line(px, ClipRow(py), x, ClipRow(py), col);
        return;
    }
    const int mid = MidRow();
    for (int x = 0; x < mN; x += mSteps) {
        const int16_t v = mSamples[static_cast<size_t>(x)];
        switch (mKind) {
        case okDots:
            s->Pixel(x, ClipRow(RowOf(v)), col);
            break;
        case okVertLines:
            s->Line(x, mid, x, ClipRow(RowOf(v)), col);
            break;
        case okMirLines: {
            const int r = ClipRow(RowOf(v));
            s->Line(x, r, x, ClipRow(2 * mid - r), col);
            break;
        }
        case okSpikes: {
            const int16_t a = v == -32768 ? int16_t(32767) : static_cast<int16_t>(std::abs(v));
            s->Line(x, mH - 1, x, ClipRow(RowOf(a)), col);
            break;
        }
        default:
            break;
        }
    }
}

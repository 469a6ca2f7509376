#include "metering/MMLevel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

using namespace mmlevel;

namespace {

inline int16_t load16(const uint8_t* p)
{
    int16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline int32_t absSat(int32_t v)
{
    if (v >= 0) return v;
    return v == std::numeric_limits<int32_t>::min() ? std::numeric_limits<int32_t>::max() : -v;
}

// Running maximum of |m| over n frames; `pick` forms m from one frame.
template <typename Pick>
inline int32_t peakOf(const uint8_t* p, int n, int frameBytes, Pick pick)
{
    int32_t h = 0;
    for (int i = 0; i < n; ++i, p += frameBytes) h = std::max(h, absSat(pick(p)));
    return h;
}

// The smallest and largest of n 16-bit samples: mono frames (step 1), or
// channel `lane` (0 left, 1 right) of stereo frames (step 2) from p on.
// Reads nothing past the n frames.
inline void minMax16(const uint8_t* p, int n, int step, int lane, int32_t& lo, int32_t& hi)
{
    int i = 0;
    int32_t mn = std::numeric_limits<int16_t>::max(), mx = std::numeric_limits<int16_t>::min();
#ifdef __SSE2__
    // Eight samples a step: mono all lanes, stereo every other lane.
    const int perVector = 8 / step;
    if (n >= perVector) {
        __m128i vmin = _mm_set1_epi16(std::numeric_limits<int16_t>::max());
        __m128i vmax = _mm_set1_epi16(std::numeric_limits<int16_t>::min());
        for (; i + perVector <= n; i += perVector) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * step * i));
            vmin = _mm_min_epi16(vmin, v);
            vmax = _mm_max_epi16(vmax, v);
        }
        alignas(16) int16_t a[8], b[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(a), vmin);
        _mm_store_si128(reinterpret_cast<__m128i*>(b), vmax);
        for (int k = lane; k < 8; k += step) {
            mn = std::min<int32_t>(mn, a[k]);
            mx = std::max<int32_t>(mx, b[k]);
        }
    }
#endif
    for (const uint8_t* q = p + 2 * (step * i + lane); i < n; ++i, q += 2 * step) {
        const int32_t v = load16(q);
        mn = std::min(mn, v);
        mx = std::max(mx, v);
    }
    lo = mn, hi = mx;
}

// max |x - dc| over the samples is the larger of max - dc and dc - min.
inline int32_t peakAround(const uint8_t* p, int n, int step, int lane, int32_t dc)
{
    if (n <= 0) return 0;
    int32_t lo, hi;
    minMax16(p, n, step, lane, lo, hi);
    return std::max(hi - dc, dc - lo);
}

}  // namespace

TMMCustomLevel::TMMCustomLevel()
{
    calcBlockBytes();
    calcDrawArea();
    CalcSpots();
}

// ---- properties -------------------------------------------------------------

void TMMCustomLevel::setEnabled(bool v)
{
    if (v == mEnabled) return;
    const bool before = TickWanted();
    mEnabled = v;
    if (!v)
        ResetData();
    else
        CalcSpots();
    tickStateChanged(before);
    Invalidate();
}

void TMMCustomLevel::setVisible(bool v) { mVisible = v; }

void TMMCustomLevel::setKind(TMMLevelKind v)
{
    if (v == mKind) return;
    mKind = v;
    const bool swap = (v == lkHorizontal && mWidth < mHeight) || (v == lkVertical && mHeight < mWidth);
    if (swap) std::swap(mWidth, mHeight);
    calcDrawArea();
    CalcSpots();
    if (swap && OnBoundsChange) OnBoundsChange(mWidth, mHeight);
}

void TMMCustomLevel::setDirection(TMMLevelDirection v)
{
    mDirection = v;
    RenderBackground();
    Invalidate();
}

void TMMCustomLevel::setSpotWidth(int v)
{
    const int l = mKind == lkHorizontal ? mDrawWidth : mDrawHeight;
    mSpotWidth = std::max(std::min(v, l / 3), 1);
    CalcSpots();
}

void TMMCustomLevel::setSpotSpace(int v)
{
    mSpotSpace = std::clamp(v, 0, 10);
    CalcSpots();
}

void TMMCustomLevel::setPoint1(int v)
{
    mPoint1 = std::clamp(v, 1, 100);
    CalcSpots();
}

void TMMCustomLevel::setPoint2(int v)
{
    mPoint2 = std::clamp(v, 1, 100);
    CalcSpots();
}

void TMMCustomLevel::setColorOf(TColor& slot, TColor c)
{
    slot = c & 0x00FFFFFF;
    RenderBackground();
    Invalidate();
}

void TMMCustomLevel::setActiveDoted(bool v)
{
    mActiveDoted = v;
    RenderBackground();
    Invalidate();
}

void TMMCustomLevel::setInactiveDoted(bool v)
{
    mInactiveDoted = v;
    RenderBackground();
    Invalidate();
}

void TMMCustomLevel::setBitLength(TMMBits v)
{
    mBitLength = v == b16Bit ? b16Bit : b8Bit;
    calcBlockBytes();
    Invalidate();
}

void TMMCustomLevel::setMode(int v)
{
    mMode = std::clamp(v, 0, 3);
    calcBlockBytes();
    Invalidate();
}

void TMMCustomLevel::setChannel(TMMChannel v)
{
    mChannel = (v == chLeft || v == chRight) ? v : chBoth;
    calcBlockBytes();
    Invalidate();
}

void TMMCustomLevel::setSamples(int v)
{
    mSamples = std::clamp(v, 1, 1 << 20);
    calcBlockBytes();
}

void TMMCustomLevel::calcBlockBytes() { mBlockBytes = (mBitLength + 1) * (mMode + 1) * mSamples; }

void TMMCustomLevel::setGain(int v)
{
    if (v < -8 || v > 32) return;
    mGain = v;
    mGainScale = v + 8;
    Invalidate();
}

void TMMCustomLevel::setSensitivy(int v) { mSensitivy = std::clamp(v, -90, -9); }

void TMMCustomLevel::setLogAmp(bool v)
{
    mLogAmp = v;
    Invalidate();
}

void TMMCustomLevel::setDecayMode(TMMDecayMode v)
{
    mDecayMode = (v >= dmNone && v <= dmUniform) ? v : dmNone;
    resetDecay();
}

void TMMCustomLevel::setDecay(int v)
{
    v = std::clamp(v, 1, 16);
    if (v == mDecay) return;
    mDecay = v;
    mDecayFactor = DecayFactorFor(v);
    mDecayLength = DecayLengthFor(v);
    if (mDecayMode == dmUniform) resetDecay();
}

void TMMCustomLevel::setNumPeaks(int v)
{
    const bool before = TickWanted();
    mNumPeaks = std::clamp(v, 0, 5);
    mPeakCounter = 0;
    tickStateChanged(before);
    Invalidate();
}

void TMMCustomLevel::setPeakDelay(int v)
{
    mPeakDelay = std::clamp(v, 0, 50);
    mPeakCounter = 0;
    Invalidate();
}

void TMMCustomLevel::setPeakSpeed(int v)
{
    mPeakSpeed = std::clamp(v, 0, 50);
    mPeakCounter = 0;
    Invalidate();
}

void TMMCustomLevel::ClearPeak()
{
    if (mPeakSpot == 0) return;
    mPeakSpot = 0;
    mPeakCounter = 0;
    mPeakChanged = true;
    Invalidate();
}

void TMMCustomLevel::setDCOffsetL(int v) { mDCOffsetL = std::clamp(v, -65535, 65535); }
void TMMCustomLevel::setDCOffsetR(int v) { mDCOffsetR = std::clamp(v, -65535, 65535); }

int TMMCustomLevel::Value() const
{
    return SpotToPercent(mBarSpots, mSensitivy, mNumSpots, mLogAmp, mGainScale);
}

void TMMCustomLevel::setValue(int v)
{
    v = std::clamp(v, 0, 100);
    UpdateLevel(RoundEven(static_cast<long double>(v) * MaxValue / 100));
}

void TMMCustomLevel::SetBounds(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == mWidth && height == mHeight) return;
    const int oldWidth = mWidth, oldHeight = mHeight;
    mWidth = width;
    mHeight = height;
    try {
        calcDrawArea();
    } catch (...) {  // a canvas prepared for drawing refuses a new size
        mWidth = oldWidth;
        mHeight = oldHeight;
        throw;
    }
    CalcSpots();
}

void TMMCustomLevel::setBevel(const TMMBevel& b)
{
    mBevel = b;
    calcDrawArea();
    CalcSpots();
}

void TMMCustomLevel::setBitDepth(int bits)
{
    mWork.SetBitCount(bits);
    mBack.SetBitCount(bits);
    RenderBackground();
    Invalidate();
}

void TMMCustomLevel::setMeterStandard(int v)
{
    mMeterStandard = std::clamp(v, 0, 0xFFFF);
    configureDetector();
}

void TMMCustomLevel::setBallistics(TMMBallisticsMode v)
{
    if (v == bmStandard) {
        if (!mDetector) mDetector = std::make_unique<TMMBallistics>();
        configureDetector();
    } else {
        mDetector.reset();
    }
}

void TMMCustomLevel::configureDetector()
{
    if (!mDetector) return;
    const TMMInstrument kind = InstrumentOf(mMeterStandard);
    if (kind != mDetector->Kind() || mSampleRate != mDetector->SampleRate()) mDetector->Configure(kind, mSampleRate);
}

void TMMCustomLevel::setIntegralLength(int v) { mIntegralLength = std::clamp(v, 1, IntegralMax); }

void TMMCustomLevel::setOnDrawBar(TMMLevelDrawBar handler)
{
    mOnDrawBar = std::move(handler);
    if (!mOnDrawBar) RenderBackground();
    Invalidate();
}

void TMMCustomLevel::tickStateChanged(bool before)
{
    const bool now = TickWanted();
    if (now != before && OnTickWanted) OnTickWanted(now);
}

// ---- connector operations ---------------------------------------------------

void TMMCustomLevel::SetWaveFormat(const WaveFormat* format)
{
    if (!IsValidPcmFormat(format)) throw EMMLevelError("Invalid WaveFormat");
    setBitLength(static_cast<TMMBits>(format->wBitsPerSample / 8 - 1));
    setMode(format->nChannels - 1);
    mSampleRate = static_cast<int>(format->nSamplesPerSec);
    configureDetector();
}

void TMMCustomLevel::ResetData()
{
    mBarSpots = 0;
    mPeakSpot = 0;
    mPeakCounter = 0;
    resetDecay();
    Invalidate();
}

void TMMCustomLevel::resetDecay()
{
    mDecayPos = 0;
    mDecayCount = 0;
    mDecaySum = 0;
    mDecayValue = 0.0f;
    std::fill(std::begin(mDecayRing), std::end(mDecayRing), 0);
    if (mDetector) mDetector->Reset();
}

int32_t TMMCustomLevel::analyse(const void* data) const
{
    const auto* p = static_cast<const uint8_t*>(data);
    const int n = mSamples;
    // Frames of two or more channels take left and right from their first
    // two samples and step over the whole frame.
    const int channels = mMode == mMono ? 1 : mMode + 1;
    const int32_t dl = mDCOffsetL, dr = mDCOffsetR;
    if (mBitLength == b16Bit) {
        const int fb = 2 * channels;
        if (channels == 1) return peakAround(p, n, 1, 0, dl);
        if (channels == 2 && mChannel == chLeft) return peakAround(p, n, 2, 0, dl);
        if (channels == 2 && mChannel == chRight) return peakAround(p, n, 2, 1, dr);
        switch (mChannel) {
        case chLeft:
            return peakOf(p, n, fb, [dl](const uint8_t* q) { return load16(q) - dl; });
        case chRight:
            return peakOf(p, n, fb, [dr](const uint8_t* q) { return load16(q + 2) - dr; });
        default:
            return peakOf(p, n, fb, [dl, dr](const uint8_t* q) {
                return (load16(q) - dl + load16(q + 2) - dr) / 2;
            });
        }
    }
    const int fb = channels;
    if (channels == 1) return peakOf(p, n, fb, [dl](const uint8_t* q) { return (q[0] - dl - 128) * 256; });
    switch (mChannel) {
    case chLeft:
        return peakOf(p, n, fb, [dl](const uint8_t* q) { return (q[0] - dl - 128) * 256; });
    case chRight:
        return peakOf(p, n, fb, [dr](const uint8_t* q) { return (q[1] - dr - 128) * 256; });
    default:
        return peakOf(p, n, fb, [dl, dr](const uint8_t* q) {
            return ((q[0] - dl + q[1] - dr) / 2 - 128) * 256;
        });
    }
}

void TMMCustomLevel::ProcessBlock(const void* data)
{
    if (!mEnabled || !mVisible || !data) return;
    if (mDetector) {
        updateFromDetector(data);
        return;
    }
    updateFromPeak(analyse(data));
}

void TMMCustomLevel::ProcessBlocks(const void* first, int count, int stride)
{
    if (!mEnabled || !mVisible || !first) return;
    const auto* p = static_cast<const uint8_t*>(first);
    if (mDetector) {
        for (int i = 0; i < count; ++i, p += stride) updateFromDetector(p);
        return;
    }
    for (int i = 0; i < count; ++i, p += stride) updateFromPeak(analyse(p));
}

void TMMCustomLevel::updateFromDetector(const void* data)
{
    const int channels = mMode == mMono ? 1 : mMode + 1;
    const float reading = mDetector->FeedBlock(data, mSamples, mBitLength == b16Bit ? 2 : 1, channels, mChannel,
                                               mDCOffsetL, mDCOffsetR);
    const float peak = mDetector->TakePeak();
    mLastBlockPeak = TruncSat(peak);
    mSilenceHeld = std::max(mSilenceHeld, mLastBlockPeak);
    mScrapeHeld = std::max(mScrapeHeld, mLastBlockPeak);
    if (mLastBlockPeak >= MaxValue && OnPcmOverflow) OnPcmOverflow(this);
    const int std = mMeterStandard;
    long double h = reading;
    long double hp = peak;
    for (int k = 0; k < 3; ++k) {
        if (!mRef[k]) continue;
        const long double f = RefFactor(std, static_cast<TMMRef>(k));
        if (f > 0) {
            h = h * 0.707L * f;
            hp = hp * 0.707L * f;
        }
    }
    UpdateLevel(DisplayCurve(std, h, TruncSat(h), false));
    // The K-System shows its RMS as the bar and the sample peak as the held mark.
    if (mDetector->Kind() == inKSystem && mNumPeaks > 0) {
        const int64_t g = static_cast<int64_t>(DisplayCurve(std, hp, TruncSat(hp), false)) * mGainScale / 8;
        int64_t p = spotOf(g);
        if (mDirection == dirSymetric) p /= 2;
        p = std::min<int64_t>(p, mNumSpots);
        if (p > mPeakSpot) {
            mPeakSpot = static_cast<int>(p);
            mPeakCounter = mLeaveMaxPeak ? 10000 : 2 * mPeakDelay + 1;
            if (mEnabled && mVisible && mPeakSpot != mDrawnPeak && OnInvalidate) OnInvalidate();
        }
    }
}

void TMMCustomLevel::updateFromPeak(int32_t peak)
{
    mLastBlockPeak = peak;
    mSilenceHeld = std::max(mSilenceHeld, peak);
    mScrapeHeld = std::max(mScrapeHeld, peak);
    if (peak >= MaxValue && OnPcmOverflow) OnPcmOverflow(this);

    // Reference scaling; without it h stays the whole number `peak`.
    long double h = peak;
    int32_t r = peak;
    const int std = mMeterStandard;
    bool scaled = false;
    for (int k = 0; k < 3; ++k) {
        if (!mRef[k]) continue;
        const long double f = RefFactor(std, static_cast<TMMRef>(k));
        if (f > 0) {
            h = h * 0.707L * f;
            scaled = true;
        }
    }
    if (scaled) r = TruncSat(h);

    if (!mIntegralOn) {
        mLastAverage = r;
        UpdateLevel(DisplayCurve(std, h, r, false));
        return;
    }

    const int n = mIntegralLength;
    const int c = mIntegralFill;
    int32_t a;
    if (c < n) {  // filling: the window holds reference-scaled peaks
        mIntegralWindow[c] = r;
        if (c > 0) {
            int64_t sum = 0;
            for (int i = 0; i < c; ++i) sum += mIntegralWindow[i];
            a = TruncSat(static_cast<long double>(sum) / c);
            mLastAverage = a;
        } else {
            a = mLastAverage;
        }
        UpdateLevel(a);
        mIntegralFill = c + 1;
        return;
    }
    std::memmove(&mIntegralWindow[1], &mIntegralWindow[0], sizeof(int32_t) * static_cast<size_t>(n));
    mIntegralWindow[0] = DisplayCurve(std, h, r, true);
    int64_t sum = 0;
    for (int i = 0; i < n; ++i) sum += mIntegralWindow[i];
    a = TruncSat(static_cast<long double>(sum) / n);
    mLastAverage = a;
    UpdateLevel(a);
}

void TMMCustomLevel::UpdateLevel(int32_t a)
{
    int32_t v = absSat(a);
    mCurrentLevel = v;
    if (v == 0 && mBarSpots == 0 && !mPeakChanged) return;

    if (mDecayMode != dmNone && !mDetector) {
        if (++mDecayPos >= mDecayLength) mDecayPos = 0;
        mDecayCount = std::min(mDecayCount + 1, mDecayLength);
        switch (mDecayMode) {
        case dmStepUp:
            mDecayValue = static_cast<float>(static_cast<long double>(mDecayValue) * mDecayFactor);
            if (v > mDecayValue)
                mDecayValue = static_cast<float>(v);
            else
                v = TruncSat(mDecayValue);
            break;
        case dmExponential:
            mDecayValue = static_cast<float>(static_cast<long double>(mDecayValue) * mDecayFactor +
                                             (1.0L - static_cast<long double>(mDecayFactor)) * v);
            v = TruncSat(std::floor(static_cast<long double>(mDecayValue)));
            break;
        case dmUniform:
            mDecaySum += static_cast<int64_t>(v) - mDecayRing[mDecayPos];
            mDecayRing[mDecayPos] = v;
            v = static_cast<int32_t>(mDecaySum / mDecayCount);
            break;
        default:
            break;
        }
    }

    const int64_t g = static_cast<int64_t>(v) * mGainScale / 8;
    int64_t p = spotOf(g);
    if (mDirection == dirSymetric) p /= 2;
    if (p > mNumSpots) {
        if (OnGainOverflow) OnGainOverflow(this);
        p = mNumSpots;
    }
    if (p >= mPeakSpot && p > 0 && mNumPeaks > 0) {
        mPeakChanged = true;
        mPeakSpot = static_cast<int>(p);
        mPeakCounter = mLeaveMaxPeak ? 10000 : 2 * mPeakDelay + 1;
    }
    if (p == mBarSpots && !mPeakChanged) return;
    mPeakChanged = false;
    mBarSpots = static_cast<int>(p);
    // A peak caught again at its segment, or a bar back where it was last
    // drawn, changes no pixel: no repaint request.
    if (mEnabled && mVisible && (mBarSpots != mDrawnBar || mPeakSpot != mDrawnPeak) && OnInvalidate) OnInvalidate();
}

void TMMCustomLevel::PeakTick()
{
    if (mPeakSpot <= 0) return;
    if (--mPeakCounter > 0) return;
    if (mPeakSpeed == 0) {
        mPeakSpot = 0;
        mPeakCounter = 0;
    } else {
        --mPeakSpot;
        mPeakCounter = mLeaveMaxPeak ? 10000 : mPeakSpeed;
    }
    mPeakChanged = true;
}

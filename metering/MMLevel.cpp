#include "metering/MMLevel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

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
    if (v == fEnabled) return;
    const bool before = TickWanted();
    fEnabled = v;
    if (!v)
        ResetData();
    else
        CalcSpots();
    tickStateChanged(before);
    Invalidate();
}

void TMMCustomLevel::setVisible(bool v) { fVisible = v; }

void TMMCustomLevel::setKind(TMMLevelKind v)
{
    if (v == fKind) return;
    fKind = v;
    const bool swap = (v == lkHorizontal && fWidth < fHeight) || (v == lkVertical && fHeight < fWidth);
    if (swap) std::swap(fWidth, fHeight);
    calcDrawArea();
    CalcSpots();
    if (swap && OnBoundsChange) OnBoundsChange(fWidth, fHeight);
}

void TMMCustomLevel::setDirection(TMMLevelDirection v)
{
    fDirection = v;
    RenderBackground();
    Invalidate();
}

void TMMCustomLevel::setSpotWidth(int v)
{
    const int l = fKind == lkHorizontal ? fDrawWidth : fDrawHeight;
    fSpotWidth = std::max(std::min(v, l / 3), 1);
    CalcSpots();
}

void TMMCustomLevel::setSpotSpace(int v)
{
    fSpotSpace = std::clamp(v, 0, 10);
    CalcSpots();
}

void TMMCustomLevel::setPoint1(int v)
{
    fPoint1 = std::clamp(v, 1, 100);
    CalcSpots();
}

void TMMCustomLevel::setPoint2(int v)
{
    fPoint2 = std::clamp(v, 1, 100);
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
    fActiveDoted = v;
    RenderBackground();
    Invalidate();
}

void TMMCustomLevel::setInactiveDoted(bool v)
{
    fInactiveDoted = v;
    RenderBackground();
    Invalidate();
}

void TMMCustomLevel::setBitLength(TMMBits v)
{
    fBitLength = v == b16Bit ? b16Bit : b8Bit;
    calcBlockBytes();
    Invalidate();
}

void TMMCustomLevel::setMode(int v)
{
    fMode = std::clamp(v, 0, 3);
    calcBlockBytes();
    Invalidate();
}

void TMMCustomLevel::setChannel(TMMChannel v)
{
    fChannel = (v == chLeft || v == chRight) ? v : chBoth;
    calcBlockBytes();
    Invalidate();
}

void TMMCustomLevel::setSamples(int v)
{
    fSamples = std::clamp(v, 1, 1 << 20);
    calcBlockBytes();
}

void TMMCustomLevel::calcBlockBytes() { fBlockBytes = (fBitLength + 1) * (fMode + 1) * fSamples; }

void TMMCustomLevel::setGain(int v)
{
    if (v < -8 || v > 32) return;
    fGain = v;
    fGainScale = v + 8;
    Invalidate();
}

void TMMCustomLevel::setSensitivy(int v) { fSensitivy = std::clamp(v, -90, -9); }

void TMMCustomLevel::setLogAmp(bool v)
{
    fLogAmp = v;
    Invalidate();
}

void TMMCustomLevel::setDecayMode(TMMDecayMode v)
{
    fDecayMode = (v >= dmNone && v <= dmUniform) ? v : dmNone;
    resetDecay();
}

void TMMCustomLevel::setDecay(int v)
{
    v = std::clamp(v, 1, 16);
    if (v == fDecay) return;
    fDecay = v;
    fDecayFactor = DecayFactorFor(v);
    fDecayLength = DecayLengthFor(v);
    if (fDecayMode == dmUniform) resetDecay();
}

void TMMCustomLevel::setNumPeaks(int v)
{
    const bool before = TickWanted();
    fNumPeaks = std::clamp(v, 0, 5);
    fPeakCounter = 0;
    tickStateChanged(before);
    Invalidate();
}

void TMMCustomLevel::setPeakDelay(int v)
{
    fPeakDelay = std::clamp(v, 0, 50);
    fPeakCounter = 0;
    Invalidate();
}

void TMMCustomLevel::setPeakSpeed(int v)
{
    fPeakSpeed = std::clamp(v, 0, 50);
    fPeakCounter = 0;
    Invalidate();
}

void TMMCustomLevel::setDCOffsetL(int v) { fDCOffsetL = std::clamp(v, -65535, 65535); }
void TMMCustomLevel::setDCOffsetR(int v) { fDCOffsetR = std::clamp(v, -65535, 65535); }

int TMMCustomLevel::Value() const
{
    return SpotToPercent(fBarSpots, fSensitivy, fNumSpots, fLogAmp, fGainScale);
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
    if (width == fWidth && height == fHeight) return;
    const int oldWidth = fWidth, oldHeight = fHeight;
    fWidth = width;
    fHeight = height;
    try {
        calcDrawArea();
    } catch (...) {  // a canvas prepared for drawing refuses a new size
        fWidth = oldWidth;
        fHeight = oldHeight;
        throw;
    }
    CalcSpots();
}

void TMMCustomLevel::setBevel(const TMMBevel& b)
{
    fBevel = b;
    calcDrawArea();
    CalcSpots();
}

void TMMCustomLevel::setBitDepth(int bits)
{
    fWork.SetBitCount(bits);
    fBack.SetBitCount(bits);
    RenderBackground();
    Invalidate();
}

void TMMCustomLevel::setMeterStandard(int v)
{
    fMeterStandard = std::clamp(v, 0, 0xFFFF);
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
    const TMMInstrument kind = InstrumentOf(fMeterStandard);
    if (kind != mDetector->Kind() || mSampleRate != mDetector->SampleRate()) mDetector->Configure(kind, mSampleRate);
}

void TMMCustomLevel::setIntegralLength(int v) { fIntegralLength = std::clamp(v, 1, IntegralMax); }

void TMMCustomLevel::setOnDrawBar(TMMLevelDrawBar handler)
{
    fOnDrawBar = std::move(handler);
    if (!fOnDrawBar) RenderBackground();
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
    fBarSpots = 0;
    fPeakSpot = 0;
    fPeakCounter = 0;
    resetDecay();
    Invalidate();
}

void TMMCustomLevel::resetDecay()
{
    fDecayPos = 0;
    fDecayCount = 0;
    fDecaySum = 0;
    fDecayValue = 0.0f;
    std::fill(std::begin(fDecayRing), std::end(fDecayRing), 0);
    if (mDetector) mDetector->Reset();
}

int32_t TMMCustomLevel::analyse(const void* data) const
{
    const auto* p = static_cast<const uint8_t*>(data);
    const int n = fSamples;
    // Frames of two or more channels take left and right from their first
    // two samples and step over the whole frame.
    const int channels = fMode == mMono ? 1 : fMode + 1;
    const int32_t dl = fDCOffsetL, dr = fDCOffsetR;
    if (fBitLength == b16Bit) {
        const int fb = 2 * channels;
        if (channels == 1) return peakOf(p, n, fb, [dl](const uint8_t* q) { return load16(q) - dl; });
        switch (fChannel) {
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
    switch (fChannel) {
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
    if (!fEnabled || !fVisible || !data) return;
    if (mDetector) {
        updateFromDetector(data);
        return;
    }
    updateFromPeak(analyse(data));
}

void TMMCustomLevel::updateFromDetector(const void* data)
{
    const int channels = fMode == mMono ? 1 : fMode + 1;
    const float reading = mDetector->FeedBlock(data, fSamples, fBitLength == b16Bit ? 2 : 1, channels, fChannel,
                                               fDCOffsetL, fDCOffsetR);
    const float peak = mDetector->TakePeak();
    fLastBlockPeak = TruncSat(peak);
    if (fLastBlockPeak >= MaxValue && OnPcmOverflow) OnPcmOverflow(this);
    const int std = fMeterStandard;
    long double h = reading;
    long double hp = peak;
    for (int k = 0; k < 3; ++k) {
        if (!fRef[k]) continue;
        const long double f = RefFactor(std, static_cast<TMMRef>(k));
        if (f > 0) {
            h = h * 0.707L * f;
            hp = hp * 0.707L * f;
        }
    }
    UpdateLevel(DisplayCurve(std, h, TruncSat(h), false));
    // The K-System shows its RMS as the bar and the sample peak as the held mark.
    if (mDetector->Kind() == inKSystem && fNumPeaks > 0) {
        const int64_t g = static_cast<int64_t>(DisplayCurve(std, hp, TruncSat(hp), false)) * fGainScale / 8;
        int64_t p = LevelToSpot(g, fSensitivy, fNumSpots, fLogAmp);
        if (fDirection == dirSymetric) p /= 2;
        p = std::min<int64_t>(p, fNumSpots);
        if (p > fPeakSpot) {
            fPeakSpot = static_cast<int>(p);
            fPeakCounter = fLeaveMaxPeak ? 10000 : 2 * fPeakDelay + 1;
            if (fEnabled && fVisible && fPeakSpot != fDrawnPeak && OnInvalidate) OnInvalidate();
        }
    }
}

void TMMCustomLevel::updateFromPeak(int32_t peak)
{
    fLastBlockPeak = peak;
    if (peak >= MaxValue && OnPcmOverflow) OnPcmOverflow(this);

    // Reference scaling; without it h stays the whole number `peak`.
    long double h = peak;
    int32_t r = peak;
    const int std = fMeterStandard;
    bool scaled = false;
    for (int k = 0; k < 3; ++k) {
        if (!fRef[k]) continue;
        const long double f = RefFactor(std, static_cast<TMMRef>(k));
        if (f > 0) {
            h = h * 0.707L * f;
            scaled = true;
        }
    }
    if (scaled) r = TruncSat(h);

    if (!fIntegralOn) {
        fLastAverage = r;
        UpdateLevel(DisplayCurve(std, h, r, false));
        return;
    }

    const int n = fIntegralLength;
    const int c = fIntegralFill;
    int32_t a;
    if (c < n) {  // filling: the window holds reference-scaled peaks
        fIntegralWindow[c] = r;
        if (c > 0) {
            int64_t sum = 0;
            for (int i = 0; i < c; ++i) sum += fIntegralWindow[i];
            a = TruncSat(static_cast<long double>(sum) / c);
            fLastAverage = a;
        } else {
            a = fLastAverage;
        }
        UpdateLevel(a);
        fIntegralFill = c + 1;
        return;
    }
    std::memmove(&fIntegralWindow[1], &fIntegralWindow[0], sizeof(int32_t) * static_cast<size_t>(n));
    fIntegralWindow[0] = DisplayCurve(std, h, r, true);
    int64_t sum = 0;
    for (int i = 0; i < n; ++i) sum += fIntegralWindow[i];
    a = TruncSat(static_cast<long double>(sum) / n);
    fLastAverage = a;
    UpdateLevel(a);
}

void TMMCustomLevel::UpdateLevel(int32_t a)
{
    int32_t v = absSat(a);
    fCurrentLevel = v;
    if (v == 0 && fBarSpots == 0 && !fPeakChanged) return;

    if (fDecayMode != dmNone && !mDetector) {
        if (++fDecayPos >= fDecayLength) fDecayPos = 0;
        fDecayCount = std::min(fDecayCount + 1, fDecayLength);
        switch (fDecayMode) {
        case dmStepUp:
            fDecayValue = static_cast<float>(static_cast<long double>(fDecayValue) * fDecayFactor);
            if (v > fDecayValue)
                fDecayValue = static_cast<float>(v);
            else
                v = TruncSat(fDecayValue);
            break;
        case dmExponential:
            fDecayValue = static_cast<float>(static_cast<long double>(fDecayValue) * fDecayFactor +
                                             (1.0L - static_cast<long double>(fDecayFactor)) * v);
            v = TruncSat(std::floor(static_cast<long double>(fDecayValue)));
            break;
        case dmUniform:
            fDecaySum += static_cast<int64_t>(v) - fDecayRing[fDecayPos];
            fDecayRing[fDecayPos] = v;
            v = static_cast<int32_t>(fDecaySum / fDecayCount);
            break;
        default:
            break;
        }
    }

    const int64_t g = static_cast<int64_t>(v) * fGainScale / 8;
    int64_t p = LevelToSpot(g, fSensitivy, fNumSpots, fLogAmp);
    if (fDirection == dirSymetric) p /= 2;
    if (p > fNumSpots) {
        if (OnGainOverflow) OnGainOverflow(this);
        p = fNumSpots;
    }
    if (p >= fPeakSpot && p > 0 && fNumPeaks > 0) {
        fPeakChanged = true;
        fPeakSpot = static_cast<int>(p);
        fPeakCounter = fLeaveMaxPeak ? 10000 : 2 * fPeakDelay + 1;
    }
    if (p == fBarSpots && !fPeakChanged) return;
    fPeakChanged = false;
    fBarSpots = static_cast<int>(p);
    // A peak caught again at its segment, or a bar back where it was last
    // drawn, changes no pixel: no repaint request.
    if (fEnabled && fVisible && (fBarSpots != fDrawnBar || fPeakSpot != fDrawnPeak) && OnInvalidate) OnInvalidate();
}

void TMMCustomLevel::PeakTick()
{
    if (fPeakSpot <= 0) return;
    if (--fPeakCounter > 0) return;
    if (fPeakSpeed == 0) {
        fPeakSpot = 0;
        fPeakCounter = 0;
    } else {
        --fPeakSpot;
        fPeakCounter = fLeaveMaxPeak ? 10000 : fPeakSpeed;
    }
    fPeakChanged = true;
}

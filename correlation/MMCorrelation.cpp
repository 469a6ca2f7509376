#include "correlation/MMCorrelation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr int kFirst = 1, kLast = 199;  // column entries taken per side
constexpr double kCount = kLast - kFirst + 1;

}  // namespace

double ColumnCorrelation(const double* left, const double* right)
{
    double sumL = 0, sumR = 0;
    for (int i = kFirst; i <= kLast; ++i) {
        sumL += left[i];
        sumR += right[i];
    }
    const double meanL = sumL / kCount, meanR = sumR / kCount;
    double sxx = 0, syy = 0, sxy = 0;
    for (int i = kFirst; i <= kLast; ++i) {
        const double dl = left[i] - meanL, dr = right[i] - meanR;
        sxx += dl * dl;
        syy += dr * dr;
        sxy += dl * dr;
    }
    const double d = sxx * syy;
    if (!(d > 0) || !std::isfinite(d)) return 0;
    // Rounding can carry identical sides a hair past 1.
    return std::clamp(sxy / std::sqrt(d), -1.0, 1.0);
}

int64_t RoundHalfEven(double v)
{
    if (!std::isfinite(v)) return 0;
    const double f = std::floor(v);
    const double frac = v - f;  // exact
    auto i = static_cast<int64_t>(f);
    if (frac > 0.5 || (frac == 0.5 && (i & 1) != 0)) ++i;
    return i;
}

int PercentHalfEven(int64_t part, int64_t whole)
{
    if (whole <= 0 || part <= 0) return 0;
    const int64_t num = part * 100;
    int64_t q = num / whole;
    const int64_t twice = 2 * (num % whole);
    if (twice > whole || (twice == whole && (q & 1) != 0)) ++q;
    return static_cast<int>(q);
}

int CorrelationBarPosition(double mean)
{
    const int64_t v = std::clamp<int64_t>(RoundHalfEven(mean * 1000), -1000, 1000);
    return TMMCorrelationStrip::kCentre + static_cast<int>(v / 7);
}

std::string FormatCorrelationExtreme(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%7.2f", v);
    return buf;
}

std::string FormatCorrelationPercent(int p) { return std::to_string(p) + "%"; }

// ---- TMMCorrelation ----------------------------------------------------------

void TMMCorrelation::ApplySpeed(int index)
{
    index = std::clamp(index, 0, static_cast<int>(kCorrelationSpeeds.size()) - 1);
    mSpeedIndex = index;
    mN = kCorrelationSpeeds[static_cast<size_t>(index)].N;
    mP = kCorrelationSpeeds[static_cast<size_t>(index)].P;
    mFill = 0;
}

TMMCorrelation::TStepResult TMMCorrelation::Step(const double* left, const double* right)
{
    return StepCoefficient(ColumnCorrelation(left, right));
}

TMMCorrelation::TStepResult TMMCorrelation::StepCoefficient(double r)
{
    TStepResult res;
    mLastR = r;
    ++mSteps;

    // Averaging: the mean of the k coefficients since the restart while the
    // window fills, then of the N + 1 newest. (Before any speed, N = 0: a
    // window of one.) k stops at N + 1, so a run of any length keeps sliding.
    mCoeffHead = (mCoeffHead + 1) % kCoefficients;
    mCoeff[static_cast<size_t>(mCoeffHead)] = r;
    const int window = mN + 1;
    if (mFill < window) ++mFill;
    double sum = 0;
    for (int i = 0, j = mCoeffHead; i < mFill; ++i) {
        sum += mCoeff[static_cast<size_t>(j)];
        j = j == 0 ? kCoefficients - 1 : j - 1;
    }
    mMean = sum / mFill;

    // Bar position and its smoothing over the P + 1 newest positions.
    mBar = CorrelationBarPosition(mMean);
    mBarHead = (mBarHead + 1) % kBarPositions;
    mBars[static_cast<size_t>(mBarHead)] = mBar;
    const int smooth = mP + 1;
    int64_t barSum = 0;
    for (int i = 0, j = mBarHead; i < smooth; ++i) {
        barSum += mBars[static_cast<size_t>(j)];
        j = j == 0 ? kBarPositions - 1 : j - 1;
    }
    mSmoothed = static_cast<int>(barSum / smooth);

    // Extremes only from a full window, and only inside -1 ... 1.
    if (mFill >= window) {
        if (mMean < mMin && mMean >= -1) {
            mMin = mMean;
            res.minChanged = true;
        }
        if (mMean > mMax && mMean <= 1) {
            mMax = mMean;
            res.maxChanged = true;
        }
    }
    return res;
}

void TMMCorrelation::ResetExtremes()
{
    mMin = 0;
    mMax = 0;
}

void TMMCorrelation::Tick()
{
    if (SpeedApplied() && mMean >= 0) ++mPositiveTicks;
    ++mAllTicks;
}

void TMMCorrelation::ResetTicks()
{
    mPositiveTicks = 0;
    mAllTicks = 0;
}

// ---- TMMCorrelationStrip -----------------------------------------------------

void TMMCorrelationStrip::SetColors(TPixel bar, TPixel negative, TPixel positive)
{
    if (bar == mBarColor && negative == mNegColor && positive == mPosColor) return;
    mBarColor = bar;
    mNegColor = negative;
    mPosColor = positive;
    mDrawn = false;
}

bool TMMCorrelationStrip::Draw(int smoothed, int current)
{
    int a = smoothed, b = current;
    // Away from the centre: the smoothed end by 1 (right) or 4 (left), the
    // marker by 4 either way.
    if (a < kCentre) a -= 4;
    if (a > kCentre) a += 1;
    const TPixel markerColor = b == kCentre ? mBarColor : (b < kCentre ? mNegColor : mPosColor);
    if (b < kCentre) b -= 4;
    if (b > kCentre) b += 4;
    if (mDrawn && a == mLastA && b == mLastB) return false;
    mDrawn = true;
    mLastA = a;
    mLastB = b;
    mMarker = b;
    mMarkerColor = markerColor;
    mStale = true;
    return true;
}

const TMMCorrelationStrip::TPixel* TMMCorrelationStrip::Pixels() const
{
    if (mStale) {
        mStale = false;
        mPixels.fill(0);
        Rectangle(mLastB, 0, mLastA, 8, mBarColor, mBarColor);
        Rectangle(mLastB, 15, mLastB + 3, 0, mMarkerColor, mBarColor);
    }
    return mPixels.data();
}

void TMMCorrelationStrip::Rectangle(int x1, int y1, int x2, int y2, TPixel pen, TPixel brush) const
{
    const int l = std::min(x1, x2), r = std::max(x1, x2);
    const int t = std::min(y1, y2), b = std::max(y1, y2);
    auto span = [this](int xa, int xb, int ya, int yb, TPixel c) {
        xa = std::max(xa, 0);
        ya = std::max(ya, 0);
        xb = std::min(xb, kWidth - 1);
        yb = std::min(yb, kHeight - 1);
        for (int y = ya; y <= yb; ++y)
            for (int x = xa; x <= xb; ++x) mPixels[static_cast<size_t>(y * kWidth + x)] = c;
    };
    // The fill inside the pen, then the pen on both sides of each edge.
    span(l + 1, r - 2, t + 1, b - 2, brush);
    span(l - 1, l, t - 1, b, pen);
    span(r - 1, r, t - 1, b, pen);
    span(l - 1, r, t - 1, t, pen);
    span(l - 1, r, b - 1, b, pen);
}

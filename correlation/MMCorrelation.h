// Phase correlation of two oscilloscopes' column tables: the Pearson
// coefficient per step, its filling and sliding average, the extremes, the
// smoothed bar position of the strip and the share of non-negative ticks.
//
// Qt-free, no allocation after construction. Everything runs on the GUI
// thread: Step once per trigger cycle of the correlation connector (about
// once per millisecond), Tick every 200 ms.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// Coefficient window length N and bar smoothing length P of one speed; both
// count steps. The average covers N + 1 coefficients, the smoothing P + 1
// bar positions.
struct TCorrelationSpeed {
    int N;
    int P;
};

// " FAST", " MIDDEL", " SLOW".
inline constexpr std::array<TCorrelationSpeed, 3> kCorrelationSpeeds{{{30, 100}, {150, 250}, {290, 499}}};

// Pearson coefficient of entries 1 ... 199 of two column tables (each at
// least 200 entries long), limited to -1 ... 1; 0 when either side is
// constant.
double ColumnCorrelation(const double* left, const double* right);

// Nearest integer, halves to the even neighbour.
int64_t RoundHalfEven(double v);
// part / whole x 100 rounded to the nearest integer, halves to even, exact;
// 0 when whole is 0.
int PercentHalfEven(int64_t part, int64_t whole);

// Strip column of a mean: 150 + round(mean x 1000, limited to +-1000) / 7,
// the division truncated: 8 at -1, 150 at 0, 292 at +1.
int CorrelationBarPosition(double mean);

// "%7.2f": seven characters, right-aligned ("   0.80", "  -1.00").
std::string FormatCorrelationExtreme(double v);
// "80%".
std::string FormatCorrelationPercent(int p);

class TMMCorrelation {
public:
    static constexpr int kCoefficients = 291;  // N + 1 of the slowest speed
    static constexpr int kBarPositions = 500;  // P + 1 of the slowest speed

    // What a step changed, for the window to redraw only that.
    struct TStepResult {
        bool minChanged = false;  // Minimum() took a new value
        bool maxChanged = false;  // Maximum() took a new value
    };

    // Sets N and P from the speed table (index limited to 0 ... 2) and
    // restarts the averaging; histories, extremes and ticks stay.
    void ApplySpeed(int index);
    bool SpeedApplied() const { return mSpeedIndex >= 0; }
    int SpeedIndex() const { return mSpeedIndex; }  // -1 until applied
    int N() const { return mN; }
    int P() const { return mP; }
    // Coefficients collected since the last restart; stops counting once the
    // window is full (N + 1).
    int Fill() const { return mFill; }
    bool WindowFull() const { return mFill >= mN + 1; }

    // One correlation step over the scopes' column tables.
    TStepResult Step(const double* left, const double* right);
    // The averaging, extremes and bar position of one coefficient r.
    TStepResult StepCoefficient(double r);

    double Coefficient() const { return mLastR; }  // r of the last step
    double Mean() const { return mMean; }          // the averaged correlation shown
    double Minimum() const { return mMin; }
    double Maximum() const { return mMax; }
    void ResetExtremes();  // both to 0
    uint64_t Steps() const { return mSteps; }

    // Strip columns of the last step before the centre offsets: the current
    // position b and the smoothed position a (the truncated mean of the
    // P + 1 newest positions; the history starts at 0 and is never cleared).
    int BarPosition() const { return mBar; }
    int SmoothedPosition() const { return mSmoothed; }

    // Percentage tick: counts a positive tick when a speed has been applied
    // and the mean is not negative.
    void Tick();
    void ResetTicks();
    int64_t PositiveTicks() const { return mPositiveTicks; }
    int64_t AllTicks() const { return mAllTicks; }
    // Share of positive ticks in percent (100 - it is the negative share).
    int PositivePercent() const { return PercentHalfEven(mPositiveTicks, mAllTicks); }

private:
    int mSpeedIndex = -1;
    int mN = 0, mP = 0;
    int mFill = 0;

    std::array<double, kCoefficients> mCoeff{};  // ring, mCoeffHead = newest
    int mCoeffHead = 0;
    std::array<int, kBarPositions> mBars{};  // ring, mBarHead = newest
    int mBarHead = 0;

    double mLastR = 0;
    double mMean = 0;
    double mMin = 0, mMax = 0;
    int mBar = 150, mSmoothed = 0;
    uint64_t mSteps = 0;
    int64_t mPositiveTicks = 0, mAllTicks = 0;
};

// The 300 x 16 strip picture: black, a yellow bar between the current and the
// smoothed position (rows 0 ... 8) and the marker of the current value
// (columns b ... b + 3, rows 0 ... 15) outlined in the sign's colour with a
// yellow fill. Rectangles follow the platform's rules: corners in any order,
// the right and bottom edges exclusive, and a pen 2 pixels wide that lies on
// the outermost pixels and one pixel beyond them, clipped to the picture.
class TMMCorrelationStrip {
public:
    static constexpr int kWidth = 300, kHeight = 16, kCentre = 150;
    using TPixel = uint32_t;  // colour 0x00BBGGRR

    // Colours, all black until the window is shown.
    void SetColors(TPixel bar, TPixel negative, TPixel positive);

    // Draws for current position b and smoothed position a (before the
    // offsets). Returns false when the picture would not change. The pixels
    // are rendered when next read.
    bool Draw(int smoothed, int current);

    // Left column of the marker after the offset (296 at +1, 4 at -1).
    int MarkerColumn() const { return mMarker; }
    TPixel MarkerColor() const { return mMarkerColor; }
    TPixel Pixel(int x, int y) const { return Pixels()[y * kWidth + x]; }
    const TPixel* Pixels() const;

private:
    void Rectangle(int x1, int y1, int x2, int y2, TPixel pen, TPixel brush) const;

    mutable std::array<TPixel, kWidth * kHeight> mPixels{};
    mutable bool mStale = false;
    TPixel mBarColor = 0, mNegColor = 0, mPosColor = 0;
    int mLastA = -1, mLastB = -1;
    bool mDrawn = false;
    int mMarker = kCentre;
    TPixel mMarkerColor = 0;
};

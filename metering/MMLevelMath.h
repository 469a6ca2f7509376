// Pure level arithmetic of the level bar: reference factors, display curves,
// decay constants and the level -> segment mapping. Extended precision
// (long double, 80-bit on x86) throughout; no state, no drawing.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace mmlevel {

// Full-scale amplitude against which all levels are measured.
constexpr int MaxValue = 32767;
// Period of the peak tick in milliseconds.
constexpr int PeakTickMs = 25;
// Entries of the integration window (lengths 1 .. IntegralMax fit).
constexpr int IntegralWindowSize = 301;
constexpr int IntegralMax = IntegralWindowSize - 1;
// Entries of the uniform-decay ring.
constexpr int DecayRingSize = 32;

enum TMMRef { ref18 = 0, ref20 = 1, ref24 = 2 };

// Factor k of one reference flag for a display-curve code (0 .. 7); 0 means
// "no scaling" (code 4 and unknown codes).
long double RefFactor(int meterStandard, TMMRef ref);

// Display curve of `meterStandard` applied to h, truncated toward zero;
// r = Trunc(h) chooses the branch. `integrated` selects the coefficients of
// the integrated path. Code 4 and unknown codes give r.
int32_t DisplayCurve(int meterStandard, long double h, int32_t r, bool integrated);

// Round half to even, saturated to the 32-bit range.
int32_t RoundEven(long double x);
// Truncation toward zero, saturated to the 32-bit range.
int32_t TruncSat(long double x);

// 0.0001 raised by `decay` square roots, each step stored as a 32-bit float.
float DecayFactorFor(int decay);
// 2 x (decay - 1) limited to 1 .. 32.
int DecayLengthFor(int decay);

// Bar position for an amplitude g (units of MaxValue, after gain) on a bar
// of numSpots segments whose bottom is `sensitivity` dB (negative).
// Never below 0; above the top it is cut to 2 x numSpots + 3.
int64_t LevelToSpot(int64_t g, int sensitivity, int numSpots, bool logAmp);

// LevelToSpot of every amplitude 0 .. MaxValue for one bar geometry, worked
// out once and shared by all bars of that geometry (immutable, so any thread
// may read it); amplitudes beyond full scale are computed as before.
class TSpotTable {
public:
    static std::shared_ptr<const TSpotTable> For(int sensitivity, int numSpots, bool logAmp);
    bool Fits(int sensitivity, int numSpots, bool logAmp) const
    {
        return sensitivity == mSensitivity && numSpots == mNumSpots && logAmp == mLogAmp;
    }
    int64_t Spot(int64_t g) const
    {
        return g >= 0 && static_cast<size_t>(g) < mSpots.size() ? mSpots[static_cast<size_t>(g)]
                                                                : LevelToSpot(g, mSensitivity, mNumSpots, mLogAmp);
    }
    TSpotTable(int sensitivity, int numSpots, bool logAmp);

private:
    int mSensitivity, mNumSpots;
    bool mLogAmp;
    std::vector<int32_t> mSpots;
};

// Amplitude in percent of full scale that a bar of `barSpots` lit segments
// stands for (the read side of Value).
int SpotToPercent(int barSpots, int sensitivity, int numSpots, bool logAmp, int gainScale);

}  // namespace mmlevel

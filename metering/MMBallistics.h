// Standard-instrument ballistics of the level bar: a per-sample detector that
// reads a channel as the meter of its standard would.
//   Type I   (IEC 60268-10, Nordic N9, DIN 45406): quasi-peak, two cascaded
//            charging stages, 5 ms burst -2 dB, return 20 dB in 1.6 s.
//   Type II  (IEC 60268-10 IIa/IIb, BBC, EBU): quasi-peak, a fast and a slow
//            charging stage in parallel, 10/5/1.5/0.5 ms bursts
//            -2.5/-4/-9/-17 dB, return 24 dB in 2.8 s.
//   K-System (K-20/14/12): RMS averaged over 600 ms (sine reads its peak),
//            with the sample peak for the held peak mark.
//   True peak (Digital PPM, Peak dBFS): 4x oversampled peak (ITU-R BS.1770-4
//            annex 2 interpolator), instant rise, return 20 dB in 1.7 s.
// Readings are amplitudes in sample units (32767 = full scale); a steady
// sine reads its peak amplitude on every instrument.
#pragma once

#include "audio/MMUtils.h"

#include <cmath>
#include <cstdint>

// The ballistics choice of the level settings ("As preset", "Standard instrument").
enum TMMBallisticsMode { bmAsPreset = 0, bmStandard = 1 };

enum TMMInstrument { inTypeI = 0, inTypeII = 1, inKSystem = 2, inTruePeak = 3 };

// The instrument of a display-curve code (0 .. 7, 4 = Digital PPM and Peak dBFS).
TMMInstrument InstrumentOf(int meterStandard);
const char* InstrumentName(TMMInstrument kind);

class TMMBallistics {
public:
    static constexpr int TruePeakTaps = 12;

    explicit TMMBallistics(TMMInstrument kind = inTypeI, int sampleRate = 48000);
    // Chooses the instrument and rate (4000 .. 384000 Hz) and resets.
    void Configure(TMMInstrument kind, int sampleRate);
    void Reset();

    TMMInstrument Kind() const { return mKind; }
    int SampleRate() const { return mRate; }
    // 20 dB (Type I, true peak) or 24 dB (Type II) fall time in seconds;
    // for the K-System the 99 % rise time of the average.
    double ReturnSeconds() const;

    // One sample; returns the reading after it.
    inline float Step(float x);
    // The current reading.
    float Reading() const { return mReading; }
    // Highest sample (or true) peak since the last TakePeak, then restart it.
    float TakePeak()
    {
        const float p = mPeak;
        mPeak = 0.0f;
        return p;
    }

    // Feeds `frames` frames of interleaved PCM (8-bit unsigned or 16-bit
    // signed, `channels` per frame) as the level bar selects them: mono, left,
    // right or the halved sum, less the DC offsets. Returns the highest reading.
    float FeedBlock(const void* data, int frames, int bytesPerSample, int channels, TMMChannel channel, int dcL,
                    int dcR);

private:
    float truePeak(float x);

    TMMInstrument mKind = inTypeI;
    int mRate = 48000;
    float mAttack1 = 0, mAttack2 = 0, mWeight1 = 1, mRelease = 1, mGain = 1;
    float mZ1 = 0, mZ2 = 0, mReading = 0, mPeak = 0;
    // True-peak history, written twice so 12 recent samples are contiguous.
    float mHist[2 * TruePeakTaps] = {};
    int mHistPos = 0;
};

inline float TMMBallistics::Step(float x)
{
    const float a = std::fabs(x);
    switch (mKind) {
    case inTypeI:  // cascade: z1 follows the rectified input, z2 follows z1
        mZ1 *= mRelease;
        mZ2 *= mRelease;
        if (a > mZ1) mZ1 += mAttack1 * (a - mZ1);
        if (mZ1 > mZ2) mZ2 += mAttack2 * (mZ1 - mZ2);
        mReading = mGain * mZ2;
        if (a > mPeak) mPeak = a;
        break;
    case inTypeII:  // parallel: weighted sum of a fast and a slow stage
        mZ1 *= mRelease;
        mZ2 *= mRelease;
        if (a > mZ1) mZ1 += mAttack1 * (a - mZ1);
        if (a > mZ2) mZ2 += mAttack2 * (a - mZ2);
        mReading = mGain * (mWeight1 * mZ1 + (1.0f - mWeight1) * mZ2);
        if (a > mPeak) mPeak = a;
        break;
    case inKSystem:  // mean square, one pole; sine-calibrated square root
        mZ1 += mAttack1 * (x * x - mZ1);
        mReading = std::sqrt(2.0f * mZ1);
        if (a > mPeak) mPeak = a;
        break;
    case inTruePeak: {
        const float t = truePeak(x);
        mZ1 *= mRelease;
        if (t > mZ1) mZ1 = t;
        mReading = mZ1;
        if (t > mPeak) mPeak = t;
        break;
    }
    }
    return mReading;
}

// Coefficient of the BS.1770-4 annex 2 interpolator (phase 0 .. 3, tap 0 .. 11).
float TruePeakCoefficient(int phase, int tap);

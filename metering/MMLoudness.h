// Loudness per EBU R128 / ITU-R BS.1770-4: momentary (400 ms), short-term
// (3 s) and gated integrated loudness in LUFS, loudness range in LU, maximum
// true peak in dBTP and sample peak in dBFS. Files are measured by
// libebur128; the live measurement does the same weighting and gating itself
// at a fraction of the cost (held to libebur128's readings by the tests).
//   TMMLoudness        one programme of 1 .. 24 channels (all weighted 1.0);
//   TMMLoudnessMeter   the live meter of the loudness window: one TMMLoudness
//                      per recorder pair, and for the sum of the active pairs
//                      one programme of all their channels (channel powers
//                      summed per gating block, as BS.1770 sums a programme's
//                      channels), fed as the pairs' buffers line up.
// Values not yet defined (silence, too little audio) read -inf.
#pragma once

#include "audio/MMUtils.h"
#include "base/TvConstants.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class EMMLoudnessError : public EMMError {
public:
    using EMMError::EMMError;
};

class TMMLoudness {
public:
    // Raises EMMLoudnessError "Invalid WaveFormat" for 0 or more than 24
    // channels or a rate outside 4000 .. 384000 Hz. `live` keeps the gating
    // blocks and short-term values as histograms of 0.1 dB bins (bounded
    // memory for endless measurement, integrated loudness to within 0.05 LU);
    // otherwise libebur128 keeps every block (exact, for files).
    TMMLoudness(int channels, int sampleRate, bool live = false);
    ~TMMLoudness();
    TMMLoudness(const TMMLoudness&) = delete;
    TMMLoudness& operator=(const TMMLoudness&) = delete;

    int Channels() const { return mChannels; }
    int SampleRate() const { return mRate; }
    // Frames added since creation or Reset.
    uint64_t Frames() const { return mFrames; }
    void Reset();

    // Interleaved frames of Channels() samples.
    void AddFrames(const int16_t* frames, size_t count);
    void AddFrames(const float* frames, size_t count);  // full scale 1.0

    // Live, both are updated every 100 ms of audio.
    double Momentary() const;   // LUFS
    double ShortTerm() const;   // LUFS
    double Integrated() const;  // LUFS
    double Range() const;       // LU
    double TruePeak() const;    // dBTP, highest of all channels
    double SamplePeak() const;  // dBFS, highest of all channels

    // The libebur128 state (ebur128_state*) of a file measurement; live:
    // nullptr.
    void* State() const { return mState; }

private:
    template <typename T>
    void add(const T* frames, size_t count, float scale);
    template <typename T>
    void peaks(const T* frames, size_t count, float scale);
    double segmentsLoudness(int n) const;

    void* mState = nullptr;
    int mChannels = 0, mRate = 0;
    bool mLive = false;
    uint64_t mFrames = 0;
    // Live: the peaks are measured here (the same BS.1770-4 interpolator as
    // the bar's true-peak detector), skipping blocks that cannot raise the
    // maximum; libebur128's own oversampling costs ten times more.
    float mTruePeak = 0.0f, mSamplePeak = 0.0f;  // full scale 1.0
    std::vector<float> mHist;                    // per channel: last 11 samples, then the block
    // Live: the energy of each 100 ms segment, read when it is complete; the
    // momentary and short-term loudness are their means over 4 and 30
    // segments (libebur128 reads 3 s of every channel for each short-term
    // value, far too slow for 24 channels ten times a second).
    static constexpr int Segments = 30;
    double mEnergy[Segments] = {};
    int mSegment = 0;        // next slot of mEnergy
    size_t mSegmentFill = 0;  // frames of the current segment
    // Live: the K-weighting and the gating are done here, as libebur128 does
    // them for files (the tests hold the two to agree); its filter alone
    // costs more than the whole live measurement of 24 channels may.
    // Per channel, structure of arrays: the two stages' states and the
    // weighted power of the current segment.
    template <typename T>
    void filter(const T* frames, size_t count, float scale);
    void endSegment();
    void clearLive();
    double mK[10] = {};  // b0 b1 b2 a1 a2 of the shelf, then of the high-pass
    std::vector<double> mZ, mPower;
    uint64_t mSegments = 0;  // complete segments since creation or Reset
    // Gating blocks (400 ms, every 100 ms) and short-term values (3 s,
    // every second) from -70 LUFS up in 0.1 dB bins: count and energy sum.
    static constexpr int Bins = 1000;
    std::vector<uint32_t> mBlockCount, mShortCount;
    std::vector<double> mBlockEnergy, mShortEnergy;
};

// Selectable loudness targets of the loudness window (LUFS); the first is the default.
constexpr int kLoudnessTargets[] = {-23, -24, -16, -14};
constexpr int kDefaultLoudnessTarget = kLoudnessTargets[0];
constexpr double kLoudnessTolerance = 1.0;  // LU either side of the target

class TMMLoudnessMeter {
public:
    static constexpr int SumOfPairs = -1;

    explicit TMMLoudnessMeter(int sampleRate = 48000);
    ~TMMLoudnessMeter();

    // Pair 0 .. kPairs - 1, or SumOfPairs. Changing it does not reset: each
    // measurement goes on where it stopped (it is fed only while shown).
    int Pair() const { return mPair; }
    void setPair(int pair);
    // Pairs that count for SumOfPairs (1 .. kPairs, the running recorders).
    int ActivePairs() const { return mActive; }
    void setActivePairs(int n);
    int SampleRate() const { return mRate; }
    // A new rate resets every measurement.
    void setSampleRate(int rate);

    // The start/reset of the window: every measurement from zero.
    void Reset();
    // Interleaved 16-bit stereo frames of recorder pair `pair` (GUI thread).
    void AddPair(int pair, const int16_t* frames, size_t count);

    double Momentary() const;
    double ShortTerm() const;
    double Integrated() const;
    double Range() const;
    double TruePeak() const;

    // Target loudness of the window: one of kLoudnessTargets; others give -23.
    int Target() const { return mTarget; }
    void setTarget(int lufs);
    // Within the target's tolerance (kLoudnessTolerance either side).
    bool OnTarget(double lufs) const;

    // Short-term history for the plot: the window's timer records one value
    // per tick (the oldest dropped beyond HistoryLength); Reset and a new
    // pair clear it.
    static constexpr size_t HistoryLength = 1200;  // five minutes at 4 per second
    void RecordHistory();
    const std::vector<double>& History() const { return mHistory; }

private:
    const TMMLoudness* shown() const;  // null before it is first fed
    TMMLoudness& pairMeter(int pair);
    TMMLoudness& sumMeter();
    void newSum();
    void flushSum(bool padLagging);

    int mRate;
    int mPair = 0, mActive = 1;
    std::unique_ptr<TMMLoudness> mPairs[tv::kPairs];
    // The sum of pairs 0 .. mActive - 1: their frames wait in mPending until
    // every active pair has delivered them.
    std::unique_ptr<TMMLoudness> mSum;
    std::vector<int16_t> mPending[tv::kPairs];
    std::vector<int16_t> mInterleaved;
    int mTarget = kDefaultLoudnessTarget;
    std::vector<double> mHistory;
};

// Momentary or short-term loudness of several programmes read as one: the sum
// of their channel powers.
double SumLoudness(const double* lufs, size_t n);

// A readout of the loudness window: one decimal and the unit ("-23.0 LUFS"),
// or "--- UNIT" while the value is not defined yet.
std::string LoudnessReadout(double value, const char* unit);

// Signal descriptions of the simulated input devices and their generators.
// A description gives the left and right channel separated by "/":
//   sine:FREQ_HZ:DBFS[:PHASE_DEG]   noise:DBFS[:SEED]   silence
//   gated:FREQ_HZ:DBFS:ON_MS:OFF_MS   file:PATH (loops a 16-bit PCM WAV)
//   speech:DBFS[:SEED][:OPTION...]    music:DBFS[:SEED][:OPTION...]
// speech and music are programme-like shaped noise: speech has syllables,
// short gaps between words and phrase pauses (a floor 50 dB down); music has beats,
// phrases that swell and fall, and 1-2 s pauses between pieces. DBFS is the
// peak the loudest moments reach; nothing exceeds it. OPTIONs:
//   corr=C          correlation C (-1 ... 1) with the same form without
//                   corr/drift: a blend with an independent twin sequence
//   drift=SECONDS   that correlation runs +1 -> 0 -> -1 -> 0 -> +1 over SECONDS
//   gap=LEN,PERIOD[,START]  digital silence for LEN seconds of every PERIOD
//                   seconds, from START (default PERIOD - LEN) in the period
// The same SEED on both channels gives the same programme (mono); the right
// channel with corr or drift then sets the stereo image.
// Levels are peak amplitudes in dB relative to full scale 32767. A leading
// "-" inverts the channel (sine:997:-6/-sine:997:-6 is left = -right). Noise
// is independent per channel unless both name the same SEED. A single
// description without "/" drives both channels.
#pragma once

#include "audio/MMUtils.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class ESimSignalError : public EMMError {
public:
    using EMMError::EMMError;
};

struct TMMSimChannelSignal {
    enum Kind { Silence, Sine, Noise, Gated, File, Speech, Music };
    Kind kind = Silence;
    double freq = 0;   // Hz
    double dbfs = 0;   // peak level
    int onMs = 0;      // gated: tone time
    int offMs = 0;     // gated: pause time
    double phaseDeg = 0;  // sine: phase at the first sample
    uint32_t seed = 0;    // noise, speech, music: 0 = the channel's own sequence
    double corr = 1;      // speech, music: correlation with the plain form
    double driftS = 0;    // speech, music: period of the drifting correlation
    double gapS = 0, gapPeriodS = 0, gapStartS = 0;  // speech, music: silent window
    bool inverted = false;  // leading "-": every sample negated
    std::string path;  // file
    // file: one channel of the file, looped
    std::shared_ptr<const std::vector<int16_t>> samples;

    double Amplitude() const;  // peak in units of full scale 32767
};

struct TMMSimSignal {
    TMMSimChannelSignal left, right;
    std::string text;
};

// Parses a description; throws ESimSignalError with a one-line reason.
// Files are read here, not while recording.
TMMSimSignal ParseSimSignal(const std::string& text);
// The description of simulated device k (1 ... 12) until one is set:
// sine:997:-3k/sine:1499:-(3k+1.5).
std::string DefaultSimSignalText(int k);
// Programme-like material for simulated device k (1 ... 12), played when the
// program falls back to the simulated inputs: pair 1 music whose image drifts
// through mono to opposite phase (48 s), pair 2 mono speech, pair 3
// stereo music, pair 4 speech silent 6-21 s of every minute, then more speech
// and music at different levels. All stay loud enough (peaks -4 ... -10 dBFS,
// pauses under 1 s) that only pair 4 alarms the silence detector's defaults.
std::string ProgrammeSimSignalText(int k);

// Reads the 16-bit PCM samples of one channel of a RIFF/WAVE file (channel
// taken modulo the file's channel count); throws ESimSignalError.
std::vector<int16_t> ReadWaveChannel(const std::string& path, int channel);

// Produces one channel's samples. Called on the device thread; Fill does no
// allocation.
class TMMSimGenerator {
public:
    // `channel` 0 (left) or 1 (right) picks the noise sequence of a signal
    // without a seed.
    void Reset(const TMMSimChannelSignal* signal, uint32_t rate, int channel = 0);
    // Writes n samples, `stride` int16 apart.
    void Fill(int16_t* out, size_t n, size_t stride);

private:
    void FillPlain(int16_t* out, size_t n, size_t stride);
    void FillProgramme(int16_t* out, size_t n, size_t stride);
    void NextSegment();

    // Spectral shape of the programme noise: speech a band of ~250-3000 Hz,
    // music a pink-like slope.
    struct Shaper {
        bool music = false;
        double a = 0, b = 0;  // speech: one-pole coefficients (3 kHz, 250 Hz)
        double s1 = 0, s2 = 0, s3 = 0;
        double Step(double w);
    };

    const TMMSimChannelSignal* mSignal = nullptr;
    double mAmp = 0;
    double mRe = 0, mIm = 0;      // phasor
    double mCosW = 1, mSinW = 0;  // rotation per sample
    uint32_t mNoise = 0x12345678u;
    bool mInvert = false;
    uint64_t mGatePos = 0, mGateOn = 0, mGatePeriod = 0;
    size_t mFilePos = 0;

    // speech, music
    uint32_t mTwin = 0;     // the independent sequence blended in by corr/drift
    uint32_t mEnvRng = 0;   // segment choices, shared by channels of one seed
    Shaper mShape, mShapeTwin;
    double mNorm = 1;       // unit RMS of the shaped noise times the crest factor
    double mBlendCos = 1, mBlendSin = 0;
    uint64_t mTime = 0;     // samples since Reset
    uint32_t mRate = 48000;
    // Envelope: the current segment's shape from mSegFrom to mSegTo.
    int mSegKind = 0;
    uint64_t mSegPos = 0, mSegLen = 1;
    double mSegAmp = 0, mFloor = 0;
    uint64_t mPhraseLeft = 0;  // speech: samples left in the phrase; music: in the piece
    uint64_t mBeatLen = 1, mBeatPos = 0;
    double mAccent = 0, mAccentDecay = 0, mLevel = 0, mLevelTarget = 0, mLevelStep = 0;
    uint64_t mGapPos = 0, mGapLen = 0, mGapPeriod = 0, mGapStart = 0;
};

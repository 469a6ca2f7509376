// Signal descriptions of the simulated input devices and their generators.
// A description gives the left and right channel separated by "/":
//   sine:FREQ_HZ:DBFS[:PHASE_DEG]   noise:DBFS[:SEED]   silence
//   gated:FREQ_HZ:DBFS:ON_MS:OFF_MS   file:PATH (loops a 16-bit PCM WAV)
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
    enum Kind { Silence, Sine, Noise, Gated, File };
    Kind kind = Silence;
    double freq = 0;   // Hz
    double dbfs = 0;   // peak level
    int onMs = 0;      // gated: tone time
    int offMs = 0;     // gated: pause time
    double phaseDeg = 0;  // sine: phase at the first sample
    uint32_t seed = 0;    // noise: 0 = the channel's own sequence
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

    const TMMSimChannelSignal* mSignal = nullptr;
    double mAmp = 0;
    double mRe = 0, mIm = 0;      // phasor
    double mCosW = 1, mSinW = 0;  // rotation per sample
    uint32_t mNoise = 0x12345678u;
    bool mInvert = false;
    uint64_t mGatePos = 0, mGateOn = 0, mGatePeriod = 0;
    size_t mFilePos = 0;
};

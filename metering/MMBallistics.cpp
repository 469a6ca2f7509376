#include "metering/MMBallistics.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// ITU-R BS.1770-4 annex 2: 48-tap interpolator for 4x oversampling, four
// phases of 12 taps.
constexpr float kTruePeak[4][TMMBallistics::TruePeakTaps] = {
    {0.0017089843750f, 0.0109863281250f, -0.0196533203125f, 0.0332031250000f, -0.0594482421875f,
     0.1373291015625f, 0.9721679687500f, -0.1022949218750f, 0.0476074218750f, -0.0266113281250f,
     0.0148925781250f, -0.0083007812500f},
    {-0.0291748046875f, 0.0292968750000f, -0.0517578125000f, 0.0891113281250f, -0.1665039062500f,
     0.4650878906250f, 0.7797851562500f, -0.2003173828125f, 0.1015625000000f, -0.0582275390625f,
     0.0330810546875f, -0.0189208984375f},
    {-0.0189208984375f, 0.0330810546875f, -0.0582275390625f, 0.1015625000000f, -0.2003173828125f,
     0.7797851562500f, 0.4650878906250f, -0.1665039062500f, 0.0891113281250f, -0.0517578125000f,
     0.0292968750000f, -0.0291748046875f},
    {-0.0083007812500f, 0.0148925781250f, -0.0266113281250f, 0.0476074218750f, -0.1022949218750f,
     0.9721679687500f, 0.1373291015625f, -0.0594482421875f, 0.0332031250000f, -0.0196533203125f,
     0.0109863281250f, 0.0017089843750f},
};

// Charging rates (per second) and fall times of the quasi-peak instruments,
// fitted to the tone-burst responses at 5 kHz.
constexpr double kTypeIAttack1 = 715.0, kTypeIAttack2 = 303.4, kTypeIFall = 1.6;  // 20 dB
constexpr double kTypeIIAttack1 = 605.6, kTypeIIAttack2 = 12.53, kTypeIIWeight = 0.82;
constexpr double kTypeIIFall = 2.8;  // 24 dB
constexpr double kKSystemRise = 0.6;  // 99 % of the mean square
constexpr double kTruePeakFall = 1.7;  // 20 dB

double ratePerSecond(double dB, double seconds) { return dB / 20.0 * std::log(10.0) / seconds; }

inline int16_t load16(const uint8_t* p)
{
    int16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename Pick>
float feed(TMMBallistics& b, const uint8_t* p, int n, int frameBytes, Pick pick)
{
    float m = 0.0f;
    for (int i = 0; i < n; ++i, p += frameBytes) m = std::max(m, b.Step(static_cast<float>(pick(p))));
    return m;
}

}  // namespace

TMMInstrument InstrumentOf(int meterStandard)
{
    switch (meterStandard) {
    case 0:
    case 1:
        return inTypeI;
    case 2:
    case 3:
        return inTypeII;
    case 5:
    case 6:
    case 7:
        return inKSystem;
    default:
        return inTruePeak;
    }
}

const char* InstrumentName(TMMInstrument kind)
{
    switch (kind) {
    case inTypeI:
        return "IEC 60268-10 Type I";
    case inTypeII:
        return "IEC 60268-10 Type II";
    case inKSystem:
        return "K-System RMS";
    default:
        return "True peak";
    }
}

float TruePeakCoefficient(int phase, int tap)
{
    if (phase < 0 || phase > 3 || tap < 0 || tap >= TMMBallistics::TruePeakTaps) return 0.0f;
    return kTruePeak[phase][tap];
}

TMMBallistics::TMMBallistics(TMMInstrument kind, int sampleRate) { Configure(kind, sampleRate); }

void TMMBallistics::Configure(TMMInstrument kind, int sampleRate)
{
    mKind = kind;
    mRate = std::clamp(sampleRate, 4000, 384000);
    const double fs = mRate;
    auto charge = [fs](double perSecond) { return static_cast<float>(1.0 - std::exp(-perSecond / fs)); };
    mWeight1 = 1.0f;
    mAttack2 = 0.0f;
    switch (kind) {
    case inTypeI:
        mAttack1 = charge(kTypeIAttack1);
        mAttack2 = charge(kTypeIAttack2);
        mRelease = static_cast<float>(std::exp(-ratePerSecond(20, kTypeIFall) / fs));
        break;
    case inTypeII:
        mAttack1 = charge(kTypeIIAttack1);
        mAttack2 = charge(kTypeIIAttack2);
        mWeight1 = static_cast<float>(kTypeIIWeight);
        mRelease = static_cast<float>(std::exp(-ratePerSecond(24, kTypeIIFall) / fs));
        break;
    case inKSystem:
        mAttack1 = charge(std::log(100.0) / kKSystemRise);
        mRelease = 1.0f;
        break;
    case inTruePeak:
        mAttack1 = 1.0f;
        mRelease = static_cast<float>(std::exp(-ratePerSecond(20, kTruePeakFall) / fs));
        break;
    }
    // Calibrate the quasi-peak instruments so that a steady 1 kHz sine reads
    // its peak: the charging stages settle a little below the crest.
    mGain = 1.0f;
    if (kind == inTypeI || kind == inTypeII) {
        Reset();
        const int n = mRate;  // one second settles the slow stage
        float m = 0.0f;
        for (int i = 0; i < n; ++i) {
            const float r = Step(static_cast<float>(std::sin(2.0 * M_PI * 1000.0 * i / fs)));
            if (i >= n - n / 10) m = std::max(m, r);
        }
        if (m > 0.0f) mGain = 1.0f / m;
    }
    Reset();
}

void TMMBallistics::Reset()
{
    mZ1 = mZ2 = mReading = mPeak = 0.0f;
    std::fill(std::begin(mHist), std::end(mHist), 0.0f);
    mHistPos = 0;
}

double TMMBallistics::ReturnSeconds() const
{
    switch (mKind) {
    case inTypeI:
        return kTypeIFall;
    case inTypeII:
        return kTypeIIFall;
    case inKSystem:
        return kKSystemRise;
    default:
        return kTruePeakFall;
    }
}

namespace {

// Tap-major coefficients: the four phases of a tap form one vector.
constexpr std::array<std::array<float, 4>, TMMBallistics::TruePeakTaps> byTapTable()
{
    std::array<std::array<float, 4>, TMMBallistics::TruePeakTaps> t{};
    for (int k = 0; k < TMMBallistics::TruePeakTaps; ++k)
        for (int ph = 0; ph < 4; ++ph) t[k][ph] = kTruePeak[ph][k];
    return t;
}
constexpr auto byTap = byTapTable();

}  // namespace

float TMMBallistics::truePeak(float x)
{
    // Newest sample at mHist[mHistPos], oldest of the 12 at mHistPos + 11.
    mHistPos = mHistPos == 0 ? TruePeakTaps - 1 : mHistPos - 1;
    mHist[mHistPos] = x;
    mHist[mHistPos + TruePeakTaps] = x;
    const float* h = &mHist[mHistPos];
    // Three partial sums per phase keep the chains of dependent adds short.
    float a[3][4] = {};
    for (int k = 0; k < TruePeakTaps; ++k)
        for (int ph = 0; ph < 4; ++ph) a[k % 3][ph] += byTap[k][ph] * h[k];
    const float y0 = a[0][0] + a[1][0] + a[2][0], y1 = a[0][1] + a[1][1] + a[2][1];
    const float y2 = a[0][2] + a[1][2] + a[2][2], y3 = a[0][3] + a[1][3] + a[2][3];
    return std::max(std::max(std::fabs(y0), std::fabs(y1)), std::max(std::fabs(y2), std::fabs(y3)));
}

float TMMBallistics::FeedBlock(const void* data, int frames, int bytesPerSample, int channels, TMMChannel channel,
                               int dcL, int dcR)
{
    const auto* p = static_cast<const uint8_t*>(data);
    if (!p || frames <= 0) return mReading;
    const int32_t dl = dcL, dr = dcR;
    if (bytesPerSample == 2) {
        const int fb = 2 * channels;
        if (channels == 1 || channel == chLeft) return feed(*this, p, frames, fb, [dl](const uint8_t* q) { return load16(q) - dl; });
        if (channel == chRight) return feed(*this, p, frames, fb, [dr](const uint8_t* q) { return load16(q + 2) - dr; });
        return feed(*this, p, frames, fb,
                    [dl, dr](const uint8_t* q) { return (load16(q) - dl + load16(q + 2) - dr) / 2; });
    }
    const int fb = channels;
    if (channels == 1 || channel == chLeft)
        return feed(*this, p, frames, fb, [dl](const uint8_t* q) { return (q[0] - dl - 128) * 256; });
    if (channel == chRight)
        return feed(*this, p, frames, fb, [dr](const uint8_t* q) { return (q[1] - dr - 128) * 256; });
    return feed(*this, p, frames, fb,
                [dl, dr](const uint8_t* q) { return ((q[0] - dl + q[1] - dr) / 2 - 128) * 256; });
}

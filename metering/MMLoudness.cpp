#include "metering/MMLoudness.h"

#include "metering/MMBallistics.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <type_traits>

namespace {

constexpr double kNone = -std::numeric_limits<double>::infinity();
constexpr int kLoudnessMode = EBUR128_MODE_M | EBUR128_MODE_S | EBUR128_MODE_I | EBUR128_MODE_LRA;
constexpr int kFileMode = kLoudnessMode | EBUR128_MODE_SAMPLE_PEAK | EBUR128_MODE_TRUE_PEAK;
constexpr int kLiveMode = kLoudnessMode | EBUR128_MODE_HISTOGRAM;
constexpr int kTaps = TMMBallistics::TruePeakTaps;

struct Interpolator {
    float coef[4][kTaps];
    // The highest gain over the phases: no interpolated value exceeds it
    // times the largest of the 12 samples it is made of.
    float gain = 0.0f;
    Interpolator()
    {
        for (int ph = 0; ph < 4; ++ph) {
            float s = 0.0f;
            for (int k = 0; k < kTaps; ++k) s += std::fabs(coef[ph][k] = TruePeakCoefficient(ph, k));
            gain = std::max(gain, s);
        }
    }
};

double orNone(int err, double v) { return err == EBUR128_SUCCESS && std::isfinite(v) ? v : kNone; }

ebur128_state* st(void* p) { return static_cast<ebur128_state*>(p); }

double toDb(double linear) { return linear > 0.0 ? 20.0 * std::log10(linear) : kNone; }

double lufsOf(double energy) { return energy > 0.0 ? -0.691 + 10.0 * std::log10(energy) : kNone; }

// Histogram bins of the live gating: 0.1 LU from the absolute gate (-70 LUFS)
// up; -1 below the gate, the top bin for all above +30 LUFS.
constexpr double kGateLufs = -70.0, kBinLu = 0.1;
int binOf(double energy)
{
    const double lufs = lufsOf(energy);
    if (!(lufs >= kGateLufs)) return -1;
    return std::min(999, static_cast<int>((lufs - kGateLufs) / kBinLu));
}

// The BS.1770-4 K-weighting at `rate`: a high shelf (+4 dB above ~1.7 kHz)
// and a high-pass (~38 Hz), b0 b1 b2 a1 a2 each (a0 = 1).
void kWeighting(int rate, double* k)
{
    const double fs = rate;
    {
        const double f0 = 1681.974450955533, gain = 3.999843853973347, q = 0.7071752369554196;
        const double K = std::tan(M_PI * f0 / fs), vh = std::pow(10.0, gain / 20.0);
        const double vb = std::pow(vh, 0.4996667741545416), a0 = 1.0 + K / q + K * K;
        k[0] = (vh + vb * K / q + K * K) / a0;
        k[1] = 2.0 * (K * K - vh) / a0;
        k[2] = (vh - vb * K / q + K * K) / a0;
        k[3] = 2.0 * (K * K - 1.0) / a0;
        k[4] = (1.0 - K / q + K * K) / a0;
    }
    {
        const double f0 = 38.13547087602444, q = 0.5003270373238773;
        const double K = std::tan(M_PI * f0 / fs), a0 = 1.0 + K / q + K * K;
        k[5] = 1.0;
        k[6] = -2.0;
        k[7] = 1.0;
        k[8] = 2.0 * (K * K - 1.0) / a0;
        k[9] = (1.0 - K / q + K * K) / a0;
    }
}

}  // namespace

TMMLoudness::TMMLoudness(int channels, int sampleRate, bool live) : mChannels(channels), mRate(sampleRate), mLive(live)
{
    if (channels < 1 || channels > tv::kStrips || sampleRate < 4000 || sampleRate > 384000)
        throw EMMLoudnessError("Invalid WaveFormat");
    if (live) {
        kWeighting(sampleRate, mK);
        clearLive();
        return;
    }
    ebur128_state* s = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(sampleRate),
                                    live ? kLiveMode : kFileMode);
    if (!s) throw EMMLoudnessError("Out of memory");
    // Every channel counts with weight 1.0 (no surround weighting, none left out).
    for (int c = 0; c < channels; ++c) ebur128_set_channel(s, static_cast<unsigned>(c), EBUR128_LEFT);
    mState = s;
}

TMMLoudness::~TMMLoudness()
{
    ebur128_state* s = st(mState);
    if (s) ebur128_destroy(&s);
}

void TMMLoudness::clearLive()
{
    const size_t ch = static_cast<size_t>(mChannels);
    mHist.assign(ch * (kTaps - 1), 0.0f);
    mZ.assign(4 * ch, 0.0);
    mPower.assign(ch, 0.0);
    mBlockCount.assign(Bins, 0);
    mShortCount.assign(Bins, 0);
    mBlockEnergy.assign(Bins, 0.0);
    mShortEnergy.assign(Bins, 0.0);
    mSegments = 0;
}

void TMMLoudness::Reset()
{
    mFrames = 0;
    mTruePeak = mSamplePeak = 0.0f;
    std::fill(std::begin(mEnergy), std::end(mEnergy), 0.0);
    mSegment = 0;
    mSegmentFill = 0;
    if (mLive) {
        clearLive();
        return;
    }
    ebur128_state* fresh = ebur128_init(static_cast<unsigned>(mChannels), static_cast<unsigned long>(mRate),
                                          mLive ? kLiveMode : kFileMode);
    if (!fresh) throw EMMLoudnessError("Out of memory");
    for (int c = 0; c < mChannels; ++c) ebur128_set_channel(fresh, static_cast<unsigned>(c), EBUR128_LEFT);
    ebur128_state* old = st(mState);
    ebur128_destroy(&old);
    mState = fresh;
}

template <typename T>
void TMMLoudness::peaks(const T* frames, size_t count, float scale)
{
    static const Interpolator ip;
    const size_t ch = static_cast<size_t>(mChannels), keep = kTaps - 1, len = keep + count;
    // Per channel: the kept samples, then the block, contiguous.
    mHist.resize(ch * keep + len);
    float* line = &mHist[ch * keep];
    for (size_t c = 0; c < ch; ++c) {
        float* kept = &mHist[c * keep];
        std::copy(kept, kept + keep, line);
        float top = 0.0f;
        for (size_t f = 0; f < count; ++f) {
            const float x = static_cast<float>(frames[f * ch + c]) * scale;
            line[keep + f] = x;
            top = std::max(top, std::fabs(x));
        }
        mSamplePeak = std::max(mSamplePeak, top);
        for (size_t k = 0; k < keep; ++k) top = std::max(top, std::fabs(line[k]));
        if (top * ip.gain > mTruePeak) {
            // Output f of a phase is made of line[keep + f - 11 .. keep + f]
            // (the newest sample weighted by coef[ph][0]); eight outputs at a
            // time, tap by tap, so the compiler can keep them in vectors.
            float most = 0.0f;
            size_t f = 0;
            for (; f + 8 <= count; f += 8)
                for (int ph = 0; ph < 4; ++ph) {
                    float y[8] = {};
                    for (int k = 0; k < kTaps; ++k) {
                        const float c = ip.coef[ph][k];
                        const float* x = line + keep + f - static_cast<size_t>(k);
                        for (int j = 0; j < 8; ++j) y[j] += c * x[j];
                    }
                    for (int j = 0; j < 8; ++j) most = std::max(most, std::fabs(y[j]));
                }
            for (; f < count; ++f)
                for (int ph = 0; ph < 4; ++ph) {
                    float y = 0.0f;
                    for (int k = 0; k < kTaps; ++k) y += ip.coef[ph][k] * line[keep + f - static_cast<size_t>(k)];
                    most = std::max(most, std::fabs(y));
                }
            mTruePeak = std::max(mTruePeak, most);
        }
        std::copy(line + len - keep, line + len, kept);
    }
}

template <typename T>
void TMMLoudness::add(const T* frames, size_t count, float scale)
{
    if (!frames || count == 0) return;
    mFrames += count;
    if (!mLive) {
        if constexpr (std::is_same_v<T, int16_t>)
            ebur128_add_frames_short(st(mState), frames, count);
        else
            ebur128_add_frames_float(st(mState), frames, count);
        return;
    }
    peaks(frames, count, scale);
    const size_t ch = static_cast<size_t>(mChannels), segment = static_cast<size_t>(mRate) / 10;
    while (count > 0) {
        const size_t n = std::min(count, segment - mSegmentFill);
        filter(frames, n, scale);
        frames += n * ch;
        count -= n;
        mSegmentFill += n;
        if (mSegmentFill == segment) endSegment();
    }
}

namespace {

// K-weighting of G channels side by side (independent chains the processor
// overlaps) from interleaved frames of `stride` samples; states and segment
// powers per channel.
template <int G, typename T>
void weigh(const T* x, size_t stride, size_t count, float scale, const double* k, double* z, double* power)
{
    const double b0 = k[0], b1 = k[1], b2 = k[2], a1 = k[3], a2 = k[4];
    const double c0 = k[5], c1 = k[6], c2 = k[7], d1 = k[8], d2 = k[9];
    double s1[G], s2[G], t1[G], t2[G], p[G];
    for (int j = 0; j < G; ++j) {
        s1[j] = z[4 * j], s2[j] = z[4 * j + 1], t1[j] = z[4 * j + 2], t2[j] = z[4 * j + 3];
        p[j] = 0.0;
    }
    for (size_t f = 0; f < count; ++f, x += stride)
        for (int j = 0; j < G; ++j) {
            // Transposed direct form II, the shelf then the high-pass.
            const double in = static_cast<double>(static_cast<float>(x[j]) * scale);
            const double u = b0 * in + s1[j];
            s1[j] = b1 * in - a1 * u + s2[j];
            s2[j] = b2 * in - a2 * u;
            const double y = c0 * u + t1[j];
            t1[j] = c1 * u - d1 * y + t2[j];
            t2[j] = c2 * u - d2 * y;
            p[j] += y * y;
        }
    // States decayed below any audible level are cleared before they turn
    // denormal (slow) in silence.
    auto flush = [](double v) { return std::fabs(v) < 1e-25 ? 0.0 : v; };
    for (int j = 0; j < G; ++j) {
        z[4 * j] = flush(s1[j]), z[4 * j + 1] = flush(s2[j]), z[4 * j + 2] = flush(t1[j]), z[4 * j + 3] = flush(t2[j]);
        power[j] += p[j];
    }
}

}  // namespace

template <typename T>
void TMMLoudness::filter(const T* x, size_t count, float scale)
{
    const size_t ch = static_cast<size_t>(mChannels);
    size_t c = 0;
    for (; c + 4 <= ch; c += 4) weigh<4>(x + c, ch, count, scale, mK, &mZ[4 * c], &mPower[c]);
    for (; c + 2 <= ch; c += 2) weigh<2>(x + c, ch, count, scale, mK, &mZ[4 * c], &mPower[c]);
    for (; c < ch; ++c) weigh<1>(x + c, ch, count, scale, mK, &mZ[4 * c], &mPower[c]);
}

void TMMLoudness::endSegment()
{
    const size_t segment = static_cast<size_t>(mRate) / 10;
    double e = 0.0;
    for (double& p : mPower) {
        e += p;
        p = 0.0;
    }
    mEnergy[mSegment] = e / static_cast<double>(segment);
    mSegment = (mSegment + 1) % Segments;
    mSegmentFill = 0;
    ++mSegments;
    // A gating block ends with every segment from the fourth on, a short-term
    // value for the range every tenth from the thirtieth on.
    auto enter = [](double energy, std::vector<uint32_t>& count, std::vector<double>& sum) {
        const int bin = binOf(energy);
        if (bin < 0) return;  // below the absolute gate
        ++count[static_cast<size_t>(bin)];
        sum[static_cast<size_t>(bin)] += energy;
    };
    auto mean = [this](int n) {
        double sum = 0.0;
        for (int i = 1; i <= n; ++i) sum += mEnergy[(mSegment - i + Segments) % Segments];
        return sum / n;
    };
    if (mSegments >= 4) enter(mean(4), mBlockCount, mBlockEnergy);
    if (mSegments >= Segments && (mSegments - Segments) % 10 == 0) enter(mean(Segments), mShortCount, mShortEnergy);
}

void TMMLoudness::AddFrames(const int16_t* frames, size_t count) { add(frames, count, 1.0f / 32768.0f); }

void TMMLoudness::AddFrames(const float* frames, size_t count) { add(frames, count, 1.0f); }

double TMMLoudness::segmentsLoudness(int n) const
{
    double e = 0;
    for (int i = 1; i <= n; ++i) e += mEnergy[(mSegment - i + Segments) % Segments];
    e /= n;
    return e > 0 ? -0.691 + 10.0 * std::log10(e) : kNone;
}

double TMMLoudness::Momentary() const
{
    if (mLive) return segmentsLoudness(4);
    double v = 0;
    const int err = ebur128_loudness_momentary(st(mState), &v);
    return orNone(err, v);
}

double TMMLoudness::ShortTerm() const
{
    if (mLive) return segmentsLoudness(Segments);
    double v = 0;
    const int err = ebur128_loudness_shortterm(st(mState), &v);
    return orNone(err, v);
}

double TMMLoudness::Integrated() const
{
    if (mLive) {
        uint64_t n = 0;
        double e = 0.0;
        for (int i = 0; i < Bins; ++i) n += mBlockCount[static_cast<size_t>(i)], e += mBlockEnergy[static_cast<size_t>(i)];
        if (n == 0) return kNone;
        // The relative gate 10 LU below the blocks over the absolute one.
        const int from = std::max(0, binOf(e / static_cast<double>(n) * 0.1));
        n = 0;
        e = 0.0;
        for (int i = from; i < Bins; ++i) n += mBlockCount[static_cast<size_t>(i)], e += mBlockEnergy[static_cast<size_t>(i)];
        return n ? lufsOf(e / static_cast<double>(n)) : kNone;
    }
    double v = 0;
    const int err = ebur128_loudness_global(st(mState), &v);
    return orNone(err, v);
}

double TMMLoudness::Range() const
{
    if (mLive) {
        uint64_t n = 0;
        double e = 0.0;
        for (int i = 0; i < Bins; ++i) n += mShortCount[static_cast<size_t>(i)], e += mShortEnergy[static_cast<size_t>(i)];
        if (n == 0) return 0.0;
        // The relative gate 20 LU below; from the values over both gates the
        // 10th and the 95th percentile, read at their bins' centres.
        const int from = std::max(0, binOf(e / static_cast<double>(n) * 0.01));
        n = 0;
        for (int i = from; i < Bins; ++i) n += mShortCount[static_cast<size_t>(i)];
        if (n < 2) return 0.0;
        auto percentile = [&](double q) {
            const uint64_t rank = static_cast<uint64_t>(static_cast<double>(n - 1) * q + 0.5);
            uint64_t seen = 0;
            int i = from;
            for (; i < Bins - 1; ++i) {
                seen += mShortCount[static_cast<size_t>(i)];
                if (seen > rank) break;
            }
            return i;
        };
        return (percentile(0.95) - percentile(0.10)) * kBinLu;
    }
    double v = 0;
    const int err = ebur128_loudness_range(st(mState), &v);
    return err == EBUR128_SUCCESS && std::isfinite(v) ? v : 0.0;
}

double TMMLoudness::TruePeak() const
{
    if (mLive) return toDb(mTruePeak);
    double m = 0;
    for (int c = 0; c < mChannels; ++c) {
        double v = 0;
        if (ebur128_true_peak(st(mState), static_cast<unsigned>(c), &v) == EBUR128_SUCCESS) m = std::max(m, v);
    }
    return toDb(m);
}

double TMMLoudness::SamplePeak() const
{
    if (mLive) return toDb(mSamplePeak);
    double m = 0;
    for (int c = 0; c < mChannels; ++c) {
        double v = 0;
        if (ebur128_sample_peak(st(mState), static_cast<unsigned>(c), &v) == EBUR128_SUCCESS) m = std::max(m, v);
    }
    return toDb(m);
}

double SumLoudness(const double* lufs, size_t n)
{
    double e = 0;
    for (size_t i = 0; i < n; ++i)
        if (std::isfinite(lufs[i])) e += std::pow(10.0, (lufs[i] + 0.691) / 10.0);
    return e > 0 ? -0.691 + 10.0 * std::log10(e) : kNone;
}

// ---- the live meter ------------------------------------------------------------

// Each measurement is made when first fed: a meter that is never shown holds
// no libebur128 state (each keeps 3 s of every channel).
TMMLoudnessMeter::TMMLoudnessMeter(int sampleRate) : mRate(sampleRate)
{
    TMMLoudness probe(2, mRate, true);  // raises on a bad rate
}

TMMLoudnessMeter::~TMMLoudnessMeter() = default;

void TMMLoudnessMeter::newSum()
{
    mSum.reset();
    for (auto& p : mPending) p.clear();
}

TMMLoudness& TMMLoudnessMeter::pairMeter(int pair)
{
    auto& m = mPairs[pair];
    if (!m) m = std::make_unique<TMMLoudness>(2, mRate, true);
    return *m;
}

TMMLoudness& TMMLoudnessMeter::sumMeter()
{
    if (!mSum) mSum = std::make_unique<TMMLoudness>(2 * mActive, mRate, true);
    return *mSum;
}

void TMMLoudnessMeter::setPair(int pair)
{
    const int p = pair == SumOfPairs ? SumOfPairs : std::clamp(pair, 0, tv::kPairs - 1);
    // Frames of the sum left waiting would join later ones out of line.
    if (p != mPair && mPair == SumOfPairs) flushSum(true);
    // The plot shows one source: another starts it empty.
    if (p != mPair) mHistory.clear();
    mPair = p;
}

void TMMLoudnessMeter::setActivePairs(int n)
{
    n = std::clamp(n, 1, tv::kPairs);
    if (n == mActive) return;
    // Another set of channels is another programme.
    mActive = n;
    newSum();
}

void TMMLoudnessMeter::setSampleRate(int rate)
{
    if (rate == mRate) return;
    TMMLoudness probe(2, rate, true);  // raises before anything changes
    for (auto& p : mPairs) p.reset();
    mRate = rate;
    newSum();
}

void TMMLoudnessMeter::setTarget(int lufs)
{
    mTarget = std::find(std::begin(kLoudnessTargets), std::end(kLoudnessTargets), lufs) != std::end(kLoudnessTargets)
                  ? lufs
                  : kDefaultLoudnessTarget;
}

bool TMMLoudnessMeter::OnTarget(double lufs) const
{
    return std::isfinite(lufs) && std::fabs(lufs - mTarget) <= kLoudnessTolerance + 1e-9;
}

void TMMLoudnessMeter::RecordHistory()
{
    if (mHistory.size() >= HistoryLength) mHistory.erase(mHistory.begin(), mHistory.begin() + 1);
    mHistory.push_back(ShortTerm());
}

void TMMLoudnessMeter::Reset()
{
    mHistory.clear();
    for (auto& p : mPairs)
        if (p) p->Reset();
    if (mSum) mSum->Reset();
    for (auto& p : mPending) p.clear();
}

void TMMLoudnessMeter::AddPair(int pair, const int16_t* frames, size_t count)
{
    if (pair < 0 || pair >= tv::kPairs || !frames || count == 0) return;
    // Only what is shown is measured: the chosen pair, or the active ones.
    if (mPair == SumOfPairs ? pair >= mActive : pair != mPair) return;
    if (mPair != SumOfPairs) {
        pairMeter(pair).AddFrames(frames, count);
        return;
    }
    mPending[pair].insert(mPending[pair].end(), frames, frames + 2 * count);
    flushSum(false);
}

void TMMLoudnessMeter::flushSum(bool padLagging)
{
    size_t most = 0, least = SIZE_MAX;
    for (int i = 0; i < mActive; ++i) {
        most = std::max(most, mPending[i].size() / 2);
        least = std::min(least, mPending[i].size() / 2);
    }
    // A pair that stopped delivering (a recorder that failed) counts as
    // silence for what the others are more than a second ahead of it, so
    // nothing waits forever and the waiting stays bounded.
    const size_t wait = static_cast<size_t>(mRate);
    if (padLagging)
        least = most;
    else if (most > least + wait)
        least = most - wait;
    if (least == 0) return;
    const size_t ch = 2 * static_cast<size_t>(mActive);
    mInterleaved.assign(least * ch, 0);
    for (int i = 0; i < mActive; ++i) {
        std::vector<int16_t>& p = mPending[i];
        const size_t have = std::min(least, p.size() / 2);
        for (size_t f = 0; f < have; ++f) {
            mInterleaved[f * ch + 2 * i] = p[2 * f];
            mInterleaved[f * ch + 2 * i + 1] = p[2 * f + 1];
        }
        p.erase(p.begin(), p.begin() + static_cast<std::ptrdiff_t>(2 * have));
    }
    sumMeter().AddFrames(mInterleaved.data(), least);
}

const TMMLoudness* TMMLoudnessMeter::shown() const { return mPair == SumOfPairs ? mSum.get() : mPairs[mPair].get(); }

// Not fed yet: nothing measured.
double TMMLoudnessMeter::Momentary() const { return shown() ? shown()->Momentary() : kNone; }
double TMMLoudnessMeter::ShortTerm() const { return shown() ? shown()->ShortTerm() : kNone; }
double TMMLoudnessMeter::Integrated() const { return shown() ? shown()->Integrated() : kNone; }
double TMMLoudnessMeter::Range() const { return shown() ? shown()->Range() : 0.0; }
double TMMLoudnessMeter::TruePeak() const { return shown() ? shown()->TruePeak() : kNone; }

std::string LoudnessReadout(double value, const char* unit)
{
    if (!std::isfinite(value)) return std::string("--- ") + unit;
    char buf[32];
    // -0.04 reads "-0.0" with %.1f; keep the sign only where the digits show it.
    const double shown = std::round(value * 10) / 10;
    std::snprintf(buf, sizeof buf, "%.1f %s", shown == 0 ? 0.0 : shown, unit);
    return buf;
}

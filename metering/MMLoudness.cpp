#include "metering/MMLoudness.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kNone = -std::numeric_limits<double>::infinity();
constexpr int kMode = EBUR128_MODE_M | EBUR128_MODE_S | EBUR128_MODE_I | EBUR128_MODE_LRA |
                      EBUR128_MODE_SAMPLE_PEAK | EBUR128_MODE_TRUE_PEAK;

double orNone(int err, double v) { return err == EBUR128_SUCCESS && std::isfinite(v) ? v : kNone; }

ebur128_state* st(void* p) { return static_cast<ebur128_state*>(p); }

double toDb(double linear) { return linear > 0.0 ? 20.0 * std::log10(linear) : kNone; }

}  // namespace

TMMLoudness::TMMLoudness(int channels, int sampleRate, bool live) : mChannels(channels), mRate(sampleRate), mLive(live)
{
    if (channels < 1 || channels > tv::kStrips || sampleRate < 4000 || sampleRate > 384000)
        throw EMMLoudnessError("Invalid WaveFormat");
    ebur128_state* s = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(sampleRate),
                                    kMode | (live ? EBUR128_MODE_HISTOGRAM : 0));
    if (!s) throw EMMLoudnessError("Out of memory");
    // Every channel counts with weight 1.0 (no surround weighting, none left out).
    for (int c = 0; c < channels; ++c) ebur128_set_channel(s, static_cast<unsigned>(c), EBUR128_LEFT);
    mState = s;
}

TMMLoudness::~TMMLoudness()
{
    ebur128_state* s = st(mState);
    ebur128_destroy(&s);
}

void TMMLoudness::Reset()
{
    ebur128_state* fresh = ebur128_init(static_cast<unsigned>(mChannels), static_cast<unsigned long>(mRate),
                                          kMode | (mLive ? EBUR128_MODE_HISTOGRAM : 0));
    if (!fresh) throw EMMLoudnessError("Out of memory");
    for (int c = 0; c < mChannels; ++c) ebur128_set_channel(fresh, static_cast<unsigned>(c), EBUR128_LEFT);
    ebur128_state* old = st(mState);
    ebur128_destroy(&old);
    mState = fresh;
    mFrames = 0;
}

void TMMLoudness::AddFrames(const int16_t* frames, size_t count)
{
    if (!frames || count == 0) return;
    ebur128_add_frames_short(st(mState), frames, count);
    mFrames += count;
}

void TMMLoudness::AddFrames(const float* frames, size_t count)
{
    if (!frames || count == 0) return;
    ebur128_add_frames_float(st(mState), frames, count);
    mFrames += count;
}

double TMMLoudness::Momentary() const
{
    double v = 0;
    const int err = ebur128_loudness_momentary(st(mState), &v);
    return orNone(err, v);
}

double TMMLoudness::ShortTerm() const
{
    double v = 0;
    const int err = ebur128_loudness_shortterm(st(mState), &v);
    return orNone(err, v);
}

double TMMLoudness::Integrated() const
{
    double v = 0;
    const int err = ebur128_loudness_global(st(mState), &v);
    return orNone(err, v);
}

double TMMLoudness::Range() const
{
    double v = 0;
    const int err = ebur128_loudness_range(st(mState), &v);
    return err == EBUR128_SUCCESS && std::isfinite(v) ? v : 0.0;
}

double TMMLoudness::TruePeak() const
{
    double m = 0;
    for (int c = 0; c < mChannels; ++c) {
        double v = 0;
        if (ebur128_true_peak(st(mState), static_cast<unsigned>(c), &v) == EBUR128_SUCCESS) m = std::max(m, v);
    }
    return toDb(m);
}

double TMMLoudness::SamplePeak() const
{
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

TMMLoudnessMeter::TMMLoudnessMeter(int sampleRate) : mRate(sampleRate)
{
    for (auto& p : mPairs) p = std::make_unique<TMMLoudness>(2, mRate, true);
}

TMMLoudnessMeter::~TMMLoudnessMeter() = default;

void TMMLoudnessMeter::setPair(int pair) { mPair = pair == SumOfPairs ? SumOfPairs : std::clamp(pair, 0, tv::kPairs - 1); }

void TMMLoudnessMeter::setActivePairs(int n) { mActive = std::clamp(n, 1, tv::kPairs); }

void TMMLoudnessMeter::setSampleRate(int rate)
{
    if (rate == mRate) return;
    for (auto& p : mPairs) p = std::make_unique<TMMLoudness>(2, rate, true);  // raises before anything changes
    mRate = rate;
}

void TMMLoudnessMeter::Reset()
{
    for (auto& p : mPairs) p->Reset();
}

void TMMLoudnessMeter::AddPair(int pair, const int16_t* frames, size_t count)
{
    if (pair < 0 || pair >= tv::kPairs) return;
    // Only what is shown is measured: the chosen pair, or the active ones.
    if (mPair == SumOfPairs ? pair >= mActive : pair != mPair) return;
    mPairs[pair]->AddFrames(frames, count);
}

std::vector<const TMMLoudness*> TMMLoudnessMeter::measured() const
{
    std::vector<const TMMLoudness*> v;
    if (mPair != SumOfPairs) {
        v.push_back(mPairs[mPair].get());
    } else {
        for (int i = 0; i < mActive; ++i) v.push_back(mPairs[i].get());
    }
    return v;
}

double TMMLoudnessMeter::Momentary() const
{
    std::vector<double> l;
    for (const TMMLoudness* p : measured()) l.push_back(p->Momentary());
    return SumLoudness(l.data(), l.size());
}

double TMMLoudnessMeter::ShortTerm() const
{
    std::vector<double> l;
    for (const TMMLoudness* p : measured()) l.push_back(p->ShortTerm());
    return SumLoudness(l.data(), l.size());
}

double TMMLoudnessMeter::Integrated() const
{
    std::vector<ebur128_state*> s;
    for (const TMMLoudness* p : measured()) s.push_back(st(p->State()));
    double v = 0;
    const int err = ebur128_loudness_global_multiple(s.data(), s.size(), &v);
    return orNone(err, v);
}

double TMMLoudnessMeter::Range() const
{
    std::vector<ebur128_state*> s;
    for (const TMMLoudness* p : measured()) s.push_back(st(p->State()));
    double v = 0;
    const int err = ebur128_loudness_range_multiple(s.data(), s.size(), &v);
    return err == EBUR128_SUCCESS && std::isfinite(v) ? v : 0.0;
}

double TMMLoudnessMeter::TruePeak() const
{
    double m = kNone;
    for (const TMMLoudness* p : measured()) m = std::max(m, p->TruePeak());
    return m;
}

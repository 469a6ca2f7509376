// Loudness against the EBU Tech 3341 minimum requirements and the Tech 3342
// loudness-range cases, on signals made here; the live meter's pair and sum.
#include "metering/MMBallistics.h"
#include "metering/MMLoudness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

namespace {

constexpr int kRate = 48000;

// Stereo 1 kHz sine segments (dBFS, seconds), both channels alike.
std::vector<float> segments(const std::vector<std::pair<double, double>>& parts, double freq = 1000, double phase = 0)
{
    std::vector<float> v;
    size_t i = 0;
    for (auto [dbfs, secs] : parts) {
        const double a = std::pow(10.0, dbfs / 20.0);
        const size_t n = static_cast<size_t>(secs * kRate);
        for (size_t k = 0; k < n; ++k, ++i) {
            const float s = static_cast<float>(a * std::sin(2 * M_PI * freq * i / kRate + phase));
            v.push_back(s);
            v.push_back(s);
        }
    }
    return v;
}

TMMLoudness measure(const std::vector<float>& v, bool live = false)
{
    TMMLoudness l(2, kRate, live);
    l.AddFrames(v.data(), v.size() / 2);
    return l;
}

TEST(Loudness, Tech3341SteadyAndGatedCases)
{
    {
        TMMLoudness l = measure(segments({{-23, 20}}));
        EXPECT_NEAR(l.Integrated(), -23.0, 0.1);
        EXPECT_NEAR(l.Momentary(), -23.0, 0.1);
        EXPECT_NEAR(l.ShortTerm(), -23.0, 0.1);
    }
    EXPECT_NEAR(measure(segments({{-33, 20}})).Integrated(), -33.0, 0.1);
    EXPECT_NEAR(measure(segments({{-36, 10}, {-23, 60}, {-36, 10}})).Integrated(), -23.0, 0.1);
    EXPECT_NEAR(measure(segments({{-72, 10}, {-36, 10}, {-23, 60}, {-36, 10}, {-72, 10}})).Integrated(), -23.0, 0.1);
    EXPECT_NEAR(measure(segments({{-26, 20}, {-20, 20.1}, {-26, 20}})).Integrated(), -23.0, 0.1);
    // The live (histogram) measurement meets the same bound.
    EXPECT_NEAR(measure(segments({{-36, 10}, {-23, 60}, {-36, 10}}), true).Integrated(), -23.0, 0.1);
}

TEST(Loudness, Tech3342RangeCases)
{
    EXPECT_NEAR(measure(segments({{-20, 20}, {-30, 20}})).Range(), 10, 1);
    EXPECT_NEAR(measure(segments({{-20, 20}, {-15, 20}})).Range(), 5, 1);
    EXPECT_NEAR(measure(segments({{-40, 20}, {-20, 20}})).Range(), 20, 1);
    EXPECT_NEAR(measure(segments({{-50, 20}, {-35, 20}, {-20, 20}, {-35, 20}, {-50, 20}})).Range(), 15, 1);
}

TEST(Loudness, TruePeakOfInterSampleSines)
{
    // Sines whose crest falls between samples, crest at -6 dBFS: the reading
    // must lie within +0.2 / -0.4 dB of it, for the loudness meter and for
    // the bar's true-peak detector.
    struct Case {
        double freq, phase;
    };
    for (Case c : {Case{kRate / 4.0, M_PI / 4}, Case{kRate / 6.0, M_PI / 3}, Case{kRate / 4.0 * 0.5, M_PI / 8},
                   Case{997.0, 0.3}}) {
        const std::vector<float> v = segments({{-6, 1}}, c.freq, c.phase);
        const double tp = measure(v).TruePeak();
        EXPECT_LE(tp, -6 + 0.2) << c.freq;
        EXPECT_GE(tp, -6 - 0.4) << c.freq;
        TMMBallistics b(inTruePeak, kRate);
        float m = 0;
        for (size_t i = 0; i < v.size(); i += 2) m = std::max(m, b.Step(v[i] * 32767.0f));
        const double db = 20 * std::log10(m / 32767.0);
        EXPECT_LE(db, -6 + 0.2) << c.freq;
        EXPECT_GE(db, -6 - 0.4) << c.freq;
    }
}

TEST(Loudness, SilenceAndBadFormats)
{
    TMMLoudness l(2, kRate);
    EXPECT_TRUE(std::isinf(l.Integrated()));
    EXPECT_TRUE(std::isinf(l.TruePeak()));
    EXPECT_EQ(l.Range(), 0.0);
    l.AddFrames(static_cast<const float*>(nullptr), 100);
    EXPECT_EQ(l.Frames(), 0u);
    EXPECT_THROW(TMMLoudness(0, kRate), EMMLoudnessError);
    EXPECT_THROW(TMMLoudness(25, kRate), EMMLoudnessError);
    EXPECT_THROW(TMMLoudness(2, 100), EMMLoudnessError);
}

std::vector<int16_t> pcm(const std::vector<float>& v)
{
    std::vector<int16_t> s(v.size());
    for (size_t i = 0; i < v.size(); ++i) s[i] = static_cast<int16_t>(std::lround(v[i] * 32767));
    return s;
}

TEST(LoudnessMeter, PairSumAndReset)
{
    TMMLoudnessMeter m(kRate);
    const std::vector<int16_t> tone = pcm(segments({{-23, 10}}));
    m.setActivePairs(2);
    m.setPair(TMMLoudnessMeter::SumOfPairs);
    m.AddPair(0, tone.data(), tone.size() / 2);
    m.AddPair(1, tone.data(), tone.size() / 2);
    m.AddPair(5, tone.data(), tone.size() / 2);  // not active: not measured
    m.AddPair(-1, tone.data(), tone.size() / 2);
    // Two programmes of -23 LUFS read as one: twice the power, +3 dB.
    EXPECT_NEAR(m.Momentary(), -20.0, 0.15);
    EXPECT_NEAR(m.ShortTerm(), -20.0, 0.15);
    EXPECT_NEAR(m.Integrated(), -20.0, 0.15);
    EXPECT_NEAR(m.TruePeak(), -23.0, 0.3);
    m.setPair(0);
    EXPECT_NEAR(m.Integrated(), -23.0, 0.1);
    m.setPair(5);
    EXPECT_TRUE(std::isinf(m.Integrated()));
    m.Reset();
    m.setPair(0);
    EXPECT_TRUE(std::isinf(m.Integrated()));
    m.setPair(99);
    EXPECT_EQ(m.Pair(), tv::kPairs - 1);
    EXPECT_THROW(m.setSampleRate(1), EMMLoudnessError);
    EXPECT_EQ(m.SampleRate(), kRate);
}

}  // namespace

// Loudness against the EBU Tech 3341 minimum requirements and the Tech 3342
// loudness-range cases, on signals made here; the live meter's pair and sum.
#include "metering/MMBallistics.h"
#include "metering/MMLoudness.h"
#include "metering/MMLoudnessPlot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
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

// TMMLoudness is not copyable: the readings of one measurement.
struct Reading {
    double momentary, shortTerm, integrated, range, truePeak;
};

Reading measure(const std::vector<float>& v, bool live = false)
{
    TMMLoudness l(2, kRate, live);
    l.AddFrames(v.data(), v.size() / 2);
    return {l.Momentary(), l.ShortTerm(), l.Integrated(), l.Range(), l.TruePeak()};
}

TEST(Loudness, Tech3341SteadyAndGatedCases)
{
    {
        const Reading r = measure(segments({{-23, 20}}));
        EXPECT_NEAR(r.integrated, -23.0, 0.1);
        EXPECT_NEAR(r.momentary, -23.0, 0.1);
        EXPECT_NEAR(r.shortTerm, -23.0, 0.1);
    }
    EXPECT_NEAR(measure(segments({{-33, 20}})).integrated, -33.0, 0.1);
    EXPECT_NEAR(measure(segments({{-36, 10}, {-23, 60}, {-36, 10}})).integrated, -23.0, 0.1);
    EXPECT_NEAR(measure(segments({{-72, 10}, {-36, 10}, {-23, 60}, {-36, 10}, {-72, 10}})).integrated, -23.0, 0.1);
    EXPECT_NEAR(measure(segments({{-26, 20}, {-20, 20.1}, {-26, 20}})).integrated, -23.0, 0.1);
    // The live (histogram) measurement meets the same bound.
    EXPECT_NEAR(measure(segments({{-36, 10}, {-23, 60}, {-36, 10}}), true).integrated, -23.0, 0.1);
}

TEST(Loudness, LiveMomentaryAndShortTermMatchTheFileReading)
{
    // Read at whole 100 ms of audio, in uneven buffers, the live meter's
    // segment sums equal libebur128's own windows, also in the first 3 s.
    const std::vector<float> v = segments({{-30, 1.3}, {-12, 0.7}, {-40, 2.5}, {-20, 1.5}});
    TMMLoudness live(2, kRate, true), file(2, kRate);
    size_t at = 0;
    for (size_t step : {1000u, 333u, 4800u, 7u, 12000u}) {
        while (at < v.size() / 2) {
            const size_t n = std::min(step, v.size() / 2 - at);
            live.AddFrames(v.data() + 2 * at, n);
            file.AddFrames(v.data() + 2 * at, n);
            at += n;
            if (at % 4800 == 0) {
                EXPECT_NEAR(live.Momentary(), file.Momentary(), 0.01) << at;
                EXPECT_NEAR(live.ShortTerm(), file.ShortTerm(), 0.01) << at;
            }
            if (at % 48000 == 0) break;
        }
    }
    EXPECT_EQ(at, v.size() / 2);
}

// The live measurement's own K-weighting and gating against libebur128's
// reading of the same audio, to 0.1 LU: the Tech 3341 gated cases and the
// Tech 3342 range cases, tones where the weighting curve is steep (25 Hz,
// 60 Hz, 10 kHz), both input forms, 44.1 kHz, and after a reset.
TEST(Loudness, LiveMeasurementAgreesWithLibebur128)
{
    auto both = [](const std::vector<float>& v, int rate, const char* what) {
        TMMLoudness live(2, rate, true), file(2, rate);
        for (size_t at = 0; at < v.size() / 2; at += 2400) {
            const size_t n = std::min<size_t>(2400, v.size() / 2 - at);
            live.AddFrames(v.data() + 2 * at, n);
            file.AddFrames(v.data() + 2 * at, n);
        }
        EXPECT_NEAR(live.Integrated(), file.Integrated(), 0.1) << what;
        EXPECT_NEAR(live.Range(), file.Range(), 0.1) << what;
        EXPECT_NEAR(live.ShortTerm(), file.ShortTerm(), 0.01) << what;
        // Started anew it reads the same again.
        live.Reset();
        live.AddFrames(v.data(), v.size() / 2);
        EXPECT_NEAR(live.Integrated(), file.Integrated(), 0.1) << what << " after reset";
        // The 16-bit path.
        const std::vector<int16_t> s = [&] {
            std::vector<int16_t> r(v.size());
            for (size_t i = 0; i < v.size(); ++i) r[i] = static_cast<int16_t>(std::lround(v[i] * 32767));
            return r;
        }();
        TMMLoudness live16(2, rate, true);
        live16.AddFrames(s.data(), s.size() / 2);
        EXPECT_NEAR(live16.Integrated(), file.Integrated(), 0.1) << what << " 16-bit";
    };
    both(segments({{-36, 10}, {-23, 60}, {-36, 10}}), kRate, "3341 case 3");
    both(segments({{-72, 10}, {-36, 10}, {-23, 60}, {-36, 10}, {-72, 10}}), kRate, "3341 case 4");
    both(segments({{-26, 20}, {-20, 20.1}, {-26, 20}}), kRate, "3341 case 5");
    both(segments({{-20, 20}, {-30, 20}}), kRate, "3342 case 1");
    both(segments({{-20, 20}, {-15, 20}}), kRate, "3342 case 2");
    both(segments({{-40, 20}, {-20, 20}}), kRate, "3342 case 3");
    both(segments({{-50, 20}, {-35, 20}, {-20, 20}, {-35, 20}, {-50, 20}}), kRate, "3342 case 4");
    both(segments({{-10, 8}, {-30, 8}}, 25), kRate, "25 Hz");
    both(segments({{-10, 8}, {-30, 8}}, 60), kRate, "60 Hz");
    both(segments({{-10, 8}, {-30, 8}}, 10000), kRate, "10 kHz");
    // 44.1 kHz: the same tones made at that rate.
    std::vector<float> v;
    for (size_t i = 0; i < 44100 * 12; ++i) {
        const double a = i < 44100 * 6 ? 0.1 : 0.01;
        const float x = static_cast<float>(a * std::sin(2 * M_PI * 997 * static_cast<double>(i) / 44100));
        v.push_back(x);
        v.push_back(x);
    }
    both(v, 44100, "44.1 kHz");
}

TEST(Loudness, Tech3342RangeCases)
{
    EXPECT_NEAR(measure(segments({{-20, 20}, {-30, 20}})).range, 10, 1);
    EXPECT_NEAR(measure(segments({{-20, 20}, {-15, 20}})).range, 5, 1);
    EXPECT_NEAR(measure(segments({{-40, 20}, {-20, 20}})).range, 20, 1);
    EXPECT_NEAR(measure(segments({{-50, 20}, {-35, 20}, {-20, 20}, {-35, 20}, {-50, 20}})).range, 15, 1);
}

// A mono sine of crest `dbtp` that rises over 10 ms: an abrupt start would ring
// in any band-limited interpolator and read above the steady crest.
std::vector<float> risingSine(double dbtp, double freq, double phaseDeg)
{
    const double a = std::pow(10.0, dbtp / 20.0), ph = phaseDeg * M_PI / 180;
    std::vector<float> v(kRate);
    for (size_t i = 0; i < v.size(); ++i) {
        double s = a * std::sin(2 * M_PI * freq * static_cast<double>(i) / kRate + ph);
        if (i < 480) s *= 0.5 - 0.5 * std::cos(M_PI * static_cast<double>(i) / 480);
        v[i] = static_cast<float>(s);
    }
    return v;
}

// libebur128's reading for files, or the live meter's own, fed in 480-frame buffers.
double truePeak(const std::vector<float>& mono, bool live)
{
    TMMLoudness l(1, kRate, live);
    for (size_t f = 0; f < mono.size(); f += 480) l.AddFrames(mono.data() + f, std::min<size_t>(480, mono.size() - f));
    return l.TruePeak();
}

TEST(Loudness, TruePeakOfTech3341Sines)
{
    // Sines whose crest falls between samples: the reading must lie within
    // +0.2 / -0.4 dB of the crest, for the loudness meter and for the bar's
    // true-peak detector.
    struct Case {
        double freq, phase, dbtp;
    };
    for (Case c : {Case{kRate / 4.0, 0, -6}, Case{kRate / 4.0, 45, -6}, Case{kRate / 6.0, 60, -6},
                   Case{kRate / 8.0, 67.5, -6}, Case{kRate / 4.0, 45, 3.0103}, Case{997.0, 17, -6}}) {
        const std::vector<float> v = risingSine(c.dbtp, c.freq, c.phase);
        for (bool live : {false, true}) {
            const double tp = truePeak(v, live);
            EXPECT_LE(tp, c.dbtp + 0.2) << c.freq << " " << c.phase << " " << live;
            EXPECT_GE(tp, c.dbtp - 0.4) << c.freq << " " << c.phase << " " << live;
        }
        if (c.dbtp > 0) continue;  // beyond the bar's 16-bit range
        TMMBallistics b(inTruePeak, kRate);
        float m = 0;
        for (float x : v) m = std::max(m, b.Step(x * 32767.0f));
        const double db = 20 * std::log10(m / 32767.0);
        EXPECT_LE(db, c.dbtp + 0.2) << c.freq << " " << c.phase;
        EXPECT_GE(db, c.dbtp - 0.4) << c.freq << " " << c.phase;
    }
    // 1/4 of the rate at 45 degrees: every sample at 0 dBFS, the crest at +3 dBTP.
    for (bool live : {false, true}) {
        TMMLoudness l(1, kRate, live);
        const std::vector<float> v = risingSine(3.0103, kRate / 4.0, 45);
        l.AddFrames(v.data(), v.size());
        EXPECT_NEAR(l.SamplePeak(), 0.0, 0.01) << live;
    }
}

TEST(Loudness, LiveTruePeakSkipsNothingThatCounts)
{
    // A quiet stretch after a loud one is skipped; a later, louder
    // inter-sample crest in the middle of a buffer still counts, and a crest
    // across two buffers too.
    TMMLoudness l(2, kRate, true);
    std::vector<float> v = segments({{-10, 1}, {-40, 1}});
    l.AddFrames(v.data(), v.size() / 2);
    EXPECT_NEAR(l.TruePeak(), -10, 0.2);
    std::vector<float> burst(2 * 4800, 0.0f);
    for (size_t i = 2400; i < 2424; ++i) burst[2 * i + 1] = static_cast<float>(i % 2 ? 0.5 : -0.5);
    l.AddFrames(burst.data(), 2410);
    l.AddFrames(burst.data() + 2 * 2410, 2390);
    EXPECT_GT(l.TruePeak(), -6.0);
    EXPECT_NEAR(l.SamplePeak(), -6.02, 0.01);
    l.Reset();
    EXPECT_TRUE(std::isinf(l.TruePeak()));
    EXPECT_TRUE(std::isinf(l.SamplePeak()));
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

// Pairs deliver at the same pace, as the recorders' buffers arrive, in buffers
// of `chunk` frames each: the one furthest behind delivers next.
void feed(TMMLoudnessMeter& m, const std::vector<int16_t>& tone, std::vector<int> pairs, std::vector<size_t> chunk)
{
    const size_t frames = tone.size() / 2;
    std::vector<size_t> at(pairs.size(), 0);
    for (;;) {
        const size_t i = static_cast<size_t>(std::min_element(at.begin(), at.end()) - at.begin());
        if (at[i] >= frames) break;
        const size_t n = std::min(chunk[i], frames - at[i]);
        m.AddPair(pairs[i], tone.data() + 2 * at[i], n);
        at[i] += n;
    }
}

TEST(LoudnessMeter, PairSumAndReset)
{
    TMMLoudnessMeter m(kRate);
    const std::vector<int16_t> tone = pcm(segments({{-23, 10}}));
    m.setActivePairs(2);
    m.setPair(TMMLoudnessMeter::SumOfPairs);
    // Pair 5 is not active: not measured.
    feed(m, tone, {0, 1, 5, -1}, {4800, 4800, 4800, 4800});
    // Two programmes of -23 LUFS read as one: twice the power, +3 dB.
    EXPECT_NEAR(m.Momentary(), -20.0, 0.15);
    EXPECT_NEAR(m.ShortTerm(), -20.0, 0.15);
    EXPECT_NEAR(m.Integrated(), -20.0, 0.15);
    EXPECT_NEAR(m.TruePeak(), -23.0, 0.3);
    // Pair 0 on its own was not measured while the sum was shown.
    m.setPair(0);
    EXPECT_TRUE(std::isinf(m.Integrated()));
    feed(m, tone, {0}, {4800});
    EXPECT_NEAR(m.Integrated(), -23.0, 0.1);
    m.setPair(5);
    EXPECT_TRUE(std::isinf(m.Integrated()));
    m.Reset();
    m.setPair(0);
    EXPECT_TRUE(std::isinf(m.Integrated()));
    m.setPair(TMMLoudnessMeter::SumOfPairs);
    EXPECT_TRUE(std::isinf(m.Integrated()));
    m.setPair(99);
    EXPECT_EQ(m.Pair(), tv::kPairs - 1);
    EXPECT_THROW(m.setSampleRate(1), EMMLoudnessError);
    EXPECT_EQ(m.SampleRate(), kRate);
}

TEST(LoudnessMeter, TargetToleranceAndHistory)
{
    TMMLoudnessMeter m(kRate);
    EXPECT_EQ(m.Target(), -23);
    for (int t : kLoudnessTargets) {
        m.setTarget(t);
        EXPECT_EQ(m.Target(), t);
    }
    m.setTarget(-20);  // not offered: the default
    EXPECT_EQ(m.Target(), -23);
    EXPECT_TRUE(m.OnTarget(-22.0));
    EXPECT_TRUE(m.OnTarget(-24.0));
    EXPECT_FALSE(m.OnTarget(-24.1));
    EXPECT_FALSE(m.OnTarget(-std::numeric_limits<double>::infinity()));

    const std::vector<int16_t> tone = pcm(segments({{-23, 4}}));
    m.AddPair(0, tone.data(), tone.size() / 2);
    for (size_t i = 0; i < TMMLoudnessMeter::HistoryLength + 5; ++i) m.RecordHistory();
    ASSERT_EQ(m.History().size(), TMMLoudnessMeter::HistoryLength);
    EXPECT_NEAR(m.History().back(), -23.0, 0.1);
    m.Reset();
    EXPECT_TRUE(m.History().empty());
}

TEST(LoudnessMeter, SumLinesUpPairsAndDoesNotWaitForASilentOne)
{
    const std::vector<int16_t> tone = pcm(segments({{-23, 10}}));
    {
        // Pairs delivering in buffers of different sizes still sum frame by frame.
        TMMLoudnessMeter m(kRate);
        m.setActivePairs(2);
        m.setPair(TMMLoudnessMeter::SumOfPairs);
        feed(m, tone, {0, 1}, {480, 1024});
        EXPECT_NEAR(m.Integrated(), -20.0, 0.1);
        EXPECT_NEAR(m.Range(), 0.0, 0.5);
        // Another set of pairs is another programme.
        m.setActivePairs(3);
        EXPECT_TRUE(std::isinf(m.Integrated()));
    }
    {
        // Pair 1 never delivers: pair 0 is measured with silence beside it,
        // all but the last second, and all of it when the sum is left.
        TMMLoudnessMeter m(kRate);
        m.setActivePairs(2);
        m.setPair(TMMLoudnessMeter::SumOfPairs);
        feed(m, tone, {0}, {4800});
        EXPECT_NEAR(m.Integrated(), -23.0, 0.1);
        m.setPair(0);
        m.setPair(TMMLoudnessMeter::SumOfPairs);
        EXPECT_NEAR(m.Integrated(), -23.0, 0.1);
    }
}

}  // namespace

TEST(LoudnessPlot, EveryTargetAndProgrammeAtOrAboveItHaveRoomUnderTheTopEdge)
{
    for (int target : kLoudnessTargets) {
        // Programme at the target, then 9 LU louder, then silence and gaps.
        for (double programme : {double(target), target + 9.0, -double(INFINITY)}) {
            const std::vector<double> history{-70, NAN, programme, -INFINITY};
            const TLoudnessPlotRange r = LoudnessPlotRange(target, history);
            EXPECT_EQ(r.Bottom, target - 18) << target;
            EXPECT_GE(r.Top - target, 9) << target;
            if (std::isfinite(programme)) {
                EXPECT_GE(r.Top - programme, 3) << target << " " << programme;
            }
            const std::vector<double> lines = LoudnessPlotLines(r);
            EXPECT_NE(std::find(lines.begin(), lines.end(), double(target)), lines.end()) << target;
            EXPECT_EQ(lines.front(), r.Bottom);
            EXPECT_EQ(r.Top - lines.back(), 3) << target << " " << programme;  // the label fits above
            // The programme's curve lies below the top row: it does not run along the edge.
            if (std::isfinite(programme)) {
                EXPECT_GT(LoudnessPlotY(programme, r, 271), 20);
            }
        }
    }
    // Without a loud history the range is the target -18 ... +9 LU.
    const TLoudnessPlotRange quiet = LoudnessPlotRange(-23, {});
    EXPECT_EQ(quiet.Top, -14);
    EXPECT_EQ(LoudnessPlotY(-14, quiet, 271), 0);
    EXPECT_EQ(LoudnessPlotY(-41, quiet, 271), 270);
    EXPECT_EQ(LoudnessPlotY(-27.5, quiet, 271), 135);
    EXPECT_EQ(LoudnessPlotY(-INFINITY, quiet, 271), 270);
    EXPECT_EQ(LoudnessPlotY(3, quiet, 271), 0);
    // An absurd value raises the top only so far.
    EXPECT_EQ(LoudnessPlotRange(-23, {1e300}).Top, -23 + 39);
}

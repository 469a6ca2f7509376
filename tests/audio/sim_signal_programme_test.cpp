// The programme-like forms of the simulated inputs: speech and music.
#include "audio/MMAudioBackend.h"
#include "audio/MMSimSignal.h"
#include "audio/MMSimWaveIn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kRate = 48000;

// n samples of one channel, produced in uneven pieces as a device does.
std::vector<int16_t> generate(const TMMSimChannelSignal& ch, size_t n, int channel = 0, uint32_t rate = kRate)
{
    TMMSimGenerator g;
    g.Reset(&ch, rate, channel);
    std::vector<int16_t> out(n);
    for (size_t done = 0; done < n;) {
        const size_t k = std::min<size_t>(n - done, 41 + done % 997);
        g.Fill(out.data() + done, k, 1);
        done += k;
    }
    return out;
}

double peakDb(const std::vector<int16_t>& s, size_t from = 0, size_t to = SIZE_MAX)
{
    int peak = 0;
    for (size_t i = from; i < std::min(to, s.size()); ++i) peak = std::max(peak, std::abs(static_cast<int>(s[i])));
    return peak == 0 ? -200 : 20 * std::log10(peak / 32767.0);
}

double correlation(const std::vector<int16_t>& a, const std::vector<int16_t>& b, size_t from, size_t to)
{
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = from; i < to; ++i) {
        ab += double(a[i]) * b[i];
        aa += double(a[i]) * a[i];
        bb += double(b[i]) * b[i];
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

// Lengths in seconds of the runs of 10 ms windows whose peak stays below `db`.
std::vector<double> quietRuns(const std::vector<int16_t>& s, double db)
{
    const size_t w = kRate / 100;
    std::vector<double> runs;
    size_t run = 0;
    for (size_t i = 0; i + w <= s.size(); i += w) {
        if (peakDb(s, i, i + w) < db) {
            ++run;
        } else if (run) {
            runs.push_back(run * 0.01);
            run = 0;
        }
    }
    if (run) runs.push_back(run * 0.01);
    return runs;
}

std::string parseError(const std::string& text)
{
    try {
        ParseSimSignal(text);
    } catch (const ESimSignalError& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(SimProgramme, ParsesFormsAndOptions)
{
    const auto a = ParseSimSignal("speech:-12");
    EXPECT_EQ(a.left.kind, TMMSimChannelSignal::Speech);
    EXPECT_EQ(a.left.dbfs, -12);
    EXPECT_EQ(a.right.kind, TMMSimChannelSignal::Speech);
    EXPECT_EQ(a.left.seed, 0u);
    EXPECT_NE(a.right.seed, 0u);  // one description is one programme on both channels

    const auto b = ParseSimSignal("music:-10:7/-music:-10:7:drift=48:gap=15,60,6");
    EXPECT_EQ(b.left.kind, TMMSimChannelSignal::Music);
    EXPECT_EQ(b.left.seed, 7u);
    EXPECT_EQ(b.left.corr, 1);
    EXPECT_TRUE(b.right.inverted);
    EXPECT_EQ(b.right.driftS, 48);
    EXPECT_EQ(b.right.gapS, 15);
    EXPECT_EQ(b.right.gapPeriodS, 60);
    EXPECT_EQ(b.right.gapStartS, 6);
    EXPECT_EQ(ParseSimSignal("music:-10:corr=-0.5").left.corr, -0.5);
    EXPECT_EQ(ParseSimSignal("speech:-3:gap=2,10").left.gapStartS, 8);  // at the end of the period
    // Mixed with the older forms.
    const auto c = ParseSimSignal("sine:997:-6/speech:-20:3");
    EXPECT_EQ(c.left.kind, TMMSimChannelSignal::Sine);
    EXPECT_EQ(c.right.kind, TMMSimChannelSignal::Speech);

    for (const char* bad : {"speech", "speech:", "speech:3", "music:-10:0", "music:-10:x", "speech:-10:1:corr=1.5",
                            "speech:-10:corr=", "speech:-10:drift=0", "speech:-10:drift=5:corr=0.5",
                            "speech:-10:corr=0.5:corr=0.2", "speech:-10:gap=5", "speech:-10:gap=0,10",
                            "speech:-10:gap=11,10", "speech:-10:gap=2,10,10", "speech:-10:gap=2,10,-1",
                            "speech:-10:loud=1", "speech:-10:1:2", "music:-10/speech:nan"})
        EXPECT_NE(parseError(bad), "") << bad;
    EXPECT_NE(parseError("speech:-10:loud=1").find("speech:DBFS[:SEED]"), std::string::npos);
}

TEST(SimProgramme, EveryProgrammeInputParsesAndLevelsDiffer)
{
    std::vector<double> levels;
    for (int k = 1; k <= 12; ++k) {
        const auto sig = ParseSimSignal(ProgrammeSimSignalText(k));
        EXPECT_NE(sig.left.kind, TMMSimChannelSignal::Silence) << k;
        EXPECT_NE(sig.right.kind, TMMSimChannelSignal::Silence) << k;
        levels.push_back(sig.left.dbfs);
    }
    std::sort(levels.begin(), levels.end());
    EXPECT_GE(std::unique(levels.begin(), levels.end()) - levels.begin(), 6);
    EXPECT_GT(ParseSimSignal(ProgrammeSimSignalText(1)).right.driftS, 0);
    EXPECT_GT(ParseSimSignal(ProgrammeSimSignalText(4)).left.gapS, 0);
    EXPECT_EQ(ProgrammeSimSignalText(13), "silence");
}

TEST(SimProgramme, PeaksReachTheLevelAndNeverExceedIt)
{
    for (const char* text : {"speech:-12:5", "music:-12:5", "music:-6:9:corr=0.3", "speech:0:3:drift=7"}) {
        const auto ch = ParseSimSignal(text).left;
        const auto s = generate(ch, 40 * kRate);
        const double peak = peakDb(s);
        EXPECT_LE(peak, ch.dbfs + 0.01) << text;
        EXPECT_GE(peak, ch.dbfs - 1.5) << text;
    }
    // The level scales the same programme: 8 dB lower, 8 dB quieter throughout.
    const auto loud = generate(ParseSimSignal("speech:-12:5").left, 10 * kRate);
    const auto soft = generate(ParseSimSignal("speech:-20:5").left, 10 * kRate);
    for (size_t i = 0; i < loud.size(); i += kRate / 2) {
        if (peakDb(loud, i, i + kRate / 2) < -40) continue;
        EXPECT_NEAR(peakDb(soft, i, i + kRate / 2) - peakDb(loud, i, i + kRate / 2), -8, 0.3) << i;
    }
}

TEST(SimProgramme, SpeechPausesBetweenPhrasesAndMusicBetweenPieces)
{
    // Speech: many short pauses a good 40 dB down, none long enough for a silence alarm.
    const auto speech = generate(ParseSimSignal("speech:-10:21").left, 60 * kRate);
    const auto sp = quietRuns(speech, -50);
    const long phrasePauses = std::count_if(sp.begin(), sp.end(), [](double r) { return r >= 0.3; });
    EXPECT_GE(phrasePauses, 8);
    EXPECT_LE(phrasePauses, 40);
    EXPECT_LT(*std::max_element(sp.begin(), sp.end()), 1.5);
    // Not digital silence: the floor between words is still there.
    EXPECT_GT(peakDb(speech), -11);
    size_t zeros = 0;
    for (int16_t v : speech) zeros += v == 0;
    EXPECT_LT(zeros, speech.size() / 20);

    // Music: one 1-2 s pause between pieces of 35-80 s; quiet runs otherwise short.
    const auto music = generate(ParseSimSignal("music:-10:21").left, 170 * kRate);
    const auto mp = quietRuns(music, -60);
    const long piecePauses = std::count_if(mp.begin(), mp.end(), [](double r) { return r >= 0.9; });
    EXPECT_GE(piecePauses, 2);
    EXPECT_LE(piecePauses, 5);
    EXPECT_LT(*std::max_element(mp.begin(), mp.end()), 2.5);  // the pause plus the fades' quiet ends
    // Beats: within a piece the level moves (1 s windows differ by several dB).
    double lo = 0, hi = -200;
    for (size_t i = 10 * kRate; i < 30 * kRate; i += kRate / 4) {
        double rms = 0;
        for (size_t j = i; j < i + kRate / 8; ++j) rms += double(music[j]) * music[j];
        const double db = 10 * std::log10(rms / (kRate / 8) / (32767.0 * 32767.0));
        lo = std::min(lo, db);
        hi = std::max(hi, db);
    }
    EXPECT_GT(hi - lo, 3);
}

TEST(SimProgramme, GapIsDigitalSilenceInItsWindowOfEveryPeriod)
{
    const auto ch = ParseSimSignal("speech:-14:404:gap=15,60,6").left;
    const auto s = generate(ch, 90 * kRate);
    for (double start : {6.0, 66.0}) {
        const auto from = static_cast<size_t>(start * kRate), to = static_cast<size_t>((start + 15) * kRate);
        EXPECT_TRUE(std::all_of(s.begin() + from, s.begin() + to, [](int16_t v) { return v == 0; })) << start;
        EXPECT_NE(s[from - 1], 0) << start;
        EXPECT_NE(s[to], 0) << start;
        EXPECT_GT(peakDb(s, from - 5 * kRate, from), -30) << start;
        EXPECT_GT(peakDb(s, to, to + 5 * kRate), -30) << start;
    }
    EXPECT_GT(peakDb(s, 22 * kRate, 65 * kRate), -16);
    // At 44.1 kHz the window is the same in seconds; a gap at the end by default.
    const auto t = generate(ParseSimSignal("music:-10:1:gap=2,5").left, 12 * 44100, 0, 44100);
    EXPECT_EQ(peakDb(t, 3 * 44100, 5 * 44100), -200);
    EXPECT_EQ(peakDb(t, 8 * 44100, 10 * 44100), -200);
    EXPECT_GT(peakDb(t, 5 * 44100 + 100, 8 * 44100), -40);
}

TEST(SimProgramme, StereoImageDriftsThroughMonoToOppositePhase)
{
    const auto sig = ParseSimSignal("music:-10:101/music:-10:101:drift=48");
    const auto l = generate(sig.left, 50 * kRate, 0);
    const auto r = generate(sig.right, 50 * kRate, 1);
    auto around = [&](double t) {
        const auto mid = static_cast<size_t>(t * kRate);
        return correlation(l, r, mid > kRate / 2 ? mid - kRate / 2 : 0, std::min(l.size(), mid + kRate / 2));
    };
    EXPECT_GT(around(1.5), 0.97);   // mono
    EXPECT_NEAR(around(12), 0, 0.25);
    EXPECT_LT(around(24), -0.97);   // opposite phase
    EXPECT_NEAR(around(36), 0, 0.25);
    EXPECT_GT(around(48), 0.97);
    // The start is exactly mono.
    EXPECT_TRUE(std::equal(l.begin(), l.begin() + 64, r.begin()));
    // Both channels keep the same level while the image turns.
    for (double t : {6.0, 12.0, 24.0})
        EXPECT_NEAR(peakDb(l, t * kRate, (t + 4) * kRate), peakDb(r, t * kRate, (t + 4) * kRate), 2.5) << t;

    // A fixed image.
    const auto fixed = ParseSimSignal("music:-10:5/music:-10:5:corr=0.6");
    const auto fl = generate(fixed.left, 20 * kRate, 0), fr = generate(fixed.right, 20 * kRate, 1);
    EXPECT_NEAR(correlation(fl, fr, 0, fl.size()), 0.6, 0.08);
    const auto neg = ParseSimSignal("speech:-10:5/speech:-10:5:corr=-0.7");
    const auto nl = generate(neg.left, 20 * kRate, 0), nr = generate(neg.right, 20 * kRate, 1);
    EXPECT_NEAR(correlation(nl, nr, 0, nl.size()), -0.7, 0.08);
}

TEST(SimProgramme, DeterministicUnderASeedAndIndependentOfThePieces)
{
    const auto ch = ParseSimSignal("speech:-12:77:corr=0.2").left;
    const auto a = generate(ch, 5 * kRate);
    TMMSimGenerator g;
    g.Reset(&ch, kRate);
    std::vector<int16_t> b(a.size());
    for (size_t i = 0; i < b.size(); i += 256) g.Fill(b.data() + i, std::min<size_t>(256, b.size() - i), 1);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, generate(ParseSimSignal("speech:-12:78:corr=0.2").left, 5 * kRate));
    // Without a seed each channel has its own programme; one description is mono.
    const auto two = ParseSimSignal("speech:-12/speech:-12");
    EXPECT_NE(generate(two.left, kRate, 0), generate(two.right, kRate, 1));
    const auto one = ParseSimSignal("music:-12");
    EXPECT_EQ(generate(one.left, kRate, 0), generate(one.right, kRate, 1));
}

TEST(SimProgramme, SimulatedPairsDefaultToTheirOwnInput)
{
    TMMSimulatedWaveIn sim;
    for (int k = 1; k <= 12; ++k) EXPECT_EQ(DefaultRecorderDevice(sim, k), k - 1);
    EXPECT_EQ(DefaultRecorderDevice(sim, 13), 0);
    // The simulated device delivers the programme it is given.
    sim.SetSignal(3, ProgrammeSimSignalText(4));
    EXPECT_EQ(sim.Signal(3), "speech:-8:404:gap=15,60,6");
}

TEST(SimProgramme, MangledDescriptionsParseOrSayWhy)
{
    // Seeded mutations of valid descriptions: each parses (and then plays
    // without fault) or is refused with a reason; none crashes or hangs.
    const std::vector<std::string> seeds = {
        "speech:-12:5:corr=0.5:gap=2,10,3", "music:-8:101/music:-8:101:drift=48", "speech:-10:404:gap=15,60,6",
        "music:-3/-speech:-20:7:corr=-1", "sine:997:-6/music:-6:1:drift=0.1"};
    const std::string alphabet = "speechmusic:/-=,.0123456789corrdriftgape+ ";
    uint32_t rng = 12345;
    auto next = [&] {
        rng ^= rng << 13;
        rng ^= rng >> 17;
        rng ^= rng << 5;
        return rng;
    };
    int parsed = 0, refused = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string s = seeds[next() % seeds.size()];
        for (uint32_t m = next() % 4 + 1; m > 0 && !s.empty(); --m) {
            const size_t at = next() % s.size();
            switch (next() % 3) {
            case 0: s[at] = alphabet[next() % alphabet.size()]; break;
            case 1: s.erase(at, next() % 4 + 1); break;
            default: s.insert(at, 1, alphabet[next() % alphabet.size()]); break;
            }
        }
        if (s.find("file:") != std::string::npos) continue;
        try {
            const TMMSimSignal sig = ParseSimSignal(s);
            ++parsed;
            for (const TMMSimChannelSignal* ch : {&sig.left, &sig.right}) {
                TMMSimGenerator g;
                g.Reset(ch, 8000);
                int16_t out[64];
                g.Fill(out, 64, 1);
            }
        } catch (const ESimSignalError& e) {
            ++refused;
            EXPECT_NE(std::string(e.what()), "") << s;
        }
    }
    EXPECT_GT(parsed, 300);
    EXPECT_GT(refused, 1000);
}

// The level bar core: analysis, curves, integration, decay, peak hold,
// geometry and golden images of drawn bars.
#include "metering/MMLevel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

// A block of `frames` frames of `channels` 16-bit samples, all `fill`,
// with sample 0 of channel `ch` set to `peak`.
std::vector<int16_t> block16(int frames, int channels, int16_t fill, int ch = -1, int16_t peak = 0)
{
    std::vector<int16_t> b(static_cast<size_t>(frames * channels), fill);
    if (ch >= 0) b[static_cast<size_t>(ch)] = peak;
    return b;
}

// A vertical bar with a 100-pixel drawing area: SpotWidth 2, SpotSpace 1,
// 33 segments; no curve, 16-bit mono, Sensitivy -40.
void setup33(TMMCustomLevel& lv)
{
    lv.setKind(lkVertical);
    lv.SetBounds(10, 100);
    lv.setSpotWidth(2);
    lv.setSpotSpace(1);
    lv.setMeterStandard(4);
    lv.setBitLength(b16Bit);
    lv.setSensitivy(-40);
}

void feedPeak(TMMCustomLevel& lv, int16_t peak)
{
    auto b = block16(lv.Samples(), 1, 0, 0, peak);
    lv.ProcessBlock(b.data());
}

}  // namespace

TEST(LevelGeometry, MeterWindowBarAndSmallBar)
{
    TMMCustomLevel lv;
    TMMBevel bevel;
    bevel.BevelOuter = bvRaised;
    lv.setBevel(bevel);
    lv.setKind(lkVertical);
    lv.SetBounds(18, 737);
    lv.setSpotWidth(1);
    lv.setSpotSpace(0);
    lv.setPoint1(56);
    lv.setPoint2(70);
    EXPECT_EQ(lv.DrawWidth(), 16);
    EXPECT_EQ(lv.DrawHeight(), 735);
    EXPECT_EQ(lv.NumSpots(), 735);
    EXPECT_EQ(lv.SpotOffset(), 0);
    EXPECT_EQ(lv.Zone1Spots(), 411);
    EXPECT_EQ(lv.Zone2Spots(), 514);
    EXPECT_EQ(lv.WorkCanvas().Width(), 16);
    EXPECT_EQ(lv.WorkCanvas().Height(), 735);

    TMMCustomLevel s;
    setup33(s);
    EXPECT_EQ(s.NumSpots(), 33);
    EXPECT_EQ(s.SpotOffset(), 1);
    EXPECT_EQ(s.ZoneOf(16), 1);
    EXPECT_EQ(s.ZoneOf(17), 2);
    EXPECT_EQ(s.ZoneOf(28), 2);
    EXPECT_EQ(s.ZoneOf(29), 3);
    // Segment 1 sits at the bottom, segment 33 at the top, both 2 pixels tall.
    EXPECT_EQ(s.SpotRect(1), (TMMRect{0, 97, 10, 99}));
    EXPECT_EQ(s.SpotRect(33), (TMMRect{0, 1, 10, 3}));
}

TEST(LevelGeometry, ClampsKindSwapAndTinyAreas)
{
    TMMCustomLevel lv;  // 200 x 17 horizontal
    lv.setKind(lkVertical);
    EXPECT_EQ(lv.Width(), 17);
    EXPECT_EQ(lv.Height(), 200);
    lv.setKind(lkHorizontal);
    EXPECT_EQ(lv.Width(), 200);

    lv.setSpotWidth(1000);  // at most a third of the bar
    EXPECT_EQ(lv.SpotWidth(), 66);
    lv.setSpotWidth(-3);
    EXPECT_EQ(lv.SpotWidth(), 1);
    lv.setSpotSpace(99);
    EXPECT_EQ(lv.SpotSpace(), 10);
    lv.setPoint1(0);
    lv.setPoint2(500);
    EXPECT_EQ(lv.Point1(), 1);
    EXPECT_EQ(lv.Point2(), 100);
    lv.setSensitivy(-200);
    EXPECT_EQ(lv.Sensitivy(), -90);
    lv.setSensitivy(0);
    EXPECT_EQ(lv.Sensitivy(), -9);
    lv.setDecay(40);
    EXPECT_EQ(lv.Decay(), 16);
    lv.setNumPeaks(9);
    EXPECT_EQ(lv.NumPeaks(), 5);
    lv.setIntegralLength(60000);  // the window holds 300 blocks
    EXPECT_EQ(lv.IntegralLength(), 300);
    lv.setIntegralLength(0);
    EXPECT_EQ(lv.IntegralLength(), 1);

    // A bevel wider than the control leaves a 1 x 1 area with one segment.
    TMMBevel b;
    b.BorderWidth = 150;
    lv.setBevel(b);
    EXPECT_EQ(lv.DrawWidth(), 1);
    EXPECT_EQ(lv.DrawHeight(), 1);
    EXPECT_EQ(lv.NumSpots(), 1);
    lv.setValue(100);
    EXPECT_EQ(lv.BarSpots(), 1);
    lv.DrawLevel();
}

TEST(LevelAnalysis, SixteenBitSelectionsAndOffsets)
{
    TMMCustomLevel lv;
    setup33(lv);
    lv.setMode(mStereo);
    lv.setSamples(4);
    EXPECT_EQ(lv.BlockBytes(), 16);
    // frames: (L, R)
    const int16_t data[] = {100, -300, -32768, 50, 7, 7, 0, 1000};
    lv.setChannel(chLeft);
    lv.ProcessBlock(data);
    EXPECT_EQ(lv.LastBlockPeak(), 32768);  // -32768 is full scale too
    lv.setChannel(chRight);
    lv.ProcessBlock(data);
    EXPECT_EQ(lv.LastBlockPeak(), 1000);
    lv.setChannel(chBoth);
    lv.ProcessBlock(data);
    EXPECT_EQ(lv.LastBlockPeak(), 16359);  // (-32768 + 50) / 2 truncates toward zero
    lv.setDCOffsetL(100);
    lv.setDCOffsetR(-1000);
    lv.ProcessBlock(data);
    EXPECT_EQ(lv.LastBlockPeak(), 15909);  // (-32768 - 100 + 50 + 1000) / 2
    lv.setMode(mMono);
    lv.ProcessBlock(data);  // DCOffsetL only: -32768 - 100
    EXPECT_EQ(lv.LastBlockPeak(), 32868);
    lv.setDCOffsetL(1 << 30);  // limited, no overflow
    lv.ProcessBlock(data);
    EXPECT_EQ(lv.DCOffsetL(), 65535);
    EXPECT_EQ(lv.LastBlockPeak(), 65535 + 32768);
}

// The block peak of every frame count (short blocks, ragged ends of the
// eight-sample steps), channel and DC offset, against max |sample - offset|
// counted here sample by sample; blocks end at the end of their buffer, so a
// read past them is caught under the address sanitizer.
TEST(LevelAnalysis, BlockPeakOfEveryLengthChannelAndOffset)
{
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    for (int mode : {mMono, mStereo}) {
        const int channels = mode == mMono ? 1 : 2;
        for (int n = 1; n <= 37; ++n) {
            for (int round = 0; round < 6; ++round) {
                std::vector<int16_t> data(static_cast<size_t>(n * channels));
                for (auto& v : data) v = static_cast<int16_t>(next() >> 16);
                if (round == 1) data[next() % data.size()] = -32768;
                if (round == 2) std::fill(data.begin(), data.end(), static_cast<int16_t>(-7));
                const int dc = round == 3 ? 65535 : round == 4 ? -65535 : round == 5 ? 1234 : 0;
                for (TMMChannel ch : {chLeft, chRight}) {
                    if (mode == mMono && ch == chRight) continue;
                    TMMCustomLevel lv;
                    lv.setBitLength(b16Bit);
                    lv.setMode(mode);
                    lv.setSamples(n);
                    lv.setChannel(ch);
                    lv.setDCOffsetL(dc);
                    lv.setDCOffsetR(-dc);
                    const int lane = ch == chRight ? 1 : 0;
                    const int off = ch == chRight ? -dc : dc;
                    int32_t want = 0;
                    for (int i = 0; i < n; ++i) want = std::max(want, std::abs(data[i * channels + lane] - off));
                    lv.ProcessBlock(data.data());
                    ASSERT_EQ(lv.LastBlockPeak(), want) << "mode " << mode << " n " << n << " round " << round << " channel " << ch;
                }
            }
        }
    }
}

TEST(LevelAnalysis, EightBitSelectionsAndSilence)
{
    TMMCustomLevel lv;
    setup33(lv);
    lv.setBitLength(b8Bit);
    lv.setMode(mStereo);
    lv.setSamples(3);
    EXPECT_EQ(lv.BlockBytes(), 6);
    const uint8_t data[] = {128, 128, 0, 255, 130, 129};
    lv.setChannel(chLeft);
    lv.ProcessBlock(data);
    EXPECT_EQ(lv.LastBlockPeak(), 32768);  // (0 - 128) * 256
    lv.setChannel(chRight);
    lv.ProcessBlock(data);
    EXPECT_EQ(lv.LastBlockPeak(), 32512);  // (255 - 128) * 256
    lv.setChannel(chBoth);
    lv.ProcessBlock(data);
    EXPECT_EQ(lv.LastBlockPeak(), 256);  // halved before 128 is taken off: (0 + 255) / 2 = 127
    lv.setMode(mMono);
    const uint8_t silence[] = {128, 128, 128};
    lv.ProcessBlock(silence);
    EXPECT_EQ(lv.LastBlockPeak(), 0);
}

TEST(LevelAnalysis, DisabledOrHiddenAnalysesNothing)
{
    TMMCustomLevel lv;
    setup33(lv);
    lv.setVisible(false);
    feedPeak(lv, 20000);
    EXPECT_EQ(lv.CurrentLevel(), 0);
    lv.setVisible(true);
    lv.setEnabled(false);
    feedPeak(lv, 20000);
    EXPECT_EQ(lv.CurrentLevel(), 0);
    lv.setEnabled(true);
    feedPeak(lv, 20000);
    EXPECT_EQ(lv.CurrentLevel(), 20000);
    lv.ProcessBlock(nullptr);  // ignored
}

TEST(LevelScale, DbPositionsOverflowsAndGain)
{
    TMMCustomLevel lv;
    setup33(lv);
    int pcm = 0, gain = 0;
    lv.OnPcmOverflow = [&](TMMCustomLevel*) { ++pcm; };
    lv.OnGainOverflow = [&](TMMCustomLevel*) { ++gain; };
    feedPeak(lv, 32767);
    EXPECT_EQ(lv.BarSpots(), 33);
    EXPECT_EQ(pcm, 1);
    EXPECT_EQ(gain, 0);
    feedPeak(lv, 3277);  // -20 dB: Round(20.0008 * 33 / 40)
    EXPECT_EQ(lv.BarSpots(), 17);
    feedPeak(lv, 327);
    EXPECT_EQ(lv.BarSpots(), 0);
    EXPECT_EQ(pcm, 1);

    lv.setGain(8);  // doubles g: 3277 -> 6554 is 6 dB more
    EXPECT_EQ(lv.GainScale(), 16);
    feedPeak(lv, 3277);
    EXPECT_EQ(lv.BarSpots(), mmlevel::RoundEven((20 * std::log10(6554.0 / 32767) + 40) * 33 / 40));
    lv.setGain(33);  // ignored
    EXPECT_EQ(lv.Gain(), 8);
    feedPeak(lv, 32767);  // twice full scale: limited
    EXPECT_EQ(lv.BarSpots(), 33);
    EXPECT_EQ(gain, 1);
    lv.setGain(-8);  // nothing gets through
    feedPeak(lv, 32767);
    EXPECT_EQ(lv.BarSpots(), 0);
}

TEST(LevelScale, SharedSpotTableAgreesWithTheMapping)
{
    // Every amplitude, in and beyond full scale, on log and linear bars of
    // several heights and sensitivities, including a bar too tall to tabulate.
    for (const bool logAmp : {true, false})
        for (const int spots : {1, 33, 480, 1 << 30})
            for (const int sens : {-90, -40, -9}) {
                const auto t = mmlevel::TSpotTable::For(sens, spots, logAmp);
                ASSERT_TRUE(t->Fits(sens, spots, logAmp));
                for (int64_t g = 0; g <= 3 * mmlevel::MaxValue; g += (g < 40000 ? 1 : 997))
                    ASSERT_EQ(t->Spot(g), mmlevel::LevelToSpot(g, sens, spots, logAmp))
                        << "g " << g << " spots " << spots << " sens " << sens << " log " << logAmp;
            }
    // One table per geometry while it is in use.
    auto a = mmlevel::TSpotTable::For(-40, 33, true), b = mmlevel::TSpotTable::For(-40, 33, true);
    EXPECT_EQ(a.get(), b.get());
    EXPECT_NE(a.get(), mmlevel::TSpotTable::For(-40, 34, true).get());
    EXPECT_NE(a.get(), mmlevel::TSpotTable::For(-40, 33, false).get());
}

TEST(LevelScale, LinearScaleAndSymmetricHalving)
{
    TMMCustomLevel lv;
    setup33(lv);
    lv.setLogAmp(false);
    // lo = 32767 / 100 = 327.67: that amplitude is the bottom, 32767 the top.
    feedPeak(lv, 32767);
    EXPECT_EQ(lv.BarSpots(), 33);
    feedPeak(lv, 16547);  // (16547 - 327.67) * 33 / 32439.33 = 16.5
    EXPECT_EQ(lv.BarSpots(), 16);
    feedPeak(lv, 300);
    EXPECT_EQ(lv.BarSpots(), 0);
    EXPECT_EQ(lv.Value(), 0);
    lv.setValue(50);
    EXPECT_EQ(lv.Value(), mmlevel::RoundEven(lv.BarSpots() * 100.0L / 33));

    lv.setLogAmp(true);
    lv.setDirection(dirSymetric);
    feedPeak(lv, 32767);
    EXPECT_EQ(lv.BarSpots(), 16);  // 33 div 2
}

TEST(LevelCurves, ReferenceScalingAndDisplayCurves)
{
    TMMCustomLevel lv;
    setup33(lv);
    lv.setRefMinus18(true);  // no scaling for code 4
    feedPeak(lv, 10000);
    EXPECT_EQ(lv.CurrentLevel(), 10000);

    lv.setMeterStandard(0);  // 10000 * 0.707 * 2.74765 = 19425.88; Nordic upper branch
    feedPeak(lv, 10000);
    const long double h = 10000 * 0.707L * 2.74765L;
    EXPECT_EQ(lv.CurrentLevel(), static_cast<int>(-7.57611e-6L * h * h + 1.24245L * h + 181.712L));
    lv.setRefMinus18(false);
    feedPeak(lv, 32);  // Nordic: unchanged up to 32
    EXPECT_EQ(lv.CurrentLevel(), 32);
    feedPeak(lv, 33);
    EXPECT_EQ(lv.CurrentLevel(), 111);  // -7.57611e-6 * 33^2 + 1.24245 * 33 + 70.712 = 111.71

    lv.setMeterStandard(1);
    feedPeak(lv, 1000);
    EXPECT_EQ(lv.CurrentLevel(), 95);  // 6.2408 + 83.969 + 4.92065
    lv.setMeterStandard(2);
    feedPeak(lv, 0);
    EXPECT_EQ(lv.CurrentLevel(), 0);
    feedPeak(lv, 1);
    EXPECT_EQ(lv.CurrentLevel(), 111);  // direct BBC: 5.3e-5 + 0.0662 + 111.2
    lv.setMeterStandard(6);
    feedPeak(lv, 1000);
    EXPECT_EQ(lv.CurrentLevel(), static_cast<int>(1.3245L * std::pow(1000.0L, 0.9647L)));

    // All three flags stack in the order -18, -20, -24.
    lv.setMeterStandard(3);
    lv.setRefMinus18(true);
    lv.setRefMinus20(true);
    lv.setRefMinus24(true);
    feedPeak(lv, 100);
    const long double s = 100 * 0.707L * 2.71434L * 0.707L * 3.41684L * 0.707L * 5.44348L;
    EXPECT_EQ(lv.CurrentLevel(), static_cast<int>(0.00451076L * std::pow(s, 1.45118L)));
}

TEST(LevelIntegration, FillingThenShiftingThroughTheCurve)
{
    TMMCustomLevel lv;
    setup33(lv);
    lv.setMeterStandard(1);
    lv.setIntegralOn(true);
    lv.setIntegralLength(5);
    const int peaks[] = {1000, 2000, 3000, 4000, 5000, 6000, 7000};
    const int expected[] = {0, 1000, 1500, 2000, 2500, 2169, 1603};
    for (int i = 0; i < 7; ++i) {
        feedPeak(lv, static_cast<int16_t>(peaks[i]));
        EXPECT_EQ(lv.CurrentLevel(), expected[i]) << "update " << i + 1;
    }
    EXPECT_EQ(lv.IntegralFill(), 5);
    // A longer window keeps the entries and fills on from the current count.
    lv.setIntegralLength(7);
    feedPeak(lv, 100);
    EXPECT_EQ(lv.IntegralFill(), 6);
    // Switching integration off uses the direct curve again.
    lv.setIntegralOn(false);
    feedPeak(lv, 1000);
    EXPECT_EQ(lv.CurrentLevel(), 95);
}

TEST(LevelDecay, ConstantsAndDefaults)
{
    const std::map<int, float> table = {{1, 0.01f},       {2, 0.1f},        {5, 0.7498942f},
                                        {11, 0.9955128f}, {12, 0.9977539f}, {16, 0.9998595f}};
    for (auto [d, f] : table) EXPECT_NEAR(mmlevel::DecayFactorFor(d), f, 1e-6) << d;
    EXPECT_EQ(mmlevel::DecayLengthFor(1), 1);
    EXPECT_EQ(mmlevel::DecayLengthFor(12), 22);
    EXPECT_EQ(mmlevel::DecayLengthFor(16), 30);

    TMMCustomLevel lv;  // a new meter keeps 0.0001 until Decay really changes
    EXPECT_FLOAT_EQ(lv.DecayFactor(), 0.0001f);
    lv.setDecay(1);
    EXPECT_FLOAT_EQ(lv.DecayFactor(), 0.0001f);
    lv.setDecay(2);
    lv.setDecay(1);
    EXPECT_FLOAT_EQ(lv.DecayFactor(), 0.01f);
    EXPECT_EQ(lv.DecayLength(), 1);
}

TEST(LevelDecay, StepUpFallsByTheFactorPerBlock)
{
    TMMCustomLevel lv;
    setup33(lv);
    lv.setSensitivy(-90);
    lv.setDecayMode(dmStepUp);
    lv.setDecay(12);
    feedPeak(lv, 32767);
    EXPECT_FLOAT_EQ(lv.DecayValue(), 32767.0f);
    float prev = lv.DecayValue();
    for (int i = 0; i < 200; ++i) {
        feedPeak(lv, 0);
        EXPECT_EQ(lv.CurrentLevel(), 0);
        const double db = 20 * std::log10(double(lv.DecayValue()) / prev);
        ASSERT_NEAR(db, -0.0195, 1e-3) << i;
        prev = lv.DecayValue();
    }
    EXPECT_GT(lv.BarSpots(), 0);
    // A louder block lifts the bar at once.
    feedPeak(lv, 32767);
    EXPECT_FLOAT_EQ(lv.DecayValue(), 32767.0f);

    // Decay 1 on a new meter: factor 0.0001, the bar drops out in one block.
    TMMCustomLevel fresh;
    setup33(fresh);
    fresh.setDecayMode(dmStepUp);
    feedPeak(fresh, 32767);
    feedPeak(fresh, 0);
    EXPECT_NEAR(fresh.DecayValue(), 3.2767f, 1e-3);
}

TEST(LevelDecay, ExponentialAndUniform)
{
    TMMCustomLevel lv;
    setup33(lv);
    lv.setDecayMode(dmExponential);
    lv.setDecay(2);  // factor 0.1
    feedPeak(lv, 10000);
    EXPECT_FLOAT_EQ(lv.DecayValue(), 9000.0f);  // 0 * 0.1 + 0.9 * 10000
    feedPeak(lv, 10000);
    EXPECT_FLOAT_EQ(lv.DecayValue(), 9900.0f);

    TMMCustomLevel u;
    setup33(u);
    u.setDecay(3);  // DecayLength 4
    u.setDecayMode(dmUniform);
    EXPECT_EQ(u.DecayLength(), 4);
    const int in[] = {32767, 0, 0, 0, 0};
    // Averages over the last min(count, 4) updates.
    const int out[] = {32767, 16383, 10922, 8191, 0};
    for (int i = 0; i < 5; ++i) {
        feedPeak(u, static_cast<int16_t>(in[i]));
        const int spots = static_cast<int>(mmlevel::LevelToSpot(out[i], -40, 33, true));
        EXPECT_EQ(u.BarSpots(), spots) << i;
    }
}

TEST(LevelUpdate, SilenceOnAnEmptyBarChangesNothing)
{
    TMMCustomLevel lv;
    setup33(lv);
    lv.setDecayMode(dmUniform);
    int invalidates = 0;
    lv.OnInvalidate = [&] { ++invalidates; };
    for (int i = 0; i < 10; ++i) feedPeak(lv, 0);
    EXPECT_EQ(invalidates, 0);
    // The decay state has not advanced: the first real block is averaged alone.
    feedPeak(lv, 32767);
    EXPECT_EQ(lv.BarSpots(), 33);
    EXPECT_EQ(invalidates, 1);
    // Same position again, no peak pending -> no repaint request.
    lv.setNumPeaks(0);
    invalidates = 0;
    lv.setDecayMode(dmNone);
    feedPeak(lv, 32767);
    feedPeak(lv, 32767);
    EXPECT_EQ(invalidates, 0);
}

TEST(LevelPeak, CaptureHoldFallAndDisappear)
{
    TMMCustomLevel lv;
    setup33(lv);
    lv.setPeakDelay(2);
    lv.setPeakSpeed(1);
    feedPeak(lv, 32767);
    EXPECT_EQ(lv.PeakSpot(), 33);
    EXPECT_EQ(lv.PeakCounter(), 5);
    feedPeak(lv, 0);
    EXPECT_EQ(lv.BarSpots(), 0);
    for (int i = 0; i < 4; ++i) lv.PeakTick();
    EXPECT_EQ(lv.PeakSpot(), 33);  // held for 2 x PeakDelay + 1 ticks
    lv.PeakTick();
    EXPECT_EQ(lv.PeakSpot(), 32);
    EXPECT_TRUE(lv.PeakChanged());
    lv.PeakTick();
    EXPECT_EQ(lv.PeakSpot(), 31);

    // PeakSpeed 0: the peak vanishes when the hold ends.
    lv.setPeakSpeed(0);
    lv.setPeakDelay(0);
    feedPeak(lv, 32767);
    lv.PeakTick();
    EXPECT_EQ(lv.PeakSpot(), 0);

    // LeaveMaxPeak holds 10000 ticks, then falls one segment per 10000 more.
    lv.setLeaveMaxPeak(true);
    lv.setPeakSpeed(1);
    feedPeak(lv, 32767);
    EXPECT_EQ(lv.PeakCounter(), 10000);
    for (int i = 0; i < 9999; ++i) lv.PeakTick();
    EXPECT_EQ(lv.PeakSpot(), 33);
    lv.PeakTick();
    EXPECT_EQ(lv.PeakSpot(), 32);
    EXPECT_EQ(lv.PeakCounter(), 10000);
}

TEST(LevelPeak, ClearPeakDropsAHeldMaximumAtOnceAndTheNextBlockCapturesAgain)
{
    TMMCustomLevel lv;
    setup33(lv);
    lv.setLeaveMaxPeak(true);
    lv.setPeakSpeed(1);
    feedPeak(lv, 32767);
    feedPeak(lv, 0);
    ASSERT_EQ(lv.PeakSpot(), 33);
    int invalidates = 0;
    lv.OnInvalidate = [&] { ++invalidates; };
    lv.ClearPeak();
    EXPECT_EQ(lv.PeakSpot(), 0);
    EXPECT_GT(invalidates, 0);
    for (int i = 0; i < 3; ++i) lv.PeakTick();
    EXPECT_EQ(lv.PeakSpot(), 0);  // nothing left to fall
    invalidates = 0;
    lv.ClearPeak();  // no mark: no repaint
    EXPECT_EQ(invalidates, 0);
    feedPeak(lv, 32767);
    EXPECT_EQ(lv.PeakSpot(), 33);
    EXPECT_EQ(lv.PeakCounter(), 10000);
}

TEST(LevelPeak, NumPeaksZeroAndTickState)
{
    TMMCustomLevel lv;
    setup33(lv);
    std::vector<bool> states;
    lv.OnTickWanted = [&](bool w) { states.push_back(w); };
    lv.setNumPeaks(0);
    feedPeak(lv, 32767);
    EXPECT_EQ(lv.PeakSpot(), 0);
    lv.setNumPeaks(0);  // no second pause
    lv.setEnabled(false);
    lv.setNumPeaks(3);  // still disabled: the tick stays off
    lv.setEnabled(true);
    EXPECT_EQ(states, (std::vector<bool>{false, true}));
    // Three stacked segments below the peak position.
    feedPeak(lv, 32767);
    feedPeak(lv, 0);
    EXPECT_EQ(lv.PeakSpot(), 33);
    lv.DrawLevel();
    const TMMDIBCanvas& c = lv.WorkCanvas();
    for (int i = 1; i <= 33; ++i) {
        const TMMRect r = lv.SpotRect(i);
        const bool lit = i >= 31;
        const TColor want = lit ? (i > 28 ? clRed : clAqua) : (i > 28 ? clMaroon : clTeal);
        EXPECT_EQ(c.Pixel(r.Left, r.Top), want) << i;
    }
}

TEST(LevelValue, WriteAndRead)
{
    TMMCustomLevel lv;
    setup33(lv);
    lv.setNumPeaks(0);
    int invalidates = 0;
    lv.OnInvalidate = [&] { ++invalidates; };
    lv.setValue(0);
    EXPECT_EQ(invalidates, 0);
    lv.setValue(100);
    EXPECT_EQ(lv.BarSpots(), 33);
    EXPECT_EQ(lv.Value(), 100);
    lv.setValue(250);  // clamped
    EXPECT_EQ(lv.Value(), 100);
    lv.setValue(10);  // 3277 -> 17 segments, which stand for 10^(-40 * (1 - 17/33) / 20) = 10.7 %
    EXPECT_EQ(lv.BarSpots(), 17);
    EXPECT_EQ(lv.Value(), 11);
    lv.ResetData();
    EXPECT_EQ(lv.BarSpots(), 0);
    EXPECT_EQ(lv.Value(), 0);
    EXPECT_EQ(lv.CurrentLevel(), 3277);  // not cleared by ResetData
}

TEST(LevelFormat, SetWaveFormat)
{
    TMMCustomLevel lv;
    WaveFormat f;
    BuildPcmFormat(f, 16, 2, 48000);
    lv.SetWaveFormat(&f);
    EXPECT_EQ(lv.BitLength(), b16Bit);
    EXPECT_EQ(lv.Mode(), mStereo);
    EXPECT_EQ(lv.BlockBytes(), 200);

    WaveFormat bad;
    BuildPcmFormat(bad, 24, 1, 48000);
    try {
        lv.SetWaveFormat(&bad);
        FAIL() << "no error";
    } catch (const EMMLevelError& e) {
        EXPECT_STREQ(e.what(), "Invalid WaveFormat");
    }
    EXPECT_THROW(lv.SetWaveFormat(nullptr), EMMLevelError);
    EXPECT_EQ(lv.BitLength(), b16Bit);
    EXPECT_EQ(lv.Mode(), mStereo);

    // Four channels: left and right are the first two of each frame.
    BuildPcmFormat(f, 16, 4, 48000);
    lv.SetWaveFormat(&f);
    lv.setSamples(2);
    EXPECT_EQ(lv.BlockBytes(), 16);
    lv.setChannel(chRight);
    const int16_t quad[] = {1, 2, 30000, 30000, 5, 600, 30000, 30000};
    lv.ProcessBlock(quad);
    EXPECT_EQ(lv.LastBlockPeak(), 600);
}

// ---- golden images ---------------------------------------------------------

namespace {

// One character per pixel of the working bitmap.
std::vector<std::string> picture(const TMMDIBCanvas& c)
{
    const std::map<TColor, char> key = {{clBlack, '.'}, {clTeal, 't'}, {clMaroon, 'm'}, {clNavy, 'n'},
                                        {clLime, 'L'},  {clYellow, 'Y'}, {clRed, 'R'}};
    std::vector<std::string> rows;
    for (int y = 0; y < c.Height(); ++y) {
        std::string row;
        for (int x = 0; x < c.Width(); ++x) {
            auto it = key.find(c.Pixel(x, y));
            row += it == key.end() ? '?' : it->second;
        }
        rows.push_back(row);
    }
    return rows;
}

// Horizontal 13 x 2, SpotWidth 1, SpotSpace 1: 7 segments, zones 3 / 5.
void setupSmall(TMMCustomLevel& lv)
{
    lv.SetBounds(13, 2);
    lv.setSpotWidth(1);
    lv.setSpotSpace(1);
    lv.setPoint1(50);
    lv.setPoint2(75);
    lv.setBar1Color(clLime);
    lv.setBar2Color(clYellow);
    lv.setBar3Color(clRed);
    lv.setInactive1Color(clTeal);
    lv.setInactive2Color(clNavy);
    lv.setInactive3Color(clMaroon);
}

}  // namespace

TEST(LevelDrawing, GoldenZonesPeaksDotedSymmetric)
{
    for (int depth : {8, 24}) {
        TMMCustomLevel lv;
        lv.setBitDepth(depth);
        setupSmall(lv);
        EXPECT_EQ(lv.NumSpots(), 7);
        EXPECT_EQ(lv.Zone1Spots(), 3);
        EXPECT_EQ(lv.Zone2Spots(), 5);
        lv.DrawLevel();
        EXPECT_EQ(picture(lv.WorkCanvas()), (std::vector<std::string>{"t.t.t.n.n.m.m", "t.t.t.n.n.m.m"}));

        lv.setValue(50);  // -6 dB of 35 dB over 7 segments: Round(5.8)
        EXPECT_EQ(lv.BarSpots(), 6);
        lv.setValue(20);
        EXPECT_EQ(lv.BarSpots(), 4);
        lv.setNumPeaks(2);
        lv.setValue(100);
        lv.setValue(20);
        lv.DrawLevel();
        EXPECT_EQ(picture(lv.WorkCanvas()), (std::vector<std::string>{"L.L.L.Y.n.R.R", "L.L.L.Y.n.R.R"}));

        lv.setDirection(dirReversed);
        lv.DrawLevel();
        EXPECT_EQ(picture(lv.WorkCanvas()), (std::vector<std::string>{"R.R.n.Y.L.L.L", "R.R.n.Y.L.L.L"}));
    }
}

TEST(LevelDrawing, GoldenDotedAndSymmetricVertical)
{
    TMMCustomLevel lv;
    lv.setKind(lkVertical);
    lv.SetBounds(4, 9);
    lv.setSpotWidth(3);
    lv.setSpotSpace(0);
    lv.setPoint1(34);
    lv.setPoint2(67);  // zones 1 / 2 of 3 segments
    lv.setBar1Color(clLime);
    lv.setBar2Color(clYellow);
    lv.setBar3Color(clRed);
    lv.setInactive1Color(clTeal);
    lv.setInactive2Color(clNavy);
    lv.setInactive3Color(clMaroon);
    lv.setInactiveDoted(true);
    lv.setNumPeaks(0);
    lv.DrawLevel();
    // Each 4 x 3 segment: every second pixel of every second row from its top-left.
    EXPECT_EQ(picture(lv.WorkCanvas()), (std::vector<std::string>{
                                            "m.m.", "....", "m.m.",  // segment 3 (top)
                                            "n.n.", "....", "n.n.",  // segment 2
                                            "t.t.", "....", "t.t.",  // segment 1 (bottom)
                                        }));
    lv.setActiveDoted(true);
    lv.setInactiveDoted(false);
    lv.setValue(10);
    ASSERT_EQ(lv.BarSpots(), 1);
    lv.DrawLevel();
    EXPECT_EQ(picture(lv.WorkCanvas()), (std::vector<std::string>{
                                            "mmmm", "mmmm", "mmmm", "nnnn", "nnnn", "nnnn",
                                            "LtLt", "tttt", "LtLt",
                                        }));

    // Symmetric: grows downwards; c - 2 .. c + 2 around c in c's zone colour.
    lv.setActiveDoted(false);
    lv.setDirection(dirSymetric);
    lv.setValue(100);  // 3 halved to 1
    ASSERT_EQ(lv.BarSpots(), 1);
    lv.DrawLevel();
    EXPECT_EQ(picture(lv.WorkCanvas()), (std::vector<std::string>{
                                            "LLLL", "LLLL", "LLLL", "LLLL", "LLLL", "LLLL",
                                            "LLLL", "LLLL", "LLLL",
                                        }));
}

TEST(LevelDrawing, OnDrawBarReplacesAndDisabledShowsBackground)
{
    TMMCustomLevel lv;
    setupSmall(lv);
    int paints = 0, bars = 0, lastSpots = -1;
    lv.OnPaint = [&](TMMCustomLevel*) { ++paints; };
    lv.setValue(100);
    lv.setOnDrawBar([&](TMMCustomLevel*, TMMDIBCanvas& dib, const TMMRect& r, int n, int) {
        ++bars;
        lastSpots = n;
        dib.FillRect(r, clRed);
    });
    lv.DrawLevel();
    EXPECT_EQ(paints, 1);
    EXPECT_EQ(bars, 1);
    EXPECT_EQ(lastSpots, 7);
    EXPECT_EQ(picture(lv.WorkCanvas())[0], "RRRRRRRRRRRRR");

    // Resizing from inside the handler is refused with the owner's class name.
    lv.setOnDrawBar([&](TMMCustomLevel* s, TMMDIBCanvas&, const TMMRect&, int, int) { s->SetBounds(30, 4); });
    try {
        lv.DrawLevel();
        FAIL() << "no error";
    } catch (const EMMDIBError& e) {
        EXPECT_STREQ(e.what(), "TMMLevel: Attempt to create new DIB while initialized for drawing");
    }
    EXPECT_FALSE(lv.WorkCanvas().Drawing());  // lock released
    lv.setOnDrawBar(nullptr);
    lv.SetBounds(13, 2);
    lv.setValue(100);
    lv.setEnabled(false);
    lv.DrawLevel();
    EXPECT_EQ(picture(lv.WorkCanvas())[0], "t.t.t.n.n.m.m");
    EXPECT_THROW(lv.setBitDepth(16), EMMDIBError);
    EXPECT_EQ(lv.BitDepth(), 8);
}

TEST(LevelUpdate, RepaintRequestsOnlyForChangedPixels)
{
    TMMCustomLevel lv;
    setup33(lv);
    int invalidates = 0;
    lv.OnInvalidate = [&] { ++invalidates; };
    feedPeak(lv, 32767);
    ASSERT_EQ(invalidates, 1);
    lv.DrawLevel();
    // The peak caught again at the same segment: held longer, nothing to draw.
    for (int i = 0; i < 5; ++i) feedPeak(lv, 32767);
    EXPECT_EQ(invalidates, 1);
    EXPECT_EQ(lv.PeakCounter(), 2 * lv.PeakDelay() + 1);
    // Down, then back to the drawn state before a repaint: the one pending
    // request covers both (the compose shows the current state).
    feedPeak(lv, 3277);
    feedPeak(lv, 32767);
    EXPECT_EQ(invalidates, 2);
    EXPECT_FALSE(lv.DrawNeeded());  // the pending request finds nothing to draw
    feedPeak(lv, 3277);
    EXPECT_EQ(invalidates, 3);
    EXPECT_TRUE(lv.DrawNeeded());
    lv.DrawLevel();
    lv.setBar1Color(clNavy);  // anything else invalidated always draws
    EXPECT_TRUE(lv.DrawNeeded());
    // A geometry change redraws; the same level afterwards asks again once.
    lv.DrawLevel();
    lv.setSpotSpace(0);
    const int afterResize = invalidates;
    feedPeak(lv, 32767);
    EXPECT_EQ(invalidates, afterResize + 1);
    // A peak that fell on the tick is shown by the next block even at the same bar.
    lv.DrawLevel();
    feedPeak(lv, 3277);
    lv.DrawLevel();
    for (int i = 0; i < 2 * lv.PeakDelay() + 1; ++i) lv.PeakTick();
    const int beforeFall = invalidates;
    feedPeak(lv, 3277);
    EXPECT_EQ(invalidates, beforeFall + 1);
}

// The silence detector's level is the signal's own, whatever the standard
// draws: a -21 dBFS block reads -21 dBFS under every curve and reference
// (where CurrentLevel reads the curve), with integration (which only the bar
// uses) and under the standard instrument; the held level keeps the highest
// since its restart, 0 when no block came.
TEST(LevelSilence, OwnLevelBeforeReferenceCurveAndIntegration)
{
    const int16_t tone = 2920;  // -21 dBFS
    for (int std = 0; std <= 7; ++std)
        for (int ref = 0; ref < 2; ++ref) {
            TMMCustomLevel lv;
            setup33(lv);
            lv.setMeterStandard(std);
            lv.setRefMinus18(ref == 1);
            feedPeak(lv, tone);
            EXPECT_EQ(lv.SilenceLevel(), tone) << "standard " << std << " ref " << ref;
            if (std != 4) {
                EXPECT_NE(lv.CurrentLevel(), tone) << "standard " << std;
            }
        }

    TMMCustomLevel lv;
    setup33(lv);
    lv.setMeterStandard(1);
    lv.setRefMinus18(true);
    lv.setIntegralOn(true);
    lv.setIntegralLength(4);
    for (int16_t p : {1000, 6000, 3000, 100}) feedPeak(lv, p);
    EXPECT_EQ(lv.SilenceLevel(), 100);
    EXPECT_EQ(lv.SilenceHeld(), 6000);
    lv.RestartSilenceHold();
    EXPECT_EQ(lv.SilenceHeld(), 0);
    feedPeak(lv, 0);
    EXPECT_EQ(lv.SilenceHeld(), 0);
    feedPeak(lv, 500);
    EXPECT_EQ(lv.SilenceHeld(), 500);

    lv.setIntegralOn(false);
    lv.setBallistics(bmStandard);
    auto b = block16(lv.Samples(), 1, 0, 0, -32768);
    lv.ProcessBlock(b.data());
    EXPECT_GE(lv.SilenceLevel(), 32767);
}

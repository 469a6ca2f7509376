#include "correlation/MMOscope.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

WaveFormat pcm(int bits, int channels, int rate)
{
    WaveFormat f;
    BuildPcmFormat(f, bits, channels, rate);
    return f;
}

struct FakeView : TMMOscopeView {
    bool shown = true, drawable = true;
    int invalidations = 0;
    bool IsShown() const override { return shown; }
    bool CanDraw() const override { return drawable; }
    void Invalidate() override { ++invalidations; }
};

// The correlation window's scope: 200 x 200, lowered outer bevel of width 1.
void MakeCorrelationScope(TMMOscope& s)
{
    TMMBevel b;
    b.BevelOuter = bvLowered;
    s.setBevel(b);
    s.SetClientSize(200, 200);
    s.setKind(okConLines);
}

std::vector<int16_t> Stereo(int frames, int (*left)(int), int (*right)(int))
{
    std::vector<int16_t> v;
    for (int i = 0; i < frames; ++i) {
        v.push_back(static_cast<int16_t>(left(i)));
        v.push_back(static_cast<int16_t>(right(i)));
    }
    return v;
}

TEST(Oscope, GeometryAndDisplayBytes)
{
    TMMOscope s;
    EXPECT_EQ(s.Columns(), 194);  // default size 194 x 90, no bevel
    EXPECT_EQ(s.PlotHeight(), 90);
    MakeCorrelationScope(s);
    const auto f = pcm(16, 2, 44100);
    s.ApplyFormat(&f);
    EXPECT_EQ(s.Columns(), 198);
    EXPECT_EQ(s.PlotHeight(), 198);
    EXPECT_EQ(s.MidRow(), 99);
    EXPECT_EQ(s.DisplayBytes(), 792);
    s.setZoom(-1);  // (4 * 198 div 2 + 5) rounded down to a multiple of 4
    EXPECT_EQ(s.DisplayBytes(), 400);
    s.setZoom(0);  // refused
    EXPECT_EQ(s.Zoom(), -1);
    s.setZoom(2);
    EXPECT_EQ(s.DisplayBytes(), 1584);
    s.setDrawAmpScale(true);  // 32 px each side
    EXPECT_EQ(s.Columns(), 134);
    s.SetClientSize(10, 10);  // never below 4
    EXPECT_EQ(s.Columns(), 4);
    EXPECT_EQ(s.PlotHeight(), 8);
    s.setScroll(true);
    EXPECT_EQ(s.DisplayBytes(), 4 * 128);
    s.setFFTLength(1000);  // rounded down to a power of two
    EXPECT_EQ(s.FFTLength(), 512);
}

TEST(Oscope, FormatAndPropertyLimits)
{
    TMMOscope s;
    const auto bad = pcm(24, 2, 44100);
    s.setGain(5);
    EXPECT_THROW(s.ApplyFormat(&bad), EMMOscopeError);
    try {
        s.ApplyFormat(nullptr);
    } catch (const EMMOscopeError& e) {
        EXPECT_STREQ(e.what(), "Invalid WaveFormat");
    }
    EXPECT_EQ(s.BitLength(), b8Bit);  // unchanged
    const auto ok = pcm(16, 2, 96000);
    s.ApplyFormat(&ok);
    EXPECT_EQ(s.BitLength(), b16Bit);
    EXPECT_EQ(s.Mode(), mStereo);
    EXPECT_EQ(s.SampleRate(), 88200);  // clamped
    s.setGain(33);
    EXPECT_EQ(s.Gain(), 5);
    s.setGain(-9);
    EXPECT_EQ(s.Gain(), 5);
    s.setSteps(0);
    EXPECT_EQ(s.Steps(), 1);
}

TEST(Oscope, ChannelChoice)
{
    TMMOscope s;
    MakeCorrelationScope(s);
    const auto f = pcm(16, 2, 44100);
    s.ApplyFormat(&f);
    const auto data = Stereo(198, [](int i) { return (i + 1) * 100; }, [](int i) { return -(i + 1) * 100; });
    s.setChannel(chLeft);
    s.AcceptSamples(data.data());
    EXPECT_EQ(s.Samples()[0], 100);
    EXPECT_EQ(s.Samples()[1], 200);
    s.setChannel(chRight);
    s.AcceptSamples(data.data());
    EXPECT_EQ(s.Samples()[1], -200);
    s.setChannel(chBoth);
    s.AcceptSamples(data.data());
    EXPECT_EQ(s.Samples()[1], 0);
    // (3 + -4) / 2 rounds toward zero
    const auto odd = Stereo(198, [](int) { return 3; }, [](int) { return -4; });
    s.AcceptSamples(odd.data());
    EXPECT_EQ(s.Samples()[5], 0);

    // Zoom -1: each frame fills two columns.
    s.setChannel(chLeft);
    s.setZoom(-1);
    s.AcceptSamples(data.data());
    EXPECT_EQ(s.Samples()[0], 100);
    EXPECT_EQ(s.Samples()[1], 100);
    EXPECT_EQ(s.Samples()[2], 200);

    // 8-bit: made signed; chBoth averages the unsigned bytes first.
    const auto f8 = pcm(8, 2, 22050);
    s.ApplyFormat(&f8);
    s.setZoom(1);
    std::vector<uint8_t> b(2 * 198);
    for (size_t i = 0; i < b.size(); i += 2) b[i] = 255, b[i + 1] = 0;
    s.AcceptSamples(b.data());
    EXPECT_EQ(s.Samples()[0], 127 * 256);
    s.setChannel(chRight);
    s.AcceptSamples(b.data());
    EXPECT_EQ(s.Samples()[0], -128 * 256);
    s.setChannel(chBoth);
    s.AcceptSamples(b.data());
    EXPECT_EQ(s.Samples()[0], -1 * 256);  // (255 + 0) div 2 = 127
}

TEST(Oscope, RowMappingAndAmplitude)
{
    TMMOscope s;
    MakeCorrelationScope(s);
    EXPECT_EQ(s.RowOf(0), 99);
    EXPECT_EQ(s.RowOf(-32768), 197);
    EXPECT_EQ(s.RowOf(32767), 0);
    int pcmOverflows = 0, gainOverflows = 0;
    s.OnPcmOverflow = [&](TMMOscope&) { ++pcmOverflows; };
    s.OnGainOverflow = [&](TMMOscope&) { ++gainOverflows; };
    s.RowOf(32767);
    EXPECT_EQ(pcmOverflows, 1);
    EXPECT_EQ(gainOverflows, 0);
    s.setGain(8);  // G = 16 doubles the amplitude
    EXPECT_LT(s.RowOf(30000), 0);
    EXPECT_EQ(gainOverflows, 1);

    EXPECT_FLOAT_EQ(s.PointToAmplitude(5, 0), 1.0f);
    EXPECT_FLOAT_EQ(s.PointToAmplitude(5, 99), 0.0f);
    EXPECT_FLOAT_EQ(s.PointToAmplitude(5, 100), static_cast<float>(-2.0 / 99));
    EXPECT_FLOAT_EQ(s.PointToAmplitude(5, 197), -1.0f);
    EXPECT_EQ(s.PointToAmplitude(198, 5), 0.0f);  // outside
    EXPECT_EQ(s.PointToAmplitude(5, -1), 0.0f);
    s.setKind(okSpikes);
    EXPECT_FLOAT_EQ(s.PointToAmplitude(5, 197), 0.0f);
    EXPECT_FLOAT_EQ(s.PointToAmplitude(5, 0), 1.0f);
}

TEST(Oscope, RecordsColumnsOneToNMinusOne)
{
    TMMOscope s;
    const auto f = pcm(16, 2, 44100);
    s.ApplyFormat(&f);
    s.setKind(okConLines);
    // A wider scope first fills entries up to 299.
    s.SetClientSize(300, 200);
    const auto loud = Stereo(300, [](int) { return 32767; }, [](int) { return 32767; });
    s.AcceptSamples(loud.data());
    EXPECT_FLOAT_EQ(s.ColumnValue(299), 1.0f);
    EXPECT_EQ(s.ColumnValue(300), 0.0);
    EXPECT_EQ(s.ColumnValue(0), 0.0);  // column 0 is never recorded

    MakeCorrelationScope(s);  // N = 198
    const auto quiet = Stereo(198, [](int) { return 0; }, [](int) { return 0; });
    int news = 0, fulls = 0;
    s.OnArrayNew = [&](TMMOscope&) { ++news; };
    s.OnArrayFull = [&](TMMOscope&) { ++fulls; };
    s.AcceptSamples(quiet.data());
    EXPECT_EQ(news, 1);
    EXPECT_EQ(fulls, 197);
    for (int x = 1; x <= 197; ++x) EXPECT_EQ(s.ColumnValue(x), 0.0) << x;
    for (int x = 198; x < 300; ++x) EXPECT_FLOAT_EQ(s.ColumnValue(x), 1.0f) << x;  // kept
    EXPECT_EQ(s.ColumnValue(0), 0.0);

    // Steps 3 records every third column only.
    s.setSteps(3);
    s.AcceptSamples(loud.data());
    EXPECT_FLOAT_EQ(s.ColumnValue(3), 1.0f);
    EXPECT_EQ(s.ColumnValue(4), 0.0);

    // Other kinds and effects record nothing.
    s.setSteps(1);
    s.setKind(okDots);
    s.AcceptSamples(quiet.data());
    EXPECT_FLOAT_EQ(s.ColumnValue(3), 1.0f);
    s.setKind(okConLines);
    s.setEffect(efPeak);
    s.AcceptSamples(quiet.data());
    EXPECT_FLOAT_EQ(s.ColumnValue(3), 1.0f);
}

TEST(Oscope, NeverWritesBeyondTheTable)
{
    TMMOscope s;
    const auto f = pcm(16, 1, 44100);
    s.ApplyFormat(&f);
    s.setKind(okConLines);
    s.SetClientSize(900, 100);
    std::vector<int16_t> d(900, 16000);
    s.AcceptSamples(d.data());
    EXPECT_GT(s.ColumnValue(600), 0.4);
    EXPECT_EQ(s.ColumnValue(601), 0.0);  // out of range reads give 0
}

TEST(Oscope, VisibilityReadoutAndDisable)
{
    TMMOscope s;
    FakeView view;
    s.SetView(&view);
    MakeCorrelationScope(s);
    const auto f = pcm(16, 2, 44100);
    s.ApplyFormat(&f);
    const auto loud = Stereo(198, [](int) { return 32767; }, [](int) { return 32767; });
    const auto quiet = Stereo(198, [](int) { return 0; }, [](int) { return 0; });

    // Outside the parent's visible region: samples taken, nothing recorded.
    view.drawable = false;
    s.AcceptSamples(loud.data());
    EXPECT_EQ(s.Samples()[10], 32767);
    EXPECT_EQ(s.ColumnValue(10), 0.0);
    view.drawable = true;
    s.AcceptSamples(loud.data());
    EXPECT_FLOAT_EQ(s.ColumnValue(10), 1.0f);

    // Hidden: no change at all.
    view.shown = false;
    s.AcceptSamples(quiet.data());
    EXPECT_EQ(s.Samples()[10], 32767);
    view.shown = true;

    // Readout freezes the data until released.
    s.BeginReadout();
    s.AcceptSamples(quiet.data());
    EXPECT_FLOAT_EQ(s.ColumnValue(10), 1.0f);
    s.EndReadout();
    s.AcceptSamples(quiet.data());
    EXPECT_EQ(s.ColumnValue(10), 0.0);

    s.setEnabled(false);
    s.AcceptSamples(loud.data());
    EXPECT_EQ(s.Samples()[10], 0);
    s.setEnabled(true);

    // ClearDisplay ends the readout and records silence.
    s.AcceptSamples(loud.data());
    s.BeginReadout();
    s.ClearDisplay();
    EXPECT_FALSE(s.ReadoutActive());
    EXPECT_EQ(s.Samples()[10], 0);
    EXPECT_EQ(s.ColumnValue(10), 0.0);
}

}  // namespace

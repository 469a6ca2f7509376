#include "audio/MMSimSignal.h"
#include "audio/MMSimWaveIn.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

double peakDb(const std::vector<int16_t>& s)
{
    int peak = 0;
    for (int16_t v : s) peak = std::max(peak, std::abs(static_cast<int>(v)));
    return 20 * std::log10(peak / 32767.0);
}

std::vector<int16_t> generate(const TMMSimChannelSignal& ch, uint32_t rate, size_t n)
{
    TMMSimGenerator g;
    g.Reset(&ch, rate);
    std::vector<int16_t> out(n);
    // In uneven pieces, as a device fills headers.
    for (size_t done = 0; done < n;) {
        const size_t k = std::min<size_t>(n - done, 37 + done % 300);
        g.Fill(out.data() + done, k, 1);
        done += k;
    }
    return out;
}

void writeWav(const std::string& path, int channels, const std::vector<int16_t>& interleaved)
{
    std::ofstream f(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
    const uint32_t bytes = static_cast<uint32_t>(interleaved.size() * 2);
    f.write("RIFF", 4);
    u32(36 + bytes + 10);
    f.write("WAVE", 4);
    f.write("LIST", 4);  // a chunk to skip
    u32(2);
    u16(0);
    f.write("fmt ", 4);
    u32(16);
    u16(1);
    u16(static_cast<uint16_t>(channels));
    u32(44100);
    u32(44100u * 2u * static_cast<uint32_t>(channels));
    u16(static_cast<uint16_t>(2 * channels));
    u16(16);
    f.write("data", 4);
    u32(bytes);
    f.write(reinterpret_cast<const char*>(interleaved.data()), bytes);
}

TEST(SimSignal, DefaultsFollowTheDeviceNumber)
{
    EXPECT_EQ(DefaultSimSignalText(1), "sine:997:-3/sine:1499:-4.5");
    EXPECT_EQ(DefaultSimSignalText(12), "sine:997:-36/sine:1499:-37.5");
    TMMSimulatedWaveIn sim;
    EXPECT_EQ(sim.Signal(4), DefaultSimSignalText(5));
}

TEST(SimSignal, LevelsAreAccurate)
{
    const TMMSimSignal s = ParseSimSignal("sine:997:-6/noise:-20");
    EXPECT_NEAR(peakDb(generate(s.left, 44100, 44100)), -6.0, 0.05);
    const auto noise = generate(s.right, 48000, 48000);
    EXPECT_LE(peakDb(noise), -20.0 + 0.01);
    EXPECT_GT(peakDb(noise), -20.5);

    const TMMSimSignal full = ParseSimSignal("sine:1000:0");  // both channels
    EXPECT_EQ(full.right.kind, TMMSimChannelSignal::Sine);
    const auto fs = generate(full.left, 48000, 48000);
    EXPECT_NEAR(peakDb(fs), 0.0, 0.01);  // full scale without wrapping

    const auto silent = generate(ParseSimSignal("silence").left, 44100, 1000);
    for (int16_t v : silent) ASSERT_EQ(v, 0);
}

TEST(SimSignal, GatedToneSwitchesOnTime)
{
    const auto ch = ParseSimSignal("gated:1000:-6:100:50").left;
    const auto s = generate(ch, 48000, 48000);  // 1 s = 6 periods of 150 ms
    // 100 ms on = 4800 frames of tone, then 2400 of silence.
    EXPECT_NEAR(peakDb({s.begin(), s.begin() + 4800}), -6.0, 0.05);
    for (size_t i = 4800; i < 7200; ++i) ASSERT_EQ(s[i], 0) << i;
    EXPECT_NEAR(peakDb({s.begin() + 7200, s.begin() + 12000}), -6.0, 0.05);
}

TEST(SimSignal, FileLoopsOneChannelEach)
{
    const std::string dir = ::testing::TempDir();
    const std::string path = dir + "/tv sim/stereo.wav";
    std::filesystem::create_directories(dir + "/tv sim");
    writeWav(path, 2, {100, -100, 200, -200, 300, -300});
    // The path holds "/": the split is found where a keyword follows.
    const TMMSimSignal s = ParseSimSignal("file:" + path + "/file:" + path);
    const auto l = generate(s.left, 44100, 7);
    const auto r = generate(s.right, 44100, 7);
    EXPECT_EQ(l, (std::vector<int16_t>{100, 200, 300, 100, 200, 300, 100}));
    EXPECT_EQ(r, (std::vector<int16_t>{-100, -200, -300, -100, -200, -300, -100}));
    // One description drives both channels from the matching file channel.
    const TMMSimSignal both = ParseSimSignal("file:" + path);
    EXPECT_EQ(generate(both.right, 44100, 2), (std::vector<int16_t>{-100, -200}));
}

TEST(SimSignal, BadDescriptionsGiveClearErrors)
{
    const char* bad[] = {"", "sine", "sine:abc:-3", "sine:1000", "sine:1000:+3", "sine:-5:-3",
                         "noise", "noise:x", "gated:1000:-6:0:0", "gated:1000:-6:10", "triangle:100:-3",
                         "sine:1000:-3/", "sine:1000:-3/bogus", "file:", "file:/nonexistent/x.wav",
                         "sine:1000:nan", "sine:inf:-3"};
    for (const char* text : bad) {
        try {
            ParseSimSignal(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const ESimSignalError& e) {
            EXPECT_NE(std::string(e.what()), "") << text;
        }
    }
    // Not a WAV file at all.
    const std::string junk = ::testing::TempDir() + "/junk.wav";
    std::ofstream(junk) << "not audio";
    EXPECT_THROW(ParseSimSignal("file:" + junk), ESimSignalError);

    TMMSimulatedWaveIn sim;
    EXPECT_THROW(sim.SetSignal(12, "silence"), ESimSignalError);
    EXPECT_THROW(sim.SetSignal(0, "loud"), ESimSignalError);
    EXPECT_EQ(sim.Signal(0), DefaultSimSignalText(1));  // unchanged after a refusal
}

TEST(SimSignal, InvertedAndPhaseShiftedCopies)
{
    // A leading '-' and a phase of 180 degrees both give left = -right.
    for (const char* text : {"sine:997:-6/-sine:997:-6", "sine:997:-6/sine:997:-6:180"}) {
        const TMMSimSignal s = ParseSimSignal(text);
        const auto l = generate(s.left, 48000, 4800);
        const auto r = generate(s.right, 48000, 4800);
        for (size_t i = 0; i < l.size(); ++i) ASSERT_NEAR(l[i], -r[i], 1) << text << " at " << i;
    }
    // 90 degrees starts at the peak.
    const TMMSimSignal q = ParseSimSignal("sine:1000:0:90");
    EXPECT_EQ(generate(q.left, 48000, 1)[0], 32767);
    // Inverting full negative scale stays in range.
    const std::string path = ::testing::TempDir() + "/tv_full.wav";
    writeWav(path, 1, {-32768, 32767, 0});
    const TMMSimSignal f = ParseSimSignal("-file:" + path);
    EXPECT_EQ(generate(f.left, 44100, 3), (std::vector<int16_t>{32767, -32767, 0}));
    for (const char* bad : {"sine:997:-6:400", "sine:997:-6:x", "-", "--sine:997:-6", "noise:-6:0", "noise:-6:-1",
                            "noise:-6:99999999999"})
        EXPECT_THROW(ParseSimSignal(bad), ESimSignalError) << bad;
}

TEST(SimSignal, NoiseIsIndependentPerChannelUnlessSeeded)
{
    auto corr = [](const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
        double sab = 0, saa = 0, sbb = 0;
        for (size_t i = 0; i < a.size(); ++i) {
            sab += double(a[i]) * b[i];
            saa += double(a[i]) * a[i];
            sbb += double(b[i]) * b[i];
        }
        return sab / std::sqrt(saa * sbb);
    };
    auto channels = [](const std::string& text) {
        const TMMSimSignal s = ParseSimSignal(text);
        TMMSimGenerator gl, gr;
        gl.Reset(&s.left, 48000, 0);
        gr.Reset(&s.right, 48000, 1);
        std::vector<int16_t> l(48000), r(48000);
        gl.Fill(l.data(), l.size(), 1);
        gr.Fill(r.data(), r.size(), 1);
        return std::make_pair(l, r);
    };
    const auto two = channels("noise:-6/noise:-6");
    EXPECT_LT(std::abs(corr(two.first, two.second)), 0.02);
    const auto one = channels("noise:-6");  // one signal on both channels
    EXPECT_EQ(one.first, one.second);
    const auto inv = channels("noise:-6:7/-noise:-6:7");
    EXPECT_NEAR(corr(inv.first, inv.second), -1.0, 1e-6);
}

}  // namespace

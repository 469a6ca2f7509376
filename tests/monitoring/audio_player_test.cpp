// The alarm sound player over the simulated outputs: exact PCM playback,
// MS ADPCM against an encoder's own reconstruction, compressed files through
// libsndfile, refusal of bad files, volume/panning/pitch, Play while playing,
// and an output that vanishes while the sound plays.
#include "audio/MMSimWaveOut.h"
#include "monitoring/MMAudioPlayer.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

void put16(std::vector<uint8_t>& v, uint32_t x)
{
    v.push_back(x & 0xFF);
    v.push_back((x >> 8) & 0xFF);
}
void put32(std::vector<uint8_t>& v, uint32_t x)
{
    put16(v, x & 0xFFFF);
    put16(v, x >> 16);
}

std::vector<uint8_t> waveFile(const std::vector<uint8_t>& fmt, const std::vector<uint8_t>& data, bool dataChunk = true)
{
    std::vector<uint8_t> v = {'R', 'I', 'F', 'F'};
    put32(v, static_cast<uint32_t>(4 + 8 + fmt.size() + (dataChunk ? 8 + data.size() : 0)));
    v.insert(v.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(v, static_cast<uint32_t>(fmt.size()));
    v.insert(v.end(), fmt.begin(), fmt.end());
    if (dataChunk) {
        v.insert(v.end(), {'d', 'a', 't', 'a'});
        put32(v, static_cast<uint32_t>(data.size()));
        v.insert(v.end(), data.begin(), data.end());
    }
    return v;
}

std::vector<uint8_t> pcmFmt(int ch, int rate, int bits = 16, int blockAlign = -1)
{
    std::vector<uint8_t> f;
    put16(f, 1);
    put16(f, static_cast<uint32_t>(ch));
    put32(f, static_cast<uint32_t>(rate));
    const int align = blockAlign >= 0 ? blockAlign : ch * bits / 8;
    put32(f, static_cast<uint32_t>(align * rate));
    put16(f, static_cast<uint32_t>(align));
    put16(f, static_cast<uint32_t>(bits));
    return f;
}

std::string writeFile(const std::string& name, const std::vector<uint8_t>& bytes)
{
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::vector<int16_t> tone(size_t frames, int ch, double hz, int rate = 44100)
{
    std::vector<int16_t> s(frames * static_cast<size_t>(ch));
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < ch; ++c)
            s[i * ch + c] = static_cast<int16_t>(12000 * std::sin(2 * M_PI * hz * (c + 1) * double(i) / rate));
    return s;
}

std::vector<uint8_t> bytesOf(const std::vector<int16_t>& s)
{
    std::vector<uint8_t> b(s.size() * 2);
    std::memcpy(b.data(), s.data(), b.size());
    return b;
}

// An independent MS ADPCM encoder; what it reconstructs is the reference
// decoding.
struct AdpcmFile {
    std::vector<uint8_t> fmt, data;
    std::vector<int16_t> reference;
};

AdpcmFile encodeAdpcm(const std::vector<int16_t>& pcm, int ch, int rate, int blockAlign)
{
    static const int c1[7] = {256, 512, 0, 192, 240, 460, 392};
    static const int c2[7] = {0, -256, 0, 64, 0, -208, -232};
    static const int adapt[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};
    const int spb = (blockAlign - 7 * ch) * 2 / ch + 2;
    AdpcmFile out;
    put16(out.fmt, 2);
    put16(out.fmt, static_cast<uint32_t>(ch));
    put32(out.fmt, static_cast<uint32_t>(rate));
    put32(out.fmt, static_cast<uint32_t>(rate * blockAlign / spb));
    put16(out.fmt, static_cast<uint32_t>(blockAlign));
    put16(out.fmt, 4);
    put16(out.fmt, 32);
    put16(out.fmt, static_cast<uint32_t>(spb));
    put16(out.fmt, 7);
    for (int i = 0; i < 7; ++i) {
        put16(out.fmt, static_cast<uint16_t>(c1[i]));
        put16(out.fmt, static_cast<uint16_t>(c2[i]));
    }
    const size_t frames = pcm.size() / static_cast<size_t>(ch);
    for (size_t start = 0, block = 0; start + static_cast<size_t>(spb) <= frames; start += static_cast<size_t>(spb), ++block) {
        const int pred = static_cast<int>(block % 7);
        std::vector<int> delta(ch, 16 + static_cast<int>(block % 3) * 40), s1(ch), s2(ch);
        std::vector<uint8_t> blk;
        for (int c = 0; c < ch; ++c) blk.push_back(static_cast<uint8_t>(pred));
        for (int c = 0; c < ch; ++c) put16(blk, static_cast<uint16_t>(delta[c]));
        for (int c = 0; c < ch; ++c) {
            s1[c] = pcm[(start + 1) * ch + c];
            s2[c] = pcm[start * ch + c];
        }
        for (int c = 0; c < ch; ++c) put16(blk, static_cast<uint16_t>(s1[c]));
        for (int c = 0; c < ch; ++c) put16(blk, static_cast<uint16_t>(s2[c]));
        for (int c = 0; c < ch; ++c) out.reference.push_back(static_cast<int16_t>(s2[c]));
        for (int c = 0; c < ch; ++c) out.reference.push_back(static_cast<int16_t>(s1[c]));
        std::vector<int> nibbles;
        for (size_t i = 2; i < static_cast<size_t>(spb); ++i)
            for (int c = 0; c < ch; ++c) {
                const int p = (s1[c] * c1[pred] + s2[c] * c2[pred]) / 256;
                const int x = pcm[(start + i) * ch + c];
                int n = static_cast<int>(std::lround(double(x - p) / delta[c]));
                n = std::max(-8, std::min(7, n));
                int r = std::max(-32768, std::min(32767, p + n * delta[c]));
                s2[c] = s1[c];
                s1[c] = r;
                delta[c] = std::max(16, adapt[n & 15] * delta[c] / 256);
                out.reference.push_back(static_cast<int16_t>(r));
                nibbles.push_back(n & 15);
            }
        for (size_t i = 0; i < nibbles.size(); i += 2)
            blk.push_back(static_cast<uint8_t>((nibbles[i] << 4) | (i + 1 < nibbles.size() ? nibbles[i + 1] : 0)));
        blk.resize(static_cast<size_t>(blockAlign), 0);
        out.data.insert(out.data.end(), blk.begin(), blk.end());
    }
    return out;
}

template <typename F> bool pumpUntil(F done, int ms = 5000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        WindowPoster().ProcessMessages();
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
}

struct Rig {
    TMMSimulatedWaveOut sim{4 << 20};
    TMMAudioPlayer player{sim};
    int stops = 0, changes = 0;
    bool openAtStop = true;
    Rig()
    {
        player.setBufferSize(2048);
        player.setNumBuffers(5);
        player.setCallBackMode(cmThread);
        player.OnStop = [this](TMMCustomDSPComponent*) {
            ++stops;
            openAtStop = player.WaveOut().DeviceOpen();
        };
        player.OnChange = [this](TMMCustomDSPComponent*) { ++changes; };
    }
    bool PlayToEnd()
    {
        const int before = stops;
        player.Play();
        return pumpUntil([&] { return stops > before; });
    }
};

std::string audioError(const std::function<void()>& f)
{
    try {
        f();
    } catch (const EMMError& e) {
        return e.what();
    }
    return "";
}

TEST(AudioPlayer, PcmPlaysExactlyOnceAndAgainFromTheStart)
{
    Rig rig;
    const auto pcm = tone(44100 / 5, 2, 440);  // 200 ms
    const std::string path = writeFile("pcm.wav", waveFile(pcmFmt(2, 44100), bytesOf(pcm)));
    rig.player.setFileName(path);
    EXPECT_EQ(rig.changes, 1);
    EXPECT_EQ(rig.player.FileType(), ftWave);
    EXPECT_EQ(rig.player.FileName()[0], '/');
    EXPECT_EQ(rig.player.LengthMs(), 200);
    rig.player.setFileName(rig.player.FileName());  // same path: nothing
    EXPECT_EQ(rig.changes, 1);

    rig.player.Play();
    rig.player.Play();  // while playing: neither restarted nor queued
    ASSERT_TRUE(pumpUntil([&] { return rig.stops == 1; }));
    EXPECT_FALSE(rig.openAtStop);
    EXPECT_EQ(rig.sim.Played(0), bytesOf(pcm));
    EXPECT_EQ(rig.player.Position(), 200);

    rig.sim.ClearPlayed(0);
    ASSERT_TRUE(rig.PlayToEnd());
    EXPECT_EQ(rig.sim.Played(0), bytesOf(pcm));
    EXPECT_EQ(rig.stops, 2);
}

TEST(AudioPlayer, AdpcmMatchesTheReferenceDecoding)
{
    for (int ch : {1, 2}) {
        SCOPED_TRACE(ch);
        Rig rig;
        const auto pcm = tone(20000, ch, 523);
        const AdpcmFile a = encodeAdpcm(pcm, ch, 44100, 256 * ch);
        const std::string path = writeFile("adpcm.wav", waveFile(a.fmt, a.data));
        rig.player.setFileName(path);
        ASSERT_TRUE(rig.PlayToEnd());
        const auto played = rig.sim.Played(0);
        ASSERT_EQ(played.size(), a.reference.size() * 2);
        size_t firstDiff = 0;
        while (firstDiff < played.size() && played[firstDiff] == bytesOf(a.reference)[firstDiff]) ++firstDiff;
        EXPECT_EQ(firstDiff, played.size());
        // The encoder is crude, but the decoding follows the source.
        double err = 0;
        for (size_t i = 0; i < a.reference.size(); ++i) err += std::abs(double(a.reference[i]) - pcm[i]);
        EXPECT_LT(err / double(a.reference.size()), 1000);
    }
}

// A 44.1 kHz sound file for writing through libsndfile; null when it cannot be made.
SNDFILE* createSoundFile(const std::string& path, int channels, int format)
{
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = channels;
    info.format = format;
    return sf_open(path.c_str(), SFM_WRITE, &info);
}

TEST(AudioPlayer, CompressedFilesThroughLibsndfile)
{
    Rig rig;
    const auto pcm = tone(8000, 2, 300);
    const std::string path = ::testing::TempDir() + "alarm.flac";
    SNDFILE* f = createSoundFile(path, 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    sf_writef_short(f, pcm.data(), 8000);
    sf_close(f);
    rig.player.setFileName(path);
    EXPECT_EQ(rig.player.FileType(), ftMpeg);
    ASSERT_TRUE(rig.PlayToEnd());
    EXPECT_EQ(rig.sim.Played(0), bytesOf(pcm));

    // Garbage with a compressed extension is refused.
    const std::string bad = writeFile("bad.mp3", std::vector<uint8_t>(3000, 0x5A));
    EXPECT_EQ(audioError([&] { rig.player.setFileName(bad); }), "This is not a valid Audiofile");
    EXPECT_EQ(rig.player.FileName(), "");
}

TEST(AudioPlayer, CompressedOversClipInsteadOfWrapping)
{
    // Lossy files decode to floats that may pass full scale; a square wave
    // 6 dB over must play as full scale of its own sign, never flipped.
    Rig rig;
    const std::string path = ::testing::TempDir() + "over.ogg";
    SNDFILE* f = createSoundFile(path, 1, SF_FORMAT_OGG | SF_FORMAT_VORBIS);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    std::vector<float> square(44100);
    for (size_t i = 0; i < square.size(); ++i) square[i] = (i / 50) % 2 ? -2.0f : 2.0f;
    sf_writef_float(f, square.data(), static_cast<sf_count_t>(square.size()));
    sf_close(f);
    rig.player.setFileName(path);
    ASSERT_TRUE(rig.PlayToEnd());
    const std::vector<uint8_t>& played = rig.sim.Played(0);
    ASSERT_GE(played.size(), 2 * 40000u);
    int flipped = 0;
    for (size_t i = 4000; i < 40000; ++i) {
        int16_t v;
        std::memcpy(&v, played.data() + 2 * i, 2);
        const size_t phase = i % 100;
        if (phase == 25 && v < 16000) ++flipped;  // mid positive half-period
        if (phase == 75 && v > -16000) ++flipped;
    }
    EXPECT_EQ(flipped, 0);
}

TEST(AudioPlayer, BadFilesLoadNothing)
{
    Rig rig;
    const auto good = waveFile(pcmFmt(2, 44100), bytesOf(tone(1000, 2, 440)));
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> refused = {
        {"text.wav", std::vector<uint8_t>({'h', 'e', 'l', 'l', 'o', '\n'})},
        {"empty.wav", {}},
        {"truncated.wav", std::vector<uint8_t>(good.begin(), good.begin() + 30)},
        {"garbage.wav", std::vector<uint8_t>(5000, 0xA5)},
        {"align0.wav", waveFile(pcmFmt(2, 44100, 16, 0), std::vector<uint8_t>(400, 1))},
        {"wave-as.mp3", good},
        {"huge-fmt.wav", [] {
             std::vector<uint8_t> v = {'R', 'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0x7F, 'W', 'A', 'V', 'E',
                                       'f', 'm', 't', ' ', 0xF0, 0xFF, 0xFF, 0x7F};
             v.resize(200, 0);
             return v;
         }()},
    };
    for (const auto& [name, bytes] : refused) {
        SCOPED_TRACE(name);
        EXPECT_EQ(audioError([&] { rig.player.setFileName(writeFile(name, bytes)); }),
                  "This is not a valid Audiofile");
        EXPECT_EQ(rig.player.FileName(), "");
        EXPECT_EQ(rig.player.FileType(), ftNone);
        rig.player.Play();  // nothing loaded: nothing happens
        EXPECT_FALSE(rig.player.WaveOut().DeviceOpen());
    }
    // Missing files and the empty name load nothing without an error.
    EXPECT_EQ(audioError([&] { rig.player.setFileName("/nonexistent/alarm.wav"); }), "");
    EXPECT_EQ(audioError([&] { rig.player.setFileName(""); }), "");

    if (geteuid() != 0) {
        const std::string locked = writeFile("locked.wav", good);
        chmod(locked.c_str(), 0);
        EXPECT_EQ(audioError([&] { rig.player.setFileName(locked); }), "This is not a valid Audiofile");
    }
}

TEST(AudioPlayer, EmptyOrUnconvertibleDataPlaysNothing)
{
    Rig rig;
    rig.player.setFileName(writeFile("nodata.wav", waveFile(pcmFmt(2, 44100), {}, false)));
    EXPECT_NE(rig.player.FileName(), "");
    rig.player.Play();
    EXPECT_FALSE(rig.player.WaveOut().DeviceOpen());
    rig.player.setFileName(writeFile("emptydata.wav", waveFile(pcmFmt(2, 44100), {})));
    rig.player.Play();
    EXPECT_FALSE(rig.player.WaveOut().DeviceOpen());

    std::vector<uint8_t> mp3fmt = pcmFmt(2, 44100);
    mp3fmt[0] = 0x55;
    rig.player.setFileName(writeFile("mp3inwave.wav", waveFile(mp3fmt, std::vector<uint8_t>(4000, 3))));
    EXPECT_EQ(audioError([&] { rig.player.Play(); }), "Unable to convert to destination format");
    // An ADPCM record with its coefficient table cut off.
    AdpcmFile a = encodeAdpcm(tone(2000, 1, 400), 1, 22050, 256);
    a.fmt.resize(30);
    a.fmt[16] = 12;
    rig.player.setFileName(writeFile("badadpcm.wav", waveFile(a.fmt, a.data)));
    EXPECT_EQ(audioError([&] { rig.player.Play(); }), "Unable to convert to destination format");
    EXPECT_FALSE(rig.player.WaveOut().DeviceOpen());
}

TEST(AudioPlayer, VolumePanningAndPitch)
{
    Rig rig;
    TMMAudioFile& f = rig.player.File();
    f.setVolume(16384);
    f.setPanning(16384);
    EXPECT_EQ(f.LeftGain(), 8192);
    EXPECT_EQ(f.RightGain(), 16384);
    f.setPanning(-32768);
    EXPECT_EQ(f.LeftGain(), 16384);
    EXPECT_EQ(f.RightGain(), 0);

    std::vector<int16_t> pcm(4000);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(i % 2 ? -30000 : 30000);
    rig.player.setFileName(writeFile("loud.wav", waveFile(pcmFmt(2, 44100), bytesOf(pcm))));
    rig.player.setVolume(32768);
    rig.player.setPanning(16384);
    ASSERT_TRUE(rig.PlayToEnd());
    const auto played = rig.sim.Played(0);
    ASSERT_EQ(played.size(), pcm.size() * 2);
    int16_t l, r;
    std::memcpy(&l, played.data(), 2);
    std::memcpy(&r, played.data() + 2, 2);
    EXPECT_EQ(l, 30000);   // gain 16384 of 16384
    EXPECT_EQ(r, -32768);  // doubled and clipped

    TMMPitch p;
    p.setPitch(0);
    EXPECT_EQ(p.Factor(), 65536);
    p.setPitch(50);
    EXPECT_EQ(p.Factor(), 98304);
    p.setPitch(-50);
    EXPECT_EQ(p.Factor(), 32768);
    p.setPitch(25);
    EXPECT_EQ(p.Factor(), 81920);

    rig.sim.ClearPlayed(0);
    rig.player.setVolume(16384);
    rig.player.setPanning(0);
    rig.player.setPitch(50);
    const auto ramp = tone(9000, 2, 100);
    rig.player.setFileName(writeFile("ramp.wav", waveFile(pcmFmt(2, 44100), bytesOf(ramp))));
    ASSERT_TRUE(rig.PlayToEnd());
    const size_t frames = rig.sim.Played(0).size() / 4;
    EXPECT_NEAR(double(frames), 9000 / 1.5, 3);
}

TEST(AudioPlayer, NewFileWhilePlayingStopsTheSound)
{
    Rig rig;
    rig.player.setFileName(writeFile("long.wav", waveFile(pcmFmt(2, 44100), bytesOf(tone(44100, 2, 200)))));
    rig.player.Play();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    rig.player.setFileName(writeFile("short.wav", waveFile(pcmFmt(1, 22050), bytesOf(tone(100, 1, 200)))));
    EXPECT_EQ(rig.stops, 1);
    EXPECT_FALSE(rig.player.WaveOut().DeviceOpen());
    EXPECT_EQ(rig.changes, 2);
    ASSERT_TRUE(rig.PlayToEnd());
}

TEST(AudioPlayer, OutputVanishesWhilePlaying)
{
    Rig rig;
    std::vector<std::string> shown;
    SetApplicationErrorHandler([&](const std::string& t) { shown.push_back(t); });
    const auto pcm = tone(44100, 2, 200);
    rig.player.setFileName(writeFile("vanish.wav", waveFile(pcmFmt(2, 44100), bytesOf(pcm))));
    rig.player.Play();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    rig.sim.Vanish(0);
    ASSERT_TRUE(pumpUntil([&] { return rig.stops == 1; }));
    pumpUntil([] { return false; }, 50);
    EXPECT_EQ(shown.size(), 1u);
    EXPECT_FALSE(rig.player.WaveOut().DeviceOpen());
    EXPECT_NE(rig.player.FileName(), "");
    EXPECT_THROW(rig.player.Play(), EMMWaveOutError);  // still gone
    EXPECT_FALSE(rig.player.WaveOut().DeviceOpen());
    rig.sim.Restore(0);
    rig.sim.ClearPlayed(0);
    rig.player.setPosition(0);
    ASSERT_TRUE(rig.PlayToEnd());
    EXPECT_EQ(rig.sim.Played(0), bytesOf(pcm));
    EXPECT_EQ(shown.size(), 1u);
    SetApplicationErrorHandler(nullptr);
}

}  // namespace

// Which files the alarm player hands to libsndfile: the start of the file must
// show the format its extension names (after an ID3v2 tag), so RIFF/WAVE and
// other bytes never reach it (libsndfile loops forever on some broken RIFF files).
#include "monitoring/MMAudioPlayer.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

int FormatOf(const std::vector<uint8_t>& bytes)
{
    return CompressedFormatOf([&bytes](uint64_t offset, uint8_t* out, size_t n) {
        if (offset > bytes.size() || n > bytes.size() - offset) return false;
        std::memcpy(out, bytes.data() + offset, n);
        return true;
    });
}

std::vector<uint8_t> Id3(size_t body, bool footer)
{
    std::vector<uint8_t> t = {'I', 'D', '3', 4, 0, uint8_t(footer ? 0x10 : 0), 0, 0, uint8_t(body >> 7), uint8_t(body & 0x7F)};
    t.resize(10 + body + (footer ? 10 : 0), 0);
    return t;
}

std::vector<uint8_t> Cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST(CompressedFormat, MagicAfterAnOptionalId3Tag)
{
    const std::vector<uint8_t> frame = {0xFF, 0xFB, 0x90, 0x64};  // MPEG-1 layer III, 128 kbit/s, 44.1 kHz
    EXPECT_EQ(FormatOf(frame), SF_FORMAT_MPEG);
    EXPECT_EQ(FormatOf(Cat(Id3(300, false), frame)), SF_FORMAT_MPEG);
    EXPECT_EQ(FormatOf(Cat(Id3(300, true), frame)), SF_FORMAT_MPEG);
    EXPECT_EQ(FormatOf(Cat(Id3(300, false), {'f', 'L', 'a', 'C'})), SF_FORMAT_FLAC);
    EXPECT_EQ(FormatOf({'O', 'g', 'g', 'S', 0}), SF_FORMAT_OGG);

    EXPECT_EQ(FormatOf({'R', 'I', 'F', 'F', 0x20, 0, 0, 0, 'W', 'A', 'V', 'E'}), 0);
    EXPECT_EQ(FormatOf(Cat(Id3(300, false), {'R', 'I', 'F', 'F'})), 0);
    EXPECT_EQ(FormatOf(Id3(300, false)), 0);                     // the tag and nothing after it
    EXPECT_EQ(FormatOf({0xFF, 0xF9, 0x90, 0x64}), 0);             // layer bits 00
    EXPECT_EQ(FormatOf({0xFF, 0xFB, 0xF0, 0x64}), 0);             // bit rate index 15
    EXPECT_EQ(FormatOf({0xFF, 0xFB, 0x9C, 0x64}), 0);             // sample rate index 3
    EXPECT_EQ(FormatOf({0xFF, 0xEB, 0x90, 0x64}), 0);             // reserved version
    EXPECT_EQ(FormatOf({'f', 'L', 'a'}), 0);
}

TEST(CompressedFormat, TaggedMp3LoadsAndWaveNamedMp3IsRefused)
{
    const std::string dir = ::testing::TempDir();
    const std::string plain = dir + "cf_plain.mp3";
    SF_INFO info{0, 8000, 1, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 0, 0};
    SNDFILE* f = sf_open(plain.c_str(), SFM_WRITE, &info);
    if (!f) GTEST_SKIP() << "libsndfile cannot write MP3 here";
    std::vector<short> tone(4000);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<short>((i % 40) * 500 - 10000);
    sf_writef_short(f, tone.data(), static_cast<sf_count_t>(tone.size()));
    sf_close(f);
    std::ifstream in(plain, std::ios::binary);
    const std::vector<uint8_t> mp3{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};

    const std::string tagged = dir + "cf_tagged.mp3";
    const std::vector<uint8_t> bytes = Cat(Id3(500, false), mp3);
    std::ofstream(tagged, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const TMMAudioReaderClass& sndfile = AudioReaderClasses().front();
    EXPECT_TRUE(sndfile.accepts(plain));
    EXPECT_TRUE(sndfile.accepts(tagged));

    // A RIFF/WAVE file under an MP3 name: refused by the start of the file alone.
    const std::string wave = dir + "cf_wave.mp3";
    const std::vector<uint8_t> riff = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'};
    std::ofstream(wave, std::ios::binary).write(reinterpret_cast<const char*>(riff.data()), riff.size());
    EXPECT_FALSE(sndfile.accepts(wave));
}

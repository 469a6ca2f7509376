// The RIFF/WAVE walk on files built in memory, and reading a real file.
#include "monitoring/MMWave.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

using Bytes = std::string;

Bytes u32(uint32_t v) { return Bytes{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
Bytes u16(uint16_t v) { return Bytes{char(v), char(v >> 8)}; }

Bytes chunk(const char* id, const Bytes& payload, int64_t claimed = -1)
{
    Bytes c = Bytes(id, 4) + u32(claimed < 0 ? uint32_t(payload.size()) : uint32_t(claimed)) + payload;
    if (payload.size() % 2) c += '\0';
    return c;
}

Bytes fmt(uint16_t tag, uint16_t ch, uint32_t rate, uint16_t bits, uint16_t align, uint32_t avg = 0)
{
    return u16(tag) + u16(ch) + u32(rate) + u32(avg) + u16(align) + u16(bits);
}

Bytes pcm16Fmt(uint16_t ch = 1) { return chunk("fmt ", fmt(1, ch, 8000, 16, uint16_t(2 * ch))); }

Bytes riff(const Bytes& body, int64_t claimed = -1)
{
    return "RIFF" + u32(claimed < 0 ? uint32_t(4 + body.size()) : uint32_t(claimed)) + "WAVE" + body;
}

TMMWaveInfo parse(const Bytes& b) { return ParseWaveMemory(reinterpret_cast<const uint8_t*>(b.data()), b.size()); }

std::string errorOf(const Bytes& b)
{
    try {
        parse(b);
    } catch (const EMMWaveError& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(WaveParse, PlainFileAndPcmRepair)
{
    const Bytes data(400, '\x01');
    const Bytes file = riff(chunk("fmt ", fmt(1, 2, 44100, 16, 99, 5)) + chunk("fact", u32(7)) + chunk("data", data));
    const TMMWaveInfo w = parse(file);
    EXPECT_EQ(w.Format.nChannels, 2);
    EXPECT_EQ(w.StoredBlockAlign, 99);
    EXPECT_EQ(w.Format.nBlockAlign, 4);  // repaired
    EXPECT_EQ(w.Format.nAvgBytesPerSec, 4u * 44100);
    EXPECT_EQ(w.DataOffset, file.size() - 400);
    EXPECT_EQ(w.DataLength, 396u);  // whole blocks of the stored alignment 99
    EXPECT_EQ(w.SampleCount, 99u);  // from the length, not the fact chunk
}

TEST(WaveParse, DataRegionIgnoresTheClaimedSize)
{
    const Bytes data(40, '\x02');
    const Bytes list = chunk("LIST", "INFOINAM" + u32(5) + Bytes("tone\0\0", 6));
    // The data chunk's size only steers the walk: the region ends at the
    // header of the chunk the walk finds next...
    Bytes file = riff(pcm16Fmt() + chunk("data", data) + list);
    TMMWaveInfo w = parse(file);
    EXPECT_EQ(w.DataLength, 40u);
    ASSERT_EQ(w.InfoTexts.size(), 1u);
    EXPECT_EQ(w.InfoTexts[0].first, "INAM");
    EXPECT_EQ(w.InfoTexts[0].second, "tone");
    // ... also when the size claims less than is there ...
    file = riff(pcm16Fmt() + chunk("data", Bytes(20, '\x02') + chunk("junk", Bytes(12, 'j')), 20));
    EXPECT_EQ(parse(file).DataLength, 20u);
    // ... and at the end of the file when the claim runs past it.
    file = riff(pcm16Fmt() + chunk("data", data, 0x7FFFFFF0) + list);
    EXPECT_EQ(parse(file).DataLength, 40u + list.size());

    // A recording whose header was never finished (data size 0, RIFF size
    // of an empty file): runs to the end of the file.
    file = riff(pcm16Fmt() + chunk("data", "", 0) + Bytes(50, '\x03'), 36);
    w = parse(file);
    EXPECT_EQ(w.DataLength, 50u);
    // A RIFF size larger than the file is cut to the file.
    file = riff(pcm16Fmt() + chunk("data", Bytes(30, '\x04')), 1 << 30);
    w = parse(file);
    EXPECT_EQ(w.DataLength, 30u);
    // Odd lengths are cut to whole blocks; odd chunks are padded.
    file = riff(chunk("junk", "abc") + pcm16Fmt() + chunk("data", Bytes(31, '\x05')));
    w = parse(file);
    EXPECT_EQ(w.DataLength, 32u);  // to the end of the file: 31 bytes and the pad byte
}

TEST(WaveParse, FirstFormatWinsAndEmptyRegions)
{
    Bytes file = riff(pcm16Fmt(1) + chunk("fmt ", fmt(1, 2, 22050, 8, 2)) + chunk("data", Bytes(8, 0)));
    TMMWaveInfo w = parse(file);
    EXPECT_EQ(w.Format.nChannels, 1);
    EXPECT_EQ(w.Format.nSamplesPerSec, 8000u);
    EXPECT_EQ(w.DataLength, 0u);  // the second format chunk ends the walk: no data chunk seen
    EXPECT_FALSE(w.HasDataChunk);
    EXPECT_EQ(w.NoDataReason, "a second format chunk stands before any data chunk");

    file = riff(pcm16Fmt() + chunk("data", ""));
    w = parse(file);
    EXPECT_TRUE(w.HasDataChunk);
    EXPECT_EQ(w.DataLength, 0u);
    EXPECT_EQ(w.SampleCount, 0u);

    file = riff(pcm16Fmt());  // no data chunk: nothing to play, not the header bytes
    w = parse(file);
    EXPECT_EQ(w.DataLength, 0u);
    EXPECT_EQ(w.NoDataReason, "no data chunk");
    // A format chunk claiming more than the file holds swallows what follows.
    file = riff(chunk("fmt ", fmt(1, 1, 8000, 16, 2), 4000) + chunk("data", Bytes(8, 0)));
    w = parse(file);
    EXPECT_EQ(w.DataLength, 0u);
    EXPECT_NE(w.NoDataReason.find("runs past the end of the file"), std::string::npos);
    EXPECT_TRUE(parse(riff(pcm16Fmt() + chunk("data", Bytes(8, 0)))).NoDataReason.empty());

    // A short format chunk is read as far as it goes, the rest is zero.
    file = riff(chunk("fmt ", Bytes("\x01\x00\x01\x00", 4)) + chunk("data", Bytes(4, 0)));
    EXPECT_NE(errorOf(file).find("block alignment"), std::string::npos);
}

TEST(WaveParse, RefusedFiles)
{
    EXPECT_EQ(errorOf("This is a plain text file, not a wave file.\n"), "Not a RIFF/WAVE file");
    EXPECT_EQ(errorOf("RIFF"), "Not a RIFF/WAVE file");
    EXPECT_EQ(errorOf(""), "Not a RIFF/WAVE file");
    EXPECT_EQ(errorOf("RIFF" + u32(4) + "AVI "), "Not a RIFF/WAVE file");
    EXPECT_EQ(errorOf(riff(chunk("data", Bytes(20, 0)))), "No format chunk");
    EXPECT_EQ(errorOf(riff(chunk("fmt ", fmt(1, 1, 8000, 16, 0)) + chunk("data", Bytes(20, 0)))),
              "Invalid block alignment 0 in the format chunk");
    EXPECT_EQ(errorOf(riff(chunk("fmt ", fmt(1, 0, 8000, 16, 2)) + chunk("data", Bytes(20, 0)))),
              "Invalid block alignment in the format chunk");
    // A format chunk cut by the end of the file is read as far as the file goes.
    Bytes cut = riff(pcm16Fmt() + chunk("data", Bytes(20, 0))).substr(0, 30);
    EXPECT_EQ(errorOf(cut), "Invalid block alignment 0 in the format chunk");  // cut before the field
    cut = riff(pcm16Fmt() + chunk("data", Bytes(20, 0))).substr(0, 40);
    EXPECT_EQ(errorOf(cut), "");  // complete format, no data chunk
    EXPECT_THROW(ParseWaveMemory(nullptr, 10), EMMWaveError);
}

TEST(WaveFile, ReaderAndOpenErrors)
{
    char path[] = "/tmp/tv_wave_testXXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    Bytes samples;
    for (int i = 0; i < 1000; ++i) samples += u16(uint16_t(i));
    const Bytes file = riff(pcm16Fmt() + chunk("data", samples) + chunk("LIST", "INFOICMT" + u32(2) + "x\0"));
    ASSERT_EQ(write(fd, file.data(), file.size()), ssize_t(file.size()));
    close(fd);

    TMMWaveFileReader r;
    r.Open(path);
    EXPECT_EQ(r.Info().DataLength, 2000u);
    std::string got(2500, '\0');
    EXPECT_EQ(r.Read(got.data(), 1500), 1500u);
    EXPECT_EQ(r.Read(got.data() + 1500, 1000), 500u);
    EXPECT_EQ(r.Read(got.data(), 10), 0u);
    EXPECT_EQ(got.substr(0, 2000), samples);
    r.Seek(1998);
    EXPECT_EQ(r.Read(got.data(), 10), 2u);
    unlink(path);

    try {
        ParseWaveFile("/nonexistent/file.wav");
        FAIL();
    } catch (const EMMWaveError& e) {
        EXPECT_NE(std::string(e.what()).find("Cannot open /nonexistent/file.wav"), std::string::npos);
    }
    EXPECT_THROW(ParseWaveFile("/tmp"), EMMWaveError);  // a folder
    EXPECT_THROW(r.Open("/nonexistent"), EMMWaveError);
    EXPECT_FALSE(r.IsOpen());
}

#include "audio/MMAlloc.h"
#include "audio/MMUtils.h"

#include <gtest/gtest.h>

namespace {

WaveFormat pcm(int bits, int channels, int rate)
{
    WaveFormat f;
    BuildPcmFormat(f, bits, channels, rate);
    return f;
}

TEST(WaveFormat, BuildAndValidate)
{
    const auto cd = pcm(16, 2, 44100);
    EXPECT_EQ(cd.nBlockAlign, 4);
    EXPECT_EQ(cd.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(pcm(16, 2, 48000).nAvgBytesPerSec, 192000u);
    const auto low = pcm(8, 1, 11025);
    EXPECT_EQ(low.nBlockAlign, 1);
    EXPECT_EQ(low.nAvgBytesPerSec, 11025u);

    EXPECT_FALSE(IsValidPcmFormat(nullptr));
    auto three = pcm(16, 3, 44100);
    EXPECT_FALSE(IsValidPcmFormat(&three));
    auto deep = pcm(24, 2, 44100);
    EXPECT_FALSE(IsValidPcmFormat(&deep));
    auto slow = pcm(16, 2, 3999), fast = pcm(16, 2, 100001);
    EXPECT_FALSE(IsValidPcmFormat(&slow));
    EXPECT_FALSE(IsValidPcmFormat(&fast));
    auto quad = pcm(16, 4, 44100), top = pcm(16, 2, 100000);
    EXPECT_TRUE(IsValidPcmFormat(&quad));
    EXPECT_TRUE(IsValidPcmFormat(&top));
    auto other = cd;
    other.wFormatTag = 2;
    EXPECT_FALSE(IsValidPcmFormat(&other));

    EXPECT_EQ(SilenceValue(&low), 128);
    EXPECT_EQ(SilenceValue(&cd), 0);
    EXPECT_EQ(SilenceValue(nullptr), 0);
}

TEST(WaveFormat, SizeAndCopy)
{
    auto f = pcm(16, 2, 44100);
    f.cbSize = 0xBEEF;  // garbage in a PCM record
    EXPECT_EQ(WaveFormatSize(&f), 18);
    auto copy = CopyWaveFormat(&f);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->cbSize, 0);
    EXPECT_EQ(copy->nAvgBytesPerSec, 176400u);
    EXPECT_FALSE(CopyWaveFormat(nullptr));
    EXPECT_EQ(WaveFormatSize(nullptr), 0);

    // A non-PCM record carries its extra data along.
    alignas(8) unsigned char raw[18 + 4] = {};
    auto* adpcm = reinterpret_cast<WaveFormat*>(raw);
    adpcm->wFormatTag = 2;
    adpcm->cbSize = 4;
    raw[18] = 0xAA;
    raw[21] = 0x55;
    EXPECT_EQ(WaveFormatSize(adpcm), 22);
    auto c2 = CopyWaveFormat(adpcm);
    ASSERT_TRUE(c2);
    EXPECT_EQ(c2->cbSize, 4);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(c2.get())[18], 0xAA);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(c2.get())[21], 0x55);
}

TEST(WaveFormat, ConversionsRoundHalfUp)
{
    const auto f = pcm(16, 2, 44100);
    EXPECT_EQ(BytesToMs(&f, 2048), 12);
    EXPECT_EQ(BytesToSamples(&f, 2048), 512);
    EXPECT_EQ(BytesToSamples(&f, 2), 1);  // half a frame goes up
    EXPECT_EQ(MsToBytes(&f, 10), 1764);
    EXPECT_EQ(MsToBytes(&f, 1), 176);
    EXPECT_EQ(SamplesToBytes(&f, 1), 4);
    EXPECT_EQ(SamplesToMs(&f, 44100), 1000);
    EXPECT_EQ(MsToSamples(&f, 1000), 44100);
    EXPECT_EQ(MsToBytes(&f, 1000), 176400);

    const auto g = pcm(16, 2, 48000);
    EXPECT_EQ(BytesToMs(&g, 2048), 11);
    EXPECT_EQ(MsToBytes(&g, 5), 960);

    // No format, no division by zero.
    EXPECT_EQ(BytesToMs(nullptr, 2048), 0);
    EXPECT_EQ(MsToBytes(nullptr, 10), 0);
    WaveFormat empty;
    EXPECT_EQ(BytesToSamples(&empty, 100), 0);
    // Large values keep a 64-bit intermediate.
    EXPECT_EQ(MsToBytes(&g, 3600000), 691200000);
}

TEST(WaveFormat, RealBufferSize)
{
    const auto f = pcm(16, 2, 44100);
    EXPECT_EQ(RealBufferSize(2050, &f), 2048);
    EXPECT_EQ(RealBufferSize(2, &f), 4);
    EXPECT_EQ(RealBufferSize(2048, nullptr), 2048);
    EXPECT_EQ(AlignToFrames(&f, 5), 8);
    EXPECT_EQ(AlignToFrames(&f, 8), 8);
}

TEST(WaveFormat, DeviceIdWords)
{
    EXPECT_EQ(DeviceIdToString(-1), "MapperId");
    EXPECT_EQ(DeviceIdToString(-2), "InvalidId");
    EXPECT_EQ(DeviceIdToString(3), "3");
    EXPECT_EQ(DeviceIdFromString("mapperid"), MapperId);
    EXPECT_EQ(DeviceIdFromString("INVALIDID"), InvalidId);
    EXPECT_EQ(DeviceIdFromString("7"), 7);
    EXPECT_EQ(DeviceIdFromString("7x"), InvalidId);
    EXPECT_EQ(DeviceIdFromString(""), InvalidId);
}

TEST(Allocator, ReusesFreeBlocksFirstExactThenLarger)
{
    TMMAllocator pool;
    void* a = pool.Allocate(TMMAllocator::GMEM_FIXED_ZEROINIT, 2108);
    void* b = pool.Allocate(TMMAllocator::GMEM_FIXED_ZEROINIT, 2108);
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b);
    EXPECT_EQ(static_cast<unsigned char*>(a)[2107], 0);
    void* released = a;
    pool.Release(a);
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(pool.Allocate(0, 2108), released);

    pool.Release(b);
    void* small = pool.Allocate(0, 1000);  // only a free 2108-byte block: take it
    EXPECT_NE(small, nullptr);
    EXPECT_EQ(pool.Count(), 2u);
    void* big = pool.Allocate(0, 3000);  // nothing free is large enough
    EXPECT_NE(big, nullptr);
    EXPECT_EQ(pool.Count(), 3u);

    int foreign = 0;
    void* p = &foreign;
    pool.Release(p);  // not the pool's: ignored, left as is
    EXPECT_EQ(p, &foreign);
    pool.FreeAll();
    EXPECT_EQ(pool.Count(), 0u);
    pool.FreeAll();  // empty pool: nothing happens
}

}  // namespace

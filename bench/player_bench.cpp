// One refill of a 2048-byte playback buffer through the alarm player's chain:
// file -> MS ADPCM decoding -> volume and panning -> pitch 0. Target: <= 20 us.
#include "monitoring/MMAudioPlayer.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
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

// Ten seconds of stereo MS ADPCM at 44.1 kHz with random nibbles.
std::string makeFile()
{
    const int ch = 2, align = 1024, spb = (align - 7 * ch) * 2 / ch + 2;
    std::vector<uint8_t> fmt;
    put16(fmt, 2);
    put16(fmt, ch);
    put32(fmt, 44100);
    put32(fmt, 44100 * align / spb);
    put16(fmt, align);
    put16(fmt, 4);
    put16(fmt, 32);
    put16(fmt, spb);
    put16(fmt, 7);
    const int c1[7] = {256, 512, 0, 192, 240, 460, 392}, c2[7] = {0, -256, 0, 64, 0, -208, -232};
    for (int i = 0; i < 7; ++i) {
        put16(fmt, static_cast<uint16_t>(c1[i]));
        put16(fmt, static_cast<uint16_t>(c2[i]));
    }
    std::mt19937 rng(7);
    std::vector<uint8_t> data;
    for (int b = 0; b < 44100 * 10 / spb; ++b) {
        for (int c = 0; c < ch; ++c) data.push_back(static_cast<uint8_t>(b % 7));
        for (int c = 0; c < ch; ++c) put16(data, 200);
        for (int c = 0; c < 4 * ch; ++c) data.push_back(0);
        for (int i = 7 * ch; i < align; ++i) data.push_back(static_cast<uint8_t>(rng()));
    }
    std::vector<uint8_t> f = {'R', 'I', 'F', 'F'};
    put32(f, static_cast<uint32_t>(4 + 8 + fmt.size() + 8 + data.size()));
    f.insert(f.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(f, static_cast<uint32_t>(fmt.size()));
    f.insert(f.end(), fmt.begin(), fmt.end());
    f.insert(f.end(), {'d', 'a', 't', 'a'});
    put32(f, static_cast<uint32_t>(data.size()));
    f.insert(f.end(), data.begin(), data.end());
    const std::string path = "/tmp/tarvolin_player_bench.wav";
    std::FILE* out = std::fopen(path.c_str(), "wb");
    std::fwrite(f.data(), 1, f.size(), out);
    std::fclose(out);
    return path;
}

void BM_RefillAdpcmVolumePanPitch0(benchmark::State& state)
{
    const std::string path = makeFile();
    TMMAudioFile file;
    TMMPitch pitch;
    file.setOutput(&pitch);
    file.SetReader(AudioReaderClasses().back().open(path));
    file.setVolume(12000);
    file.setPanning(-5000);
    pitch.setPitch(0);
    file.Opened();
    pitch.Opened();
    std::vector<uint8_t> block(sizeof(WaveHdr) + 2048);
    auto* hdr = reinterpret_cast<WaveHdr*>(block.data());
    hdr->lpData = reinterpret_cast<char*>(block.data() + sizeof(WaveHdr));
    for (auto _ : state) {
        hdr->dwBufferLength = 2048;
        hdr->dwBytesRecorded = 0;
        bool more = false;
        pitch.BufferLoad(hdr, more);
        benchmark::DoNotOptimize(hdr->lpData[0]);
        if (!more) {
            state.PauseTiming();
            file.SeekFrames(0);
            file.Started();
            state.ResumeTiming();
        }
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_RefillAdpcmVolumePanPitch0)->Unit(benchmark::kMicrosecond);

}  // namespace

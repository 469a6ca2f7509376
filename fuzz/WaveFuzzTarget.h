// One fuzz input: the RIFF/WAVE walk over a memory block, then, when it
// yields a PCM format a level bar accepts, the data region metered block by
// block. Shared by the libFuzzer target and the corpus replay test.
#pragma once

#include "metering/MMLevel.h"
#include "monitoring/MMAdpcm.h"
#include "monitoring/MMAudioPlayer.h"
#include "monitoring/MMWave.h"

#include <sndfile.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>
#include <algorithm>

// MS ADPCM decoding of every block of the data region.
inline void FuzzAdpcm(const TMMWaveInfo& info, const uint8_t* data)
{
    TMMAdpcmDecoder dec;
    if (!dec.Setup(info.FormatRecord.data(), info.FormatRecord.size())) return;
    std::vector<int16_t> out(size_t(dec.SamplesPerBlock()) * size_t(dec.Channels()));
    const uint8_t* p = data + info.DataOffset;
    for (uint64_t left = info.DataLength; left > 0;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(left, dec.BlockAlign()));
        if (dec.DecodeBlock(p, n, out.data()) > dec.SamplesPerBlock()) std::abort();
        p += n;
        left -= n;
    }
}

// The compressed-file path: libsndfile reading the bytes as a file, to
// 16-bit samples, as the player's MP3/FLAC/Ogg reader does; like the player,
// only when they start as MP3, FLAC or Ogg.
struct FuzzMemoryFile {
    const uint8_t* data;
    sf_count_t size, pos;
};

inline void FuzzSndfile(const uint8_t* data, size_t size)
{
    const int shown = CompressedFormatOf([data, size](uint64_t offset, uint8_t* out, size_t n) {
        if (offset > size || n > size - offset) return false;
        std::memcpy(out, data + offset, n);
        return true;
    });
    if (shown == 0) return;
    SF_VIRTUAL_IO io{};
    io.get_filelen = [](void* u) { return static_cast<FuzzMemoryFile*>(u)->size; };
    io.seek = [](sf_count_t off, int whence, void* u) {
        auto* m = static_cast<FuzzMemoryFile*>(u);
        const sf_count_t base = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? m->size : 0;
        const sf_count_t to = base + off;
        if (to < 0 || to > m->size) return sf_count_t(-1);
        return m->pos = to;
    };
    io.read = [](void* ptr, sf_count_t n, void* u) {
        auto* m = static_cast<FuzzMemoryFile*>(u);
        const sf_count_t k = std::max<sf_count_t>(0, std::min(n, m->size - m->pos));
        if (k) std::memcpy(ptr, m->data + m->pos, static_cast<size_t>(k));
        m->pos += k;
        return k;
    };
    io.write = [](const void*, sf_count_t, void*) { return sf_count_t(0); };
    io.tell = [](void* u) { return static_cast<FuzzMemoryFile*>(u)->pos; };
    FuzzMemoryFile mem{data, static_cast<sf_count_t>(size), 0};
    SF_INFO info{};
    SNDFILE* f = sf_open_virtual(&io, SFM_READ, &info, &mem);
    if (!f) return;
    if (info.channels >= 1 && info.channels <= 2) {
        short buf[2048];
        for (int i = 0; i < 64 && sf_readf_short(f, buf, 1024 / info.channels) > 0; ++i) {
        }
    }
    sf_close(f);
}

inline void FuzzWaveOnce(const uint8_t* data, size_t size)
{
    FuzzSndfile(data, size);
    TMMWaveInfo info;
    try {
        info = ParseWaveMemory(data, size);
    } catch (const EMMWaveError&) {
        return;
    }
    // What the walk promises its users.
    if (info.DataOffset > size || info.DataLength > size - info.DataOffset) std::abort();
    if (info.StoredBlockAlign == 0 || info.DataLength % info.StoredBlockAlign != 0) std::abort();
    if (info.FormatRecord.size() < sizeof(WaveFormat)) std::abort();
    if (info.Format.wFormatTag == WAVE_FORMAT_PCM && info.Format.nBlockAlign == 0) std::abort();
    if (info.Format.wFormatTag == TMMAdpcmDecoder::Tag) FuzzAdpcm(info, data);

    // The previous run's bar is kept so that the shared level-to-spot table (32768
    // logarithms) is not built again for every input.
    static std::unique_ptr<TMMCustomLevel> previous;
    auto bar = std::make_unique<TMMCustomLevel>();
    TMMCustomLevel& level = *bar;
    try {
        level.SetWaveFormat(&info.Format);
    } catch (const EMMLevelError&) {
        return;
    }
    level.setSamples(7);
    level.setChannel(static_cast<TMMChannel>(size % 3));
    level.setIntegralOn(size & 1);
    level.setIntegralLength(3);
    level.setDecayMode(static_cast<TMMDecayMode>(size % 4));
    level.setDecay(static_cast<int>(size % 17));
    const size_t block = static_cast<size_t>(level.BlockBytes());
    const uint8_t* p = data + info.DataOffset;
    for (uint64_t left = info.DataLength; left >= block; left -= block, p += block) {
        level.ProcessBlock(p);
        level.PeakTick();
    }
    if (level.BarSpots() < 0 || level.BarSpots() > level.NumSpots()) std::abort();
    level.DrawLevel();
    previous = std::move(bar);
}

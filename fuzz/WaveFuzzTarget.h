// One fuzz input: the RIFF/WAVE walk over a memory block, then, when it
// yields a PCM format a level bar accepts, the data region metered block by
// block. Shared by the libFuzzer target and the corpus replay test.
#pragma once

#include "metering/MMLevel.h"
#include "monitoring/MMWave.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

inline void FuzzWaveOnce(const uint8_t* data, size_t size)
{
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

    TMMCustomLevel level;
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
}

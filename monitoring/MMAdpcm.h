// MS ADPCM (format tag 2) decoding to 16-bit PCM, one block at a time.
#pragma once

#include "audio/MMUtils.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class TMMAdpcmDecoder {
public:
    static constexpr uint16_t Tag = 2;

    // Reads the format record (WAVEFORMATEX + samples per block, the
    // coefficient table). False for a record it cannot decode: wrong tag, not
    // 1 or 2 channels, a block too small for its headers, a sample count the
    // block cannot hold, or a coefficient table that is missing or cut short.
    bool Setup(const uint8_t* record, size_t size);
    bool Valid() const { return mValid; }
    // 16-bit PCM, same channels and rate.
    const WaveFormat& OutputFormat() const { return mOut; }
    int Channels() const { return mChannels; }
    uint32_t BlockAlign() const { return mBlockAlign; }
    uint32_t SamplesPerBlock() const { return mSamplesPerBlock; }

    // Decodes one block of `bytes` (≤ BlockAlign; a short last block gives
    // fewer frames) into `out` (room for SamplesPerBlock frames). Returns
    // the frames written; 0 when the block is shorter than its headers.
    size_t DecodeBlock(const uint8_t* in, size_t bytes, int16_t* out) const;

private:
    bool mValid = false;
    int mChannels = 0;
    uint32_t mBlockAlign = 0;
    uint32_t mSamplesPerBlock = 0;
    std::vector<int16_t> mCoef1, mCoef2;
    WaveFormat mOut;
};

#include "monitoring/MMAdpcm.h"

#include <algorithm>
#include <cstring>

namespace {

const int kAdapt[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};

int16_t rd16(const uint8_t* p) { return static_cast<int16_t>(p[0] | (p[1] << 8)); }

struct Channel {
    int coef1 = 0, coef2 = 0, delta = 16, s1 = 0, s2 = 0;
    int16_t Next(int nibble)
    {
        const int signedNibble = nibble >= 8 ? nibble - 16 : nibble;
        int pred = (s1 * coef1 + s2 * coef2) / 256 + signedNibble * delta;
        pred = std::clamp(pred, -32768, 32767);
        s2 = s1;
        s1 = pred;
        // Capped so that garbage blocks cannot overflow.
        delta = std::clamp(kAdapt[nibble] * delta / 256, 16, 1 << 21);
        return static_cast<int16_t>(pred);
    }
};

}  // namespace

bool TMMAdpcmDecoder::Setup(const uint8_t* record, size_t size)
{
    mValid = false;
    if (!record || size < 22) return false;
    WaveFormat f;
    std::memcpy(&f, record, sizeof f);
    if (f.wFormatTag != Tag || (f.nChannels != 1 && f.nChannels != 2) || f.nSamplesPerSec == 0) return false;
    const uint32_t ch = f.nChannels;
    if (f.nBlockAlign < 7 * ch + 1) return false;
    const uint16_t spb = static_cast<uint16_t>(record[18] | (record[19] << 8));
    const uint32_t maxSpb = (f.nBlockAlign - 7 * ch) * 2 / ch + 2;
    if (spb < 2 || spb > maxSpb) return false;
    const uint16_t numCoef = static_cast<uint16_t>(record[20] | (record[21] << 8));
    if (numCoef == 0 || numCoef > 256 || size < 22 + size_t(numCoef) * 4) return false;
    mCoef1.resize(numCoef);
    mCoef2.resize(numCoef);
    for (size_t i = 0; i < numCoef; ++i) {
        mCoef1[i] = rd16(record + 22 + 4 * i);
        mCoef2[i] = rd16(record + 24 + 4 * i);
    }
    mChannels = static_cast<int>(ch);
    mBlockAlign = f.nBlockAlign;
    mSamplesPerBlock = spb;
    BuildPcmFormat(mOut, 16, mChannels, static_cast<int>(f.nSamplesPerSec));
    mValid = true;
    return true;
}

size_t TMMAdpcmDecoder::DecodeBlock(const uint8_t* in, size_t bytes, int16_t* out) const
{
    if (!mValid) return 0;
    const size_t ch = static_cast<size_t>(mChannels);
    bytes = std::min<size_t>(bytes, mBlockAlign);
    if (bytes < 7 * ch) return 0;
    Channel c[2];
    for (size_t k = 0; k < ch; ++k) {
        const size_t idx = std::min<size_t>(in[k], mCoef1.size() - 1);
        c[k].coef1 = mCoef1[idx];
        c[k].coef2 = mCoef2[idx];
        c[k].delta = rd16(in + ch + 2 * k);
        c[k].s1 = rd16(in + 3 * ch + 2 * k);
        c[k].s2 = rd16(in + 5 * ch + 2 * k);
    }
    for (size_t k = 0; k < ch; ++k) {
        out[k] = static_cast<int16_t>(c[k].s2);
        out[ch + k] = static_cast<int16_t>(c[k].s1);
    }
    size_t frames = 2;
    size_t sample = 0;  // nibbles decoded after the two header frames
    const size_t total = (mSamplesPerBlock - 2) * ch;
    for (size_t i = 7 * ch; i < bytes && sample < total; ++i) {
        const int hi = in[i] >> 4, lo = in[i] & 0x0F;
        out[2 * ch + sample] = c[sample % ch].Next(hi);
        ++sample;
        if (sample < total) {
            out[2 * ch + sample] = c[sample % ch].Next(lo);
            ++sample;
        }
    }
    frames += sample / ch;
    return frames;
}

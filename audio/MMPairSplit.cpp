#include "audio/MMPairSplit.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// The stream whose Write runs on this thread (its notifications may halt taps).
thread_local const TMMSharedCapture* tlWriting = nullptr;

}  // namespace

int PairCount(int channels) { return channels > 2 ? (channels + 1) / 2 : 0; }
int PairFirstChannel(int pair) { return 2 * pair; }
int PairWidth(int channels, int pair) { return 2 * pair + 1 < channels ? 2 : 1; }

std::string PairName(const std::string& device, int channels, int pair)
{
    const int first = PairFirstChannel(pair) + 1;
    if (PairWidth(channels, pair) == 1) return device + " (" + std::to_string(first) + ")";
    return device + " (" + std::to_string(first) + "-" + std::to_string(first + 1) + ")";
}

void CopyChannels(const int16_t* in, size_t frames, int channels, int first, int width, int16_t* out,
                  int outChannels)
{
    const int16_t* p = in + first;
    const auto stride = static_cast<size_t>(channels);
    if (width == 2 && outChannels == 2) {
        // Four frames per step: independent loads the CPU can overlap.
        size_t f = 0;
        for (; f + 4 <= frames; f += 4) {
            uint32_t v[4];
            std::memcpy(&v[0], p + (f + 0) * stride, 4);
            std::memcpy(&v[1], p + (f + 1) * stride, 4);
            std::memcpy(&v[2], p + (f + 2) * stride, 4);
            std::memcpy(&v[3], p + (f + 3) * stride, 4);
            std::memcpy(out + 2 * f, v, sizeof v);
        }
        for (; f < frames; ++f) std::memcpy(out + 2 * f, p + f * stride, 4);
        return;
    }
    for (size_t f = 0; f < frames; ++f, p += stride)
        for (int c = 0; c < outChannels; ++c) *out++ = p[c < width ? c : width - 1];
}

namespace {

inline int16_t floatTo16(float x)
{
    const float v = x * 32767.0f;
    return v >= 32767.0f ? int16_t{32767} : v <= -32768.0f ? int16_t{-32768} : v == v ? static_cast<int16_t>(v) : int16_t{0};
}

}  // namespace

void FloatPlanesTo16(const float* const* in, size_t frames, int channels, int16_t* out)
{
    const auto stride = static_cast<size_t>(channels);
    for (int c = 0; c < channels; ++c) {
        const float* src = in[c];
        int16_t* dst = out + c;
        size_t f = 0;
#ifdef __SSE2__
        // Four samples a step: clip (max/min give the bound for NaN), zero
        // NaN, truncate: the scalar rule, without its branches.
        const __m128 scale = _mm_set1_ps(32767.0f), lo = _mm_set1_ps(-32768.0f), hi = _mm_set1_ps(32767.0f);
        for (; f + 4 <= frames; f += 4) {
            const __m128 v = _mm_mul_ps(_mm_loadu_ps(src + f), scale);
            const __m128 clipped = _mm_and_ps(_mm_min_ps(_mm_max_ps(v, lo), hi), _mm_cmpeq_ps(v, v));
            alignas(16) int32_t q[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(q), _mm_cvttps_epi32(clipped));
            dst[(f + 0) * stride] = static_cast<int16_t>(q[0]);
            dst[(f + 1) * stride] = static_cast<int16_t>(q[1]);
            dst[(f + 2) * stride] = static_cast<int16_t>(q[2]);
            dst[(f + 3) * stride] = static_cast<int16_t>(q[3]);
        }
#endif
        for (; f < frames; ++f) dst[f * stride] = floatTo16(src[f]);
    }
}

void SplitPairs(const int16_t* in, size_t frames, int channels, int16_t* const* outs)
{
    const int pairs = channels / 2;
    for (int q = 0; q < pairs; ++q) CopyChannels(in, frames, channels, 2 * q, 2, outs[q], 2);
}

bool TMMSharedCapture::Attach(TMMPairTap* tap)
{
    tap->state.store(TMMPairTap::Idle);
    for (auto& slot : mTaps) {
        TMMPairTap* expected = nullptr;
        if (slot.compare_exchange_strong(expected, tap)) return true;
    }
    return false;
}

void TMMSharedCapture::Detach(TMMPairTap* tap)
{
    tap->state.store(TMMPairTap::Idle);
    for (auto& slot : mTaps) {
        TMMPairTap* t = tap;
        slot.compare_exchange_strong(t, nullptr);
    }
    Quiesce();
}

void TMMSharedCapture::Arm(TMMPairTap* tap)
{
    if (tap->state.load() == TMMPairTap::Idle) tap->state.store(TMMPairTap::Armed, std::memory_order_release);
}

void TMMSharedCapture::Halt(TMMPairTap* tap)
{
    tap->state.store(TMMPairTap::Idle);
    Quiesce();
}

void TMMSharedCapture::Quiesce()
{
    if (tlWriting == this) return;
    const uint64_t s = mSeq.load();
    if ((s & 1) == 0) return;
    while (mSeq.load() == s) std::this_thread::sleep_for(std::chrono::microseconds(50));
}

int TMMSharedCapture::Taps() const
{
    int n = 0;
    for (auto& slot : mTaps)
        if (slot.load()) ++n;
    return n;
}

bool TMMSharedCapture::AnyStarted() const
{
    for (auto& slot : mTaps)
        if (TMMPairTap* t = slot.load(); t && t->state.load() != TMMPairTap::Idle) return true;
    return false;
}

int TMMSharedCapture::HighestChannel() const
{
    int n = 0;
    for (auto& slot : mTaps)
        if (TMMPairTap* t = slot.load(); t && t->LastChannel() > n) n = t->LastChannel();
    return n;
}

uint64_t TMMSharedCapture::Overrun() const
{
    uint64_t n = 0;
    for (auto& slot : mTaps)
        if (TMMPairTap* t = slot.load()) n += t->queue.Overrun();
    return n;
}

void TMMSharedCapture::Lose()
{
    // Like a Write: a Halt or Detach on another thread waits until it ends.
    // Only the taps still started are taken from the writing side; one that
    // was halted belongs to the halting thread, which returns its headers.
    mSeq.fetch_add(1);
    const TMMSharedCapture* saved = tlWriting;
    tlWriting = this;
    for (auto& slot : mTaps) {
        TMMPairTap* t = slot.load();
        if (!t) continue;
        t->gone.store(true);
        if (t->state.exchange(TMMPairTap::Idle) != TMMPairTap::Idle) t->queue.ReturnAll();
    }
    tlWriting = saved;
    mSeq.fetch_add(1);
}

void TMMSharedCapture::Restart()
{
    mFrames = 0;
    for (auto& slot : mTaps) {
        TMMPairTap* t = slot.load();
        if (!t || t->state.load() != TMMPairTap::Running) continue;
        t->queue.DropPartial();
        t->state.store(TMMPairTap::Armed);
    }
}

void TMMSharedCapture::Write(const int16_t* in, size_t frames, int channels)
{
    // Sequentially consistent, as Halt's store of the state and load of the
    // sequence: either Halt sees this Write under way, or this Write sees the
    // tap halted.
    mSeq.fetch_add(1);
    const TMMSharedCapture* saved = tlWriting;
    tlWriting = this;
    for (auto& slot : mTaps) {
        TMMPairTap* t = slot.load(std::memory_order_acquire);
        if (!t || t->LastChannel() > channels) continue;
        int st = t->state.load();
        size_t from = 0;
        if (st == TMMPairTap::Armed) {
            // Start where the stream position reaches the tap's grid.
            const uint64_t grid = t->gridFrames ? t->gridFrames : 1;
            const uint64_t skip = (grid - mFrames % grid) % grid;
            if (skip >= frames) continue;
            from = static_cast<size_t>(skip);
            int armed = TMMPairTap::Armed;
            if (!t->state.compare_exchange_strong(armed, TMMPairTap::Running)) continue;
            st = TMMPairTap::Running;
        }
        if (st != TMMPairTap::Running) continue;
        const size_t n = frames - from;
        const int16_t* src = in + from * static_cast<size_t>(channels);
        const int first = t->first, width = t->width, outCh = t->outChannels;
        t->frames.fetch_add(n, std::memory_order_relaxed);
        t->queue.WriteFrames(n, t->FrameBytes(), [&](char* dst, size_t at, size_t count) {
            CopyChannels(src + at * static_cast<size_t>(channels), count, channels, first, width,
                         reinterpret_cast<int16_t*>(dst), outCh);
        });
    }
    mFrames += frames;
    tlWriting = saved;
    mSeq.fetch_add(1, std::memory_order_release);
}

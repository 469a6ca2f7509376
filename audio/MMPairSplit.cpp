#include "audio/MMPairSplit.h"

#include <chrono>
#include <cstring>
#include <thread>

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

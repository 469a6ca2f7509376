// The wave-out device-operations table: the playback operations an output
// back end provides (count, capabilities, error text, open/close with
// confirmations, prepare/write buffers, pause/restart/reset, position), and
// the queue both output back ends use to play the written headers in order.
#pragma once

#include "audio/MMWaveInDevice.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using HWAVEOUT = uintptr_t;  // 0 = no device; handles are never reused

// Notification messages.
constexpr uint32_t WOM_OPEN = 0x3BB;
constexpr uint32_t WOM_CLOSE = 0x3BC;
constexpr uint32_t WOM_DONE = 0x3BD;

using WaveOutCaps = WaveCaps;

// Called by the back end in its own context (audio or device thread, or the
// caller's thread for confirmations and for returns by reset). Must not block.
using TWaveOutNotify = void (*)(HWAVEOUT h, uint32_t msg, void* instance, PWaveHdr hdr);

class TMMWaveOutDevice : public TMMWaveDevice {
public:
    // Queues dwBufferLength bytes; any thread, never blocks. The header comes
    // back marked done through WOM_DONE once played.
    virtual MMRESULT Write(HWAVEOUT h, PWaveHdr hdr) = 0;
    virtual MMRESULT Pause(HWAVEOUT h) = 0;
    virtual MMRESULT Restart(HWAVEOUT h) = 0;

    // The output devices, the default device (-1) first.
    std::vector<TMMDeviceInfo> OutputDevices() { return Devices(); }
};

// The written headers of one open output and the header being played.
// Write (Add) runs on any thread; Read and the Return* calls run on one
// context at a time (the device's own, or the caller's once it is halted).
// No allocation after construction.
class TMMPlaybackQueue : public TMMStreamBinding {
public:
    static constexpr size_t MaxBuffers = 1024;
    TMMPlaybackQueue() : mQueue(MaxBuffers) {}

    bool Add(PWaveHdr hdr)
    {
        hdr->dwFlags &= ~WHDR_DONE;
        hdr->dwUser = 0;  // bytes played of this header
        if (!mQueue.Push(hdr)) return false;
        mPending.fetch_add(1, std::memory_order_acq_rel);
        return true;
    }
    // Copies up to `bytes` played bytes into `out` (null: discards them);
    // every emptied header goes back. With `hold` > 0 the header that
    // empties the queue comes back only after `hold` more bytes were asked
    // for (the device's latency, so that its data has been heard), or as
    // soon as another header follows. Returns the bytes taken; the rest of
    // `out` is left for the caller to fill with silence.
    size_t Read(uint8_t* out, size_t bytes, size_t hold = 0)
    {
        size_t taken = 0;
        if (mCurrent && mCurrent->dwUser >= mCurrent->dwBufferLength) {  // held
            PWaveHdr next = nullptr;
            if (!mQueue.Pop(next)) {
                mHeld = bytes >= mHeld ? 0 : mHeld - bytes;
                if (mHeld == 0) ReturnCurrent();
                return 0;
            }
            ReturnCurrent();
            mCurrent = next;
        }
        while (bytes > 0) {
            if (!mCurrent && !mQueue.Pop(mCurrent)) break;
            const size_t left = mCurrent->dwBufferLength - mCurrent->dwUser;
            const size_t n = bytes < left ? bytes : left;
            if (out) std::memcpy(out + taken, mCurrent->lpData + mCurrent->dwUser, n);
            mCurrent->dwUser += n;
            taken += n;
            bytes -= n;
            if (mCurrent->dwUser < mCurrent->dwBufferLength) continue;
            if (hold > 0) {
                PWaveHdr next = nullptr;
                if (!mQueue.Pop(next)) {
                    mHeld = hold;
                    break;
                }
                ReturnCurrent();
                mCurrent = next;
                continue;
            }
            ReturnCurrent();
        }
        return taken;
    }
    void ReturnCurrent()
    {
        PWaveHdr h = mCurrent;
        mCurrent = nullptr;
        if (!h) return;
        mPending.fetch_sub(1, std::memory_order_acq_rel);
        h->dwFlags |= WHDR_DONE;
        Notify(WOM_DONE, h);
    }
    // Every header comes back, in order.
    void ReturnAll()
    {
        ReturnCurrent();
        PWaveHdr h = nullptr;
        while (mQueue.Pop(h)) {
            mCurrent = h;
            ReturnCurrent();
        }
    }
    // Headers written and not yet returned.
    int Pending() const { return mPending.load(std::memory_order_acquire); }

private:
    TMMRing<PWaveHdr> mQueue;
    PWaveHdr mCurrent = nullptr;
    size_t mHeld = 0;  // bytes still to pass before a held header goes back
    std::atomic<int> mPending{0};
};

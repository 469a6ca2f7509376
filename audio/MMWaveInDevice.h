// The recorder's device-operations table: the wave-in operations a capture
// back end provides (count, capabilities, error text, open/close with
// confirmations, prepare/add buffers, start/stop/reset, position), and the
// buffer queue both back ends use to fill headers in order.
#pragma once

#include "audio/MMRing.h"
#include "audio/MMUtils.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using HWAVEIN = uintptr_t;  // 0 = no device; handles are never reused
using MMRESULT = int32_t;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_BADERRNUM = 9;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

// Notification messages.
constexpr uint32_t WIM_OPEN = 0x3BE;
constexpr uint32_t WIM_CLOSE = 0x3BF;
constexpr uint32_t WIM_DATA = 0x3C0;

// Open flag: only ask whether the format is accepted; no handle is kept.
constexpr uint32_t WAVE_FORMAT_QUERY = 1;

// Standard format bits of the capabilities: rate class 1 = 11.025 kHz,
// 2 = 22.05 kHz, 4 = 44.1 kHz; M/S = mono/stereo; 08/16 = bits.
constexpr uint32_t WAVE_FORMAT_1M08 = 0x001, WAVE_FORMAT_1S08 = 0x002, WAVE_FORMAT_1M16 = 0x004,
                   WAVE_FORMAT_1S16 = 0x008, WAVE_FORMAT_2M08 = 0x010, WAVE_FORMAT_2S08 = 0x020,
                   WAVE_FORMAT_2M16 = 0x040, WAVE_FORMAT_2S16 = 0x080, WAVE_FORMAT_4M08 = 0x100,
                   WAVE_FORMAT_4S08 = 0x200, WAVE_FORMAT_4M16 = 0x400, WAVE_FORMAT_4S16 = 0x800;

// A device's caption and abilities (capture and playback alike).
struct WaveCaps {
    std::string szPname;  // product name
    std::string hostApi;  // "ALSA", "JACK Audio Connection Kit", "Simulated" ...
    uint32_t dwFormats = 0;
    uint16_t wChannels = 0;
    uint32_t dwSampleRate = 0;  // the rate the device (or its server) runs at; 0: any or unknown
};
using WaveInCaps = WaveCaps;

struct MMTime {
    enum Type { TIME_BYTES = 4, TIME_SAMPLES = 2 };
    Type wType = TIME_SAMPLES;
    uint32_t value = 0;
};

// Called by the back end in its own context (audio or device thread, or the
// caller's thread for open/close confirmations and returns by stop/reset).
// It must not block.
using TWaveInNotify = void (*)(HWAVEIN h, uint32_t msg, void* instance, PWaveHdr hdr);

// A device as listed for the user.
struct TMMDeviceInfo {
    int id = 0;  // -1 = the default device
    std::string name;
    std::string hostApi;
    int channels = 0;
};

// What the capture and the playback operation tables share: the back end's
// name and device count, error texts, closing, header preparation, reset and
// position. Handles (HWAVEIN, HWAVEOUT) are the back end's stream handles.
class TMMWaveDevice {
public:
    virtual ~TMMWaveDevice() = default;

    virtual std::string BackendName() const = 0;
    virtual int GetNumDevs() = 0;
    // Non-zero when the code has no text.
    virtual MMRESULT GetErrorText(MMRESULT err, std::string& text) = 0;
    // With WAVE_FORMAT_QUERY only checks the format. Otherwise opens and
    // confirms with WIM_OPEN / WOM_OPEN through `cb` (possibly before
    // returning); the notification is the same for both directions.
    virtual MMRESULT Open(uintptr_t* h, int id, const WaveFormat& fmt, TWaveInNotify cb, void* instance,
                          uint32_t flags) = 0;
    // Confirms with WIM_CLOSE / WOM_CLOSE. Capture: every buffer must have
    // been returned; playback fails with WAVERR_STILLPLAYING while headers
    // are queued.
    virtual MMRESULT Close(uintptr_t h) = 0;
    // Back ends that keep no per-header state: only the prepared flag changes.
    virtual MMRESULT PrepareHeader(uintptr_t h, PWaveHdr hdr);
    virtual MMRESULT UnprepareHeader(uintptr_t h, PWaveHdr hdr);
    // Stops and returns every queued buffer, in order (playback: the
    // position goes back to 0).
    virtual MMRESULT Reset(uintptr_t h) = 0;
    // Frames recorded or played since open or reset (StreamFrames).
    virtual MMRESULT GetPosition(uintptr_t h, MMTime& t);

    // id -1 (MapperId) is the default device.
    virtual MMRESULT GetDevCaps(int id, WaveCaps& caps) = 0;

    // The devices that have caps: the default (-1) first, then 0 ... N-1.
    std::vector<TMMDeviceInfo> Devices();

protected:
    // The frames of open stream h since open or reset; -1 for no open stream.
    virtual int64_t StreamFrames(uintptr_t) { return -1; }
};

class TMMWaveInDevice : public TMMWaveDevice {
public:
    // Any context, including the notification; never blocks.
    virtual MMRESULT AddBuffer(HWAVEIN h, PWaveHdr hdr) = 0;
    virtual MMRESULT Start(HWAVEIN h) = 0;
    // Stops recording; the partly filled buffer comes back with its byte
    // count, the empty ones stay queued.
    virtual MMRESULT Stop(HWAVEIN h) = 0;
    virtual MMRESULT GetID(HWAVEIN h, int& id) = 0;
    // Bytes the device produced since the open while no buffer was queued
    // for them (lost audio), or -1 when the back end does not count them.
    virtual int64_t LostBytes(HWAVEIN) { return -1; }
    // Whether the device of an open stream is still there, for devices whose
    // loss no failing or stalling stream shows (GUI thread, a few times a second).
    virtual bool DevicePresent(HWAVEIN) { return true; }

    // For listing: the input devices (the default, then ids 0 ... N-1) and
    // the output devices.
    virtual std::vector<TMMDeviceInfo> InputDevices() { return Devices(); }
    virtual std::vector<TMMDeviceInfo> BackendOutputDevices() { return {}; }
};

// Prepare/unprepare for back ends that keep no per-header state: only the
// prepared flag changes. `known` tells whether the handle is an open stream.
inline MMRESULT MarkHeaderPrepared(bool known, PWaveHdr hdr, bool prepared)
{
    if (!known) return MMSYSERR_INVALHANDLE;
    if (!hdr) return MMSYSERR_INVALPARAM;
    if (prepared)
        hdr->dwFlags |= WHDR_PREPARED;
    else
        hdr->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

// A stream's handle and its owner's notification (capture and playback
// alike): Confirm sends the open and close confirmations, Notify a buffer.
class TMMStreamBinding {
public:
    void Bind(uintptr_t h, TWaveInNotify cb, void* instance)
    {
        mHandle = h;
        mNotify = cb;
        mInstance = instance;
    }
    uintptr_t Handle() const { return mHandle; }
    void Confirm(uint32_t msg) { mNotify(mHandle, msg, mInstance, nullptr); }

protected:
    void Notify(uint32_t msg, PWaveHdr h) { mNotify(mHandle, msg, mInstance, h); }

private:
    uintptr_t mHandle = 0;
    TWaveInNotify mNotify = nullptr;
    void* mInstance = nullptr;
};

// The queued buffers of one open device and the header being filled.
// Producers of AddBuffer may be any thread; Write and Return* run on one
// context at a time (the device's own, or the caller's once the device is
// stopped). No allocation after construction.
class TMMCaptureQueue : public TMMStreamBinding {
public:
    static constexpr size_t MaxBuffers = 4096;
    TMMCaptureQueue() : mQueue(MaxBuffers) {}

    bool Add(PWaveHdr hdr)
    {
        hdr->dwFlags &= ~WHDR_DONE;
        hdr->dwBytesRecorded = 0;
        return mQueue.Push(hdr);
    }
    // Copies whole bytes into the queued headers in order; every full header
    // goes back through the notification. Bytes without a header are dropped
    // and counted. Returns the bytes taken.
    size_t Write(const uint8_t* data, size_t bytes)
    {
        size_t taken = 0;
        while (bytes > 0) {
            if (!mCurrent && !mQueue.Pop(mCurrent)) {
                mOverrun.fetch_add(bytes, std::memory_order_relaxed);
                break;
            }
            const size_t room = mCurrent->dwBufferLength - mCurrent->dwBytesRecorded;
            const size_t n = bytes < room ? bytes : room;
            std::memcpy(mCurrent->lpData + mCurrent->dwBytesRecorded, data, n);
            mCurrent->dwBytesRecorded += static_cast<uint32_t>(n);
            data += n;
            bytes -= n;
            taken += n;
            if (mCurrent->dwBytesRecorded >= mCurrent->dwBufferLength) ReturnCurrent();
        }
        return taken;
    }
    // Fills whole frames of `frameBytes` into the queued headers in order:
    // fill(dst, from, n) writes source frames from ... from+n-1 to dst. Every
    // full header goes back through the notification; frames without a
    // header are dropped and counted. Returns the frames taken.
    template <class Fill>
    size_t WriteFrames(size_t frames, size_t frameBytes, Fill&& fill)
    {
        size_t taken = 0;
        while (taken < frames) {
            if (!mCurrent && !mQueue.Pop(mCurrent)) {
                mOverrun.fetch_add((frames - taken) * frameBytes, std::memory_order_relaxed);
                break;
            }
            const size_t room = (mCurrent->dwBufferLength - mCurrent->dwBytesRecorded) / frameBytes;
            const size_t n = frames - taken < room ? frames - taken : room;
            if (n > 0) {
                fill(mCurrent->lpData + mCurrent->dwBytesRecorded, taken, n);
                mCurrent->dwBytesRecorded += static_cast<uint32_t>(n * frameBytes);
                taken += n;
            }
            if (mCurrent->dwBufferLength - mCurrent->dwBytesRecorded < frameBytes) ReturnCurrent();
        }
        return taken;
    }
    // Empties the header being filled; it stays the next to be filled.
    void DropPartial()
    {
        if (mCurrent) mCurrent->dwBytesRecorded = 0;
    }
    // The header being filled (taken from the queue when none is), or null.
    PWaveHdr Current()
    {
        if (!mCurrent) mQueue.Pop(mCurrent);
        return mCurrent;
    }
    void ReturnCurrent()
    {
        PWaveHdr h = mCurrent;
        mCurrent = nullptr;
        if (!h) return;
        h->dwFlags |= WHDR_DONE;
        Notify(WIM_DATA, h);
    }
    // Stop: the partly filled header comes back; empty ones stay queued.
    void ReturnPartial()
    {
        if (mCurrent && mCurrent->dwBytesRecorded > 0) ReturnCurrent();
    }
    // Reset: every header comes back, in order.
    void ReturnAll()
    {
        ReturnCurrent();
        PWaveHdr h = nullptr;
        while (mQueue.Pop(h)) {
            mCurrent = h;
            ReturnCurrent();
        }
    }
    // Forgets every queued header without returning it, and the lost bytes
    // (open, close).
    void Clear()
    {
        PWaveHdr h = nullptr;
        while (mQueue.Pop(h)) {
        }
        mCurrent = nullptr;
        mOverrun.store(0, std::memory_order_relaxed);
    }
    uint64_t Overrun() const { return mOverrun.load(std::memory_order_relaxed); }

private:
    TMMRing<PWaveHdr> mQueue;
    PWaveHdr mCurrent = nullptr;
    std::atomic<uint64_t> mOverrun{0};
};

// The platform's texts for the standard codes; non-zero for unknown codes.
MMRESULT StandardErrorText(MMRESULT err, std::string& text);

// The capability bit that the format check tests for a PCM format, or 0 when
// the format is outside the standard classes.
uint32_t StandardFormatBit(const WaveFormat& fmt);
// The standard bits of every class for the given channel counts and depths.
uint32_t StandardFormatBits(bool mono, bool stereo, bool bits8, bool bits16);

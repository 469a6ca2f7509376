#include "audio/MMPaWaveOut.h"

#include <portaudio.h>

#include <cstring>

struct TMMPortAudioWaveOut::Stream {
    TMMPlaybackQueue queue;
    PaStream* pa = nullptr;
    std::atomic<bool> used{false};
    bool IsOpen() const { return used.load(); }
    std::atomic<bool> paused{false};
    std::atomic<bool> expectStop{false};
    std::atomic<bool> gone{false};
    std::atomic<bool> returned{false};  // after gone: every header is back
    std::atomic<uint64_t> frames{0};
    size_t bytesPerFrame = 0;
    size_t holdBytes = 0;  // the stream's output latency
    uint8_t silence = 0;
};

namespace {

// Audio thread: copy out of the written headers; silence when none is queued
// or while paused.
int playbackCallback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                     PaStreamCallbackFlags, void* user)
{
    auto* s = static_cast<TMMPortAudioWaveOut::Stream*>(user);
    auto* out = static_cast<uint8_t*>(output);
    const size_t bytes = frames * s->bytesPerFrame;
    size_t n = 0;
    if (!s->paused.load(std::memory_order_acquire)) {
        n = s->queue.Read(out, bytes, s->holdBytes);
        s->frames.fetch_add(n / s->bytesPerFrame, std::memory_order_relaxed);
    }
    if (n < bytes) std::memset(out + n, s->silence, bytes - n);
    return paContinue;
}

}  // namespace

TMMPortAudioWaveOut::TMMPortAudioWaveOut() = default;

TMMPortAudioWaveOut::~TMMPortAudioWaveOut() { CloseOpenStreams(mStreams); }

TMMPortAudioWaveOut::Stream* TMMPortAudioWaveOut::Find(HWAVEOUT h)
{
    return mStreams.Find(h);
}

MMRESULT TMMPortAudioWaveOut::GetDevCaps(int id, WaveOutCaps& caps)
{
    const int pa = PaIndex(id);
    return pa < 0 ? MMSYSERR_BADDEVICEID : Describe(pa, false, caps);
}

MMRESULT TMMPortAudioWaveOut::Open(HWAVEOUT* h, int id, const WaveFormat& fmt, TWaveOutNotify cb, void* instance,
                                   uint32_t flags)
{
    const int pa = PaIndex(id);
    if (const MMRESULT r = CheckOpen(pa, fmt)) return r;
    const PaDeviceInfo* info = Pa_GetDeviceInfo(pa);
    PaStreamParameters out{};
    out.device = pa;
    out.channelCount = fmt.nChannels;
    out.sampleFormat = fmt.wBitsPerSample == 16 ? paInt16 : paUInt8;
    // Short device periods: the player's queue can be as short as 5 x 2048
    // bytes (about 58 ms), which a long period would drain in one burst.
    out.suggestedLatency = info->defaultHighOutputLatency;
    if (Pa_IsFormatSupported(nullptr, &out, fmt.nSamplesPerSec) != paFormatIsSupported) return WAVERR_BADFORMAT;
    if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
    if (!h || !cb) return MMSYSERR_INVALPARAM;

    Stream* s = mStreams.FreeSlot();
    if (!s) return MMSYSERR_ALLOCATED;
    s->paused.store(false);
    s->expectStop.store(false);
    s->gone.store(false);
    s->returned.store(false);
    s->frames.store(0);
    s->bytesPerFrame = fmt.nBlockAlign;
    s->silence = SilenceValue(&fmt);
    PaStream* stream = nullptr;
    const PaError err = Pa_OpenStream(&stream, nullptr, &out, fmt.nSamplesPerSec, 256,
                                      paClipOff, playbackCallback, s);
    if (err != paNoError) return err;
    Pa_SetStreamFinishedCallback(stream, StreamFinished<Stream>);
    s->pa = stream;
    const PaStreamInfo* si = Pa_GetStreamInfo(stream);
    const double latency = si ? si->outputLatency : 0.0;
    s->holdBytes = (static_cast<size_t>(latency * fmt.nSamplesPerSec) + 256) * fmt.nBlockAlign;
    const HWAVEOUT handle = mStreams.NextHandle();
    s->queue.Bind(handle, cb, instance);
    s->used.store(true);
    const PaError started = Pa_StartStream(stream);
    if (started != paNoError) {
        CloseStream(*s);
        s->used.store(false);
        return started;
    }
    *h = handle;
    s->queue.Confirm(WOM_OPEN);
    return MMSYSERR_NOERROR;
}

MMRESULT TMMPortAudioWaveOut::Halt(Stream& s)
{
    if (Pa_IsStreamStopped(s.pa) == 0) {
        s.expectStop.store(true);
        // Everything written was handed to the device: let it play out, so
        // that the end of a sound is not cut by the device's latency.
        // Otherwise drop at once.
        const PaError err = s.queue.Pending() == 0 ? Pa_StopStream(s.pa) : Pa_AbortStream(s.pa);
        if (err != paNoError) return err;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT TMMPortAudioWaveOut::Close(HWAVEOUT h)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (s->queue.Pending() > 0 && !s->gone.load()) return WAVERR_STILLPLAYING;
    if (s->gone.load()) AwaitReturns(*s);
    const MMRESULT r = CloseStream(*s);
    s->queue.ReturnAll();
    s->used.store(false);
    s->queue.Confirm(WOM_CLOSE);
    return r;
}

MMRESULT TMMPortAudioWaveOut::Write(HWAVEOUT h, PWaveHdr hdr)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (s->gone.load()) return kPaDeviceGone;
    if (!hdr || !(hdr->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (Pa_IsStreamStopped(s->pa) == 1) {
        s->expectStop.store(false);
        const PaError err = Pa_StartStream(s->pa);
        if (err != paNoError) return err;
    }
    return s->queue.Add(hdr) ? MMSYSERR_NOERROR : MMSYSERR_NOMEM;
}

MMRESULT TMMPortAudioWaveOut::Pause(HWAVEOUT h)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (s->gone.load()) return kPaDeviceGone;
    s->paused.store(true);
    return MMSYSERR_NOERROR;
}

MMRESULT TMMPortAudioWaveOut::Restart(HWAVEOUT h)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (s->gone.load()) return kPaDeviceGone;
    s->paused.store(false);
    return MMSYSERR_NOERROR;
}

// Reset: the stream is halted so that the callback no longer reads the
// queue, every header goes back, and the stream starts again with the next
// write.
MMRESULT TMMPortAudioWaveOut::Reset(HWAVEOUT h)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    MMRESULT r = MMSYSERR_NOERROR;
    if (s->gone.load())
        AwaitReturns(*s);
    else
        r = Halt(*s);
    s->queue.ReturnAll();
    s->frames.store(0);
    s->paused.store(false);
    return r;
}

int64_t TMMPortAudioWaveOut::StreamFrames(uintptr_t h)
{
    const Stream* s = Find(h);
    return s ? static_cast<int64_t>(s->frames.load(std::memory_order_relaxed)) : -1;
}

#include "audio/MMPaWaveIn.h"

#include <portaudio.h>

#include <cstdlib>

#ifdef TARVOLIN_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif
#ifdef TARVOLIN_HAVE_JACK
#include <jack/jack.h>
#endif

// Codes of this back end beyond PortAudio's (which are negative).
constexpr MMRESULT kDeviceGone = MMSYSERR_NODRIVER;

struct TMMPortAudioWaveIn::Stream {
    TMMCaptureQueue queue;
    PaStream* pa = nullptr;
    std::atomic<bool> used{false};
    bool IsOpen() const { return used.load(); }
    std::atomic<bool> halted{false};      // set by a stop from inside the callback
    std::atomic<bool> expectStop{false};  // the stream ends because we asked
    std::atomic<bool> gone{false};        // the stream ended by itself: the device went away
    std::atomic<uint64_t> frames{0};
    size_t bytesPerFrame = 0;
    int id = 0;
};

namespace {

thread_local TMMPortAudioWaveIn::Stream* tlCallbackStream = nullptr;

#ifdef TARVOLIN_HAVE_ALSA
void alsaQuiet(const char*, int, const char*, int, const char*, ...) {}
#endif
#ifdef TARVOLIN_HAVE_JACK
void jackQuiet(const char*) {}
#endif

// Audio thread: copy and hand on; nothing else.
int captureCallback(const void* input, void*, unsigned long frames, const PaStreamCallbackTimeInfo*,
                    PaStreamCallbackFlags, void* user)
{
    auto* s = static_cast<TMMPortAudioWaveIn::Stream*>(user);
    tlCallbackStream = s;
    if (input && !s->halted.load(std::memory_order_acquire)) {
        s->frames.fetch_add(frames, std::memory_order_relaxed);
        s->queue.Write(static_cast<const uint8_t*>(input), frames * s->bytesPerFrame);
    }
    tlCallbackStream = nullptr;
    return paContinue;
}

// The stream became inactive. Unless we stopped it, the device is gone:
// every queued buffer goes back so the recorder learns of it.
void finishedCallback(void* user)
{
    auto* s = static_cast<TMMPortAudioWaveIn::Stream*>(user);
    if (s->expectStop.load()) return;
    s->gone.store(true);
    s->queue.ReturnAll();
}

}  // namespace

void SilenceAudioLibraryNoise()
{
#ifdef TARVOLIN_HAVE_ALSA
    snd_lib_error_set_handler(alsaQuiet);
#endif
#ifdef TARVOLIN_HAVE_JACK
    jack_set_error_function(jackQuiet);
    jack_set_info_function(jackQuiet);
#endif
    // Never start a JACK server as a side effect of listing devices.
    setenv("JACK_NO_START_SERVER", "1", 0);
}

TMMPortAudioWaveIn::TMMPortAudioWaveIn()
{
    SilenceAudioLibraryNoise();
    const PaError err = Pa_Initialize();
    if (err != paNoError) {
        mInitError = Pa_GetErrorText(err);
        return;
    }
    const int n = Pa_GetDeviceCount();
    for (int i = 0; i < n; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (!info) continue;
        if (info->maxInputChannels > 0) mInputs.push_back(i);
        if (info->maxOutputChannels > 0) mOutputs.push_back(i);
    }
}

TMMPortAudioWaveIn::~TMMPortAudioWaveIn()
{
    if (!Initialized()) return;
    for (auto& s : mStreams)
        if (s->used.load() && s->pa) {
            s->expectStop.store(true);
            Pa_CloseStream(s->pa);
            s->pa = nullptr;
        }
    // PortAudio stays initialised until the process ends: terminating it
    // unloads ALSA's plugins, whose own allocations then surface as leaks of
    // unknown modules under LeakSanitizer (and cannot be suppressed by name).
}

int TMMPortAudioWaveIn::PaIndex(int id) const
{
    if (!Initialized()) return -1;
    if (id == -1) {
        const PaDeviceIndex d = Pa_GetDefaultInputDevice();
        return d == paNoDevice ? -1 : d;
    }
    if (id < 0 || id >= static_cast<int>(mInputs.size())) return -1;
    return mInputs[static_cast<size_t>(id)];
}

TMMPortAudioWaveIn::Stream* TMMPortAudioWaveIn::Find(HWAVEIN h)
{
    return mStreams.Find(h);
}

MMRESULT TMMPortAudioWaveIn::GetDevCaps(int id, WaveInCaps& caps)
{
    const int pa = PaIndex(id);
    if (pa < 0) return MMSYSERR_BADDEVICEID;
    const PaDeviceInfo* info = Pa_GetDeviceInfo(pa);
    if (!info) return MMSYSERR_NODRIVER;
    const PaHostApiInfo* api = Pa_GetHostApiInfo(info->hostApi);
    caps.szPname = info->name ? info->name : "";
    caps.hostApi = api && api->name ? api->name : "";
    caps.wChannels = static_cast<uint16_t>(info->maxInputChannels);
    caps.dwFormats = StandardFormatBits(info->maxInputChannels >= 1, info->maxInputChannels >= 2, true, true);
    return MMSYSERR_NOERROR;
}

MMRESULT TMMPortAudioWaveIn::GetErrorText(MMRESULT err, std::string& text)
{
    if (err < 0) {
        if (err == paUnanticipatedHostError) {
            const PaHostErrorInfo* host = Pa_GetLastHostErrorInfo();
            if (host && host->errorText && *host->errorText) {
                text = host->errorText;
                return MMSYSERR_NOERROR;
            }
        }
        const char* t = Pa_GetErrorText(static_cast<PaError>(err));
        if (!t) return MMSYSERR_BADERRNUM;
        text = t;
        return MMSYSERR_NOERROR;
    }
    if (err == kDeviceGone) {
        text = "The audio device is no longer available.";
        return MMSYSERR_NOERROR;
    }
    return StandardErrorText(err, text);
}

MMRESULT TMMPortAudioWaveIn::Open(HWAVEIN* h, int id, const WaveFormat& fmt, TWaveInNotify cb, void* instance,
                                  uint32_t flags)
{
    const int pa = PaIndex(id);
    if (pa < 0) return MMSYSERR_BADDEVICEID;
    if (fmt.wFormatTag != WAVE_FORMAT_PCM || (fmt.wBitsPerSample != 8 && fmt.wBitsPerSample != 16) ||
        fmt.nChannels == 0 || fmt.nBlockAlign != fmt.nChannels * fmt.wBitsPerSample / 8)
        return WAVERR_BADFORMAT;
    const PaDeviceInfo* info = Pa_GetDeviceInfo(pa);
    if (!info) return MMSYSERR_NODRIVER;
    PaStreamParameters in{};
    in.device = pa;
    in.channelCount = fmt.nChannels;
    in.sampleFormat = fmt.wBitsPerSample == 16 ? paInt16 : paUInt8;
    in.suggestedLatency = info->defaultHighInputLatency;
    if (Pa_IsFormatSupported(&in, nullptr, fmt.nSamplesPerSec) != paFormatIsSupported) return WAVERR_BADFORMAT;
    if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
    if (!h || !cb) return MMSYSERR_INVALPARAM;

    Stream* s = mStreams.FreeSlot();
    if (!s) return MMSYSERR_ALLOCATED;
    s->queue.Clear();
    s->halted.store(false);
    s->expectStop.store(false);
    s->gone.store(false);
    s->frames.store(0);
    s->bytesPerFrame = fmt.nBlockAlign;
    s->id = id;
    PaStream* stream = nullptr;
    const PaError err = Pa_OpenStream(&stream, &in, nullptr, fmt.nSamplesPerSec, paFramesPerBufferUnspecified,
                                      paClipOff, captureCallback, s);
    if (err != paNoError) return err;
    Pa_SetStreamFinishedCallback(stream, finishedCallback);
    s->pa = stream;
    const HWAVEIN handle = mStreams.NextHandle();
    s->queue.Bind(handle, cb, instance);
    s->used.store(true);
    *h = handle;
    s->queue.Confirm(WIM_OPEN);
    return MMSYSERR_NOERROR;
}

MMRESULT TMMPortAudioWaveIn::Close(HWAVEIN h)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (tlCallbackStream == s) return WAVERR_STILLPLAYING;
    s->expectStop.store(true);
    PaError err = paNoError;
    if (s->pa) err = Pa_CloseStream(s->pa);
    s->pa = nullptr;
    s->queue.Clear();
    s->used.store(false);
    s->queue.Confirm(WIM_CLOSE);
    return err == paNoError ? MMSYSERR_NOERROR : err;
}

MMRESULT TMMPortAudioWaveIn::PrepareHeader(HWAVEIN h, PWaveHdr hdr)
{
    return MarkHeaderPrepared(Find(h) != nullptr, hdr, true);
}

MMRESULT TMMPortAudioWaveIn::UnprepareHeader(HWAVEIN h, PWaveHdr hdr)
{
    return MarkHeaderPrepared(Find(h) != nullptr, hdr, false);
}

MMRESULT TMMPortAudioWaveIn::AddBuffer(HWAVEIN h, PWaveHdr hdr)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (s->gone.load()) return kDeviceGone;
    if (!hdr || !(hdr->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    return s->queue.Add(hdr) ? MMSYSERR_NOERROR : MMSYSERR_NOMEM;
}

MMRESULT TMMPortAudioWaveIn::Start(HWAVEIN h)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (s->gone.load()) return kDeviceGone;
    s->halted.store(false);
    if (tlCallbackStream == s) return MMSYSERR_NOERROR;
    if (Pa_IsStreamStopped(s->pa) == 1) {
        s->expectStop.store(false);
        const PaError err = Pa_StartStream(s->pa);
        if (err != paNoError) return err;
    }
    return MMSYSERR_NOERROR;
}

// Stops the flow of frames. From inside the callback the stream keeps running
// but discards input until the next Start.
MMRESULT TMMPortAudioWaveIn::Halt(Stream& s)
{
    if (tlCallbackStream == &s) {
        s.halted.store(true);
        return MMSYSERR_NOERROR;
    }
    if (Pa_IsStreamStopped(s.pa) == 0) {
        s.expectStop.store(true);
        const PaError err = Pa_StopStream(s.pa);
        if (err != paNoError) return err;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT TMMPortAudioWaveIn::Stop(HWAVEIN h)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    const MMRESULT r = Halt(*s);
    if (r != MMSYSERR_NOERROR) return r;
    s->queue.ReturnPartial();
    return MMSYSERR_NOERROR;
}

MMRESULT TMMPortAudioWaveIn::Reset(HWAVEIN h)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    const MMRESULT r = Halt(*s);
    if (r != MMSYSERR_NOERROR) return r;
    s->queue.ReturnAll();
    s->frames.store(0);
    return MMSYSERR_NOERROR;
}

MMRESULT TMMPortAudioWaveIn::GetPosition(HWAVEIN h, MMTime& t)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    t.wType = MMTime::TIME_SAMPLES;
    t.value = static_cast<uint32_t>(s->frames.load(std::memory_order_relaxed));
    return MMSYSERR_NOERROR;
}

MMRESULT TMMPortAudioWaveIn::GetID(HWAVEIN h, int& id)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    id = s->id;
    return MMSYSERR_NOERROR;
}

// Frames the callback had no queued header for.
int64_t TMMPortAudioWaveIn::LostBytes(HWAVEIN h)
{
    Stream* s = Find(h);
    return s ? static_cast<int64_t>(s->queue.Overrun()) : -1;
}

std::vector<TMMDeviceInfo> TMMPortAudioWaveIn::BackendOutputDevices()
{
    std::vector<TMMDeviceInfo> list;
    if (!Initialized()) return list;
    auto add = [&](int id, int pa) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(pa);
        if (!info) return;
        const PaHostApiInfo* api = Pa_GetHostApiInfo(info->hostApi);
        list.push_back({id, info->name ? info->name : "", api && api->name ? api->name : "", info->maxOutputChannels});
    };
    const PaDeviceIndex def = Pa_GetDefaultOutputDevice();
    if (def != paNoDevice) add(-1, def);
    for (size_t i = 0; i < mOutputs.size(); ++i) add(static_cast<int>(i), mOutputs[i]);
    return list;
}

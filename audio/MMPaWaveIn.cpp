#include "audio/MMPaWaveIn.h"

#include "audio/MMJackCapture.h"

#include <pa_linux_alsa.h>
#include <portaudio.h>

#include <algorithm>

struct TMMPortAudioWaveIn::Stream {
    TMMPairTap tap;  // the queue; and the channels, on a pair
    TMMCaptureQueue& queue = tap.queue;
    Shared* shared = nullptr;  // the device stream of a pair
    PaStream* pa = nullptr;
    std::atomic<bool> used{false};
    bool IsOpen() const { return used.load(); }
    std::atomic<bool> halted{false};      // set by a stop from inside the callback
    std::atomic<bool> expectStop{false};  // the stream ends because we asked
    std::atomic<bool> gone{false};        // the stream ended by itself: the device went away
    std::atomic<bool> returned{false};    // after gone: every header is back
    std::atomic<uint64_t> frames{0};
    size_t bytesPerFrame = 0;
    int id = 0;
};

// One device's stream shared by the recorders on its pairs.
struct TMMPortAudioWaveIn::Shared {
    TMMSharedCapture capture;
    PaStream* pa = nullptr;
    int device = 0;    // PortAudio index
    int channels = 0;  // opened with
    uint32_t rate = 0;  // of the attached pairs; 0 without
    std::atomic<bool> expectStop{false};
    std::atomic<bool> dead{false};  // the stream ended by itself
    // A JACK client's ports: captured through a client of ours, not PortAudio.
    bool jack = false;
    std::string client;
    TMMJackCapture jackCapture;
    bool Running() const { return pa || jackCapture.IsOpen(); }
};

namespace {

// Float sources (JACK, sound servers) converted to 16 bits: samples beyond
// full scale are clipped to it (unclipped they wrap, and an over reads as near
// silence), and no dither is added: the meter reads the source's own samples.
constexpr PaStreamFlags kInputFlags = paDitherOff;

thread_local TMMPortAudioWaveIn::Stream* tlCallbackStream = nullptr;
thread_local TMMPortAudioWaveIn::Shared* tlCallbackShared = nullptr;

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

// Audio thread of a shared device stream: split and hand on.
int sharedCallback(const void* input, void*, unsigned long frames, const PaStreamCallbackTimeInfo*,
                   PaStreamCallbackFlags, void* user)
{
    auto* sh = static_cast<TMMPortAudioWaveIn::Shared*>(user);
    tlCallbackShared = sh;
    if (input) sh->capture.Write(static_cast<const int16_t*>(input), frames, sh->channels);
    tlCallbackShared = nullptr;
    return paContinue;
}

// An ALSA card's device is opened by its card's id, so that it is found
// again under another card number. `alsa` must outlive q.
void byStableName(PaStreamParameters& q, PaAlsaStreamInfo& alsa, const std::string& stable)
{
    if (stable.empty()) return;
    PaAlsa_InitializeStreamInfo(&alsa);
    alsa.deviceString = stable.c_str();
    q.device = paUseHostApiSpecificDeviceSpecification;
    q.hostApiSpecificStreamInfo = &alsa;
}

void sharedFinished(void* user)
{
    auto* sh = static_cast<TMMPortAudioWaveIn::Shared*>(user);
    if (sh->expectStop.load()) return;
    sh->dead.store(true);
    sh->capture.Lose();
}

}  // namespace

TMMPortAudioWaveIn::TMMPortAudioWaveIn()
{
    if (!Initialized()) return;
    const int n = Pa_GetDeviceCount();
    for (int i = 0; i < n; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (!info || info->maxInputChannels <= 0) continue;
        const PaHostApiInfo* api = Pa_GetHostApiInfo(info->hostApi);
        if (api && api->type == paALSA && info->name) {
            mStable.resize(static_cast<size_t>(n));
            mStable[static_cast<size_t>(i)] = AlsaStableName(info->name);
        }
        mInputs.push_back({i, -1, info->maxInputChannels});
        for (int p = 0; p < PairCount(info->maxInputChannels); ++p) mInputs.push_back({i, p, info->maxInputChannels});
    }
    mShared.resize(static_cast<size_t>(n > 0 ? n : 0));
}

TMMPortAudioWaveIn::~TMMPortAudioWaveIn()
{
    CloseOpenStreams(mStreams);
    for (auto& sh : mShared)
        if (sh) CloseShared(*sh);
    TMMJackCapture::CloseClient();
}

int TMMPortAudioWaveIn::PaIndex(int id) const
{
    if (!Initialized()) return -1;
    if (id == -1) return DefaultIndex(true);
    if (id < 0 || id >= static_cast<int>(mInputs.size())) return -1;
    return mInputs[static_cast<size_t>(id)].pa;
}

int TMMPortAudioWaveIn::PairOf(int id) const
{
    if (id < 0 || id >= static_cast<int>(mInputs.size())) return -1;
    return mInputs[static_cast<size_t>(id)].pair;
}

TMMPortAudioWaveIn::Stream* TMMPortAudioWaveIn::Find(HWAVEIN h)
{
    return mStreams.Find(h);
}

bool TMMPortAudioWaveIn::DevicePresent(HWAVEIN h)
{
    const Stream* s = Find(h);
    return !s || TMMPaBackend::DevicePresent(PaIndex(s->id));
}

MMRESULT TMMPortAudioWaveIn::GetDevCaps(int id, WaveInCaps& caps)
{
    const int pa = PaIndex(id);
    if (pa < 0) return MMSYSERR_BADDEVICEID;
    const MMRESULT r = Describe(pa, true, caps);
    const int pair = PairOf(id);
    if (r != MMSYSERR_NOERROR || pair < 0) return r;
    const int channels = mInputs[static_cast<size_t>(id)].channels;
    caps.szPname = PairName(caps.szPname, channels, pair);
    caps.wChannels = static_cast<uint16_t>(PairWidth(channels, pair));
    caps.dwFormats = StandardFormatBits(true, true, false, true);
    return MMSYSERR_NOERROR;
}

MMRESULT TMMPortAudioWaveIn::Open(HWAVEIN* h, int id, const WaveFormat& fmt, TWaveInNotify cb, void* instance,
                                  uint32_t flags)
{
    const int pa = PaIndex(id);
    if (const MMRESULT r = CheckOpen(pa, fmt)) return r;
    // The JACK client that watches the device joins the graph now, before any
    // stream of ours runs, not at the first poll during recording.
    if (!(flags & WAVE_FORMAT_QUERY)) DevicePresent(pa);
    const PaDeviceInfo* info = Pa_GetDeviceInfo(pa);
    if (PairOf(id) >= 0) return OpenPair(h, mInputs[static_cast<size_t>(id)], id, fmt, cb, instance, flags);
    PaStreamParameters in{};
    in.device = pa;
    in.channelCount = fmt.nChannels;
    in.sampleFormat = fmt.wBitsPerSample == 16 ? paInt16 : paUInt8;
    in.suggestedLatency = info->defaultHighInputLatency;
    PaAlsaStreamInfo alsa{};
    byStableName(in, alsa, Stable(pa));
    if (Pa_IsFormatSupported(&in, nullptr, fmt.nSamplesPerSec) != paFormatIsSupported) return WAVERR_BADFORMAT;
    if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
    if (!h || !cb) return MMSYSERR_INVALPARAM;

    Stream* s = mStreams.FreeSlot();
    if (!s) return MMSYSERR_ALLOCATED;
    s->queue.Clear();
    s->shared = nullptr;
    s->halted.store(false);
    s->expectStop.store(false);
    s->gone.store(false);
    s->returned.store(false);
    s->frames.store(0);
    s->bytesPerFrame = fmt.nBlockAlign;
    s->id = id;
    PaStream* stream = nullptr;
    const PaError err = Pa_OpenStream(&stream, &in, nullptr, fmt.nSamplesPerSec, paFramesPerBufferUnspecified,
                                      kInputFlags, captureCallback, s);
    if (err != paNoError) return err;
    Pa_SetStreamFinishedCallback(stream, StreamFinished<Stream>);
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
    if (Shared* sh = s->shared) {
        if (tlCallbackShared == sh) return WAVERR_STILLPLAYING;
        sh->capture.Detach(&s->tap);
        StopSharedIfIdle(*sh);
        if (sh->capture.Taps() == 0) sh->rate = 0;
        s->shared = nullptr;
        s->queue.Clear();
        s->used.store(false);
        s->queue.Confirm(WIM_CLOSE);
        return MMSYSERR_NOERROR;
    }
    if (s->gone.load()) AwaitReturns(*s);
    const MMRESULT r = CloseStream(*s);
    s->queue.Clear();
    s->used.store(false);
    s->queue.Confirm(WIM_CLOSE);
    return r;
}

MMRESULT TMMPortAudioWaveIn::AddBuffer(HWAVEIN h, PWaveHdr hdr)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (s->gone.load() || s->tap.gone.load()) return kPaDeviceGone;
    if (!hdr || !(hdr->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    return s->queue.Add(hdr) ? MMSYSERR_NOERROR : MMSYSERR_NOMEM;
}

MMRESULT TMMPortAudioWaveIn::Start(HWAVEIN h)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (s->gone.load() || s->tap.gone.load()) return kPaDeviceGone;
    if (Shared* sh = s->shared) {
        if (PWaveHdr first = s->queue.Current())
            s->tap.gridFrames = std::max<uint32_t>(1, first->dwBufferLength / static_cast<uint32_t>(s->tap.FrameBytes()));
        if (tlCallbackShared != sh) {
            const MMRESULT r = StartShared(*sh);
            if (r != MMSYSERR_NOERROR) return r;
        }
        sh->capture.Arm(&s->tap);
        return MMSYSERR_NOERROR;
    }
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
    if (s.gone.load()) AwaitReturns(s);
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
    if (Shared* sh = s->shared) {
        sh->capture.Halt(&s->tap);
        s->queue.ReturnPartial();
        StopSharedIfIdle(*sh);
        return MMSYSERR_NOERROR;
    }
    const MMRESULT r = Halt(*s);
    if (r != MMSYSERR_NOERROR) return r;
    s->queue.ReturnPartial();
    return MMSYSERR_NOERROR;
}

MMRESULT TMMPortAudioWaveIn::Reset(HWAVEIN h)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (Shared* sh = s->shared) {
        sh->capture.Halt(&s->tap);
        s->queue.ReturnAll();
        s->tap.frames.store(0);
        StopSharedIfIdle(*sh);
        return MMSYSERR_NOERROR;
    }
    const MMRESULT r = Halt(*s);
    if (r != MMSYSERR_NOERROR) return r;
    s->queue.ReturnAll();
    s->frames.store(0);
    return MMSYSERR_NOERROR;
}

int64_t TMMPortAudioWaveIn::StreamFrames(uintptr_t h)
{
    const Stream* s = Find(h);
    return s ? static_cast<int64_t>((s->shared ? s->tap.frames : s->frames).load(std::memory_order_relaxed)) : -1;
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
    for (int id = -1; id < static_cast<int>(mOutputs.size()); ++id) {
        WaveCaps caps;
        const int pa = OutputIndex(id);
        if (pa >= 0 && Describe(pa, false, caps) == MMSYSERR_NOERROR)
            list.push_back({id, caps.szPname, caps.hostApi, caps.wChannels});
    }
    return list;
}

// ---------------------------------------------------------------------------
// Pairs: one stream per device (GUI thread, unless noted)

MMRESULT TMMPortAudioWaveIn::OpenPair(HWAVEIN* h, const Input& in, int id, const WaveFormat& fmt, TWaveInNotify cb,
                                      void* instance, uint32_t flags)
{
    if (fmt.wFormatTag != WAVE_FORMAT_PCM || fmt.wBitsPerSample != 16 || (fmt.nChannels != 1 && fmt.nChannels != 2) ||
        fmt.nBlockAlign != fmt.nChannels * 2)
        return WAVERR_BADFORMAT;
    auto& slot = mShared[static_cast<size_t>(in.pa)];
    if (!slot) {
        slot = std::make_unique<Shared>();
        slot->device = in.pa;
        const PaDeviceInfo* info = Pa_GetDeviceInfo(in.pa);
        const PaHostApiInfo* api = info ? Pa_GetHostApiInfo(info->hostApi) : nullptr;
        slot->jack = TMMJackCapture::Available() && api && api->type == paJACK && info->name;
        if (slot->jack) slot->client = info->name;
    }
    Shared& sh = *slot;
    if (sh.dead.load() && sh.capture.Taps() == 0) {
        // The device went away under its last stream: start afresh.
        CloseShared(sh);
        sh.dead.store(false);
        sh.rate = 0;
    }
    // One stream, one rate.
    if (sh.rate != 0 && sh.rate != fmt.nSamplesPerSec) return WAVERR_BADFORMAT;
    const int first = PairFirstChannel(in.pair);
    const int width = PairWidth(in.channels, in.pair);
    PaStreamParameters q{};
    q.device = in.pa;
    q.channelCount = std::max(first + width, sh.Running() ? sh.channels : 0);
    q.sampleFormat = paInt16;
    q.suggestedLatency = Pa_GetDeviceInfo(in.pa)->defaultHighInputLatency;
    PaAlsaStreamInfo alsa{};
    byStableName(q, alsa, Stable(in.pa));
    if (sh.jack && !sh.Running()) {
        // PortAudio's JACK client may belong to a server that has gone: ask the server itself.
        const uint32_t rate = TMMJackCapture::ServerRate();
        if (rate == 0) return kPaDeviceGone;
        if (rate != fmt.nSamplesPerSec) return WAVERR_BADFORMAT;
    } else if (!sh.Running() && Pa_IsFormatSupported(&q, nullptr, fmt.nSamplesPerSec) != paFormatIsSupported) {
        q.channelCount = in.channels;  // devices that open only whole
        if (Pa_IsFormatSupported(&q, nullptr, fmt.nSamplesPerSec) != paFormatIsSupported) return WAVERR_BADFORMAT;
    }
    if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
    if (!h || !cb) return MMSYSERR_INVALPARAM;
    if (sh.dead.load()) return kPaDeviceGone;

    Stream* s = mStreams.FreeSlot();
    if (!s) return MMSYSERR_ALLOCATED;
    s->queue.Clear();
    s->tap.first = first;
    s->tap.width = width;
    s->tap.outChannels = fmt.nChannels;
    s->tap.gridFrames = 1;
    s->tap.gone.store(false);
    s->tap.frames.store(0);
    if (!sh.capture.Attach(&s->tap)) return MMSYSERR_ALLOCATED;
    sh.rate = fmt.nSamplesPerSec;
    s->shared = &sh;
    s->pa = nullptr;
    s->halted.store(false);
    s->expectStop.store(false);
    s->gone.store(false);
    s->returned.store(false);
    s->bytesPerFrame = fmt.nBlockAlign;
    s->id = id;
    const HWAVEIN handle = mStreams.NextHandle();
    s->queue.Bind(handle, cb, instance);
    s->used.store(true);
    *h = handle;
    s->queue.Confirm(WIM_OPEN);
    return MMSYSERR_NOERROR;
}

// Runs the device's stream with every attached pair's channels: opened when
// none is, opened again with more channels when a pair beyond them starts
// (the running pairs drop their partly filled buffer and stay aligned).
MMRESULT TMMPortAudioWaveIn::StartShared(Shared& sh)
{
    if (sh.dead.load()) return kPaDeviceGone;
    const int needed = sh.capture.HighestChannel();
    if (sh.jack) {
        if (sh.jackCapture.IsOpen() && sh.channels >= needed) return MMSYSERR_NOERROR;
        CloseShared(sh);
        sh.capture.Restart();
        sh.expectStop.store(false);
        const MMRESULT r = sh.jackCapture.Open(sh.client, needed, sh.rate, &sh.capture, &sh.dead);
        if (r == MMSYSERR_NOERROR) sh.channels = needed;
        return r;
    }
    if (sh.pa && sh.channels >= needed) {
        if (Pa_IsStreamStopped(sh.pa) == 1) {
            sh.capture.Restart();
            sh.expectStop.store(false);
            const PaError err = Pa_StartStream(sh.pa);
            if (err != paNoError) return err;
        }
        return MMSYSERR_NOERROR;
    }
    CloseShared(sh);
    const PaDeviceInfo* info = Pa_GetDeviceInfo(sh.device);
    if (!info) return kPaDeviceGone;
    PaStreamParameters q{};
    q.device = sh.device;
    q.channelCount = needed;
    q.sampleFormat = paInt16;
    q.suggestedLatency = info->defaultHighInputLatency;
    PaAlsaStreamInfo alsa{};
    byStableName(q, alsa, Stable(sh.device));
    if (Pa_IsFormatSupported(&q, nullptr, sh.rate) != paFormatIsSupported) q.channelCount = info->maxInputChannels;
    PaStream* stream = nullptr;
    PaError err =
        Pa_OpenStream(&stream, &q, nullptr, sh.rate, paFramesPerBufferUnspecified, kInputFlags, sharedCallback, &sh);
    if (err != paNoError) return err;
    Pa_SetStreamFinishedCallback(stream, sharedFinished);
    sh.pa = stream;
    sh.channels = q.channelCount;
    sh.capture.Restart();
    sh.expectStop.store(false);
    err = Pa_StartStream(stream);
    if (err != paNoError) {
        CloseShared(sh);
        return err;
    }
    return MMSYSERR_NOERROR;
}

void TMMPortAudioWaveIn::CloseShared(Shared& sh)
{
    if (sh.jackCapture.IsOpen()) {
        sh.expectStop.store(true);
        sh.jackCapture.Close();
        sh.channels = 0;
    }
    if (!sh.pa) return;
    sh.expectStop.store(true);
    Pa_CloseStream(sh.pa);
    sh.pa = nullptr;
    sh.channels = 0;
}

void TMMPortAudioWaveIn::StopSharedIfIdle(Shared& sh)
{
    // From inside the stream's own callback it is closed later.
    if (tlCallbackShared == &sh || sh.capture.AnyStarted()) return;
    CloseShared(sh);
}

// What the PortAudio capture and playback back ends share: PortAudio's
// initialisation (the sound libraries' stderr noise silenced first), the
// output device list, a device's caption, the PCM format check, the error
// texts and the closing of a stream. PortAudio stays initialised until the
// process ends: terminating it unloads ALSA's plugins, whose own allocations
// then surface as leaks of unknown modules under LeakSanitizer.
#pragma once

#include "audio/MMWaveInDevice.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// Codes of the PortAudio back ends beyond PortAudio's (which are negative).
constexpr MMRESULT kPaDeviceGone = MMSYSERR_NODRIVER;

class TMMPaBackend {
public:
    bool Initialized() const { return mInitError.empty(); }
    const std::string& InitError() const { return mInitError; }
    ~TMMPaBackend();
    TMMPaBackend(const TMMPaBackend&) = delete;
    TMMPaBackend& operator=(const TMMPaBackend&) = delete;
    // ALSA names a card by its number ("NAME: DESC (hw:1,0)" in PortAudio's
    // list), and a USB interface that comes back may get another number;
    // its id stays. For a PortAudio device name of that form: the name by
    // id, "hw:CARD=<id>,DEV=<n>"; else empty. One control open of the card.
    static std::string AlsaStableName(const std::string& paName);

protected:
    TMMPaBackend();

    // PortAudio's default device of the direction, or -1.
    static int DefaultIndex(bool input);
    // The PortAudio index of output id (-1 = default), or -1.
    int OutputIndex(int id) const;
    // Name, host API and channels of the direction of PortAudio device pa;
    // MMSYSERR_NODRIVER when PortAudio does not know it.
    static MMRESULT Describe(int pa, bool input, WaveCaps& caps);
    // For Open: the device must exist and fmt be 8- or 16-bit PCM with a
    // consistent block (else MMSYSERR_BADDEVICEID, WAVERR_BADFORMAT,
    // MMSYSERR_NODRIVER).
    static MMRESULT CheckOpen(int pa, const WaveFormat& fmt);
    static MMRESULT ErrorText(MMRESULT err, std::string& text);
    // Whether the device of PortAudio index pa is still there. PortAudio
    // lists a JACK client's ports as a device once, at initialisation, and a
    // capture of them keeps running unconnected when the client exits: a
    // client of that name must have output ports now (asked through the
    // process's JACK client, MMJackCapture.h; a client that comes back under
    // its name is connected again when the capture reopens). Every other
    // device is present; its loss shows as a stream that stops or stalls.
    // GUI thread; at most one query of the JACK server per client a second.
    bool DevicePresent(int pa);
    // Marks the stream as stopping on purpose and closes its PortAudio
    // stream (PaStream is void); MMSYSERR_NOERROR or PortAudio's code.
    template <class Stream>
    static MMRESULT CloseStream(Stream& s)
    {
        s.expectStop.store(true);
        const MMRESULT r = s.pa ? ClosePa(s.pa) : MMSYSERR_NOERROR;
        s.pa = nullptr;
        return r;
    }
    // The destructors: every open stream of the table closed.
    template <class Table>
    void CloseOpenStreams(Table& streams)
    {
        if (!Initialized()) return;
        for (auto& s : streams)
            if (s->used.load()) CloseStream(*s);
    }

    // PortAudio's finished callback of a stream (user: the Stream): unless
    // we stopped it, the device is gone, and every queued header goes back
    // so that the owner learns of it; `returned` tells when all are back.
    template <class Stream>
    static void StreamFinished(void* user)
    {
        auto* s = static_cast<Stream*>(user);
        if (s->expectStop.load()) return;
        s->gone.store(true);
        tlFinishing = s;
        s->queue.ReturnAll();
        tlFinishing = nullptr;
        s->returned.store(true);
    }
    // For a stream found gone without PortAudio having stopped it: waits
    // until its finished callback has given every header back on PortAudio's
    // thread (at once from a notification of that callback); the queue is
    // the caller's afterwards.
    template <class Stream>
    static void AwaitReturns(const Stream& s)
    {
        if (tlFinishing == &s) return;
        while (!s.returned.load()) std::this_thread::sleep_for(std::chrono::microseconds(100));
    }

    std::string mInitError;
    std::vector<int> mOutputs;  // PortAudio indexes of the output devices

private:
    static MMRESULT ClosePa(void* stream);
    struct TJackWatch;
    std::unique_ptr<TJackWatch> mJack;  // a client of ours, opened when first needed
    // The stream whose finished callback runs on this thread.
    static inline thread_local const void* tlFinishing = nullptr;
};

// "NAME (hw:C,D)": card C and device D (up to three digits each).
bool ParseAlsaHwName(const std::string& name, int& card, int& device);

// Silences ALSA's and JACK's diagnostics on stderr (idempotent); call before
// PortAudio is initialised.
void SilenceAudioLibraryNoise();

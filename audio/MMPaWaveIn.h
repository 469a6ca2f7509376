// PortAudio capture back end. Input devices of every host API (ALSA, JACK,
// PulseAudio ...) get ids 0 ... N-1; -1 is PortAudio's default input device.
// A device with more than two input channels is followed by its pairs
// "NAME (1-2)" ... "NAME (N)" (MMPairSplit.h): every recorder on a pair of one
// device takes its channels from one stream of that device, opened with the
// channels in use when the first of them starts (opened again with more
// when a pair beyond them starts) and closed when the last one stops.
// The audio callback only copies frames into the queued headers, in order,
// and hands each full header to the notification; it never allocates, locks
// or logs.
#pragma once

#include "audio/MMPaBackend.h"
#include "audio/MMPairSplit.h"
#include "audio/MMStreamTable.h"
#include "audio/MMWaveInDevice.h"

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

class TMMPortAudioWaveIn : public TMMWaveInDevice, public TMMPaBackend {
public:
    static constexpr int MaxStreams = 32;

    // Silences ALSA and JACK diagnostics on stderr, then initialises
    // PortAudio. A sound server must be running before this.
    TMMPortAudioWaveIn();
    ~TMMPortAudioWaveIn() override;

    std::string BackendName() const override { return "portaudio"; }
    int GetNumDevs() override { return static_cast<int>(mInputs.size()); }
    MMRESULT GetDevCaps(int id, WaveInCaps& caps) override;
    MMRESULT GetErrorText(MMRESULT err, std::string& text) override { return ErrorText(err, text); }
    bool DevicePresent(HWAVEIN h) override;
    MMRESULT Open(HWAVEIN* h, int id, const WaveFormat& fmt, TWaveInNotify cb, void* instance,
                  uint32_t flags) override;
    MMRESULT Close(HWAVEIN h) override;
    MMRESULT AddBuffer(HWAVEIN h, PWaveHdr hdr) override;
    MMRESULT Start(HWAVEIN h) override;
    MMRESULT Stop(HWAVEIN h) override;
    MMRESULT Reset(HWAVEIN h) override;
    MMRESULT GetID(HWAVEIN h, int& id) override;
    int64_t LostBytes(HWAVEIN h) override;
    std::vector<TMMDeviceInfo> BackendOutputDevices() override;

    // PortAudio's device index of input id (-1 = default), or -1.
    int PaIndex(int id) const;
    // The pair (0-based) input id stands for, or -1 for a whole device.
    int PairOf(int id) const;

    struct Stream;
    struct Shared;

protected:
    int64_t StreamFrames(uintptr_t h) override;

private:
    struct Input {
        int pa = 0;       // PortAudio device index
        int pair = -1;    // -1: the device itself
        int channels = 0;  // the device's input channels
    };
    Stream* Find(HWAVEIN h);
    const std::string& Stable(int pa) const
    {
        static const std::string none;
        return pa >= 0 && pa < static_cast<int>(mStable.size()) ? mStable[static_cast<size_t>(pa)] : none;
    }
    MMRESULT Halt(Stream& s);
    MMRESULT OpenPair(HWAVEIN* h, const Input& in, int id, const WaveFormat& fmt, TWaveInNotify cb, void* instance,
                      uint32_t flags);
    MMRESULT StartShared(Shared& sh);
    void CloseShared(Shared& sh);
    // Stops and closes the device's stream once no pair records from it.
    void StopSharedIfIdle(Shared& sh);

    std::vector<Input> mInputs;  // the input devices and their pairs, by id
    std::vector<std::string> mStable;  // per PortAudio index: AlsaStableName, if any
    std::vector<std::unique_ptr<Shared>> mShared;  // per PortAudio device, made on first use
    TMMStreamTable<Stream, MaxStreams> mStreams;
};

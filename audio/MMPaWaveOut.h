// PortAudio output back end. Output devices of every host API (ALSA, JACK,
// PulseAudio, PipeWire ...) get ids 0 ... N-1; -1 is PortAudio's default
// output. The audio callback only copies from the written headers, in order,
// and hands each emptied header to the notification; it never allocates,
// locks or logs.
#pragma once

#include "audio/MMPaBackend.h"
#include "audio/MMStreamTable.h"
#include "audio/MMWaveOutDevice.h"

#include <array>
#include <atomic>
#include <memory>
#include <vector>

class TMMPortAudioWaveOut : public TMMWaveOutDevice, public TMMPaBackend {
public:
    static constexpr int MaxStreams = 8;

    TMMPortAudioWaveOut();
    ~TMMPortAudioWaveOut() override;

    // PortAudio's device index of output id (-1 = default), or -1.
    int PaIndex(int id) const { return OutputIndex(id); }

    std::string BackendName() const override { return "portaudio"; }
    int GetNumDevs() override { return static_cast<int>(mOutputs.size()); }
    MMRESULT GetDevCaps(int id, WaveOutCaps& caps) override;
    MMRESULT GetErrorText(MMRESULT err, std::string& text) override { return ErrorText(err, text); }
    MMRESULT Open(HWAVEOUT* h, int id, const WaveFormat& fmt, TWaveOutNotify cb, void* instance,
                  uint32_t flags) override;
    MMRESULT Close(HWAVEOUT h) override;
    MMRESULT Write(HWAVEOUT h, PWaveHdr hdr) override;
    MMRESULT Pause(HWAVEOUT h) override;
    MMRESULT Restart(HWAVEOUT h) override;
    MMRESULT Reset(HWAVEOUT h) override;

    struct Stream;

protected:
    int64_t StreamFrames(uintptr_t h) override;

private:
    Stream* Find(HWAVEOUT h);
    MMRESULT Halt(Stream& s);

    TMMStreamTable<Stream, MaxStreams> mStreams;
};

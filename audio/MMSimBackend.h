// What the simulated capture and playback back ends share: their stereo
// devices' ids (-1 is device 0), presence (a vanished device refuses opening
// until restored), captions ("Simulated input 3"), error texts and fault
// lookup. N devices.
#pragma once

#include "audio/MMWaveInDevice.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <string>

template <int N, class TFaults>
class TMMSimBackend {
public:
    TFaults& DeviceFaults(int device) { return mFaults[static_cast<size_t>(std::clamp(DeviceIndex(device), 0, N - 1))]; }

protected:
    TMMSimBackend()
    {
        for (auto& g : mGone) g.store(false);
    }

    static int DeviceIndex(int id) { return id == -1 ? 0 : id; }
    // The device of id in d; MMSYSERR_BADDEVICEID beyond the devices,
    // MMSYSERR_NODRIVER for a vanished one.
    MMRESULT CheckDevice(int id, int& d) const
    {
        if (id < -1 || id >= N) return MMSYSERR_BADDEVICEID;
        d = DeviceIndex(id);
        return mGone[static_cast<size_t>(d)].load() ? MMSYSERR_NODRIVER : MMSYSERR_NOERROR;
    }
    // The caps of stereo device d named "Simulated <kind> d+1".
    static void Caption(const char* kind, int d, bool bits8, WaveCaps& caps)
    {
        caps.szPname = std::string("Simulated ") + kind + " " + std::to_string(d + 1);
        caps.hostApi = "Simulated";
        caps.wChannels = 2;
        caps.dwFormats = StandardFormatBits(true, true, bits8, true);
    }
    static MMRESULT SimErrorText(MMRESULT err, std::string& text)
    {
        if (err != MMSYSERR_NODRIVER) return StandardErrorText(err, text);
        text = "The simulated device was removed.";
        return MMSYSERR_NOERROR;
    }
    void RestoreDevice(int device)
    {
        const int d = DeviceIndex(device);
        if (d >= 0 && d < N) mGone[static_cast<size_t>(d)].store(false);
    }

    std::array<std::atomic<bool>, N> mGone;
    std::array<TFaults, N> mFaults;
};

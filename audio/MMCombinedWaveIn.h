// The program's back end (PortAudio or simulated) with the network streams
// beside it: the first back end's devices keep their ids 0 ... N-1 (and -1,
// its default), the network's follow from N. The two give out disjoint
// handles, so each call goes to the back end whose handle it carries.
#pragma once

#include "audio/MMNetWaveIn.h"
#include "audio/MMWaveInDevice.h"

#include <memory>

class TMMCombinedWaveIn : public TMMWaveInDevice {
public:
    TMMCombinedWaveIn(std::unique_ptr<TMMWaveInDevice> first, std::unique_ptr<TMMNetWaveIn> net);
    ~TMMCombinedWaveIn() override;

    TMMWaveInDevice& First() { return *mFirst; }
    const TMMWaveInDevice& First() const { return *mFirst; }
    TMMNetWaveIn& Net() { return *mNet; }
    // The first id of the network streams.
    int NetBase() const { return mBase; }

    std::string BackendName() const override { return mFirst->BackendName(); }
    int GetNumDevs() override { return mBase + mNet->GetNumDevs(); }
    MMRESULT GetErrorText(MMRESULT err, std::string& text) override;
    MMRESULT Open(uintptr_t* h, int id, const WaveFormat& fmt, TWaveInNotify cb, void* instance,
                  uint32_t flags) override;
    MMRESULT Close(uintptr_t h) override { return For(h).Close(h); }
    MMRESULT PrepareHeader(uintptr_t h, PWaveHdr hdr) override { return For(h).PrepareHeader(h, hdr); }
    MMRESULT UnprepareHeader(uintptr_t h, PWaveHdr hdr) override { return For(h).UnprepareHeader(h, hdr); }
    MMRESULT Reset(uintptr_t h) override { return For(h).Reset(h); }
    MMRESULT GetPosition(uintptr_t h, MMTime& t) override { return For(h).GetPosition(h, t); }
    MMRESULT GetDevCaps(int id, WaveCaps& caps) override;
    MMRESULT AddBuffer(HWAVEIN h, PWaveHdr hdr) override { return For(h).AddBuffer(h, hdr); }
    MMRESULT Start(HWAVEIN h) override { return For(h).Start(h); }
    MMRESULT Stop(HWAVEIN h) override { return For(h).Stop(h); }
    MMRESULT GetID(HWAVEIN h, int& id) override;
    int64_t LostBytes(HWAVEIN h) override { return For(h).LostBytes(h); }
    bool DevicePresent(HWAVEIN h) override { return For(h).DevicePresent(h); }
    std::vector<TMMDeviceInfo> InputDevices() override;
    std::vector<TMMDeviceInfo> BackendOutputDevices() override { return mFirst->BackendOutputDevices(); }

private:
    TMMWaveInDevice& For(uintptr_t h)
    {
        if (h >= TMMNetWaveIn::FirstHandle) return *mNet;
        return *mFirst;
    }
    std::unique_ptr<TMMWaveInDevice> mFirst;
    std::unique_ptr<TMMNetWaveIn> mNet;
    int mBase = 0;
};

#include "audio/MMWaveOutBackend.h"

#include "audio/MMPaWaveOut.h"
#include "audio/MMSimWaveOut.h"

namespace {

TMMWaveOutDevice*& currentDevice()
{
    static TMMWaveOutDevice* d = nullptr;
    return d;
}

}  // namespace

std::unique_ptr<TMMWaveOutDevice> CreateWaveOutBackend(const TMMWaveInDevice& capture)
{
    if (capture.BackendName() == "simulated") return std::make_unique<TMMSimulatedWaveOut>();
    return std::make_unique<TMMPortAudioWaveOut>();
}

void SetWaveOutDevice(TMMWaveOutDevice* device) { currentDevice() = device; }

TMMWaveOutDevice& WaveOutDevice()
{
    if (currentDevice()) return *currentDevice();
    static TMMSimulatedWaveOut fallback(1 << 20);
    return fallback;
}

std::vector<TMMDeviceInfo> ListWaveOutDevices(TMMWaveOutDevice& device)
{
    std::vector<TMMDeviceInfo> list = device.OutputDevices();
    if (list.empty() || list.front().id != -1) list.insert(list.begin(), TMMDeviceInfo{-1, "Wave mapper", "", 0});
    return list;
}

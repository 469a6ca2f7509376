#include "audio/MMWaveOutDevice.h"

std::vector<TMMDeviceInfo> TMMWaveOutDevice::OutputDevices()
{
    std::vector<TMMDeviceInfo> list;
    const int n = GetNumDevs();
    for (int id = -1; id < n; ++id) {
        WaveOutCaps caps;
        if (GetDevCaps(id, caps) != MMSYSERR_NOERROR) continue;
        list.push_back({id, caps.szPname, caps.hostApi, caps.wChannels});
    }
    return list;
}

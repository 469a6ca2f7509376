#include "audio/MMWaveInDevice.h"

std::vector<TMMDeviceInfo> TMMWaveDevice::Devices()
{
    std::vector<TMMDeviceInfo> list;
    const int n = GetNumDevs();
    for (int id = -1; id < n; ++id) {
        WaveCaps caps;
        if (GetDevCaps(id, caps) != MMSYSERR_NOERROR) continue;
        list.push_back({id, caps.szPname, caps.hostApi, caps.wChannels});
    }
    return list;
}

MMRESULT TMMWaveDevice::PrepareHeader(uintptr_t h, PWaveHdr hdr)
{
    return MarkHeaderPrepared(StreamFrames(h) >= 0, hdr, true);
}

MMRESULT TMMWaveDevice::UnprepareHeader(uintptr_t h, PWaveHdr hdr)
{
    return MarkHeaderPrepared(StreamFrames(h) >= 0, hdr, false);
}

MMRESULT TMMWaveDevice::GetPosition(uintptr_t h, MMTime& t)
{
    const int64_t frames = StreamFrames(h);
    if (frames < 0) return MMSYSERR_INVALHANDLE;
    t.wType = MMTime::TIME_SAMPLES;
    t.value = static_cast<uint32_t>(frames);
    return MMSYSERR_NOERROR;
}

uint32_t StandardFormatBit(const WaveFormat& fmt)
{
    // Above 48000 the class is taken from the rate's low 16 bits.
    uint32_t rate = fmt.nSamplesPerSec;
    if (rate > 48000) rate &= 0xFFFF;
    int cls;
    if (rate >= 8000 && rate <= 11025)
        cls = 0;
    else if (rate >= 11026 && rate <= 22050)
        cls = 1;
    else if (rate >= 22051 && rate <= 48000)
        cls = 2;
    else
        return 0;
    int slot;
    if (fmt.nChannels == 1 && fmt.wBitsPerSample == 8)
        slot = 0;
    else if (fmt.nChannels == 2 && fmt.wBitsPerSample == 8)
        slot = 1;
    else if (fmt.nChannels == 1 && fmt.wBitsPerSample == 16)
        slot = 2;
    else if (fmt.nChannels == 2 && fmt.wBitsPerSample == 16)
        slot = 3;
    else
        return 0;
    return 1u << (cls * 4 + slot);
}

uint32_t StandardFormatBits(bool mono, bool stereo, bool bits8, bool bits16)
{
    uint32_t one = 0;
    if (mono && bits8) one |= WAVE_FORMAT_1M08;
    if (stereo && bits8) one |= WAVE_FORMAT_1S08;
    if (mono && bits16) one |= WAVE_FORMAT_1M16;
    if (stereo && bits16) one |= WAVE_FORMAT_1S16;
    return one | (one << 4) | (one << 8);
}

MMRESULT StandardErrorText(MMRESULT err, std::string& text)
{
    switch (err) {
    case MMSYSERR_NOERROR: text = "The specified command was carried out."; break;
    case MMSYSERR_ERROR: text = "Undefined external error."; break;
    case MMSYSERR_BADDEVICEID: text = "A device ID has been used that is out of range for your system."; break;
    case MMSYSERR_ALLOCATED: text = "The specified device is already in use."; break;
    case MMSYSERR_INVALHANDLE: text = "The specified device handle is invalid."; break;
    case MMSYSERR_NODRIVER: text = "There is no driver installed on your system."; break;
    case MMSYSERR_NOMEM: text = "There is not enough memory available for this task."; break;
    case MMSYSERR_INVALPARAM: text = "An invalid parameter was passed to a system function."; break;
    case WAVERR_BADFORMAT: text = "The specified format is not supported or cannot be translated."; break;
    case WAVERR_STILLPLAYING: text = "Cannot perform this operation while media data is still playing."; break;
    case WAVERR_UNPREPARED: text = "The wave header was not prepared."; break;
    default: return MMSYSERR_BADERRNUM;
    }
    return MMSYSERR_NOERROR;
}

#include "audio/MMCombinedWaveIn.h"

TMMCombinedWaveIn::TMMCombinedWaveIn(std::unique_ptr<TMMWaveInDevice> first, std::unique_ptr<TMMNetWaveIn> net)
    : mFirst(std::move(first)), mNet(std::move(net)), mBase(std::max(0, mFirst->GetNumDevs()))
{
}

TMMCombinedWaveIn::~TMMCombinedWaveIn()
{
    // The network's receivers go first: nothing of theirs outlives the other back end.
    mNet.reset();
    mFirst.reset();
}

MMRESULT TMMCombinedWaveIn::GetErrorText(MMRESULT err, std::string& text)
{
    if (err == TMMNetWaveIn::kNoPackets) return mNet->GetErrorText(err, text);
    return mFirst->GetErrorText(err, text);
}

MMRESULT TMMCombinedWaveIn::Open(uintptr_t* h, int id, const WaveFormat& fmt, TWaveInNotify cb, void* instance,
                                 uint32_t flags)
{
    if (id < mBase) return mFirst->Open(h, id, fmt, cb, instance, flags);
    return mNet->Open(h, id - mBase, fmt, cb, instance, flags);
}

MMRESULT TMMCombinedWaveIn::GetDevCaps(int id, WaveCaps& caps)
{
    if (id < mBase) return mFirst->GetDevCaps(id, caps);
    return mNet->GetDevCaps(id - mBase, caps);
}

MMRESULT TMMCombinedWaveIn::GetID(HWAVEIN h, int& id)
{
    const MMRESULT r = For(h).GetID(h, id);
    if (r == MMSYSERR_NOERROR && h >= TMMNetWaveIn::FirstHandle) id += mBase;
    return r;
}

std::vector<TMMDeviceInfo> TMMCombinedWaveIn::InputDevices()
{
    std::vector<TMMDeviceInfo> list = mFirst->InputDevices();
    for (TMMDeviceInfo d : mNet->InputDevices()) {
        d.id += mBase;
        list.push_back(std::move(d));
    }
    return list;
}

// The correlation window's view of the main window: recorders and
// connectors 1 ... 6 of TMainAudio and the settings store. GUI thread only.
#pragma once

#include "correlation/MMCorrelationPair.h"

class TMainAudio;
class TSettingsAccess;

class TMainCorrelationHost : public TCorrelationHost {
public:
    TMainCorrelationHost(TSettingsAccess& store, TMainAudio& audio) : mStore(store), mAudio(audio) {}
    void CloseRecorder(int k) override;
    void StartRecorder(int k) override;
    TMMDSPComponent& Connector(int k) override;
    int ReadInt(const std::string& name, int def) override;

private:
    TSettingsAccess& mStore;
    TMainAudio& mAudio;
};

#include "app/qt/MainCorrelation.h"

#include "app/StoreAccess.h"
#include "app/qt/MainAudio.h"
#include "audio/MMConnector.h"

void TMainCorrelationHost::CloseRecorder(int k) { mAudio.Close(k); }
void TMainCorrelationHost::StartRecorder(int k) { mAudio.Start(k); }
TMMDSPComponent& TMainCorrelationHost::Connector(int k) { return mAudio.Connector(k); }
int TMainCorrelationHost::ReadInt(const std::string& name, int def) { return mStore.ReadInt(name, def); }

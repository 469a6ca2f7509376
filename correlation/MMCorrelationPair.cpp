#include "correlation/MMCorrelationPair.h"

#include "audio/MMDSPObj.h"

#include <algorithm>

void SelectCorrelationPair(TCorrelationHost& host, TMMDSPComponent& core, int item)
{
    constexpr int n = TCorrelationHost::kPairs;
    item = std::clamp(item, 0, n - 1);
    for (int k = 1; k <= n; ++k) host.CloseRecorder(k);
    for (int k = 1; k <= n; ++k) host.Connector(k).setOutput(nullptr);
    host.Connector(item + 1).setOutput(&core);
    for (int k = 1; k <= n; ++k) host.StartRecorder(k);
}

// The correlation window's tap on one of the first six stereo pairs: its
// connector is the Output of the chosen pair's connector. What the window
// needs of the main window's recorders, connectors and settings store.
// GUI thread only.
#pragma once

#include <string>

class TMMDSPComponent;

// Recorders `MMWaveIn`k and connectors `MMConnector`k of the main window,
// k = 1 ... 6 here, and the stored values.
class TCorrelationHost {
public:
    static constexpr int kPairs = 6;  // pairs the window can tap

    virtual ~TCorrelationHost() = default;
    // Each may throw the recorder's error.
    virtual void CloseRecorder(int k) = 0;
    virtual void StartRecorder(int k) = 0;  // opens a closed recorder first
    virtual TMMDSPComponent& Connector(int k) = 0;
    // A stored integer, `def` when missing or unreadable.
    virtual int ReadInt(const std::string& name, int def) = 0;
};

// Re-links `core` behind the connector of pair `item` (0 ... 5, limited):
// closes recorders 1 ... 6, clears the Output of connectors 1 ... 6, sets
// the chosen one's Output to `core`, then starts recorders 1 ... 6, in that
// order. Nothing is caught: an error ends the sequence where it was raised.
void SelectCorrelationPair(TCorrelationHost& host, TMMDSPComponent& core, int item);

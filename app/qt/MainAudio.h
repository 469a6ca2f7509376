// The main window's twelve recorders `MMWaveIn`k and twelve connectors
// `MMConnector`k: recorder k feeds connector k, whose level sinks are the
// bars of strips 2k-1 (left) and 2k (right). Counts buffers and blocks for
// the run statistics. GUI thread only.
#pragma once

#include "app/RunStats.h"

#include "base/TvConstants.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QTimer;

class TMMLevelSink;
class TMMConnector;
class TMMWaveIn;
class TCountingLevelSink;
class TMMWaveInDevice;

// The capture back end of every recorder created after this call (null:
// the built-in default). The caller keeps ownership.
void SetMainCaptureDevice(TMMWaveInDevice* device);

// The line the user reads when recorder k's device is lost, back or not
// connected ("" for other events): "Input 3&4: device "X" lost; ...".
std::string DeviceEventLine(int k, const std::string& what, const std::string& device,
                            const std::string& reason = {});

class TMainAudio {
public:
    TMainAudio();
    ~TMainAudio();

    // Bars of recorder k (1 ... 12).
    void SetLevelSinks(int k, TMMLevelSink* left, TMMLevelSink* right);

    // The recorders' and connectors' counters into s (rate, buffers, reopens,
    // time lost, running recorders, blocks per bar, trigger cycles, drops).
    void CollectStats(TRunStats& s) const;

    // Each may throw the recorder's error; the caller swallows it.
    void SetDevice(int k, int deviceId);
    // Recorder k's remembered device `name` is not connected: Start leaves
    // the recorder closed, its strips dark, until SetDevice gives it a
    // device; the first such Start tells the device listeners "not connected".
    void SetNotConnected(int k, const std::string& name);
    bool NotConnected(int k) const { return !mMissing[k - 1].empty(); }
    // The device of recorder k as shown: its name, or "NAME (not connected)".
    std::string RecorderDeviceName(int k) const;
    void SetSampleRate(int k, int rate);
    void Close(int k);
    void Start(int k);
    bool Running(int k) const;

    int InputDeviceCount() const;
    std::string InputDeviceName(int id) const;
    int OutputDeviceCount() const;
    std::string OutputDeviceName(int id) const;

    TMMWaveIn& Recorder(int k);
    TMMConnector& Connector(int k);

    // A recorder's device opened, was lost or reopened (what = "opened",
    // "lost", "reopened"), or is not connected at start ("not connected",
    // the remembered name); GUI thread. The recorders' OnDeviceEvent is
    // taken by this class: listen here.
    // "failed": a start failed (reported once until the recorder runs again);
    // `reason` says why ("" for the other events).
    using TDeviceListener =
        std::function<void(int k, const std::string& what, const std::string& device, const std::string& reason)>;
    void AddDeviceListener(TDeviceListener listener) { mDeviceListeners.push_back(std::move(listener)); }
    // Interval of the reopen attempts of a lost device (ms).
    static constexpr int kReopenIntervalMs = 2000;
    uint64_t Reopens(int k) const;
    // Why recorder k's device does not open now ("" when it runs or was never started).
    std::string Failure(int k) const;
    double SecondsLost(int k) const;

    // Every recorded buffer of recorder k as interleaved 16-bit stereo
    // frames, on the GUI thread (e.g. the loudness window); empty: none.
    using TBufferTap = std::function<void(int k, const int16_t* frames, size_t count)>;
    void SetBufferTap(TBufferTap tap) { mTap = std::move(tap); }

    uint64_t Buffers(int k) const { return mBuffers[k - 1]; }
    uint64_t Blocks(int n) const;  // strip n (1 ... 24)
    uint64_t TriggerCycles() const { return mCycles; }
    // Buffers of audio lost since the program started (no buffer was queued
    // when the device had frames for it).
    uint64_t DroppedBuffers() const;
    int SampleRate() const;

private:
    std::array<std::unique_ptr<TMMWaveIn>, tv::kPairs> mRecorders;
    std::array<std::unique_ptr<TMMConnector>, tv::kPairs> mConnectors;
    std::array<std::unique_ptr<TCountingLevelSink>, tv::kStrips> mSinks;
    std::array<uint64_t, tv::kPairs> mBuffers{};
    uint64_t mCycles = 0;
    uint64_t mDroppedClosed = 0;  // lost by recorders before they were closed
    std::vector<TDeviceListener> mDeviceListeners;
    std::array<std::string, tv::kPairs> mMissing;  // names of devices not connected
    std::array<bool, tv::kPairs> mMissingReported{};
    uint64_t mNetGeneration = 0;  // of the network streams' list last matched
    void ConnectAnnounced();
    std::array<uint64_t, tv::kPairs> mFailedOpens{};
    TBufferTap mTap;
    std::unique_ptr<QTimer> mPoll;  // the recorders' stall checks and reopen attempts
};

// The monitoring state as read by the status endpoint: a snapshot of every
// strip (label, levels, detector state) and recorder, filled by the program
// on request, and its two renderings, JSON (GET /status) and the Prometheus
// text format (GET /metrics). Qt-free; GUI thread.
#pragma once

#include "monitoring/MMSilence.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct TStripStatus {
    int Strip = 1;                 // 1 .. 24
    std::string Label;
    bool Watched = false;          // examined in the current input mode
    int Level = 0;                 // the level the detector compares, SilenceLevel (full scale 32768)
    int Peak = 0;                  // sample peak of the last block (full scale 32768)
    TSilenceState State = TSilenceState::Sounding;
    bool Recovering = false;       // in alarm, sounding, within the recovery time
    int64_t SilentMs = 0;          // of the current silence; 0 while sounding
    uint64_t Episodes = 0;         // silence episodes since start
    uint64_t AlarmTicks = 0;
    int64_t LastAlarmMs = -1;      // -1: never
};

struct TRecorderStatus {
    int Recorder = 1;              // 1 .. 12
    std::string Device;
    bool Running = false;
    uint64_t Reopens = 0;
    uint64_t Buffers = 0;
    std::string Failure;           // why its device does not open ("" when it does)
};

struct TStatusSnapshot {
    int64_t TimeMs = 0;            // wall clock, ms since the epoch
    double UptimeSeconds = 0;
    bool Detector = false;         // the silence check is on
    int Channels = 0;              // active channel count
    std::vector<TStripStatus> Strips;
    std::vector<TRecorderStatus> Recorders;
};

class IMMStatusSource {
public:
    virtual ~IMMStatusSource() = default;
    virtual TStatusSnapshot StatusSnapshot() = 0;
};

// A source given as a function.
class TMMStatusFunction : public IMMStatusSource {
public:
    std::function<TStatusSnapshot()> OnSnapshot;
    TStatusSnapshot StatusSnapshot() override { return OnSnapshot ? OnSnapshot() : TStatusSnapshot{}; }
};

// State, recovery, silence length, episodes, alarm ticks and last alarm of
// strip s.Strip from the detector (watched strips only).
void FillDetectorStatus(TStripStatus& s, const TMMSilenceDetector& d);

// "sounding", "silent", "alarm"; "unwatched" for a strip the mode leaves out.
const char* StripStateName(const TStripStatus& s);
std::string StatusJson(const TStatusSnapshot& s);
std::string StatusPrometheus(const TStatusSnapshot& s);

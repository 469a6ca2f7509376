// The monitoring state as read by the status endpoint: a snapshot of every
// strip (label, levels, detector state) and recorder, filled by the program
// on request, and its two renderings, JSON (GET /status) and the Prometheus
// text format (GET /metrics). Qt-free; GUI thread.
//
// The Prometheus text follows its naming rules (docs/fleet.md lists every
// metric): one `tarvolin_` prefix, base units, counters end in `_total`,
// labels `strip` and `label` (watched strips only), `recorder` and `device`
// (at most 12 recorders), so a meter has a bounded number of series; no value
// is ever NaN (digital silence reads -Inf dBFS).
#pragma once

#include "audio/MMNetRtp.h"
#include "monitoring/MMSilence.h"

#include <array>
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
    // Highest block peak since the previous scrape (full scale 32768); -1:
    // not taken (the snapshot of /status), /metrics then shows Peak.
    int PeakHeld = -1;
    uint64_t AlarmEpisodes = 0;    // silences that reached their alarm, since start
    int64_t AlarmMs = 0;           // time spent in alarm since start, the current alarm included
};

struct TRecorderStatus {
    int Recorder = 1;              // 1 .. 12
    std::string Device;
    bool Running = false;
    uint64_t Reopens = 0;
    uint64_t Buffers = 0;
    std::string Failure;           // why its device does not open ("" when it does)
    bool Used = false;             // the input mode records from it
    bool NotConnected = false;     // its remembered device was not found
    double SecondsLost = 0;        // time its device was gone, since start
};

// The monitoring service's own counters since start.
struct TMonitorCounters {
    uint64_t JournalLines = 0;
    uint64_t JournalErrors = 0;    // lines that could not be written
    uint64_t JournalDropped = 0;   // lines a full queue refused
    uint64_t Commands = 0;         // alarm commands started
    uint64_t CommandFailures = 0;  // could not start, failed, or stopped at the time limit
    uint64_t CommandsSkipped = 0;  // one for the same strip and event still ran
    uint64_t WebhookDelivered = 0;
    uint64_t WebhookFailed = 0;    // given up after the last retry
    uint64_t WebhookDropped = 0;   // pushed out of a full queue
};

struct TStatusSnapshot {
    int64_t TimeMs = 0;            // wall clock, ms since the epoch
    int64_t StartMs = 0;           // wall clock at the meter's start
    double UptimeSeconds = 0;
    bool Detector = false;         // the silence check is on
    int Channels = 0;              // active channel count
    std::vector<TStripStatus> Strips;
    std::vector<TRecorderStatus> Recorders;
    uint64_t DroppedBuffers = 0;   // audio lost because no buffer was queued, all recorders
    TMonitorCounters Monitor;
    std::vector<TNetStreamStatus> Streams;  // network streams listed or received
};

// The network streams as a JSON array (the status and --stats).
std::string StreamsJson(const std::vector<TNetStreamStatus>& streams);

class IMMStatusSource {
public:
    virtual ~IMMStatusSource() = default;
    virtual TStatusSnapshot StatusSnapshot() = 0;
    // The snapshot a scrape of /metrics renders: the held peaks are taken
    // (and start afresh), so each scrape reports the peaks since the one
    // before, whoever asked.
    virtual TStatusSnapshot MetricsSnapshot() { return StatusSnapshot(); }
};

// A source given as functions (OnMetrics unset: the status snapshot).
class TMMStatusFunction : public IMMStatusSource {
public:
    std::function<TStatusSnapshot()> OnSnapshot;
    std::function<TStatusSnapshot()> OnMetrics;
    TStatusSnapshot StatusSnapshot() override { return OnSnapshot ? OnSnapshot() : TStatusSnapshot{}; }
    TStatusSnapshot MetricsSnapshot() override { return OnMetrics ? OnMetrics() : StatusSnapshot(); }
};

// Per strip, the alarms that began and the time spent in alarm, kept from
// the detector's events (Alarm starts one, SoundRestored ends it) on a
// clock that only moves forward. GUI thread.
class TMMAlarmTime {
public:
    void Event(TSilenceEventKind kind, int strip, int64_t steadyMs);
    uint64_t Alarms(int strip) const;
    // Time in alarm since start, up to steadyMs for a strip still in alarm.
    int64_t AlarmMs(int strip, int64_t steadyMs) const;

private:
    struct TStrip {
        uint64_t Alarms = 0;
        int64_t DoneMs = 0;    // of the alarms that have ended
        int64_t SinceMs = -1;  // start of the current alarm; -1: none
    };
    std::array<TStrip, tv::kStrips> mStrips{};
};

// State, recovery, silence length, episodes, alarm ticks and last alarm of
// strip s.Strip from the detector (watched strips only).
void FillDetectorStatus(TStripStatus& s, const TMMSilenceDetector& d);

// "sounding", "silent", "alarm"; "unwatched" for a strip the mode leaves out.
const char* StripStateName(const TStripStatus& s);
// The recorder's state label in /metrics: "running", "stopped", "lost", "not_connected".
const char* RecorderMetricState(const TRecorderStatus& r);
std::string StatusJson(const TStatusSnapshot& s);
std::string StatusPrometheus(const TStatusSnapshot& s);

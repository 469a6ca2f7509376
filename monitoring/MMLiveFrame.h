// What the live page draws, without a display: the meter's state as two
// compact JSON messages for the page's WebSocket. "info" holds what changes
// rarely (labels, segment counts, zone colours, the standard's scale labels,
// recorders, the last log lines); "levels" what moves with the signal (bar
// and peak segments, levels in dBFS, silence states, correlation, loudness).
// Labels, device names and log lines travel as JSON strings only; the page
// inserts them with textContent. Qt-free; GUI thread.
#pragma once

#include "base/MMTypes.h"
#include "metering/MMScale.h"
#include "monitoring/MMStatus.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A label beside the bars; Y from 0 (top of the bar) to 1 (bottom).
struct TLiveScaleLabel {
    std::string Text;
    double Y = 0;
};

struct TLiveStrip {
    TStripStatus Status;           // label, watched, level, silence state: as GET /status
    int Segments = 0;              // segments of the bar
    int Zone1 = 0, Zone2 = 0;      // last segment of the bottom and of the middle zone
    TColor Active[3] = {};         // bottom, middle, top zone
    TColor Inactive[3] = {};
    TColor LabelColor = clBlack;
    int Bar = 0;                   // lit segments, 0 ... Segments
    int Peak = 0;                  // held peak segment, 0: none
};

struct TLiveRecorder {
    int Recorder = 1;
    std::string Device;
    std::string State;             // RecorderStateName
};

struct TLiveFrame {
    int Channels = 0;
    bool Detector = false;
    std::string Standard;          // caption of the current standard
    std::vector<TLiveScaleLabel> Scale;
    std::vector<TLiveStrip> Strips;
    std::vector<TLiveRecorder> Recorders;
    std::vector<std::string> LogLines;  // oldest first
    bool HasCorrelation = false;
    int CorrelationPair = 0;       // 1 ... 12
    double Correlation = 0;        // -1 ... +1
    bool HasLoudness = false;      // the loudness window measures
    double Momentary = 0, ShortTerm = 0, Integrated = 0;  // LUFS; not finite: not yet
    double LoudnessRange = 0;      // LU
};

// The correlation of a stereo pair for the live page: exponential means of
// L*R, L*L and R*R over about 150 ms of audio, fed with interleaved 16-bit
// frames on the GUI thread (the pair's level blocks). No allocation.
class TLiveCorrelation {
public:
    static constexpr double kTimeConstantSeconds = 0.15;
    void Add(const int16_t* frames, size_t count, int rate);
    // -1 ... +1; NaN while the pair is silent on either side.
    double Value() const;
    void Reset() { mLR = mLL = mRR = 0; }
    uint64_t Blocks() const { return mBlocks; }

private:
    double mLR = 0, mLL = 0, mRR = 0;
    uint64_t mBlocks = 0;
};

// "running", "not connected" (its device is missing at start), "lost" (its
// device failed or went away), "stopped".
const char* RecorderStateName(bool running, bool notConnected, const std::string& failure);

// The text labels of a recorded scale picture (blank and dash-only cells
// dropped, the rest trimmed), each at the middle of its cell.
std::vector<TLiveScaleLabel> ScaleLabelsOfPicture(const TScaleCanvas& picture);
// The labels of the strips' scale widget (vertical, `ticks` divisions down to
// `sensitivity` dB), as the widget writes them.
std::vector<TLiveScaleLabel> ScaleWidgetLabels(int sensitivity, int ticks);

// {"type":"info",...} and {"type":"levels",...}.
std::string LiveInfoJson(const TLiveFrame& f);
std::string LiveLevelsJson(const TLiveFrame& f);

class IMMLiveSource {
public:
    virtual ~IMMLiveSource() = default;
    virtual TLiveFrame LiveFrame() = 0;
};

// A source given as a function.
class TMMLiveFunction : public IMMLiveSource {
public:
    std::function<TLiveFrame()> OnFrame;
    TLiveFrame LiveFrame() override { return OnFrame ? OnFrame() : TLiveFrame{}; }
};

// `TMeterEngine`: the meter's monitoring side, one for every view (the main
// window, headless mode). It owns the monitoring service (journal, actions,
// webhook), the status endpoint and its snapshot, `--log-out`, the routing
// of device events and the stop signals; a view hands it the strips and the
// silence detector and subscribes to its lines for the operator. QtCore
// only; GUI thread.
#pragma once

#include "app/RunStats.h"
#include "monitoring/MMMonitorSettings.h"
#include "monitoring/MMStatus.h"

#include <fstream>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

struct CommandLine;
class TMainAudio;
class TMMCustomLevel;
class TMMMonitorService;
class TMMSilenceDetector;
class TMMStatusServer;
class TSettingsAccess;
class TStopSignals;

// What the engine reads of a view's strips.
struct TMeterStrips {
    std::function<const TMMCustomLevel*(int n)> Bar;  // n = 1 ... 24; null when none
    std::function<std::string(int n)> Label;
    std::function<int()> ModeIndex;
    std::function<int()> Channels;  // active channel count
    std::function<bool()> DetectorOn;
};

class TMeterEngine {
public:
    TMeterEngine(TMainAudio& audio, TSettingsAccess& store);
    ~TMeterEngine();
    TMeterEngine(const TMeterEngine&) = delete;
    TMeterEngine& operator=(const TMeterEngine&) = delete;

    // The view's detector: its alarms and restored sound go to the journal
    // and the actions, its log lines to --log-out, its hold to the journal.
    // The stored monitoring settings are applied.
    void Attach(TMMSilenceDetector& detector, TMeterStrips strips);
    // --log-out and --status-port; false after one line on err when the
    // status endpoint cannot listen.
    bool Start(const CommandLine& cl, std::ostream& err);
    // From the "Actions" dialog or the store.
    void ApplyMonitorSettings(const TMonitorSettings& m);

    TStatusSnapshot Snapshot() const;
    // Audio counters, each strip's level and the detector's counts.
    void CollectStats(TRunStats& s) const;
    TMMMonitorService& Service() { return *mService; }

    // A line for the operator (a device lost or back, a journal, command or
    // webhook failure, monitoring paused); it has gone to stderr already,
    // except the pause lines.
    std::function<void(const std::string& line)> OnLogLine;
    // SIGINT, SIGTERM or SIGHUP came: the view ends as at a normal close.
    std::function<void()> OnStop;

private:
    void logLine(const std::string& line, bool toStderr);

    TMainAudio& mAudio;
    TSettingsAccess& mStore;
    TMeterStrips mStrips;
    TMMSilenceDetector* mDetector = nullptr;
    std::unique_ptr<TMMMonitorService> mService;
    std::unique_ptr<TStopSignals> mStopSignals;
    std::unique_ptr<TMMStatusFunction> mStatusSource;
    std::unique_ptr<TMMStatusServer> mStatus;
    std::ofstream mLogOut;
    int64_t mStartMs = 0;
    // The audio and the detector may outlive the engine: their listeners hold this weakly.
    std::shared_ptr<TMeterEngine*> mSelf;
};

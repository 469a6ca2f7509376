// `TMeterEngine`: the meter, one for every view. It owns the audio back end's
// recorders and connectors (`TMainAudio`), the 24 level analysers, the level
// settings, the silence detector, the stored values' restore and save, and
// the monitoring side (journal, actions, webhook, status endpoint and its
// snapshot, `--log-out`, device events, stop signals). Views (the main
// window, headless mode, the status server) present it: they subscribe to its
// events and read its state through `TMeterView` and the getters here; none
// keeps metering state of its own. QtCore only; GUI thread.
#pragma once

#include "app/MainValues.h"
#include "app/MeterView.h"
#include "app/RunStats.h"
#include "metering/MMLevel.h"
#include "metering/uSet_Level_core.h"
#include "monitoring/MMLiveFrame.h"
#include "monitoring/MMMonitorSettings.h"
#include "monitoring/MMSilence.h"
#include "monitoring/MMStatus.h"
#include "monitoring/qt/MMSilenceTimer.h"

#include <array>
#include <deque>
#include <fstream>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

class QObject;
class QTimer;
struct CommandLine;
class TMainAudio;
class TMMLevelSink;
class TMMMonitorService;
class TMMStatusServer;
class TSettingsAccess;
class TStopSignals;

class TMeterEngine : public TMainTarget, public IMMSilenceHost, public IMMSilenceSettings {
public:
    explicit TMeterEngine(TSettingsAccess& store);
    ~TMeterEngine() override;
    TMeterEngine(const TMeterEngine&) = delete;
    TMeterEngine& operator=(const TMeterEngine&) = delete;

    TMainAudio& Audio() { return *mAudio; }
    const TMainAudio& Audio() const { return *mAudio; }
    // Analyser of strip n (1 ... 24); the main window's bar shows it.
    TMMCustomLevel& Bar(int n) { return *mBars[n - 1]; }
    const TMMCustomLevel& Bar(int n) const { return *mBars[n - 1]; }
    // The level settings (the "Level settings" dialog edits these).
    TSetLevelCore& LevelSettings() { return mLevelSettings; }
    TMMSilenceDetector& Detector() { return *mDetector; }
    const TMMSilenceDetector& Detector() const { return *mDetector; }
    // The alarm player of a view that plays the sound; its end goes to
    // Detector().SoundStopped().
    TMMAlarmSoundBinding& Sound() { return mSound; }
    TSettingsAccess& Store() { return mStore; }

    // ---- views
    void AddView(TMeterView& view);
    void RemoveView(TMeterView& view);
    // The detector's timers from a window (TimerOff, TimerOn, Timer_start1 ...
    // 24, t_reset) in place of the engine's own; null entries are the
    // engine's own (a window gives its timers back with UseTimers({})).
    struct TTimers {
        QTimer* TimerOff = nullptr;
        QTimer* TimerOn = nullptr;
        QTimer* Reset = nullptr;
        std::array<QTimer*, tv::kStrips> Strip{};
    };
    void UseTimers(const TTimers& timers);

    // ---- the stored values
    void Restore() { RestoreMainValues(mStore, *this); }
    void Save() { SaveMainValues(mStore, *this); }
    // The detector's first check after start (when it is switched on).
    void StartCheck();
    // The input setup from the menu: the detector holds (the strips the
    // operator darkens are no programme fault), every recorder closes, `setup`
    // runs, the recorders of the mode start again.
    void SelectInputs(const std::function<void()>& setup);
    // The input setup's mode and sample rate.
    void SetInputMode(int mode);
    void SetRecorderSampleRate(int k, int rate);
    int SampleRate() const { return mSampleRate; }
    // "Stop Logfile" / "Start Logfile".
    void StopLogging();
    void setLoggingOn(bool on) { mLoggingOn = on; }

    // ---- the monitoring side
    // --log-out and --status-port; the stop signals. False after one line on
    // err when the status endpoint cannot listen.
    bool Start(const CommandLine& cl, std::ostream& err);
    // From the "Actions" dialog or the store.
    void ApplyMonitorSettings(const TMonitorSettings& m);
    TStatusSnapshot Snapshot() const;
    // The snapshot of a scrape of /metrics: with each strip's peak since the
    // previous scrape (the holds start afresh).
    TStatusSnapshot ScrapeSnapshot();
    // What the live page shows: the snapshot's strips with each bar's
    // segments, zone colours and peak, the standard's scale labels, the
    // recorders' states, the correlation of the correlation window's pair
    // (while its blocks come) and the last log lines.
    TLiveFrame LiveFrame();
    // A view adds what it alone measures (the loudness window's readouts).
    std::function<void(TLiveFrame&)> OnLiveFrame;
    // Log lines the live page shows (the silence log and operator lines).
    static constexpr size_t kRecentLines = 8;
    // Audio counters, each strip's level and the detector's counts.
    void CollectStats(TRunStats& s) const;
    TMMMonitorService& Service() { return *mService; }
    // SIGINT, SIGTERM or SIGHUP came: the view ends as at a normal close.
    std::function<void()> OnStop;

    // ---- TMainTarget: the restore and save sequences' target
    TStripValues StripValues(int n) override;
    void ApplyStripValues(int n, const TStripValues& v) override;
    TWindowPlacement Placement() override;
    void ApplyPlacement(const TWindowPlacement& p) override;
    void SetLabelText(int n, const std::string& text) override;
    TLevelSetValues LevelSetValues() override;
    TCorreValues CorreValues() override;
    int InputMode() override { return mMode; }
    int SampleRateIndex() override { return mRate; }
    void SetLoggingOn() override { mLoggingOn = true; }
    void ApplyLevelSetStart(const TLevelSetValues& v) override;
    void ApplyInputMode(int mode) override;
    void ApplyStandard(int standard, int integralMs, int reference) override;
    void ApplySampleRate(int index) override;
    void ApplyStereo(int stereo) override;
    void ApplyDetector(const TLevelSetValues& v) override;
    void ShowInputSetupModal() override;
    void SetRecorderDevice(int k, int deviceId) override;
    void SetRecorderNotConnected(int k, const std::string& name) override;
    void SetAlarmOutDevice(int deviceId) override;
    void CloseRecorder(int k) override;
    void StartRecorder(int k) override;
    void ShowCorrelation() override;

    // ---- IMMSilenceHost
    int ModeIndex() override { return mMode; }
    int ActiveChannelCount() override { return mChannels; }
    bool LoggingOn() override { return mLoggingOn; }
    int SilenceLevel(int n) override { return mBars[n - 1]->SilenceHeld(); }
    void RestartSilenceLevels() override;
    std::string LabelText(int n) override { return mLabels[n - 1]; }
    void SetLabelInactiveColor(int n, TColor c) override;
    void SetLabelVisible(int n, bool visible) override;
    void SetLabelEnabled(int n, bool enabled) override;
    void DrawAlarm(int n) override;
    void ReapplyStandard() override;
    void ReportError(const std::string& text) override;
    int64_t NowMs() override;
    int64_t SteadyMs() override;
    std::string DateTimeText(int64_t ms) override;
    char DecimalSeparator() override;

    // ---- IMMSilenceSettings (no alarm sound without a view that plays it)
    bool Detect() const override { return mLevelSettings.Detect(); }
    int ThresholdAmplitude() const override { return mLevelSettings.ThresholdAmplitude(); }
    int AlarmSeconds() const override { return mLevelSettings.AlarmSeconds(); }
    bool PlaySound() const override;
    void setPlaySound(bool on) override { mLevelSettings.setPlaySound(on); }

private:
    class TStrips;
    class TCorrelationSink;
    void logLine(const std::string& line, bool toStderr);
    void keepLine(const std::string& line);
    template <class F>
    void eachView(F f)
    {
        for (size_t i = 0; i < mViews.size(); ++i) f(*mViews[i]);
    }
    void connectTimers();

    TSettingsAccess& mStore;
    std::unique_ptr<TMMMonitorService> mService;
    std::unique_ptr<TStopSignals> mStopSignals;
    std::unique_ptr<TMMStatusFunction> mStatusSource;
    std::unique_ptr<TMMLiveFunction> mLiveSource;
    std::deque<std::string> mRecentLines;
    int mLiveScaleOf = -1;  // the standard whose scale labels mLiveScale holds
    std::vector<TLiveScaleLabel> mLiveScale;
    TLiveCorrelation mCorrelation;  // of pair mCorrelationPair, summed by its left strip's sink
    int mCorrelationPair = 1;
    uint64_t mCorrelationBlocks = 0;  // blocks summed at the previous frame
    int64_t mCorrelationMs = 0;       // when they last advanced (steady clock)
    std::unique_ptr<TMMStatusServer> mStatus;
    std::ofstream mLogOut;
    int64_t mStartMs = 0;

    std::vector<TMeterView*> mViews;
    std::unique_ptr<TMainAudio> mAudio;
    std::array<std::unique_ptr<TMMCustomLevel>, tv::kStrips> mBars;
    std::array<std::unique_ptr<TMMLevelSink>, tv::kStrips> mSinks;
    std::unique_ptr<TStrips> mStrips;
    TSetLevelCore mLevelSettings;

    std::array<std::string, tv::kStrips> mLabels;
    std::array<TColor, tv::kStrips> mLedColor{};
    TWindowPlacement mPlacement;
    TCorreValues mCorre;
    std::string mUnloadedAlarmFile;  // stored "arlam file" the view's player could not load
    int mMode = 2, mChannels = 8, mRate = 0, mSampleRate = 44100;
    bool mLoggingOn = false;

    // The detector's timers: the engine's own until a window lends its.
    std::array<std::unique_ptr<QTimer>, 3 + tv::kStrips> mOwnTimers;
    TMMQtSilenceTimer mTimerOff, mTimerOn, mReset;
    std::array<TMMQtSilenceTimer, tv::kStrips> mStripTimers;
    std::unique_ptr<QObject> mConnections;  // the timers' connections to the detector
    TMMAlarmSoundBinding mSound;
    std::unique_ptr<TMMSilenceDetector> mDetector;
};

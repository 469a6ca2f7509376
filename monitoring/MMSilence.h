// The silence detector: per strip sounding / silent / alarm, the periodic
// check (`TimerOff`), the strip timers (`Timer_start`n), the blink end
// (`TimerOn`) and the pause after each alarm sound (`t_reset`). Everything
// outside (timers, labels, pictures, settings, player, clock) is reached
// through the small interfaces below, so tests drive it on a fake clock.
// Timer order: when the periodic check and a strip timer are due together,
// the strip timer is served first (the check serves every armed strip timer
// before it examines the bars), so a silent strip's counter advances once
// per second. GUI thread only.
#pragma once

#include "base/MMTypes.h"
#include "base/TvConstants.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A timer the detector arms and disarms; arming an armed timer does not
// restart it.
class IMMSilenceTimer {
public:
    virtual ~IMMSilenceTimer() = default;
    virtual void Start() = 0;
    virtual void Stop() = 0;
    virtual bool Active() const = 0;
};

// The detector's settings, read when needed (the level settings dialog).
class IMMSilenceSettings {
public:
    virtual ~IMMSilenceSettings() = default;
    virtual bool Detect() const = 0;             // chb_detect
    virtual int ThresholdAmplitude() const = 0;  // spin_db
    virtual int AlarmSeconds() const = 0;        // spin_sec
    virtual bool PlaySound() const = 0;          // cb_arlarm
    virtual void setPlaySound(bool on) = 0;
};

// The alarm sound player: Play does nothing while playing or without a
// loaded file and may throw (the output device cannot be opened). Its
// on-stop notification is handed to TMMSilenceDetector::SoundStopped.
class IMMAlarmSound {
public:
    virtual ~IMMAlarmSound() = default;
    virtual void Play() = 0;
    virtual bool Playing() const = 0;
};

// The main window as the detector sees it.
class IMMSilenceHost {
public:
    virtual ~IMMSilenceHost() = default;
    virtual int ModeIndex() = 0;           // input mode 0 .. 4
    virtual int ActiveChannelCount() = 0;
    virtual bool LoggingOn() = 0;
    // Bar n's (1 .. 24) own level relative to full scale 32768, before
    // reference scaling and display curve: the highest block peak (with
    // integration: integrated mean of block peaks) since the last check.
    virtual int SilenceLevel(int n) = 0;
    // The periodic check has read every level: the next ones start afresh.
    virtual void RestartSilenceLevels() {}
    virtual std::string LabelText(int n) = 0;
    virtual void SetLabelInactiveColor(int n, TColor c) = 0;
    virtual void SetLabelVisible(int n, bool visible) = 0;
    virtual void SetLabelEnabled(int n, bool enabled) = 0;
    virtual void DrawAlarm(int n) = 0;      // the red fill of strip n's picture
    virtual void ReapplyStandard() = 0;     // redraws every scale picture
    virtual void ReportError(const std::string& text) = 0;
    virtual int64_t NowMs() = 0;            // local wall clock for the log line
    // A clock that only moves forward, for lengths of silence: a wall clock
    // set back or forward must not shorten or stretch them.
    virtual int64_t SteadyMs() { return NowMs(); }
    virtual std::string DateTimeText(int64_t ms) = 0;  // short date + long time
    virtual char DecimalSeparator() = 0;
};

enum class TSilenceEventKind { SilenceBegan, Alarm, SoundRestored, LogLine };

struct TSilenceEvent {
    TSilenceEventKind Kind;
    int Strip;           // 1 .. 24
    std::string Label;   // the strip's channel label text
    int Level;           // SilenceLevel at the event (full scale 32768)
    int64_t TimeMs;      // NowMs at the event
    std::string Line;    // the log line (LogLine only)
    int64_t SilentMs = 0;  // since the check first found the level below the threshold
};

enum class TSilenceState { Sounding, Silent, Alarm };

struct TSilenceStripStats {
    uint64_t Alarms = 0;    // alarm ticks
    uint64_t Silences = 0;  // silence episodes
    uint64_t LogLines = 0;
};

// Strips watched for input mode index 0 .. 4; 0 for any other.
int SilenceWatchedStrips(int modeIndex);
// The active channel count strip n needs before it may log.
int SilenceGroupBound(int n);
// "-Inf" for 0, else 20 log10(level / 32768) in single precision, two
// decimals, the given decimal separator.
std::string SilenceLevelText(int level, char decimalSeparator);
// The whole log line of strip n.
std::string SilenceLogLine(int n, const std::string& label, int level, char decimalSeparator,
                           const std::string& dateTime);

class TMMSilenceDetector {
public:
    struct Timers {
        IMMSilenceTimer* TimerOff = nullptr;
        IMMSilenceTimer* TimerOn = nullptr;
        std::array<IMMSilenceTimer*, tv::kStrips> Strip{};  // Timer_start1 .. 24
        IMMSilenceTimer* Reset = nullptr;                    // t_reset
    };

    TMMSilenceDetector(IMMSilenceHost& host, IMMSilenceSettings& settings, const Timers& timers);

    void setPlayer(IMMAlarmSound* player) { mPlayer = player; }
    // Recovery time: a strip in alarm counts as restored only when this many
    // checks after the first one found it at or above the threshold still
    // find it so (one check per second); 0 (the default): at the first such
    // check. 0 ... 3600.
    int RecoverySeconds() const { return mRecovery; }
    void setRecoverySeconds(int s) { mRecovery = s < 0 ? 0 : s > 3600 ? 3600 : s; }

    // Timer ticks.
    void TimerOffTick();     // periodic check
    void StripTick(int n);   // Timer_start n
    void TimerOnTick();      // blink end
    void ResetTick();        // t_reset: the sound may play again
    // The player's OnStop: the pause before the next playing begins.
    void SoundStopped();

    // "Stop Logfile": every counter back to 0 (the delay restarts).
    void ResetCounters();
    // Holding: while the operator reconfigures the inputs (their recorders
    // closed) nothing is examined, counted, sounded or logged. Taking the
    // hold ends every silence that has not reached its alarm; releasing it
    // starts every counter afresh. An alarmed episode stays open across the
    // hold, so it later ends with one SoundRestored, not a second Alarm.
    // OnHold is told each change with the reason given.
    void setHeld(bool held, const std::string& reason = {});
    bool Held() const { return mHeld; }
    std::function<void(bool held, const std::string& reason)> OnHold;
    int Counter(int n) const { return mCounter[n - 1]; }
    void setCounter(int n, int v) { mCounter[n - 1] = v; }
    bool LogArmed(int n) const { return mLogArmed[n - 1]; }
    TSilenceState State(int n) const { return mState[n - 1]; }
    const TSilenceStripStats& Stats(int n) const { return mStats[n - 1]; }
    uint64_t LogLineCount() const { return mLogLines; }
    // NowMs of the check that first found strip n below the threshold in
    // the current silence; -1 while it sounds.
    int64_t SilentSinceMs(int n) const { return mSilentSince[n - 1]; }
    // Length of strip n's current silence (0 while none), by SteadyMs.
    int64_t SilentForMs(int n) const;
    // NowMs when strip n last went into alarm; -1 before its first alarm.
    int64_t LastAlarmMs(int n) const { return mLastAlarm[n - 1]; }
    // Strip n is in alarm and sounds, not yet for the recovery time.
    bool Recovering(int n) const { return mAboveChecks[n - 1] > 0; }

    // Every transition and every log line goes to each listener in order.
    using TListener = std::function<void(const TSilenceEvent&)>;
    void AddListener(TListener l) { mListeners.push_back(std::move(l)); }

private:
    void Emit(TSilenceEventKind kind, int n, int level, std::string line = {});
    IMMSilenceTimer* strip(int n) const { return mTimers.Strip[n - 1]; }

    IMMSilenceHost& mHost;
    IMMSilenceSettings& mSettings;
    Timers mTimers;
    IMMAlarmSound* mPlayer = nullptr;
    int mRecovery = 0;
    bool mHeld = false;
    std::array<int32_t, tv::kStrips> mCounter{};
    std::array<bool, tv::kStrips> mLogArmed{};
    std::array<TSilenceState, tv::kStrips> mState{};
    // The episode reached its alarm (kept when "Stop Logfile" restarts the
    // delay): one Alarm event per episode, and SoundRestored only after one.
    std::array<bool, tv::kStrips> mEpisodeAlarmed{};
    std::array<TSilenceStripStats, tv::kStrips> mStats{};
    std::array<int64_t, tv::kStrips> mSilentSince{};
    std::array<int64_t, tv::kStrips> mLastAlarm{};
    std::array<int, tv::kStrips> mAboveChecks{};  // checks at or above the threshold while in alarm
    uint64_t mLogLines = 0;
    std::vector<TListener> mListeners;
};

// An alarm player given as functions; the program binds them to the
// player's Play and playing state (unset: Play does nothing).
class TMMAlarmSoundBinding : public IMMAlarmSound {
public:
    std::function<void()> OnPlay;
    std::function<bool()> OnPlaying;
    void Play() override
    {
        if (OnPlay) OnPlay();
    }
    bool Playing() const override { return OnPlaying && OnPlaying(); }
};

#include "monitoring/MMSilence.h"

#include <charconv>
#include <cmath>
#include <exception>
#include <limits>

int SilenceWatchedStrips(int modeIndex)
{
    return modeIndex >= 0 && modeIndex < tv::kInputModes ? tv::kModeChannels[modeIndex] : 0;
}

int SilenceGroupBound(int n)
{
    if (n <= 2) return 2;
    if (n <= 4) return 4;
    if (n <= 8) return 8;
    if (n <= 16) return 16;
    return tv::kStrips;
}

std::string SilenceLevelText(int level, char decimalSeparator)
{
    if (level <= 0) return "-Inf";
    const float db = 20.0f * std::log10(static_cast<float>(level) / 32768.0f);
    char buf[32];
    // to_chars ignores the C locale, which the GUI toolkit sets from the user's.
    auto r = std::to_chars(buf, buf + sizeof buf, db, std::chars_format::fixed, 2);
    std::string s(buf, r.ptr);
    if (s == "-0.00") s = "0.00";
    for (char& c : s)
        if (c == '.') c = decimalSeparator;
    return s;
}

std::string SilenceLogLine(int n, const std::string& label, int level, char decimalSeparator,
                           const std::string& dateTime)
{
    return "Level " + std::to_string(n) + " : - " + label + "-   " + SilenceLevelText(level, decimalSeparator) +
           " dB  -->" + " Time: " + dateTime;
}

TMMSilenceDetector::TMMSilenceDetector(IMMSilenceHost& host, IMMSilenceSettings& settings, const Timers& timers)
    : mHost(host), mSettings(settings), mTimers(timers)
{
    mSilentSince.fill(-1);
    mLastAlarm.fill(-1);
}

void TMMSilenceDetector::Emit(TSilenceEventKind kind, int n, int level, std::string line)
{
    if (mListeners.empty()) return;
    const int64_t now = mHost.NowMs();
    const TSilenceEvent e{kind, n, mHost.LabelText(n), level, now, std::move(line), SilentForMs(n)};
    for (const TListener& l : mListeners) l(e);
}

int64_t TMMSilenceDetector::SilentForMs(int n) const
{
    const int64_t since = mSilentSince[n - 1];
    if (since < 0) return 0;
    const int64_t now = mHost.SteadyMs();
    return now > since ? now - since : 0;
}

void TMMSilenceDetector::TimerOffTick()
{
    if (mHeld) return;
    // Strip timers due together with the check are served first.
    for (int n = 1; n <= tv::kStrips; ++n)
        if (strip(n) && strip(n)->Active()) StripTick(n);

    const int watched = SilenceWatchedStrips(mHost.ModeIndex());
    const int threshold = mSettings.ThresholdAmplitude();
    for (int n = 1; n <= watched; ++n) {
        const int level = mHost.SilenceLevel(n);
        if (level < threshold) {
            // A flicker shorter than the recovery time: the alarm goes on.
            mAboveChecks[n - 1] = 0;
            if (mSilentSince[n - 1] < 0) mSilentSince[n - 1] = mHost.SteadyMs();
            if (strip(n) && !strip(n)->Active()) strip(n)->Start();
            continue;
        }
        if (strip(n)) strip(n)->Stop();
        if (mState[n - 1] == TSilenceState::Alarm && ++mAboveChecks[n - 1] <= mRecovery)
            continue;  // still in alarm until the level has stayed up for the recovery time
        mAboveChecks[n - 1] = 0;
        mCounter[n - 1] = 0;
        mHost.SetLabelEnabled(n, true);
        mHost.SetLabelVisible(n, true);
        mHost.SetLabelInactiveColor(n, clBlack);
        // Sound is restored only after an alarm: a pause that never reached it
        // just ends.
        mState[n - 1] = TSilenceState::Sounding;
        if (mEpisodeAlarmed[n - 1]) {
            mEpisodeAlarmed[n - 1] = false;
            Emit(TSilenceEventKind::SoundRestored, n, level);
        }
        mSilentSince[n - 1] = -1;
    }
    mHost.RestartSilenceLevels();
}

void TMMSilenceDetector::StripTick(int n)
{
    if (n < 1 || n > tv::kStrips || mHeld) return;
    int32_t& counter = mCounter[n - 1];
    if (counter < std::numeric_limits<int32_t>::max()) ++counter;

    if (counter <= mSettings.AlarmSeconds()) {
        mLogArmed[n - 1] = true;
        mHost.SetLabelInactiveColor(n, clBlack);
        if (mTimers.TimerOn) mTimers.TimerOn->Stop();
        if (strip(n)) strip(n)->Stop();
        if (mState[n - 1] == TSilenceState::Sounding) {
            ++mStats[n - 1].Silences;
            mState[n - 1] = TSilenceState::Silent;
            Emit(TSilenceEventKind::SilenceBegan, n, mHost.SilenceLevel(n));
        } else {
            mState[n - 1] = TSilenceState::Silent;  // the counters were reset during an alarm
        }
        return;
    }

    mHost.SetLabelInactiveColor(n, clRed);
    mHost.SetLabelVisible(n, false);
    if (mTimers.TimerOn && !mTimers.TimerOn->Active()) mTimers.TimerOn->Start();
    if (strip(n)) strip(n)->Stop();
    mHost.DrawAlarm(n);
    ++mStats[n - 1].Alarms;
    mState[n - 1] = TSilenceState::Alarm;
    if (!mEpisodeAlarmed[n - 1]) {
        mEpisodeAlarmed[n - 1] = true;
        mLastAlarm[n - 1] = mHost.NowMs();
        Emit(TSilenceEventKind::Alarm, n, mHost.SilenceLevel(n));
    }
    if (mSettings.PlaySound() && mPlayer) {
        // A failure of the player ends this tick: no log line, the flag stays.
        try {
            mPlayer->Play();
        } catch (const std::exception& e) {
            mHost.ReportError(e.what());
            return;
        } catch (...) {
            mHost.ReportError("Alarm sound failed");
            return;
        }
    }
    if (mHost.ActiveChannelCount() >= SilenceGroupBound(n) && mLogArmed[n - 1] && mHost.LoggingOn()) {
        const int level = mHost.SilenceLevel(n);
        const std::string line = SilenceLogLine(n, mHost.LabelText(n), level, mHost.DecimalSeparator(),
                                                mHost.DateTimeText(mHost.NowMs()));
        mLogArmed[n - 1] = false;
        ++mStats[n - 1].LogLines;
        ++mLogLines;
        Emit(TSilenceEventKind::LogLine, n, level, line);
    }
}

void TMMSilenceDetector::TimerOnTick()
{
    if (mTimers.TimerOn) mTimers.TimerOn->Stop();
    const int watched = SilenceWatchedStrips(mHost.ModeIndex());
    for (int n = 1; n <= watched; ++n) mHost.SetLabelVisible(n, true);
    mHost.ReapplyStandard();
    if (!mTimers.TimerOff) return;
    if (!mSettings.Detect())
        mTimers.TimerOff->Stop();
    else if (!mTimers.TimerOff->Active())
        mTimers.TimerOff->Start();
}

void TMMSilenceDetector::SoundStopped()
{
    mSettings.setPlaySound(false);
    if (mTimers.Reset && !mTimers.Reset->Active()) mTimers.Reset->Start();
}

void TMMSilenceDetector::ResetTick()
{
    mSettings.setPlaySound(true);
    if (mTimers.Reset) mTimers.Reset->Stop();
}

void TMMSilenceDetector::ResetCounters() { mCounter.fill(0); }

void TMMSilenceDetector::setHeld(bool held, const std::string& reason)
{
    if (held == mHeld) return;
    mHeld = held;
    for (int n = 1; n <= tv::kStrips; ++n) {
        if (strip(n)) strip(n)->Stop();
        mCounter[n - 1] = 0;
        mAboveChecks[n - 1] = 0;
        if (held && !mEpisodeAlarmed[n - 1]) {
            mState[n - 1] = TSilenceState::Sounding;
            mSilentSince[n - 1] = -1;
        }
    }
    mHost.RestartSilenceLevels();  // levels from before or during the hold count for nothing
    if (OnHold) OnHold(held, reason);
}

// The silence detector in the main window: the window's timers, labels,
// pictures and the level settings bound to TMMSilenceDetector. Each timer's
// timeout runs one step of the detector. GUI thread only.
#pragma once

#include "monitoring/MMSilence.h"
#include "monitoring/qt/MMSilenceTimer.h"

#include <QObject>

#include <array>
#include <memory>

class TfMain;
class TSetLevelCore;

class TMainSilence : public IMMSilenceHost, public IMMSilenceSettings {
public:
    // timerOff / timerOn of the window; reset is the dialog's `t_reset`.
    TMainSilence(TfMain& main, TSetLevelCore& settings, QTimer* timerOff, QTimer* timerOn, QTimer* reset);

    TMMSilenceDetector& Detector() { return *mDetector; }
    // The alarm player (Play / playing state); its OnStop goes to
    // Detector().SoundStopped().
    TMMAlarmSoundBinding& Sound() { return mSound; }

    // IMMSilenceHost
    int ModeIndex() override;
    int ActiveChannelCount() override;
    bool LoggingOn() override;
    int SilenceLevel(int n) override;
    void RestartSilenceLevels() override;
    std::string LabelText(int n) override;
    void SetLabelInactiveColor(int n, TColor c) override;
    void SetLabelVisible(int n, bool visible) override;
    void SetLabelEnabled(int n, bool enabled) override;
    void DrawAlarm(int n) override;
    void ReapplyStandard() override;
    void ReportError(const std::string& text) override;
    int64_t NowMs() override;
    std::string DateTimeText(int64_t ms) override;
    char DecimalSeparator() override;

    // IMMSilenceSettings
    bool Detect() const override;
    int ThresholdAmplitude() const override;
    int AlarmSeconds() const override;
    bool PlaySound() const override;
    void setPlaySound(bool on) override;

private:
    TfMain& mMain;
    TSetLevelCore& mSettings;
    TMMQtSilenceTimer mTimerOff, mTimerOn, mReset;
    std::array<TMMQtSilenceTimer, tv::kStrips> mStrips;
    TMMAlarmSoundBinding mSound;
    std::unique_ptr<TMMSilenceDetector> mDetector;
    QObject mConnections;  // the timers' connections end with this binding
};

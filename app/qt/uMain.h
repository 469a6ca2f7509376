// `TfMain` / `fMain`: the main window. Holds the caption strip `Panel1` and
// the 24 channel strips, owns the recorders and connectors through
// TMainAudio, restores every setting when first shown and saves them when
// closed; menu, keys, resize layout and timers. GUI thread only.
#pragma once

#include "app/MainValues.h"
#include "app/RunStats.h"
#include "app/qt/MainStrip.h"
#include "app/qt/uMultimode.h"

#include <QMainWindow>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QLabel;
class QTimer;
class TMMLevel;
class TMMLEDLABEL;
class TStripPicture;
class TStripScale;
class TMainAudio;
class TMainMeterLink;
inline namespace levelsettings {
class TfSetLevel;
}
class TfLabels;
class Tfmulti;
class TfSkin;
class TSkinData;
class TFrmInfo;
class TfLogFile;
class TfCorre;
class TMainSilence;
class TMMSilenceDetector;
class TSetLevelSound;

class TfMain : public QMainWindow, public TMainTarget, public TMultiHost {
    Q_OBJECT
public:
    TfMain(TSettingsAccess& store, TMainAudio& audio, QWidget* parent = nullptr);
    ~TfMain() override;

    // The other windows, created after the main window (set by the program).
    struct Windows {
        TfSetLevel* SetLevel = nullptr;
        TfLabels* Labels = nullptr;
        Tfmulti* Multi = nullptr;
        TfSkin* Skin = nullptr;
        TFrmInfo* Info = nullptr;
        TfLogFile* LogFile = nullptr;
        TfCorre* Corre = nullptr;
        TSetLevelSound* Sound = nullptr;  // the level settings' alarm player
    };
    void SetWindows(const Windows& w);

    // Strip components as built; FindComponent finds them (and the silence
    // timers) by prefix + number without regard to case.
    const TStrip& Strip(int n) const { return mStrips[n - 1]; }
    TMMLevel* Level(int n) const { return mStrips[n - 1].Bar; }
    TStripScale* Scale(int n) const { return mStrips[n - 1].Scale; }
    TStripPicture* Picture(int n) const { return mStrips[n - 1].Picture; }
    TMMLEDLABEL* Label(int n) const { return mStrips[n - 1].Label; }
    QTimer* SilenceTimer(int n) const { return mSilenceTimers[n - 1]; }
    QObject* FindComponent(const std::string& prefix, int n) const;

    QLabel* Panel1() const { return mPanel1; }
    QTimer* tDisplay() const { return mDisplayTimer; }
    int ActiveChannelCount() const { return mActiveChannels; }
    int CurrentStandard() const;
    bool LoggingOn() const { return mLoggingOn; }
    std::string SkinFile() const;
    // The skinning engine of the application.
    TSkinData* SkinData() const { return SkinData1; }

    // Re-applies the current metering standard, which redraws the scale
    // pictures; run when `tDisplay` fires.
    void RedrawScales();
    // "Select audio input".
    void SelectAudioInput();
    // Writes every value that is saved at exit (also run by closeEvent).
    void SaveAll();
    // Close without saving (screenshots).
    void setSaveOnClose(bool save) { mSaveOnClose = save; }
    // Writes the settings now (the desktop session ends) unless this run does
    // not save; a later close saves again.
    void SaveSettingsNow();

    // What only the window counts: paints per bar (the engine counts the rest).
    void CollectStats(TRunStats& s) const;
    // The silence detector (after SetWindows with the level settings).
    TMainSilence* Silence() const { return mSilence.get(); }
    // Fired once the restore sequence has started the recorders.
    std::function<void()> OnRestored;
    // Called when the settings are saved at close (after the main values).
    std::function<void()> OnSaveAll;
    // Settings menu, "Loudness meter".
    std::function<void()> OnShowLoudness;

    // TMainTarget
    TStripValues StripValues(int n) override;
    void ApplyStripValues(int n, const TStripValues& v) override;
    TWindowPlacement Placement() override;
    void ApplyPlacement(const TWindowPlacement& p) override;
    void SetLabelText(int n, const std::string& text) override;
    TLevelSetValues LevelSetValues() override;
    TCorreValues CorreValues() override;
    int InputMode() override;
    int SampleRateIndex() override;
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

    // TMultiHost
    void SetMainWidths(const TModeWindowWidth& w) override;
    void SetActiveChannelCount(int channels) override;
    void SetRecorderSampleRate(int k, int rate) override;
    int InputDeviceCount() override;
    std::string InputDeviceName(int id) override;
    int OutputDeviceCount() override;
    std::string OutputDeviceName(int id) override;

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void buildMenu();
    void buildStrips(QWidget* client);
    void layoutStrips();
    // Minimum, maximum and (when asked) width from mModeWidths and the menu.
    void applyModeWidths(bool resizeToMode);
    void clearHeldPeaks();
    void showLabelsDialog();
    void openHelp(bool homepage);

    TSettingsAccess& mStore;
    TMainAudio& mAudio;
    Windows mW;
    QWidget* mClient = nullptr;
    QLabel* mPanel1 = nullptr;
    QTimer* mTimer1 = nullptr;
    QTimer* mDisplayTimer = nullptr;
    QTimer* mTimerOff = nullptr;
    QTimer* mTimerOn = nullptr;
    std::array<TStrip, tv::kStrips> mStrips{};
    std::array<QTimer*, tv::kStrips> mSilenceTimers{};
    std::array<int, tv::kStrips> mSilenceCounter{};
    std::array<bool, tv::kStrips> mLogArmed{};
    bool mLoggingOn = false;
    int mActiveChannels = 0;
    TModeWindowWidth mModeWidths = WindowWidthForMode(InputModeCount - 1);
    int mAlarmOutDevice = 0;
    std::string mUnloadedAlarmFile;  // stored "arlam file" the player could not load
    int mSampleRate = 44100;
    bool mRestored = false;
    bool mSaveOnClose = true;
    bool mSaved = false;
    TSkinData* SkinData1 = nullptr;
    std::unique_ptr<TMainMeterLink> mLevelLink;
    std::unique_ptr<TMainSilence> mSilence;
};

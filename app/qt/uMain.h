// `TfMain` / `fMain`: the main window, a view of the meter engine. Holds the
// caption strip `Panel1` and the 24 channel strips (whose bars show the
// engine's analysers), has the engine restore every setting when first shown
// and save them when closed; menu, keys, resize layout and timers (the
// silence detector runs on the window's TimerOff, TimerOn and Timer_startN).
// GUI thread only.
#pragma once

#include "app/MainValues.h"
#include "app/MeterView.h"
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
class QMenu;
class QTimer;
class TMMLevel;
class TMMLEDLABEL;
class TStripPicture;
class TStripScale;
class TMeterEngine;
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
class TSetLevelSound;

class TfMain : public QMainWindow, public TMeterView, public TMultiHost {
    Q_OBJECT
public:
    TfMain(TSettingsAccess& store, TMeterEngine& engine, QWidget* parent = nullptr);
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
    bool LoggingOn() const;
    int InputMode() const;
    void SetLabelText(int n, const std::string& text);
    TMeterEngine& Engine() const { return mEngine; }
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
    // Fired once the restore sequence has started the recorders.
    std::function<void()> OnRestored;
    // Called when the settings are saved at close (after the main values).
    std::function<void()> OnSaveAll;
    // Settings menu, "Loudness meter".
    std::function<void()> OnShowLoudness;
    // Settings menu, "Display rate": the frames per second chosen (stored
    // already). setDisplayRate checks the rate that runs.
    std::function<void(int fps)> OnDisplayRate;
    void setDisplayRate(int fps);
    int DisplayRate() const { return mDisplayRate; }

    // TMeterView
    TMMMeterWindow* StripDisplay() override;
    void ShowLabelText(int n, const std::string& text) override;
    void ShowLEDColor(int n, TColor c) override;
    void ShowInputMode(int mode) override;
    void ShowSampleRate(int index) override;
    void SilenceEvent(const TSilenceEvent& e) override;
    void OperatorLine(const std::string& line) override;
    void SetLabelInactiveColor(int n, TColor c) override;
    void SetLabelVisible(int n, bool visible) override;
    void SetLabelEnabled(int n, bool enabled) override;
    void DrawAlarm(int n) override;
    void ReapplyStandard() override { RedrawScales(); }
    bool ReportError(const std::string& text) override;
    bool Placement(TWindowPlacement& p) override;
    void ApplyPlacement(const TWindowPlacement& p) override;
    bool CorreValues(TCorreValues& c) override;
    void ShowCorrelation() override;
    bool HasInputSetup() const override { return mW.Multi != nullptr; }
    void ShowInputSetupModal() override;
    bool HasAlarmSound() const override { return mW.Sound != nullptr; }
    bool RestoreAlarmFile(const std::string& path) override;
    void SetAlarmOutDevice(int deviceId) override;

    // TMultiHost
    void SetMainWidths(const TModeWindowWidth& w) override;
    void SetActiveChannelCount(int channels) override;
    void SetRecorderSampleRate(int k, int rate) override;
    void SetRecorderDevice(int k, int deviceId) override;
    void SetRecorderNotConnected(int k, const std::string& name) override;
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
    TMeterEngine& mEngine;
    Windows mW;
    QWidget* mClient = nullptr;
    QLabel* mPanel1 = nullptr;
    QTimer* mTimer1 = nullptr;
    QTimer* mDisplayTimer = nullptr;
    QTimer* mTimerOff = nullptr;
    QTimer* mTimerOn = nullptr;
    std::array<TStrip, tv::kStrips> mStrips{};
    std::array<QTimer*, tv::kStrips> mSilenceTimers{};
    int mActiveChannels = 0;
    TModeWindowWidth mModeWidths = WindowWidthForMode(InputModeCount - 1);
    bool mRestored = false;
    bool mSaveOnClose = true;
    int mDisplayRate = 0;
    QMenu* mRateMenu = nullptr;
    bool mSaved = false;
    TSkinData* SkinData1 = nullptr;
    std::unique_ptr<TMainMeterLink> mLevelLink;
};

// The main window's strips as the level settings place them: the bars,
// pictures, scales and labels and the caption strip `Panel1` (the meter
// engine's strips forward here). The window's stay-on-top style comes in as a
// callback. GUI thread only.
#pragma once

#include "app/qt/MainStrip.h"
#include "metering/uSet_Level_core.h"
#include "monitoring/MMAudioPlayer.h"

#include <array>
#include <functional>
#include <iosfwd>
#include <string>

class QLabel;
class QWidget;
class TMMWaveOpenDialog;
inline namespace levelsettings {
class TfSetLevel;
}

class TMainMeterLink : public TMMMeterWindow {
public:
    using TStrips = std::array<TStrip, tv::kStrips>;
    TMainMeterLink(const TStrips& strips, QLabel* caption) : mStrips(strips), mCaption(caption) {}

    std::function<void(bool)> OnStayOnTop;     // stay-on-top style of the window

    TMMCustomLevel* Level(int n) override;
    void SetLevelTop(int n, int top) override;
    void SetScaleTop(int n, int top) override;
    void SetStripHeight(int n, int height) override;
    void SetPictureVisible(int n, bool visible) override;
    void SetScaleVisible(int n, bool visible) override;
    void SetScaleSensitivy(int n, int db) override;
    void DrawPicture(int n, TMMScalePicture picture) override;
    int LabelTop() const override;
    TColor LabelColor(int n) const override;
    void SetLabelColor(int n, TColor c) override;
    void SetCaption(const std::string& text) override;
    void SetStayOnTop(bool on) override;
    void SetSilenceCheck(bool on) override;

private:
    const TStrip* Strip(int n) const;

    const TStrips& mStrips;
    QLabel* mCaption;
};

// Stay-on-top for a top-level window: changes the flag and shows the window
// again if it was visible (Qt hides a window whose flags change).
void SetWindowStayOnTop(QWidget* window, bool on);

// The level settings dialog's alarm sound components, `MMAudioPlayer1` and
// `MMWaveOpenDialog1`, set up as the dialog's design has them and bound to
// its "Load Audio File" button and `lab_file`. They belong to a later layer
// than the dialog, so the program creates them right after it. The player's
// OnStop is left to the silence detector. GUI thread only.
class TSetLevelSound {
public:
    explicit TSetLevelSound(TfSetLevel& dialog);
    ~TSetLevelSound();
    TSetLevelSound(const TSetLevelSound&) = delete;
    TSetLevelSound& operator=(const TSetLevelSound&) = delete;

    TMMAudioPlayer MMAudioPlayer1;
    // The open dialog, a child of the dialog, made when first needed (a file
    // dialog holds a file system model and its threads).
    TMMWaveOpenDialog* MMWaveOpenDialog1();

    // "Load Audio File": runs the open dialog; a confirmed file becomes the
    // player's file and `lab_file` shows it. A file the player refuses is
    // shown by the standard error report and the previous file stays.
    void LoadAudioFile();
    // Loads `path` into the player and shows the player's file name. On an
    // EMMError the previous file is loaded again and the error rethrown.
    void setFileName(const std::string& path);
    // The stored "arlam file" at start: a missing or refused file leaves no
    // file loaded and writes one line to `err`; false then.
    bool RestoreFile(const std::string& path, std::ostream& err);

private:
    void ShowFile();

    TfSetLevel& mDialog;
    TMMWaveOpenDialog* mWaveOpenDialog1 = nullptr;
};

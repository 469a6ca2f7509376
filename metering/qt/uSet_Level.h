// `TfSetLevel` / `fSetLevel`, "Level settings": the metering standard,
// overload limits, integration, reference level, peaks, decay, colours, strip
// layout, stay-on-top and the silence detector's settings, with a preview
// column. A thin view over TSetLevelCore (metering/uSet_Level_core.h), which
// acts on the meter window through TMMMeterWindow. GUI thread only.
#pragma once

#include "metering/uSet_Level_core.h"

#include <QDialog>
#include <QImage>

#include <functional>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class TMMColorButton;
class TMMLEDLABEL;
class TMMLEDPanel;
class TMMLEDSpin;
class TMMLevel;
class TMMLevelScale;
class TMMSpinButton;
class TSetLevelRadioGroup;

// The dialog's symbols live in an inline namespace so that they stay apart
// from any other unit's window of the same name linked into one program
// while the start-up code moves over to this one; code names it TfSetLevel.
inline namespace levelsettings {

class TfSetLevel : public QDialog, private TSetLevelView {
    Q_OBJECT
public:
    explicit TfSetLevel(QWidget* parent = nullptr);
    ~TfSetLevel() override;

    TSetLevelCore& Core() { return *mCore; }
    const TSetLevelCore& Core() const { return *mCore; }
    // Shows and edits `core` (the meter's) instead of the dialog's own (null:
    // its own again); the core outlives the dialog's use of it.
    void UseCore(TSetLevelCore* core);
    // The meter window and the store the settings act on (either may be null).
    void setMeterWindow(TMMMeterWindow* window) { mCore->setWindow(window); }
    void setStore(TSettingsAccess* store) { mCore->setStore(store); }

    // Draws the picture of standard 0 .. 6 over the whole image; the
    // program hands in the scale picture routine. Setting it redraws the
    // preview picture.
    using TDrawScale = std::function<bool(QImage& image, int standard)>;
    void setDrawScale(TDrawScale draw);

    // "Load Audio File": the program binds the wave file open dialog and the
    // alarm sound player (app/qt/SetLevelLink.h), which then show the
    // player's file through ChooseAlarmFile. Unassigned: the button does nothing.
    std::function<void()> OnLoadAudioFile;
    // The alarm sound file as the player loaded it: `lab_file` shows it and
    // it is stored as "arlam file".
    void ChooseAlarmFile(const QString& path);
    // "Actions...": the program opens the monitoring service's dialog.
    std::function<void()> OnActions;

    const QImage& PreviewPicture() const { return mPicture; }

    // Controls, named as on the form.
    TSetLevelRadioGroup* rg_Meter;
    TSetLevelRadioGroup* rg_integral;
    TSetLevelRadioGroup* rg_referenz;
    TSetLevelRadioGroup* rg_stereo;
    TSetLevelRadioGroup* rg_ballistics;  // "As preset" / "Standard instrument"
    TMMLEDSpin* ol_top;
    TMMLEDSpin* ol_button;
    TMMLEDSpin* sp_peaks;
    TMMLEDSpin* MMLEDSpin5;  // spot space
    TMMLEDSpin* MMLEDSpin4;  // decay
    QCheckBox* CheckBox2;    // "Leave max Peak"
    TMMColorButton* MMColorButton[ColorButtonCount + 1];  // [1] .. [13]
    QCheckBox* cb_top;
    QPushButton* Button2;    // "Preview"
    QPushButton* btn_save;   // "Save"
    QPushButton* Button1;    // "Save && Close"
    QPushButton* btn_actions;  // "Actions..."
    QWidget* Panel3;         // preview column
    TMMLevel* Level8;
    TMMLEDLABEL* LED8;
    QLabel* ima_nordic1;
    TMMLevelScale* Scale_outfit;
    QCheckBox* chb_detect;
    TMMSpinButton* spin_db2;
    QLineEdit* nEdit;
    TMMSpinButton* spin_db;  // hidden
    TMMLEDPanel* led_db;     // hidden
    TMMLEDSpin* spin_sec;
    QCheckBox* cb_arlarm;
    TMMLEDSpin* sp_arlarm;
    QPushButton* btn_load;
    QLabel* lab_file;
    QTimer* Timer1;
    QTimer* t_reset;

protected:
    void showEvent(QShowEvent* e) override;

private:
    // TSetLevelView
    void SetPreviewPoint1(int percent) override;
    void SetPreviewPoint2(int percent) override;
    void SetPreviewValue(int percent) override;
    void SetPreviewColor(int bar, TColor c) override;
    void SetPreviewLabelColor(TColor c) override;
    void DrawPreviewPicture(TMMScalePicture picture) override;
    void ControlsChanged() override;

    void build();
    void buildPreview();
    void buildSilence();
    void wire();
    void finishShowing();

    TSetLevelCore mOwnCore;
    TSetLevelCore* mCore = &mOwnCore;
    TDrawScale mDrawScale;
    QImage mPicture;
    int mPictureStandard = -1;
    bool mSyncing = false;
    bool mCentred = false;
};

}  // namespace levelsettings

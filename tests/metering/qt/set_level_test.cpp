// The level settings dialog over a small meter window built from the real
// strip widgets, offscreen. Also writes a screenshot of the dialog to
// $TARVOLIN_SHOT_DIR (default: the working folder) as set_level.png.
#include "metering/qt/uSet_Level.h"

#include "app/StoreAccess.h"
#include "app/qt/ScaleImagesPaint.h"
#include "app/qt/SetLevelLink.h"
#include "app/qt/StripPicture.h"
#include "metering/MainBar.h"
#include "metering/qt/MMLevel.h"
#include "metering/qt/MMLevelScale.h"
#include "metering/qt/uSet_LevelControls.h"
#include "widgets/qt/MMLEDLbl.h"
#include "widgets/qt/MMLEDS.h"
#include "widgets/qt/MMSpin.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <map>

namespace {

// The strips of the meter window, laid out as the main window lays them.
struct MiniMain : QWidget {
    TMainMeterLink::TStrips strips;
    QLabel* panel1;

    MiniMain()
    {
        resize(57 * tv::kStrips, 400);
        panel1 = new QLabel("DIN 45406", this);
        for (int i = 0; i < tv::kStrips; ++i) {
            auto* strip = new QWidget(this);
            strip->setGeometry(57 * i, 25, 57, 375);
            TStrip& s = strips[i];
            s.Bar = new TMMLevel(strip);
            ApplyMainBarDesign(s.Bar->Core(), i + 1);
            s.Bar->setGeometry(0, 11, 18, 330);
            s.Scale = new TStripScale(strip);
            s.Scale->setKind(lkVertical);
            s.Scale->setGeometry(26, 12, 31, 330);
            s.Scale->hide();
            s.Picture = new TStripPicture(strip);
            s.Picture->setGeometry(20, 11, 37, 330);
            s.Label = new TMMLEDLABEL(strip);
            s.Label->setGeometry(0, 349, 57, 26);
        }
    }
    TMMLevel* Level(int n) const { return strips[n - 1].Bar; }
    TMMLevelScale* Scale(int n) const { return strips[n - 1].Scale; }
    TStripPicture* Picture(int n) const { return strips[n - 1].Picture; }
    TMMLEDLABEL* Label(int n) const { return strips[n - 1].Label; }
};

// The window's strips, and what the detector's check is told.
struct CheckingLink : TMainMeterLink {
    using TMainMeterLink::TMainMeterLink;
    int timerOff = -1;
    void SetSilenceCheck(bool on) override { timerOff = on; }
};

struct SetLevelDialog : ::testing::Test {
    MiniMain main;
    CheckingLink link{main.strips, main.panel1};
    TMemoryStore store;
    TfSetLevel dlg;
    int& timerOff = link.timerOff;

    SetLevelDialog()
    {
        dlg.setMeterWindow(&link);
        dlg.setStore(&store);
        dlg.setDrawScale([](QImage& image, int standard) { return DrawScaleImage(image, standard); });
    }
    bool Visible(QWidget* w) { return w->isVisibleTo(w->parentWidget()); }
};

TEST_F(SetLevelDialog, DesignValues)
{
    EXPECT_EQ(dlg.windowTitle(), "Level settings");
    EXPECT_EQ(dlg.size(), QSize(687, 627));
    EXPECT_TRUE(dlg.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(dlg.rg_Meter->Count(), 9);
    EXPECT_EQ(dlg.rg_Meter->ItemIndex(), 1);
    EXPECT_EQ(dlg.rg_Meter->Button(4)->text(), "K-System K-20");
    EXPECT_EQ(dlg.rg_integral->Button(1)->text(), "5 ms ");
    EXPECT_EQ(dlg.rg_stereo->Button(0)->text(), "Mono  Mode");
    EXPECT_EQ(dlg.ol_top->Value(), 84);
    EXPECT_EQ(dlg.ol_button->Value(), 57);
    EXPECT_EQ(dlg.sp_peaks->Value(), 3);
    EXPECT_EQ(dlg.MMLEDSpin4->Value(), 11);
    EXPECT_TRUE(dlg.CheckBox2->isChecked());
    EXPECT_TRUE(dlg.cb_top->isChecked());
    EXPECT_FALSE(dlg.chb_detect->isChecked());
    EXPECT_EQ(dlg.spin_db2->Value(), -40);
    EXPECT_EQ(dlg.nEdit->text(), "-40");
    EXPECT_EQ(dlg.spin_db->Value(), 351);
    EXPECT_EQ(dlg.spin_sec->Value(), 5);
    EXPECT_EQ(dlg.sp_arlarm->Value(), 10);
    EXPECT_EQ(dlg.t_reset->interval(), 10000);
    EXPECT_FALSE(dlg.t_reset->isActive());
    EXPECT_EQ(dlg.Button1->text(), "Save && Close");
    EXPECT_EQ(dlg.LED8->Caption(), "Git");
    EXPECT_EQ(dlg.MMColorButton[1]->Color(), clRed);
    EXPECT_EQ(dlg.MMColorButton[5]->Color(), clLime);
    EXPECT_EQ(dlg.MMColorButton[4]->Color(), clCream);
    EXPECT_FALSE(dlg.spin_db->isVisibleTo(&dlg));
    EXPECT_FALSE(dlg.led_db->isVisibleTo(&dlg));
}

TEST_F(SetLevelDialog, ChoosingK20ReachesEveryStripAndThePreview)
{
    dlg.rg_Meter->Button(4)->click();
    for (int n = 1; n <= tv::kStrips; ++n) {
        EXPECT_EQ(main.Level(n)->Core().MeterStandard(), 5);
        EXPECT_EQ(main.Level(n)->Core().Sensitivy(), -70);
        EXPECT_EQ(main.Level(n)->Core().Point2(), 79);
        EXPECT_EQ(main.Level(n)->Core().Point1(), 73);
        EXPECT_EQ(main.Picture(n)->Redraws(), 1);
    }
    EXPECT_EQ(main.panel1->text(), "K-System K20");
    EXPECT_EQ(dlg.ol_top->Value(), 79);
    EXPECT_EQ(dlg.Level8->Core().Point2(), 79);
    EXPECT_EQ(dlg.Level8->Core().Point1(), 73);
    EXPECT_EQ(dlg.Level8->Value(), 100);
    // The preview picture holds the K-20 drawing: cream pixels on black.
    EXPECT_EQ(dlg.PreviewPicture().pixelColor(0, 10), QColor(255, 251, 240));
    EXPECT_TRUE(Visible(dlg.ima_nordic1));
}

TEST_F(SetLevelDialog, ScaleWidgetsForPpmAndPeakAndBackToPictures)
{
    dlg.Core().setMeterItem(7);  // keypad 8
    for (int n = 1; n <= tv::kStrips; ++n) {
        EXPECT_TRUE(Visible(main.Scale(n)));
        EXPECT_FALSE(Visible(main.Picture(n)));
        EXPECT_EQ(main.Scale(n)->Sensitivy(), -72);
    }
    EXPECT_TRUE(dlg.rg_referenz->isEnabled());
    dlg.rg_Meter->Button(8)->click();
    EXPECT_FALSE(dlg.rg_referenz->isEnabled());
    EXPECT_TRUE(Visible(dlg.Scale_outfit));
    EXPECT_FALSE(Visible(dlg.ima_nordic1));
    main.Level(3)->resize(18, 100);
    dlg.Core().setMeterItem(0);  // keypad 1
    for (int n = 1; n <= tv::kStrips; ++n) {
        EXPECT_FALSE(Visible(main.Scale(n)));
        EXPECT_TRUE(Visible(main.Picture(n)));
    }
    EXPECT_EQ(main.Level(3)->height(), 349 - 15);
    EXPECT_TRUE(dlg.rg_referenz->isEnabled());
    EXPECT_FALSE(Visible(dlg.Scale_outfit));
}

TEST_F(SetLevelDialog, SpinsCheckBoxesAndButtons)
{
    dlg.show();  // loads the spins and colours from the bars first
    const int point2 = main.Level(1)->Core().Point2();
    dlg.ol_top->setValue(95);
    EXPECT_EQ(dlg.Level8->Core().Point2(), 95);
    EXPECT_EQ(main.Level(1)->Core().Point2(), point2);  // limits wait for Preview
    dlg.sp_peaks->setValue(5);
    EXPECT_EQ(main.Level(12)->Core().NumPeaks(), 5);
    dlg.MMLEDSpin4->setValue(16);
    EXPECT_EQ(main.Level(12)->Core().Decay(), 16);
    dlg.CheckBox2->setChecked(false);
    EXPECT_FALSE(main.Level(12)->Core().LeaveMaxPeak());
    dlg.rg_integral->Button(5)->click();
    EXPECT_EQ(main.Level(2)->Core().IntegralLength(), 299);
    EXPECT_TRUE(main.Level(2)->Core().IntegralOn());
    dlg.chb_detect->setChecked(true);
    EXPECT_EQ(timerOff, 1);
    dlg.sp_arlarm->setValue(3);
    EXPECT_EQ(dlg.t_reset->interval(), 3000);

    dlg.Core().setColor(5, clBlue);
    dlg.Button1->click();  // "Save && Close"
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(main.Level(1)->Core().Point2(), 95);
    EXPECT_EQ(main.Level(21)->Core().Bar1Color(), clBlue);

    dlg.Core().ApplyMeterItem(1);
    dlg.btn_save->click();
    EXPECT_EQ(store.ReadInt("Din", -1), 84);
    EXPECT_EQ(store.ReadInt("Din2", -1), 57);
}

TEST_F(SetLevelDialog, ThresholdFieldsFollowEachOther)
{
    dlg.nEdit->setText("-60");
    emit dlg.nEdit->editingFinished();
    EXPECT_EQ(dlg.spin_db2->Value(), -60);
    EXPECT_EQ(dlg.spin_db->Value(), 35);
    EXPECT_EQ(dlg.led_db->Value(), 35);
    dlg.spin_db2->setValue(-72);
    EXPECT_EQ(dlg.nEdit->text(), "-72");
    EXPECT_EQ(dlg.Core().ThresholdAmplitude(), 9);
    dlg.spin_db->setValue(20000);  // the amplitude always follows the dBFS value
    EXPECT_EQ(dlg.spin_db->Value(), 9);
    dlg.nEdit->setText("");
    emit dlg.nEdit->editingFinished();
    EXPECT_EQ(dlg.nEdit->text(), "-72");
}

TEST_F(SetLevelDialog, ShowingLoadsTheBarsAndLoadAudioFileIsHandedToTheProgram)
{
    main.Level(1)->Core().setDecay(9);
    main.Level(6)->Core().setBar2Color(clAqua);
    main.Label(1)->setLEDColor(clFuchsia);
    dlg.ChooseAlarmFile("/tmp/a.wav");
    int loads = 0;
    dlg.OnLoadAudioFile = [&] { ++loads; };
    dlg.show();
    EXPECT_EQ(dlg.MMLEDSpin4->Value(), 9);
    EXPECT_EQ(dlg.MMColorButton[6]->Color(), clAqua);
    EXPECT_EQ(dlg.MMColorButton[4]->Color(), clFuchsia);
    EXPECT_TRUE(dlg.Timer1->isActive());

    dlg.btn_load->click();  // the program's open dialog and player take over
    EXPECT_EQ(loads, 1);
    EXPECT_EQ(dlg.lab_file->text(), "/tmp/a.wav");
    EXPECT_EQ(dlg.Core().AlarmFile(), "/tmp/a.wav");
    dlg.hide();
}

TEST_F(SetLevelDialog, Screenshot)
{
    dlg.Core().ApplyMeterItem(4);
    dlg.show();
    QApplication::processEvents();
    const char* dir = std::getenv("TARVOLIN_SHOT_DIR");
    const QString path = QString(dir ? dir : ".") + "/set_level.png";
    const QImage shot = dlg.grab().toImage();
    EXPECT_EQ(shot.size(), QSize(687, 627));
    EXPECT_TRUE(shot.save(path));
}

}  // namespace

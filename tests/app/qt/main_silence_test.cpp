// The silence detector wired into the main window, offscreen (manual clock:
// the bars stay at level 0 unless pumped).
#include "tests/support/qt/SimulatedCapture.h"
#include "base/TvConstants.h"
#include "app/StoreAccess.h"
#include "app/qt/MainAudio.h"
#include "app/qt/ProgramWindows.h"
#include "app/qt/MainSilence.h"
#include "app/qt/StripPicture.h"
#include "correlation/qt/uCorre.h"
#include "monitoring/qt/uLogFile.h"
#include "app/qt/uInfo.h"
#include "app/qt/uMain.h"
#include "app/qt/uMultimode.h"
#include "audio/MMSimWaveIn.h"
#include "audio/qt/MMConnectorLoop.h"
#include "labels_skins/qt/uLabels.h"
#include "labels_skins/qt/uSkin.h"
#include "metering/qt/MMLevel.h"
#include "metering/qt/uSet_Level.h"
#include "monitoring/qt/uLogFile.h"
#include "widgets/qt/MMLEDLbl.h"

#include <QApplication>
#include <QCheckBox>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <stdexcept>

namespace {

struct ProgramAudio {
    TMainAudio audio;
};

struct Program : ProgramAudio, TProgramWindows {
    explicit Program(TMemoryStore& s) : TProgramWindows(s, audio)
    {
        fMain.setSaveOnClose(false);
        bool restored = false;
        fMain.OnRestored = [&] { restored = true; };
        fMain.show();
        QTRY_VERIFY_WITH_TIMEOUT(restored, 5000);
    }
    ~Program()
    {
        for (int k = 1; k <= tv::kPairs; ++k) audio.Close(k);
    }
    QTimer* timer(const char* name) { return fMain.findChild<QTimer*>(name); }
};

TMemoryStore& Store()
{
    static TMemoryStore store;
    store.WriteBool("is Sound", true);
    store.WriteInt("rg Mode", 0);
    store.WriteBool("cb detect", true);
    store.WriteInt("db_value2", -40);
    store.WriteInt("db_value", 351);
    store.WriteInt("sec_value", 2);
    return store;
}

TEST(MainSilence, AlarmReachesLabelPictureLogAndBlinkEndSwapsThePictureBack)
{
    Program p(Store());
    ASSERT_NE(p.fMain.Silence(), nullptr);
    TMMSilenceDetector& d = p.fMain.Silence()->Detector();
    EXPECT_TRUE(p.timer("TimerOff")->isActive());
    p.fMain.SetLabelText(1, "Vox");
    ASSERT_EQ(p.fMain.Level(1)->CurrentLevel(), 0);

    for (int i = 0; i < 3; ++i) d.StripTick(1);
    EXPECT_EQ(d.State(1), TSilenceState::Alarm);
    EXPECT_FALSE(p.fMain.Label(1)->isVisible());
    EXPECT_EQ(p.fMain.Label(1)->InactiveColor(), clRed);
    EXPECT_TRUE(p.fMain.Picture(1)->ShowsAlarm());
    EXPECT_TRUE(p.timer("TimerOn")->isActive());
    ASSERT_EQ(p.fLogFile.Lines().size(), 1);  // hidden window, list filled
    EXPECT_TRUE(p.fLogFile.Lines()[0].startsWith("Level 1 : - Vox-   -Inf dB  --> Time: "));
    EXPECT_FALSE(p.fLogFile.isVisible());

    // Blink end: labels shown, standard re-applied by swapping, not redrawing.
    const int redraws = p.fMain.Picture(1)->Redraws();
    QTRY_VERIFY_WITH_TIMEOUT(!p.timer("TimerOn")->isActive(), 2000);
    EXPECT_TRUE(p.fMain.Label(1)->isVisible());
    EXPECT_FALSE(p.fMain.Picture(1)->ShowsAlarm());
    EXPECT_EQ(p.fMain.Picture(1)->Redraws(), redraws);
    p.fMain.Picture(1)->DrawAlarm();
    EXPECT_TRUE(p.fMain.Picture(1)->ShowsAlarm());

    // "Stop Logfile" / "Start Logfile" act on the main window.
    p.fLogFile.btn_stoplog->click();
    EXPECT_FALSE(p.fMain.LoggingOn());
    EXPECT_EQ(d.Counter(1), 0);
    p.fLogFile.btn_startlog->click();
    EXPECT_TRUE(p.fMain.LoggingOn());

    // "Show Logfile" from the main menu.
    for (QAction* a : p.fMain.menuBar()->findChildren<QAction*>())
        if (a->text() == "Show Logfile") a->trigger();
    EXPECT_TRUE(p.fLogFile.isVisible());
}

TEST(MainSilence, SoundPauseUsesTheDialogAndAFailingPlayIsReported)
{
    Program p(Store());
    TMainSilence& s = *p.fMain.Silence();
    int plays = 0;
    s.Sound().OnPlay = [&] { ++plays; };
    for (int i = 0; i < 3; ++i) s.Detector().StripTick(2);
    EXPECT_EQ(plays, 1);
    s.Detector().SoundStopped();  // the player's OnStop
    EXPECT_FALSE(p.fSetLevel.cb_arlarm->isChecked());
    EXPECT_TRUE(p.fSetLevel.t_reset->isActive());
    EXPECT_EQ(p.fSetLevel.t_reset->interval(), 10000);
    s.Detector().StripTick(2);
    EXPECT_EQ(plays, 1);
    emit p.fSetLevel.t_reset->timeout({});
    EXPECT_TRUE(p.fSetLevel.cb_arlarm->isChecked());
    EXPECT_FALSE(p.fSetLevel.t_reset->isActive());

    // A failure of Play: shown, the tick ends, no line, the program goes on.
    s.Sound().OnPlay = [] { throw std::runtime_error("Cannot open the output device"); };
    const int lines = p.fLogFile.Lines().size();
    for (int i = 0; i < 3; ++i) s.Detector().StripTick(1);
    EXPECT_EQ(p.fLogFile.Lines().size(), lines);
    EXPECT_TRUE(s.Detector().LogArmed(1));
    QMessageBox* box = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible()) box = b;
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->text().contains("Cannot open the output device"));
    box->close();
}

}  // namespace

[[maybe_unused]] const ::testing::Environment* const kSimulatedCapture =
    ::testing::AddGlobalTestEnvironment(new TSimulatedCapture);

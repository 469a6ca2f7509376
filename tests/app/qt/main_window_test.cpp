// The main window with the simulated back end (manual clock), offscreen.
#include "tests/support/qt/Golden.h"
#include "tests/support/qt/SimulatedCapture.h"
#include "base/TvConstants.h"
#include "app/InputModes.h"
#include "app/MainLayout.h"
#include "app/StoreAccess.h"
#include "app/qt/MainAudio.h"
#include "app/qt/MeterEngine.h"
#include "app/qt/ProgramWindows.h"
#include "app/qt/MainCorrelation.h"
#include "app/qt/StripPicture.h"
#include "correlation/qt/uCorre.h"
#include "monitoring/qt/uLogFile.h"
#include "app/qt/uInfo.h"
#include "app/qt/uMain.h"
#include "app/qt/uMultimode.h"
#include "audio/MMNotify.h"
#include "audio/MMSimWaveIn.h"
#include "audio/qt/MMConnectorLoop.h"
#include "correlation/qt/uCorre.h"
#include "labels_skins/qt/uLabels.h"
#include "labels_skins/qt/uSkin.h"
#include "monitoring/qt/uLogFile.h"
#include "metering/qt/uSet_Level.h"
#include "metering/qt/MMLevel.h"
#include "metering/qt/MMLevelScale.h"
#include "widgets/qt/MMLEDLbl.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

namespace {

// The eight windows in their order, over a store in memory.
struct ProgramAudio {
    explicit ProgramAudio(TSettingsAccess& s) : engine(s) {}
    TMeterEngine engine;
    TMainAudio& audio = engine.Audio();
};

struct Program : ProgramAudio, TProgramWindows {
    TMemoryStore& store;

    explicit Program(TMemoryStore& s) : ProgramAudio(s), TProgramWindows(engine), store(s)
    {
        fMain.setSaveOnClose(false);
    }
    // Shows the main window and waits for the restore sequence.
    void start()
    {
        bool restored = false;
        fMain.OnRestored = [&] { restored = true; };
        fMain.show();
        QTRY_VERIFY_WITH_TIMEOUT(restored, 5000);
    }
    int running() const
    {
        int n = 0;
        for (int k = 1; k <= tv::kPairs; ++k) n += audio.Running(k) ? 1 : 0;
        return n;
    }
    ~Program()
    {
        for (int k = 1; k <= tv::kPairs; ++k) audio.Close(k);
    }
};



TEST(MainWindow, FirstStartAsksForDevicesBeforeAnyRecorderRuns)
{
    TMemoryStore store;
    Program p(store);
    int runningAtDialog = -1;
    QTimer::singleShot(50, [&] {
        ASSERT_TRUE(p.fmulti.isVisible());
        runningAtDialog = p.running();
        p.fmulti.okButton()->click();
    });
    p.start();
    EXPECT_EQ(runningAtDialog, 0);
    for (int k = 1; k <= tv::kPairs; ++k) EXPECT_TRUE(store.Has("multi_" + std::to_string(k)));
    EXPECT_TRUE(store.Has("out"));
    EXPECT_TRUE(store.Has("Samplerate"));
    EXPECT_TRUE(store.ReadBool("is Sound", false));
    EXPECT_EQ(p.running(), 4);  // design mode: 8 channels
    EXPECT_EQ(p.fMain.ActiveChannelCount(), 8);
    EXPECT_EQ(p.fMain.Label(5)->Caption(), "");  // never stored: blank
    EXPECT_TRUE(p.fCorre.isVisible());
    EXPECT_EQ(p.fMain.windowTitle(), "Tarvolin ");
    EXPECT_EQ(p.fMain.Panel1()->text(), "DIN 45406");
}

TEST(MainWindow, ModeZeroStartsOnlyRecorderOneAndF9ChangesOnlyTheMode)
{
    TMemoryStore store;
    store.WriteBool("is Sound", true);
    store.WriteInt("rg Mode", 0);
    Program p(store);
    p.start();
    EXPECT_EQ(p.running(), 1);
    EXPECT_TRUE(p.audio.Running(1));
    EXPECT_EQ(p.fMain.ActiveChannelCount(), 2);
    // Both strips and the whole menu fit; the third strip does not show.
    EXPECT_EQ(p.fMain.width(), std::max(2 * StripWidth, p.fMain.menuBar()->sizeHint().width()));
    EXPECT_EQ(p.fMain.minimumWidth(), p.fMain.width());
    EXPECT_TRUE(p.fMain.Scale(2)->parentWidget()->isVisibleTo(&p.fMain));
    EXPECT_FALSE(p.fMain.Scale(3)->parentWidget()->isVisibleTo(&p.fMain));
    // No stored place: the correlation window covers nothing of the main window.
    EXPECT_FALSE(p.fCorre.frameGeometry().intersects(p.fMain.frameGeometry()));
    QTest::keyClick(&p.fMain, Qt::Key_F9);
    EXPECT_EQ(p.fmulti.mode(), 3);
    EXPECT_EQ(p.fMain.ActiveChannelCount(), 16);
    EXPECT_EQ(p.running(), 1);  // recorders untouched

    // Closed, the Settings menu brings the correlation window back.
    p.fCorre.close();
    auto entry = [&](const QString& text) -> QAction* {
        for (QAction* menu : p.fMain.menuBar()->actions())
            for (QAction* a : menu->menu()->actions())
                if (a->text() == text) return a;
        return nullptr;
    };
    ASSERT_NE(entry("Correlation meter"), nullptr);
    entry("Correlation meter")->trigger();
    EXPECT_TRUE(p.fCorre.isVisible());

    // Settings > "Display rate": stored at once, handed on, one rate checked.
    ASSERT_NE(entry("Display rate"), nullptr);
    QMenu* rates = entry("Display rate")->menu();
    ASSERT_NE(rates, nullptr);
    int chosen = 0;
    p.fMain.OnDisplayRate = [&](int fps) { chosen = fps; };
    p.fMain.setDisplayRate(60);
    QStringList texts, checked;
    for (QAction* a : rates->actions()) texts << a->text();
    EXPECT_EQ(texts, (QStringList{"60 frames/s", "50 frames/s", "30 frames/s", "25 frames/s", "12 frames/s"}));
    rates->actions()[3]->trigger();
    for (QAction* a : rates->actions())
        if (a->isChecked()) checked << a->text();
    EXPECT_EQ(chosen, 25);
    EXPECT_EQ(store.ReadInt("Display Rate", 0), 25);
    EXPECT_EQ(checked, QStringList{"25 frames/s"});

    // "Help File" where nothing can show a page (offscreen): a message with
    // the manual's path.
    ASSERT_NE(entry("Help File"), nullptr);
    entry("Help File")->trigger();
    auto* box = p.fMain.findChild<QMessageBox*>("HelpFileMissing");
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_TRUE(box->text().contains("manual.html")) << box->text().toStdString();
    box->close();
}

// The window as it opens in the two standards drawn by the scale widgets (26
// labels from 0 to -69) and in the narrowest mode (both strips and the whole
// menu, nothing of strip 3).
TEST(MainWindow, GoldenImagesOfScaleWidgetStandardsAndTwoChannels)
{
    struct Case {
        int mode, standard;
        const char* golden;
    };
    for (const Case& c : {Case{1, 7, "main_ppm"}, Case{1, 8, "main_dbfs"}, Case{0, 1, "main_2ch"}}) {
        SCOPED_TRACE(c.golden);
        TMemoryStore store;
        store.WriteBool("is Sound", true);
        store.WriteInt("rg Mode", c.mode);
        store.WriteInt("rg Mode Din", c.standard);
        store.WriteInt("Window height", 600);
        Program p(store);
        p.start();
        QTimer* display = p.fMain.findChild<QTimer*>("tDisplay");
        QTRY_VERIFY_WITH_TIMEOUT(!display->isActive(), 3000);
        QApplication::processEvents();
        EXPECT_TRUE(MatchesGolden(p.fMain.grab().toImage(), c.golden));
    }
}

// No mode cuts a strip, however narrow the user drags the window, and no
// strip beyond the mode shows.
TEST(MainWindow, NoModeCutsAStripAtAnyWidth)
{
    TMemoryStore store;
    store.WriteBool("is Sound", true);
    store.WriteInt("Input Mode", 1000);  // a stored width too narrow for 24 channels
    store.WriteInt("rg Mode", 4);
    Program p(store);
    p.start();
    for (int mode : {4, 0, 2, 4}) {
        SCOPED_TRACE(mode);
        p.fmulti.setMode(mode);
        const int channels = ChannelsForMode(mode);
        for (int wanted : {1000, 10}) {
            p.fMain.resize(wanted, p.fMain.height());
            QApplication::processEvents();
            QWidget* client = p.fMain.centralWidget();
            EXPECT_GE(client->width(), channels * StripWidth) << wanted;
            for (int n = 1; n <= tv::kStrips; ++n)
                EXPECT_EQ(p.fMain.Scale(n)->parentWidget()->isVisibleTo(client), n <= channels) << n;
        }
    }
}

TEST(MainWindow, MissingDeviceIsSkippedAndTheOthersRun)
{
    TMemoryStore store;
    store.WriteBool("is Sound", true);
    store.WriteInt("rg Mode", 4);
    store.WriteInt("multi_2", 50);  // no such device
    Program p(store);
    p.start();
    EXPECT_FALSE(p.audio.Running(2));
    EXPECT_EQ(p.running(), 11);
    EXPECT_TRUE(p.fCorre.isVisible());
}

TEST(MainWindow, LiveInputLightsTheBarsOfItsRecorderOnly)
{
    TMemoryStore store;
    store.WriteBool("is Sound", true);
    store.WriteInt("rg Mode", 0);
    Program p(store);
    TSimulatedCapture::Device()->SetSignal(0, "sine:1000:-6");
    p.start();
    for (int i = 0; i < 40; ++i) {
        TSimulatedCapture::Device()->Pump(0, 1);
        WindowPoster().ProcessMessages();
        QTest::qWait(10);
    }
    EXPECT_GT(p.fMain.Level(1)->Core().BarSpots(), 0);
    EXPECT_GT(p.fMain.Level(2)->Core().BarSpots(), 0);
    EXPECT_EQ(p.fMain.Level(3)->Core().BarSpots(), 0);
    EXPECT_GT(p.audio.Blocks(1), 0u);
    EXPECT_EQ(p.audio.Blocks(3), 0u);
}

TEST(MainWindow, ResizeBurstFollowsAtOnceAndRedrawsPicturesOnce)
{
    TMemoryStore store;
    store.WriteBool("is Sound", true);
    store.WriteInt("rg Mode", 4);
    Program p(store);
    p.start();
    // The start's own redraw is done (however slowly this machine runs).
    QTRY_VERIFY_WITH_TIMEOUT(!p.fMain.tDisplay()->isActive(), 5000);
    QCoreApplication::processEvents();
    const int before = p.fMain.Picture(7)->Redraws();
    for (int h = 600; h <= 800; h += 50) {
        p.fMain.resize(p.fMain.width(), h);
        QCoreApplication::processEvents();
        const int labelTop = p.fMain.Label(1)->y();
        EXPECT_EQ(p.fMain.Level(1)->height(), labelTop - 15);
        EXPECT_EQ(p.fMain.Picture(24)->height(), labelTop - 15);
        EXPECT_EQ(p.fMain.Scale(9)->height(), labelTop - 15);
    }
    EXPECT_EQ(p.fMain.Picture(7)->Redraws(), before);
    QTRY_VERIFY_WITH_TIMEOUT(!p.fMain.tDisplay()->isActive(), 5000);
    QCoreApplication::processEvents();
    EXPECT_EQ(p.fMain.Picture(7)->Redraws(), before + 1);
    EXPECT_EQ(p.fMain.Picture(7)->Picture().height(), p.fMain.Picture(7)->height());
}

TEST(MainWindow, KeysClearPeaksSelectStandardsAndLabelsOpenOnDoubleClick)
{
    TMemoryStore store;
    store.WriteBool("is Sound", true);
    store.WriteText("Edit 3", "Studio");  // stored by an older version
    Program p(store);
    p.start();
    // Three whole letters, inside the strip.
    EXPECT_EQ(p.fMain.Label(3)->Caption(), "Stu");
    EXPECT_LE(p.fMain.Label(3)->width(), 57);
    p.fSetLevel.Core().setPeaks(4);
    for (int n = 1; n <= tv::kStrips; ++n) p.fMain.Level(n)->Core().setNumPeaks(1);
    // A maximum held by "Leave max Peak" goes with the key as well.
    TMMCustomLevel& bar = p.fMain.Level(5)->Core();
    bar.setLeaveMaxPeak(true);
    bar.UpdateLevel(32767);
    bar.UpdateLevel(0);
    ASSERT_GT(bar.PeakSpot(), 0);
    QTest::keyClick(&p.fMain, Qt::Key_Q);  // no command: only clears the peaks
    for (int n = 1; n <= tv::kStrips; ++n) EXPECT_EQ(p.fMain.Level(n)->Core().NumPeaks(), 4) << n;
    EXPECT_EQ(bar.PeakSpot(), 0);

    QTest::keyClick(&p.fMain, Qt::Key_8, Qt::KeypadModifier);  // Digital PPM
    EXPECT_EQ(p.fMain.Panel1()->text(), "Digital PPM");
    EXPECT_TRUE(p.fMain.Scale(3)->isVisibleTo(&p.fMain));
    EXPECT_FALSE(p.fMain.Picture(3)->isVisibleTo(&p.fMain));
    QTest::keyClick(&p.fMain, Qt::Key_1, Qt::KeypadModifier);  // Nordic N9
    EXPECT_EQ(p.fMain.Panel1()->text(), "Nordic N9");
    EXPECT_FALSE(p.fMain.Scale(3)->isVisibleTo(&p.fMain));
    EXPECT_TRUE(p.fMain.Picture(3)->isVisibleTo(&p.fMain));
    EXPECT_EQ(p.fMain.Level(3)->Core().MeterStandard(), 0);

    bool shown = false;
    QTimer::singleShot(50, [&] {
        shown = p.fLabels.isVisible();
        p.fLabels.edit(2)->setText("VOX");
        p.fLabels.edit(4)->clear();
        QTest::keyClicks(p.fLabels.edit(4), "Studio");
        p.fLabels.okay();
    });
    QTest::mouseDClick(p.fMain.Label(2), Qt::LeftButton);
    EXPECT_TRUE(shown);
    EXPECT_EQ(p.fMain.Label(2)->Caption(), "VOX");
    EXPECT_EQ(p.fMain.Label(24)->Caption(), "24");
    EXPECT_EQ(store.ReadText("Edit 2", ""), "VOX");
    EXPECT_EQ(store.ReadText("Edit 1", ""), "1");
    EXPECT_EQ(store.ReadText("Edit 3", ""), "Stu");
    EXPECT_EQ(store.ReadText("Edit 4", ""), "Stu");
    EXPECT_EQ(p.fMain.Label(4)->Caption(), "Stu");
}

TEST(MainWindow, CloseSavesEveryValueAndARestartRestoresThem)
{
    TMemoryStore store;
    store.WriteBool("is Sound", true);
    {
        Program p(store);
        p.start();
        p.fMain.Level(5)->Core().setDecay(7);
        TStripValues v = p.engine.StripValues(6);
        v.LEDColor = clRed;
        p.engine.ApplyStripValues(6, v);
        p.fMain.move(30, 40);
        p.fMain.SaveAll();
    }
    EXPECT_EQ(store.ReadInt("Level Decay5", 0), 7);
    EXPECT_EQ(store.ReadInt("LedColor6", 0), int(clRed));
    EXPECT_EQ(store.ReadInt("Window top", 0), 40);
    EXPECT_EQ(store.ReadInt("Level Delay3", 0), 49);
    Program q(store);
    q.start();
    EXPECT_EQ(q.fMain.Level(5)->Core().Decay(), 7);
    EXPECT_EQ(q.fMain.Label(6)->LEDColor(), clRed);
    EXPECT_EQ(q.fMain.Level(5)->Core().PeakDelay(), 49);
}

TEST(MainWindow, PlacementOffEveryScreenFallsBackToTheDesignPosition)
{
    TMemoryStore store;
    store.WriteBool("is Sound", true);
    store.WriteInt("Window Left", -100000);
    store.WriteInt("Window top", 50);
    store.WriteInt("Window height", -5);
    Program p(store);
    p.start();
    EXPECT_EQ(p.fMain.x(), 8);
    EXPECT_EQ(p.fMain.y(), 7);
    EXPECT_GE(p.fMain.height(), 1);
}

}  // namespace

[[maybe_unused]] const ::testing::Environment* const kSimulatedCapture =
    ::testing::AddGlobalTestEnvironment(new TSimulatedCapture);

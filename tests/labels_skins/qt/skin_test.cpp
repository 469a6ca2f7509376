// The skinning engine, the skin dialog and the main window's start steps,
// offscreen: tag-99 controls keep their look, failures fall back silently,
// dialogs match golden images under three skins.
#include "tests/support/qt/SimulatedCapture.h"
#include "base/TvConstants.h"
#include "app/MainLayout.h"
#include "app/StoreAccess.h"
#include "app/qt/MainAudio.h"
#include "app/qt/MeterEngine.h"
#include "app/qt/ProgramWindows.h"
#include "correlation/qt/uCorre.h"
#include "monitoring/qt/uLogFile.h"
#include "app/qt/uInfo.h"
#include "app/qt/uMain.h"
#include "app/qt/uMultimode.h"
#include "audio/MMSimWaveIn.h"
#include "audio/qt/MMConnectorLoop.h"
#include "labels_skins/SkinChoice.h"
#include "labels_skins/qt/SkinData.h"
#include "labels_skins/qt/uLabels.h"
#include "labels_skins/qt/uSkin.h"
#include "metering/qt/uSet_Level.h"
#include "tests/support/qt/Golden.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <vector>

#include <cstdlib>
#include <memory>

namespace {

const QString kSkins = QStringLiteral(TARVOLIN_SOURCE_DIR "/skins/");

QString EntryPath(int i) { return QStringLiteral(TARVOLIN_SOURCE_DIR "/") + QString::fromStdString(SkinEntryFile(i)); }

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
        fSkin.setProgramFolder(QStringLiteral(TARVOLIN_SOURCE_DIR "/"));
    }
    ~Program()
    {
        for (int k = 1; k <= tv::kPairs; ++k) audio.Close(k);
    }
    QImage Strips()
    {
        QWidget* client = fMain.centralWidget();
        const QImage all = client->grab().toImage();
        return all.copy(0, CaptionHeight, all.width(), all.height() - CaptionHeight);
    }
};

// A dialog with one control of every skinned kind, for the contact sheet
// and the "created after the skin was set" case.
std::unique_ptr<QWidget> SampleDialog(const QString& title)
{
    auto w = std::make_unique<QWidget>();
    w->setWindowTitle(title);
    auto* v = new QVBoxLayout(w.get());
    auto* menu = new QMenuBar(w.get());
    menu->addMenu("Settings");
    menu->addMenu("Help");
    v->setMenuBar(menu);
    auto* title1 = new QLabel(title, w.get());
    v->addWidget(title1);
    auto* group = new QGroupBox(" Input ", w.get());
    auto* g = new QGridLayout(group);
    auto* r1 = new QRadioButton("44100 Hz", group);
    r1->setChecked(true);
    g->addWidget(r1, 0, 0);
    g->addWidget(new QRadioButton("48000 Hz", group), 0, 1);
    auto* c1 = new QCheckBox("Detect silence", group);
    c1->setChecked(true);
    g->addWidget(c1, 1, 0);
    g->addWidget(new QCheckBox("Log", group), 1, 1);
    auto* combo = new QComboBox(group);
    combo->addItem("Wave mapper");
    g->addWidget(combo, 2, 0, 1, 2);
    auto* edit = new QLineEdit("L  R", group);
    g->addWidget(edit, 3, 0);
    auto* spin = new QSpinBox(group);
    spin->setValue(10);
    g->addWidget(spin, 3, 1);
    v->addWidget(group);
    auto* tabs = new QTabWidget(w.get());
    auto* page = new QWidget;
    auto* pv = new QVBoxLayout(page);
    auto* progress = new QProgressBar(page);
    progress->setValue(62);
    pv->addWidget(progress);
    auto* slider = new QSlider(Qt::Horizontal, page);
    slider->setValue(40);
    pv->addWidget(slider);
    tabs->addTab(page, "Level");
    tabs->addTab(new QWidget, "Alarm");
    v->addWidget(tabs);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(new QPushButton("Preview", w.get()));
    auto* ok = new QPushButton("Okay", w.get());
    ok->setDefault(true);
    buttons->addWidget(ok);
    v->addLayout(buttons);
    auto* status = new QStatusBar(w.get());
    status->showMessage("Ready");
    status->setSizeGripEnabled(false);
    v->addWidget(status);
    w->resize(240, 330);
    return w;
}

QRgb PixelAtCentre(QWidget* w)
{
    const QImage img = w->grab().toImage();
    return img.pixel(img.width() / 2, img.height() - 4);
}

}  // namespace

TEST(SkinEngine, StripAreaIsIdenticalUnderEverySkinAndWithout)
{
    TMemoryStore store;
    Program p(store);
    // The skinned menu bar may change the client height; the strips are
    // compared at one client size.
    p.fMain.centralWidget()->setFixedSize(DesignClientWidth, DesignClientHeight - 40);
    TSkinData* e = p.fMain.SkinData();
    ASSERT_NE(e, nullptr);
    e->setSkinFile("/nonexistent/skins/none.skn");
    ASSERT_FALSE(e->Loaded());
    const QImage plain = p.Strips();
    for (int i = 0; i < kSkinEntries; ++i) {
        e->setSkinFile(EntryPath(i));
        ASSERT_TRUE(e->Loaded()) << e->LastError().toStdString();
        const QImage skinned = p.Strips();
        EXPECT_TRUE(skinned == plain) << SkinEntryFile(i);
    }
    // The strips keep their black background.
    EXPECT_EQ(plain.pixel(1, plain.height() - 2), qRgb(0, 0, 0));
}

TEST(SkinEngine, FailuresGiveTheBuiltInLookAndKeepThePath)
{
    const QPalette builtIn = QApplication::palette();
    TSkinData engine;
    QTemporaryDir dir;
    const QString bad = dir.filePath("bad.skn");
    {
        QFile f(bad);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[skin]\nname = half\n[palette]\nwindow = #00\n");
    }
    std::vector<QString> faults;
    engine.OnFault = [&](const QString& m) { faults.push_back(m); };
    engine.setSkinFile(EntryPath(1));
    ASSERT_TRUE(engine.Loaded());
    EXPECT_TRUE(faults.empty());
    EXPECT_NE(QApplication::palette().color(QPalette::Window), builtIn.color(QPalette::Window));
    EXPECT_FALSE(qApp->styleSheet().isEmpty());
    for (const QString& path : {bad, dir.filePath("missing.skn"), dir.path(), QString()}) {
        engine.setSkinFile(path);
        EXPECT_FALSE(engine.Loaded());
        EXPECT_EQ(engine.SkinFile(), path);
        EXPECT_FALSE(engine.LastError().isEmpty());
        EXPECT_EQ(QApplication::palette().color(QPalette::Window), builtIn.color(QPalette::Window));
        EXPECT_TRUE(qApp->styleSheet().isEmpty());
        ASSERT_FALSE(faults.empty());
        EXPECT_EQ(faults.back(), engine.LastError());
    }
    EXPECT_EQ(faults.size(), 4u);
    EXPECT_EQ(faults[0], "skin " + bad + ": line 4: bad colour '#00'");
    EXPECT_EQ(engine.LastFault(), "cannot open the file");
}

TEST(SkinEngine, SkinsControlsCreatedLaterButNotTaggedOnes)
{
    TSkinData engine;
    engine.setSkinFile(kSkins + "mxskin15.skn");  // black and yellow
    ASSERT_TRUE(engine.Loaded());
    QWidget window;
    window.resize(200, 100);
    auto* skinned = new QPushButton("A", &window);
    skinned->setGeometry(0, 0, 100, 40);
    auto* panel = new QWidget(&window);
    panel->setProperty("tag", TSkinData::ExcludedTag);
    panel->setGeometry(100, 0, 100, 40);
    auto* kept = new QPushButton("B", panel);
    kept->setGeometry(0, 0, 100, 40);
    window.ensurePolished();
    EXPECT_TRUE(skinned->property(TSkinData::MarkProperty).toBool());
    EXPECT_FALSE(kept->property(TSkinData::MarkProperty).toBool());
    EXPECT_TRUE(TSkinData::IsExcluded(kept));
    EXPECT_FALSE(TSkinData::IsExcluded(skinned));
    EXPECT_EQ(PixelAtCentre(skinned), qRgb(0, 0, 0));
    EXPECT_NE(PixelAtCentre(kept), qRgb(0, 0, 0));  // the built-in light button
}

TEST(SkinDialog, ChoosingAnEntryStoresTheEnginesPathAlsoWhenLoadingFails)
{
    TMemoryStore store;
    Program p(store);
    EXPECT_EQ(p.fSkin.windowTitle(), "Bars preference");
    EXPECT_EQ(p.fSkin.ItemIndex(), -1);
    p.fSkin.ChooseEntry(4);  // "Skin5"
    const std::string stored = store.ReadText("skin", "");
    EXPECT_EQ(stored, std::string(TARVOLIN_SOURCE_DIR) + "/skins/mxskin24.skn");
    EXPECT_TRUE(p.fMain.SkinData()->Loaded());
    EXPECT_EQ(p.fMain.SkinFile(), stored);

    // A program folder without skins: nothing loads, the path is stored.
    QTemporaryDir empty;
    p.fSkin.setProgramFolder(empty.path() + "/");
    p.fSkin.ChooseEntry(13);
    EXPECT_FALSE(p.fMain.SkinData()->Loaded());
    EXPECT_EQ(store.ReadText("skin", ""), (empty.path() + "/skins/mxskin67.skn").toStdString());
    // The status strip names the file and the fault, the tooltip the full path.
    EXPECT_TRUE(p.fSkin.StatusPanel()->text().startsWith("mxskin67.skn: cannot")) << p.fSkin.StatusPanel()->text().toStdString();
    EXPECT_TRUE(p.fSkin.StatusPanel()->toolTip().contains(empty.path() + "/skins/mxskin67.skn"));
    p.fSkin.setProgramFolder(QStringLiteral(TARVOLIN_SOURCE_DIR "/"));
    p.fSkin.ChooseEntry(2);
    EXPECT_EQ(p.fSkin.StatusPanel()->text(), "Program Skins ");
    p.fSkin.setProgramFolder(empty.path() + "/");
    p.fSkin.ChooseEntry(13);

    // Clicking the selected entry does nothing.
    store.WriteText("skin", "untouched");
    p.fSkin.ChooseEntry(13);
    EXPECT_EQ(store.ReadText("skin", ""), "untouched");
}

TEST(SkinDialog, StartSetsTheStoredSkinAndTheDialogShowsIt)
{
    TMemoryStore store;
    store.WriteText("skin", EntryPath(6).toStdString());
    Program p(store);
    EXPECT_EQ(p.fMain.SkinFile(), EntryPath(6).toStdString());
    EXPECT_TRUE(p.fMain.SkinData()->Loaded());
    p.fSkin.show();
    EXPECT_EQ(p.fSkin.ItemIndex(), 6);
    p.fSkin.hide();
}

TEST(SkinGolden, DialogsUnderThreeSkins)
{
    TMemoryStore store;
    Program p(store);
    const std::pair<int, const char*> skins[] = {{0, "silver"}, {4, "midnight"}, {2, "control_room"}};
    for (const auto& [entry, name] : skins) {
        p.fMain.SkinData()->setSkinFile(EntryPath(entry));
        ASSERT_TRUE(p.fMain.SkinData()->Loaded());
        EXPECT_TRUE(MatchesGolden(p.fSetLevel.grab().toImage(), std::string("skin_level_") + name));
        EXPECT_TRUE(MatchesGolden(p.fmulti.grab().toImage(), std::string("skin_input_") + name));
    }
}

// Writes the contact sheet of all skins when TARVOLIN_CONTACT_SHEET names a file.
TEST(SkinContactSheet, AllSkins)
{
    const char* out = std::getenv("TARVOLIN_CONTACT_SHEET");
    if (!out || !*out) GTEST_SKIP() << "set TARVOLIN_CONTACT_SHEET=FILE.png to write it";
    TSkinData engine;
    const int cols = 7, cellW = 290, cellH = 360;
    QImage sheet(cols * cellW, 2 * cellH, QImage::Format_RGB32);
    sheet.fill(qRgb(128, 128, 128));
    QPainter painter(&sheet);
    for (int i = 0; i < kSkinEntries; ++i) {
        engine.setSkinFile(EntryPath(i));
        ASSERT_TRUE(engine.Loaded());
        auto w = SampleDialog(QString("Skin%1: %2").arg(i + 1).arg(engine.SkinName()));
        w->adjustSize();
        painter.drawImage((i % cols) * cellW + 5, (i / cols) * cellH + 10, w->grab().toImage());
    }
    painter.end();
    ASSERT_TRUE(sheet.save(out, "PNG"));
}

[[maybe_unused]] const ::testing::Environment* const kSimulatedCapture =
    ::testing::AddGlobalTestEnvironment(new TSimulatedCapture);

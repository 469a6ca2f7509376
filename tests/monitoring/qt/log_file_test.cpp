// The log window, offscreen: list kept while hidden, buttons, saving.
#include "monitoring/qt/uLogFile.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QClipboard>
#include <QGuiApplication>
#include <QListView>
#include <QScrollBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

TEST(LogFile, ListButtonsAndVisibility)
{
    TfLogFile w;
    EXPECT_EQ(w.windowTitle(), "Logfile");
    EXPECT_EQ(w.size(), QSize(438, 460));
    EXPECT_EQ(w.logMemo->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(w.btn_clear->geometry(), QRect(184, 400, 65, 25));
    w.btn_clear->click();  // empty: nothing happens
    EXPECT_TRUE(w.Lines().isEmpty());

    w.Append("Level 1 : - Vox-   -Inf dB  --> Time: x");  // hidden window still fills
    w.Append("Level 2 : - Mus-   -48.95 dB  --> Time: y");
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(w.Lines().size(), 2);
    EXPECT_EQ(w.logMemo->model()->rowCount(), 2);

    w.show();
    w.btn_close->click();
    EXPECT_FALSE(w.isVisible());
    w.show();
    EXPECT_EQ(w.logMemo->model()->index(1, 0).data().toString(), "Level 2 : - Mus-   -48.95 dB  --> Time: y");

    int stops = 0, starts = 0;
    w.OnStopLog = [&] { ++stops; };
    w.OnStartLog = [&] { ++starts; };
    w.btn_stoplog->click();
    w.btn_startlog->click();
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(starts, 1);

    w.btn_clear->click();
    EXPECT_TRUE(w.Lines().isEmpty());
    EXPECT_EQ(w.logMemo->model()->rowCount(), 0);
}

TEST(LogFile, FollowsNewLinesAtTheEndOnlyAndCopiesTheSelection)
{
    TfLogFile w;
    w.show();
    for (int i = 1; i <= 200; ++i) w.Append("line " + std::to_string(i));
    QApplication::processEvents();
    QScrollBar* bar = w.logMemo->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());  // the newest line in view

    bar->setValue(0);  // reading older lines: they stay in view
    w.Append("line 201");
    QApplication::processEvents();
    EXPECT_EQ(bar->value(), 0);

    auto* m = w.logMemo->model();
    w.logMemo->selectionModel()->select(m->index(4, 0), QItemSelectionModel::Select);
    w.logMemo->selectionModel()->select(m->index(2, 0), QItemSelectionModel::Select);
    w.logMemo->setFocus();
    for (QAction* a : w.logMemo->actions())
        if (a->shortcut() == QKeySequence(QKeySequence::Copy)) a->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "line 3\nline 5");
}

TEST(LogFile, SaveWritesCrLfUtf8AndReportsUnwritableFiles)
{
    QTemporaryDir dir;
    TfLogFile w;
    QStringList errors;
    w.OnError = [&](const QString& t) { errors << t; };

    const QString empty = dir.filePath("empty.txt");
    ASSERT_TRUE(w.SaveTo(empty));
    EXPECT_TRUE(QFile::exists(empty));
    EXPECT_EQ(QFileInfo(empty).size(), 0);

    w.Append("Level 1 : - Stúdió-   -Inf dB  --> Time: a");
    w.Append("Level 2 : - B-   0.00 dB  --> Time: b");
    const QString path = dir.filePath("log.txt");
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("an older and much longer file that is replaced entirely");
    }
    ASSERT_TRUE(w.SaveTo(path));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("Level 1 : - St\xC3\xBA" "di\xC3\xB3-   -Inf dB  --> Time: a\r\n"
                                      "Level 2 : - B-   0.00 dB  --> Time: b\r\n"));

    const QString bad = dir.filePath("missing/folder/log.txt");
    EXPECT_FALSE(w.SaveTo(bad));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(QDir::toNativeSeparators(bad)));
    EXPECT_EQ(w.Lines().size(), 2);  // the list is kept
}

TEST(LogFile, SaveDialogStartsInTheExportFolderWithoutChangingTheCurrentFolder)
{
    QTemporaryDir dir;
    const QString exportFolder = dir.filePath("Tarvolin export");
    ASSERT_TRUE(QDir().mkpath(exportFolder));
    TfLogFile w;
    w.setExportFolder(exportFolder);
    w.Append("line");
    const QString cwd = QDir::currentPath();
    w.SaveDialog1()->setOption(QFileDialog::DontUseNativeDialog);
    QString seenDir, seenTitle;
    QTimer::singleShot(0, [&] {
        seenDir = w.SaveDialog1()->directory().absolutePath();
        seenTitle = w.SaveDialog1()->windowTitle();
        w.SaveDialog1()->selectFile(exportFolder + "/saved");
        QMetaObject::invokeMethod(w.SaveDialog1(), "accept");
    });
    w.SaveAs();
    EXPECT_EQ(QDir(seenDir), QDir(exportFolder));
    EXPECT_EQ(seenTitle, "Save Tarvolin logfile");
    EXPECT_EQ(QDir::currentPath(), cwd);
    EXPECT_TRUE(QFile::exists(exportFolder + "/saved.txt"));

    // Cancelled: nothing written.
    QTimer::singleShot(0, [&] { w.SaveDialog1()->reject(); });
    w.setExportFolder(dir.filePath("no such folder"));
    w.SaveAs();
    EXPECT_EQ(QDir(exportFolder).entryList(QDir::Files).size(), 1);
}

}  // namespace

// The whole windowed program in this process (RunProgram, simulated inputs,
// its own settings file and journal), driven through its menus and signals
// as an operator and the system would.
#include "app/CommandLine.h"
#include "app/SettingsCommandLine.h"
#include "app/qt/Program.h"
#include "app/qt/uMultimode.h"
#include "audio/MMAudioBackend.h"
#include "audio/MMWavIn.h"
#include "audio/MMWaveOutBackend.h"
#include "audio/qt/MMQtPoster.h"
#include "metering/qt/uSet_Level.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>

namespace {

// The program's window of class T (only a shown one when `shown`).
template <class T>
T* TopLevel(bool shown)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* t = qobject_cast<T*>(w); t && (!shown || t->isVisible())) return t;
    return nullptr;
}

QString Slurp(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

class Program : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
        poster.Install();
    }

    // Runs the program with these options until it ends; its exit code.
    int Run(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--audio", "simulated", "--settings", settings().toStdString()});
        const CommandLine cl = ParseCommandLine(args, nullptr);
        if (!ApplySettingsOptions(cl, std::cerr)) return -1;
        input = CreateWaveInBackend(cl.audio, cl.simInputs, std::cerr);
        SetWaveInDevice(input.get());
        output = CreateWaveOutBackend(*input);
        SetWaveOutDevice(output.get());
        const int rc = RunProgram(*qApp, cl);
        SetWaveOutDevice(nullptr);
        SetWaveInDevice(nullptr);
        return rc;
    }

    QString settings() const { return dir.filePath("settings.reg"); }
    QString journal() const
    {
        QString all;
        const QDir d(dir.filePath("data/Tarvolin/journal"));
        for (const QString& f : d.entryList({"*.log"}, QDir::Files)) all += Slurp(d.filePath(f));
        return all;
    }

    QTemporaryDir dir;
    TMMQtPoster poster;
    std::unique_ptr<TMMWaveInDevice> input;
    std::unique_ptr<TMMWaveOutDevice> output;
};

// The input setup closes every recorder while it is open: its dark strips are
// the operator's doing, not a programme fault. Open for 6 s with a 2 s alarm
// delay, nothing alarms or runs the alarm command; the journal says when
// monitoring paused and resumed; afterwards the tone is metered again.
TEST_F(Program, InputSetupHoldsTheSilenceDetector)
{
    const QString actionRan = dir.filePath("alarm-ran");
    QTimer::singleShot(3500, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            for (QAction* a : w->findChildren<QAction*>())
                if (a->text() == "Select audio input") {
                    QMetaObject::invokeMethod(a, &QAction::trigger, Qt::QueuedConnection);
                    return;
                }
        ADD_FAILURE() << "no \"Select audio input\" entry";
    });
    bool setupSeen = false;
    QTimer::singleShot(9500, [&setupSeen] {
        if (Tfmulti* m = TopLevel<Tfmulti>(true)) {
            setupSeen = true;
            m->reject();
        }
    });
    const int rc = Run({"--set", "is Sound=1", "--set", "rg Mode=0", "--set", "multi_1=0", "--set", "cb detect=1",
                        "--set", "db_value2=-40", "--set", "db_value=351", "--set", "sec_value=2", "--set",
                        "Action Alarm Command=touch " + actionRan.toStdString(), "--sim-input",
                        "1=sine:997:-20", "--run-for", "14"});
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(setupSeen) << "the input setup did not open";
    const QString j = journal();
    EXPECT_FALSE(j.contains("alarm strip=")) << j.toStdString();
    EXPECT_FALSE(QFile::exists(actionRan)) << "the alarm command ran";
    const qsizetype paused = j.indexOf("monitoring event=paused reason=\"input setup\"");
    const qsizetype resumed = j.indexOf("monitoring event=resumed reason=\"input setup\"");
    EXPECT_GE(paused, 0) << j.toStdString();
    EXPECT_GT(resumed, paused) << j.toStdString();
}

// A service stop, logout or closed terminal saves what was changed, as a
// normal close does.
TEST_F(Program, StopSignalsSaveTheSettings)
{
    for (int sig : {SIGTERM, SIGHUP}) {
        QTimer::singleShot(2000, [] {
            TfSetLevel* s = TopLevel<TfSetLevel>(false);
            ASSERT_NE(s, nullptr) << "no level settings dialog";
            s->Core().setMeterItem(3);  // EBU
            s->Core().setDetect(true);
        });
        QTimer::singleShot(2500, [sig] { std::raise(sig); });
        EXPECT_EQ(Run({"--set", "is Sound=1", "--set", "rg Mode Din=1", "--set", "cb detect=0", "--run-for", "30"}), 0);
        const QString s = Slurp(settings());
        EXPECT_TRUE(s.contains("\"rg Mode Din\"=dword:00000003")) << "signal " << sig << "\n" << s.toStdString();
        EXPECT_TRUE(s.contains("\"cb detect\"=dword:00000001")) << "signal " << sig << "\n" << s.toStdString();
    }
}

// Every name stands in the written file once, with no blank runs.
TEST_F(Program, WrittenSettingsHoldEachNameOnce)
{
    ASSERT_EQ(Run({"--set", "is Sound=1", "--set", "Edit 1=Mic", "--run-for", "1"}), 0);
    ASSERT_EQ(Run({"--set", "Edit 1=Stu", "--set", "rg Mode Din=4", "--run-for", "1"}), 0);
    const QString s = Slurp(settings());
    QStringList names;
    int blank = 0;
    for (const QString& line : s.split('\n')) {
        if (line.isEmpty()) ++blank;
        if (!line.startsWith('"')) continue;
        const QString name = line.section('"', 1, 1).toLower();
        EXPECT_FALSE(names.contains(name)) << "\"" << name.toStdString() << "\" twice:\n" << s.toStdString();
        names << name;
    }
    EXPECT_GT(names.size(), 250);
    EXPECT_LE(blank, 3) << s.toStdString();  // after the header, between keys, at the end
    EXPECT_TRUE(s.contains("\"Edit 1\"=\"Stu\""));
}

}  // namespace

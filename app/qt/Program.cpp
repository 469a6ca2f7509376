#include "app/qt/Program.h"

#include "app/InputModes.h"
#include "app/RunStats.h"
#include "app/SettingNames.h"
#include "app/StoreRegistry.h"
#include "app/qt/MainAudio.h"
#include "app/qt/MainLoudness.h"
#include "app/qt/ProgramWindows.h"
#include "app/qt/MeterEngine.h"
#include "audio/MMNotify.h"
#include "audio/qt/MMConnectorLoop.h"
#include "monitoring/qt/MMErrorReport.h"
#include "audio/MMWavIn.h"
#include "metering/qt/uLoudness.h"
#include "monitoring/MMMonitorSettings.h"
#include "monitoring/qt/uActions.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QTime>
#include <QTimer>

#include <malloc.h>

#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>

namespace {

// The shown top-level window with this caption, if any.
QWidget* ShownWindowTitled(const QString& title)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowTitle() == title) return w;
    return nullptr;
}

// Opens the window --screenshot-window names (non-modal, so the program goes
// on) and returns how to find it when the shot is due; an empty function when
// this build has no such window. The loudness window opens through its menu
// entry, queued, so a window that runs its own loop cannot hold the shot back.
std::function<QWidget*()> OpenScreenshotWindow(TProgramWindows& w, TfActions& actions, const std::string& name)
{
    QWidget* target = nullptr;
    if (name == "main") return [&w] { return &w.fMain; };
    if (name == "input") target = &w.fmulti;
    else if (name == "level") target = &w.fSetLevel;
    else if (name == "labels") target = &w.fLabels;
    else if (name == "log") target = &w.fLogFile;
    else if (name == "correlation") target = &w.fCorre;
    else if (name == "skins") target = &w.fSkin;
    else if (name == "info") target = &w.FrmInfo;
    else if (name == "actions") {
        w.fSetLevel.OnActions();  // fills the dialog from the store and shows it
        return [&actions] { return &actions; };
    } else if (name == "loudness") {
        auto find = [] { return ShownWindowTitled("Loudness"); };
        if (find()) return find;
        for (QAction* a : w.fMain.findChildren<QAction*>())
            if (a->text().remove('&') == "Loudness meter") {
                QMetaObject::invokeMethod(a, &QAction::trigger, Qt::QueuedConnection);
                return find;
            }
        return {};
    }
    if (!target) return {};
    target->show();
    target->raise();
    return [target] { return target; };
}

}  // namespace

int RunProgram(QApplication& app, const CommandLine& cl)
{
    TMMConnectorQtLoop loop;  // the connectors' trigger cycles on this thread
    QApplication::setApplicationName("Tarvolin");
    QApplication::setQuitOnLastWindowClosed(false);

    TRegistryStore registry;
    // The meter: audio, analysers, detector, settings and the monitoring side;
    // the windows are its views.
    TMeterEngine engine(registry);
    TMainAudio& audio = engine.Audio();
    TSettingsAccess& store = registry;

    TProgramWindows windows(engine);
    TfMain& fMain = windows.fMain;
    const TfCorre& fCorre = windows.fCorre;
    // Failures of component handlers (the alarm sound's playback thread
    // among them) reach the user through the standard error report.
    SetApplicationErrorHandler([&fMain](const std::string& text) {
        QMetaObject::invokeMethod(&fMain, [&fMain, t = QString::fromStdString(text)] { ShowErrorReport(&fMain, t); });
    });
    struct ErrorHandlerReset {
        ~ErrorHandlerReset() { SetApplicationErrorHandler(nullptr); }
    } errorHandlerReset;

    TfActions actions(&windows.fSetLevel);
    actions.setStore(&store);
    actions.OnApply = [&engine](const TMonitorSettings& m) { engine.ApplyMonitorSettings(m); };
    windows.fSetLevel.OnActions = [&] {
        actions.setValues(ReadMonitorSettings(store));
        actions.show();
        actions.raise();
    };
    if (!engine.Start(cl, std::cerr)) return 1;

    // Painting rate: --display-rate, else the stored choice.
    const int rate = cl.displayRate ? cl.displayRate : tv::DisplayRateOrDefault(kDisplayRateSetting.Read(store));
    loop.setFrameRate(rate);
    fMain.setDisplayRate(rate);
    fMain.OnDisplayRate = [&loop](int fps) { loop.setFrameRate(fps); };

    // The loudness window (Settings, "Loudness meter").
    TfLoudness fLoudness(&fMain);
    TMainLoudness loudness(fLoudness, audio, store, [&fMain] { return RecordersForMode(fMain.InputMode()); });
    fMain.OnShowLoudness = [&loudness] { loudness.Show(); };
    fMain.OnSaveAll = [&loudness] { loudness.Save(); };
    // The live page shows the loudness readouts while the window measures.
    engine.OnLiveFrame = [&fLoudness](TLiveFrame& f) {
        if (!fLoudness.Measuring()) return;
        const TMMLoudnessMeter& m = fLoudness.Meter();
        f.HasLoudness = true;
        f.Momentary = m.Momentary(), f.ShortTerm = m.ShortTerm(), f.Integrated = m.Integrated();
        f.LoudnessRange = m.Range();
    };
    struct LiveFrameReset {
        TMeterEngine& e;
        ~LiveFrameReset() { e.OnLiveFrame = nullptr; }
    } liveFrameReset{engine};

    // --screenshot: the window to take opens once the main window has run its
    // restore (or at the latest when the shot is due: a first start's modal
    // input setup holds the restore back).
    int shotRc = 0;
    std::function<QWidget*()> shotWindow;
    bool shotOpened = false;
    auto openShotWindow = [&] {
        if (shotOpened || cl.screenshot.empty()) return;
        shotOpened = true;
        shotWindow = OpenScreenshotWindow(windows, actions, cl.screenshotWindow);
        if (shotWindow) return;
        std::cerr << "tarvolin: --screenshot-window: this build has no " << cl.screenshotWindow << " window\n";
        shotRc = 2;
        fMain.close();
    };
    QElapsedTimer clock;
    double cpuAtStart = 0;
    fMain.OnRestored = [&] {
        clock.start();
        cpuAtStart = ProcessCpuSeconds();
        openShotWindow();
        // Start-up builds and drops much (style sheets, device lists, fonts):
        // the freed heap goes back to the system once the window runs.
        QTimer::singleShot(2000, &fMain, [] { malloc_trim(0); });
    };

    if (!cl.screenshot.empty()) {
        fMain.setSaveOnClose(false);
        // Precise: a coarse timer would be aligned with the 1 s detector tick.
        QTimer::singleShot(cl.screenshotAfterMs, Qt::PreciseTimer, &fMain, [&] {
            openShotWindow();
            if (!shotWindow) return;
            QWidget* window = shotWindow();
            if (!window) {
                std::cerr << "tarvolin: --screenshot-window: the " << cl.screenshotWindow << " window did not open\n";
                shotRc = 1;
            } else if (!window->grab().save(QString::fromStdString(cl.screenshot), "PNG")) {
                std::cerr << "tarvolin: cannot write the screenshot to " << cl.screenshot << "\n";
                shotRc = 1;
            }
            fMain.close();
        });
    }
    if (cl.runForSeconds)
        QTimer::singleShot(static_cast<int>(*cl.runForSeconds * 1000), &fMain, [&] { fMain.close(); });

    // A service stop, logout or closed terminal ends the program as a normal
    // close does, settings saved; so does the end of the desktop session.
    engine.OnStop = [&fMain] { fMain.close(); };
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &fMain, [&fMain] { fMain.SaveSettingsNow(); });

    fMain.show();
    loudness.Restore();
    const int rc = app.exec();

    if (cl.stats) {
        TRunStats s;
        s.seconds = clock.isValid() ? clock.nsecsElapsed() / 1e9 : 0;
        s.cpu_seconds = clock.isValid() ? ProcessCpuSeconds() - cpuAtStart : 0;
        engine.CollectStats(s);
        fMain.CollectStats(s);
        const TMMCorrelation& c = fCorre.Correlation();
        s.correlation = {fCorre.TappedPair(), c.Steps(), c.Mean(), c.Minimum(), c.Maximum(), c.PositivePercent()};
        s.max_rss_kb = ProcessMaxRssKb();
        std::cout << RunStatsJson(s) << std::endl;
    }
    return shotRc ? shotRc : rc;
}

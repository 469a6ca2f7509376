#include "app/qt/Program.h"

#include "app/RunStats.h"
#include "app/StoreRegistry.h"
#include "app/qt/MainAudio.h"
#include "app/qt/MainSilence.h"
#include "app/qt/ProgramWindows.h"
#include "audio/qt/MMConnectorLoop.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>

int RunProgram(QApplication& app, const CommandLine& cl)
{
    TMMConnectorQtLoop loop;  // the connectors' trigger cycles on this thread
    TMainAudio audio;
    QApplication::setApplicationName("Tarvolin");
    QApplication::setQuitOnLastWindowClosed(false);

    TRegistryStore registry;
    TSettingsAccess& store = registry;

    TProgramWindows windows(store, audio);
    TfMain& fMain = windows.fMain;
    const TfCorre& fCorre = windows.fCorre;

    // --log-out: every log line, appended and flushed as it is written.
    std::ofstream logOut;
    if (!cl.logOut.empty()) {
        logOut.open(cl.logOut, std::ios::app | std::ios::binary);
        if (!logOut)
            std::cerr << "tarvolin: cannot open " << cl.logOut << " for the log lines\n";
        else if (fMain.Silence())
            fMain.Silence()->Detector().AddListener([&logOut](const TSilenceEvent& e) {
                if (e.Kind == TSilenceEventKind::LogLine) logOut << e.Line << std::endl;
            });
    }

    QElapsedTimer clock;
    double cpuAtStart = 0;
    fMain.OnRestored = [&] {
        clock.start();
        cpuAtStart = ProcessCpuSeconds();
    };

    if (!cl.screenshot.empty()) {
        fMain.setSaveOnClose(false);
        QTimer::singleShot(cl.screenshotAfterMs, &fMain, [&] {
            const QPixmap shot = fMain.grab();
            if (!shot.save(QString::fromStdString(cl.screenshot), "PNG"))
                std::cerr << "tarvolin: cannot write the screenshot to " << cl.screenshot << "\n";
            fMain.close();
        });
    }
    if (cl.runForSeconds)
        QTimer::singleShot(static_cast<int>(*cl.runForSeconds * 1000), &fMain, [&] { fMain.close(); });

    fMain.show();
    const int rc = app.exec();

    if (cl.stats) {
        TRunStats s;
        s.seconds = clock.isValid() ? clock.nsecsElapsed() / 1e9 : 0;
        s.cpu_seconds = clock.isValid() ? ProcessCpuSeconds() - cpuAtStart : 0;
        fMain.CollectStats(s);
        const TMMCorrelation& c = fCorre.Correlation();
        s.correlation = {fCorre.TappedPair(), c.Steps(), c.Mean(), c.Minimum(), c.Maximum(), c.PositivePercent()};
        s.max_rss_kb = ProcessMaxRssKb();
        std::cout << RunStatsJson(s) << std::endl;
    }
    return rc;
}

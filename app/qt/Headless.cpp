#include "app/qt/Headless.h"

#include "app/CommandLine.h"
#include "app/RunStats.h"
#include "app/StoreRegistry.h"
#include "app/qt/MainAudio.h"
#include "app/qt/MeterEngine.h"
#include "audio/MMWavIn.h"
#include "audio/qt/MMConnectorLoop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <iostream>

namespace {

constexpr int kHeadlessBufferBytes = 8192;  // 2048 stereo 16-bit frames

}  // namespace

int RunHeadless(QCoreApplication& app, const CommandLine& cl)
{
    QCoreApplication::setApplicationName("Tarvolin");
    // The connectors' trigger cycles on this thread, caught up every 25 ms
    // (nothing is drawn).
    TMMConnectorQtLoop loop;
    loop.setFramePeriodUs(25000);
    TRegistryStore registry;
    // The meter without a view: what the restore hands to a window (its
    // place, the correlation window) stays as stored; failures go to stderr.
    TMeterEngine engine(registry);
    // Buffers of about 43 ms instead of 11 ms: a quarter of the wake-ups;
    // nothing is drawn, and the check reads the levels once a second.
    for (int k = 1; k <= tv::kPairs; ++k) engine.Audio().Recorder(k).setBufferSize(kHeadlessBufferBytes);
    // SIGINT, SIGTERM and SIGHUP end the event loop; the settings are saved below.
    engine.OnStop = [] { QCoreApplication::quit(); };
    if (!engine.Start(cl, std::cerr)) return 1;

    QElapsedTimer clock;
    double cpuAtStart = 0;
    QTimer::singleShot(0, &app, [&] {
        engine.Restore();
        // As the window's Timer1: the check starts 2 s after start when the detector is on.
        QTimer::singleShot(2000, &app, [&engine] { engine.StartCheck(); });
        clock.start();
        cpuAtStart = ProcessCpuSeconds();
    });
    if (cl.runForSeconds)
        QTimer::singleShot(static_cast<int>(*cl.runForSeconds * 1000), &app, [] { QCoreApplication::quit(); });

    const int rc = app.exec();
    engine.Save();

    if (cl.stats) {
        TRunStats s;
        s.seconds = clock.isValid() ? clock.nsecsElapsed() / 1e9 : 0;
        s.cpu_seconds = clock.isValid() ? ProcessCpuSeconds() - cpuAtStart : 0;
        engine.CollectStats(s);
        s.max_rss_kb = ProcessMaxRssKb();
        std::cout << RunStatsJson(s) << std::endl;
    }
    return rc;
}

// Switching the skin with all eight windows created (and shown, so every
// control is polished and repainted): target under 100 ms per switch.
#include "app/StoreAccess.h"
#include "app/qt/MainAudio.h"
#include "app/qt/MeterEngine.h"
#include "app/qt/ProgramWindows.h"
#include "correlation/qt/uCorre.h"
#include "monitoring/qt/uLogFile.h"
#include "app/qt/uInfo.h"
#include "app/qt/uMain.h"
#include "app/qt/uMultimode.h"
#include "labels_skins/SkinChoice.h"
#include "labels_skins/qt/SkinData.h"
#include "labels_skins/qt/uLabels.h"
#include "labels_skins/qt/uSkin.h"
#include "metering/qt/uSet_Level.h"

#include <QApplication>
#include <benchmark/benchmark.h>

namespace {

void BM_SwitchSkin(benchmark::State& state)
{
    TMemoryStore store;
    TMeterEngine engine(store);
    TProgramWindows w(engine);
    TfMain& fMain = w.fMain;
    fMain.setSaveOnClose(false);
    for (QWidget* w : std::initializer_list<QWidget*>{&w.fSetLevel, &w.fLabels, &w.fmulti, &w.fSkin,
                                                      &w.FrmInfo, &w.fLogFile, &w.fCorre})
        w->setAttribute(Qt::WA_DontShowOnScreen), w->show();
    fMain.ensurePolished();  // showing it would run the restore sequence
    QApplication::processEvents();
    const QString root = QStringLiteral(TARVOLIN_SOURCE_DIR "/");
    int i = 0;
    for (auto _ : state) {
        fMain.SkinData()->setSkinFile(root + QString::fromStdString(SkinEntryFile(i++ % kSkinEntries)));
        QApplication::processEvents();  // the repaint of every window
    }
    state.counters["widgets"] = static_cast<double>(QApplication::allWidgets().size());
}
BENCHMARK(BM_SwitchSkin)->Unit(benchmark::kMillisecond)->Iterations(28);

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

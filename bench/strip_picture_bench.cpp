// The blink end re-applies the standard to every strip picture about once a
// second during an alarm: the kept picture is swapped back (BlinkEndSwap)
// instead of drawn anew (FullRedraw). Per strip picture of 37 x 735.
#include "app/qt/ScaleImagesPaint.h"
#include "app/qt/StripPicture.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <memory>

namespace {

QApplication& App()
{
    static int argc = 1;
    static char name[] = "bench";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    return app;
}

void BlinkEndSwap(benchmark::State& state)
{
    App();
    TStripPicture p;
    p.resize(37, 735);
    p.DrawStandard(1);
    for (auto _ : state) {
        p.DrawAlarm();
        p.DrawStandard(1);
        benchmark::DoNotOptimize(p.Picture().constBits());
    }
}
BENCHMARK(BlinkEndSwap);

void FullRedraw(benchmark::State& state)
{
    App();
    QImage image(37, 735, QImage::Format_RGB32);
    for (auto _ : state) {
        DrawAlarmImage(image);
        DrawScaleImage(image, 1);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(FullRedraw);

}  // namespace

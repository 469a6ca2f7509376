// The cost of painting alone: a bare Qt Widgets program with the main
// window's shape (24 opaque bar widgets 20 x 870 in a 1382 x 1028 window)
// and, with --windows 2, a second small window like the correlation strip.
// Every display frame each bar's level takes a small random step and just the
// changed span is invalidated; no audio, no analysis. scripts/measure.sh
// --floor runs it beside the meter, as the floor any Qt Widgets meter pays.
// It sends the spans to X the way the meter does (not through shared memory)
// and, with --portaudio, loads the audio library as the meter does (the
// resident size of the libraries).
// --moving P: each bar moves in P % of the frames (default 100).
//   tv-paint-floor [--windows 1|2] [--fps F] [--moving P] [--portaudio]
#include "base/qt/MMXTransfer.h"

#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <portaudio.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

class Bar : public QWidget {
public:
    explicit Bar(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }
    int level = 400;

protected:
    void paintEvent(QPaintEvent* e) override
    {
        QPainter p(this);
        p.fillRect(e->rect(), Qt::black);
        p.fillRect(QRect(0, height() - level, width(), level) & e->rect(), Qt::green);
    }
};

class Strip : public QWidget {
public:
    explicit Strip(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }
    int x = 0;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), Qt::black);
        p.fillRect(QRect(x % width(), 0, 2, height()), Qt::yellow);
    }
};

int argValue(int argc, char** argv, const char* name, int fallback)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return std::atoi(argv[i + 1]);
    return fallback;
}

bool hasArg(int argc, char** argv, const char* name)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return true;
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    ChooseXTransfer();
    const bool audio = hasArg(argc, argv, "--portaudio") && Pa_Initialize() == paNoError;
    QApplication app(argc, argv);
    const int windows = std::clamp(argValue(argc, argv, "--windows", 2), 1, 2);
    const double hz = app.primaryScreen() ? app.primaryScreen()->refreshRate() : 60.0;
    const int fps = std::clamp(argValue(argc, argv, "--fps", static_cast<int>(std::lround(hz > 1 ? hz : 60))), 1, 240);

    QWidget main;
    main.setWindowTitle("paint floor");
    main.resize(1382, 1028);
    std::vector<Bar*> bars;
    for (int i = 0; i < 24; ++i) {
        auto* b = new Bar(&main);
        b->setGeometry(2 + i * 57, 54, 20, 870);
        bars.push_back(b);
    }
    main.show();
    QWidget second;
    Strip* strip = nullptr;
    if (windows == 2) {
        second.setWindowTitle("paint floor strip");
        second.resize(561, 103);
        strip = new Strip(&second);
        strip->setGeometry(130, 60, 300, 16);
        second.show();
    }

    std::mt19937 rng(1);
    const int moving = std::clamp(argValue(argc, argv, "--moving", 100), 0, 100);
    std::uniform_int_distribution<int> step(-8, 8), percent(0, 99);
    QTimer frame;
    frame.setTimerType(Qt::PreciseTimer);
    QObject::connect(&frame, &QTimer::timeout, [&] {
        for (Bar* b : bars) {
            if (percent(rng) >= moving) continue;
            const int old = b->level;
            b->level = std::clamp(old + step(rng), 100, 800);
            const int lo = std::min(old, b->level), hi = std::max(old, b->level);
            b->update(0, b->height() - hi, b->width(), hi - lo + 1);
        }
        if (strip) {
            ++strip->x;
            strip->update();
        }
    });
    frame.start(1000 / fps);
    const int rc = app.exec();
    if (audio) Pa_Terminate();
    return rc;
}

// Cost of the connectors' trigger machinery on the Qt loop.
//
// BM_TwelveConnectorsRunning: 12 connectors, 24 level bars (analysis on, no
// widgets), buffers of 2048 bytes at 48 kHz 16-bit stereo handed in on the
// GUI thread at their real rate; reports the process CPU share of one core
// (target: under 4 %) and the blocks per second each bar received (937.5).
// BM_NoConnectorActive: the same connectors stopped; the loop must cost
// nothing measurable. BM_TriggerCycle: one cycle of one connector with a
// due block, on a fake clock. BM_CycleWork: the 1 ms cycles of 24 channels
// at 48 kHz (12 connectors, 24 bars of the main window's design) for one
// second of a fake clock, woken 60 times a second, buffers of 512 frames
// posted on the window route: the GUI thread's whole metering work, in % of a
// core (target: 0.3 %); argument 0 block by block, 1 batched.
#include "audio/MMConnector.h"
#include "audio/MMNotify.h"
#include "audio/qt/MMConnectorLoop.h"
#include "metering/MMLevel.h"
#include "metering/MainBar.h"
#include "tests/support/ManualLoop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <deque>
#include <random>
#include <memory>
#include <vector>

namespace {

QCoreApplication& App()
{
    static int argc = 1;
    static char name[] = "bench_connector";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

double ProcessCpuSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

struct CountingBar : TMMLevelSinkFor<TMMCustomLevel> {
    using TMMLevelSinkFor<TMMCustomLevel>::TMMLevelSinkFor;
    long blocks = 0;
    void ProcessBlock(const void* b) override
    {
        ++blocks;
        TMMLevelSinkFor<TMMCustomLevel>::ProcessBlock(b);
    }
    void ProcessBlocks(const char* first, int count, int stride) override
    {
        blocks += count;
        TMMLevelSinkFor<TMMCustomLevel>::ProcessBlocks(first, count, stride);
    }
};

struct Rig {
    static constexpr int kConnectors = 12;
    Rig()
    {
        BuildPcmFormat(fmt, 16, 2, 48000);
        buffer.resize(2048);
        auto* s = reinterpret_cast<int16_t*>(buffer.data());
        for (int i = 0; i < 512; ++i) s[2 * i] = s[2 * i + 1] = static_cast<int16_t>(16000 * std::sin(i * 0.13));
        for (int k = 0; k < kConnectors; ++k) {
            conns.push_back(std::make_unique<TMMConnector>());
            for (int j = 0; j < 2; ++j) {
                levels.push_back(std::make_unique<TMMCustomLevel>());
                bars.push_back(std::make_unique<CountingBar>(*levels.back()));
            }
            conns[k]->setLevel1(bars[2 * k].get());
            conns[k]->setLevel2(bars[2 * k + 1].get());
            conns[k]->SetFormat(&fmt);
        }
    }
    void Start()
    {
        for (auto& c : conns) {
            c->Opened();
            c->Started();
        }
    }
    void Stop()
    {
        for (auto& c : conns) {
            c->Stopped();
            c->Closed();
        }
    }
    // Runs the Qt loop for `ms`, handing every connector a buffer each
    // 2048 / 192000 s of the steady clock when `feed`.
    void Run(int ms, bool feed)
    {
        WaveHdr h;
        h.lpData = buffer.data();
        h.dwBufferLength = h.dwBytesRecorded = 2048;
        QElapsedTimer t;
        t.start();
        double nextMs = 0;
        QEventLoop ev;
        QTimer feeder;
        feeder.setTimerType(Qt::PreciseTimer);
        QObject::connect(&feeder, &QTimer::timeout, [&] {
            while (t.nsecsElapsed() / 1e6 >= nextMs) {
                for (auto& c : conns) c->BufferReady(&h);
                nextMs += 2048 * 1000.0 / 192000;
            }
        });
        if (feed) feeder.start(2);
        QTimer::singleShot(ms, Qt::PreciseTimer, &ev, &QEventLoop::quit);
        ev.exec();
    }
    WaveFormat fmt;
    std::vector<char> buffer;
    std::vector<std::unique_ptr<TMMConnector>> conns;
    std::vector<std::unique_ptr<TMMCustomLevel>> levels;
    std::vector<std::unique_ptr<CountingBar>> bars;
};

// Feeding happens from a 2 ms timer of the benchmark's own loop; its cost
// (12 tap copies per buffer) is included in the share.
void BM_TwelveConnectorsRunning(benchmark::State& state)
{
    App();
    TMMConnectorQtLoop loop;
    Rig rig;
    rig.Start();
    rig.Run(200, true);  // settle
    double cpu = 0, wall = 0;
    long blocks = 0, steps = 0, cycles = 0;
    for (auto _ : state) {
        const long b0 = rig.bars[0]->blocks, s0 = loop.Steps(), y0 = TMMConnector::LoopCycles();
        const double c0 = ProcessCpuSeconds();
        QElapsedTimer t;
        t.start();
        rig.Run(2000, true);
        wall += t.nsecsElapsed() / 1e9;
        cpu += ProcessCpuSeconds() - c0;
        blocks += rig.bars[0]->blocks - b0;
        steps += loop.Steps() - s0;
        cycles += TMMConnector::LoopCycles() - y0;
    }
    rig.Stop();
    // Wake-ups of the GUI thread (one per frame) and the 1 ms cycles they run.
    state.counters["cycles_per_s"] = cycles / wall;
    state.counters["cpu_percent_of_core"] = 100.0 * cpu / wall;
    state.counters["blocks_per_s_per_bar"] = blocks / wall;
    state.counters["loop_steps_per_s"] = steps / wall;
}
BENCHMARK(BM_TwelveConnectorsRunning)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_NoConnectorActive(benchmark::State& state)
{
    App();
    TMMConnectorQtLoop loop;
    Rig rig;
    rig.Start();
    rig.Run(50, false);
    rig.Stop();
    rig.Run(50, false);
    double cpu = 0, wall = 0;
    long steps = 0;
    for (auto _ : state) {
        const long s0 = loop.Steps();
        const double c0 = ProcessCpuSeconds();
        QElapsedTimer t;
        t.start();
        rig.Run(1000, false);
        wall += t.nsecsElapsed() / 1e9;
        cpu += ProcessCpuSeconds() - c0;
        steps += loop.Steps() - s0;
    }
    state.counters["cpu_percent_of_core"] = 100.0 * cpu / wall;
    state.counters["loop_steps_per_s"] = steps / wall;
    state.counters["loop_timer_active"] = loop.TimerActive() ? 1 : 0;
}
BENCHMARK(BM_NoConnectorActive)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TriggerCycle(benchmark::State& state)
{
    TMMManualLoop loop(true);
    SetConnectorLoop(&loop);
    {
        Rig rig;
        auto& c = *rig.conns[0];
        c.Opened();
        c.Started();
        loop.RunPending();
        WaveHdr h;
        h.lpData = rig.buffer.data();
        h.dwBufferLength = h.dwBytesRecorded = 2048;
        long fed = 0;
        for (auto _ : state) {
            // One buffer, then the ten cycles that feed its blocks.
            c.BufferReady(&h);
            for (int i = 0; i < 10; ++i) {
                loop.Advance(1067);
                c.Trigger();
            }
            fed += 10;
        }
        state.SetItemsProcessed(fed);
        c.Stopped();
    }
    SetConnectorLoop(nullptr);
}
BENCHMARK(BM_TriggerCycle);

// A recorder on the window route: each buffer posted, handed to its
// connector on the GUI thread.
struct RouteDevice : TMMMessageTarget {
    RouteDevice(TMMConnector& c, const std::vector<char>& b) : conn(c), buffer(b) { TMMMessagePoster::Register(this); }
    ~RouteDevice() override { TMMMessagePoster::Unregister(this); }
    void HandleMessage(uint32_t, uintptr_t, void*) override
    {
        WaveHdr h;
        h.lpData = const_cast<char*>(buffer.data());
        h.dwBufferLength = h.dwBytesRecorded = static_cast<uint32_t>(buffer.size());
        conn.BufferReady(&h);
    }
    TMMConnector& conn;
    const std::vector<char>& buffer;
};

void BM_CycleWork(benchmark::State& state)
{
    TMMConnector::setBatchCycles(state.range(0) != 0);
    TMMManualLoop loop(true);
    loop.mFrameUs = 16667;
    SetConnectorLoop(&loop);
    {
        constexpr int kFrames = 512;
        constexpr int64_t kBufferUs = kFrames * 1000000LL / 48000;
        WaveFormat fmt;
        BuildPcmFormat(fmt, 16, 2, 48000);
        // Programme-like: a tone whose level moves, and noise.
        std::vector<std::vector<char>> audio(8, std::vector<char>(kFrames * 4));
        std::mt19937 rng(1);
        std::normal_distribution<double> noise(0, 2000);
        for (size_t b = 0; b < audio.size(); ++b) {
            auto* s = reinterpret_cast<int16_t*>(audio[b].data());
            for (int i = 0; i < kFrames; ++i) {
                const double a = 4000 + 3000 * b * std::sin(i * 0.001);
                s[2 * i] = static_cast<int16_t>(a * std::sin(i * 0.13));
                s[2 * i + 1] = static_cast<int16_t>(noise(rng));
            }
        }
        std::vector<std::unique_ptr<TMMConnector>> conns;
        std::vector<std::unique_ptr<TMMCustomLevel>> bars;
        std::vector<std::unique_ptr<TMMLevelSinkFor<TMMCustomLevel>>> sinks;
        std::vector<std::vector<char>> current(12, audio[0]);
        std::vector<std::unique_ptr<RouteDevice>> devices;
        for (int k = 0; k < 12; ++k) {
            conns.push_back(std::make_unique<TMMConnector>());
            for (int j = 0; j < 2; ++j) {
                bars.push_back(std::make_unique<TMMCustomLevel>());
                ApplyMainBarDesign(*bars.back(), 2 * k + j + 1);
                sinks.push_back(std::make_unique<TMMLevelSinkFor<TMMCustomLevel>>(*bars.back()));
            }
            conns[k]->setLevel1(sinks[2 * k].get());
            conns[k]->setLevel2(sinks[2 * k + 1].get());
            conns[k]->OnTrigger = [](TMMConnector*) {};  // as the program counts its cycles
            conns[k]->SetFormat(&fmt);
            conns[k]->Opened();
            conns[k]->Started();
            devices.push_back(std::make_unique<RouteDevice>(*conns[k], current[k]));
        }
        loop.RunPending();
        int64_t next = loop.NowMicros();
        size_t n = 0;
        double cpu = 0;
        int64_t clock = 0;
        for (auto _ : state) {
            const double c0 = ProcessCpuSeconds();
            const int64_t t0 = loop.NowMicros();
            while (loop.NowMicros() - t0 < 1000000) {
                loop.Advance(500);
                if (loop.NowMicros() >= next) {
                    ++n;
                    for (int k = 0; k < 12; ++k) {
                        current[k] = audio[(n + k) % audio.size()];
                        WindowPoster().Post(devices[k].get(), 1, 1, nullptr);
                    }
                    next += kBufferUs;
                }
                loop.RunPending();
            }
            cpu += ProcessCpuSeconds() - c0;
            clock += loop.NowMicros() - t0;
        }
        for (auto& c : conns) c->Stopped();
        WindowPoster().ProcessMessages();
        state.counters["cpu_percent_of_core"] = 100.0 * cpu / (clock / 1e6);
        state.counters["blocks_per_s_per_bar"] = conns[0]->LevelCycles() / (clock / 1e6);
    }
    SetConnectorLoop(nullptr);
    TMMConnector::setBatchCycles(true);
}
BENCHMARK(BM_CycleWork)->Arg(0)->Arg(1)->Iterations(30)->Unit(benchmark::kMillisecond);

}  // namespace

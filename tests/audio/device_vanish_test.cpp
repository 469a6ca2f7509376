// A capture device that disappears while several recorders run: its
// recorder closes and reports through OnError, the others keep recording.
#include "audio/MMSimWaveIn.h"
#include "audio/MMWavIn.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace {

struct Rig {
    explicit Rig(TMMSimulatedWaveIn& sim, TMMCBMode mode)
    {
        SetApplicationErrorHandler([this](const std::string& t) { shown.push_back(t); });
        for (int i = 0; i < 3; ++i) {
            auto& r = rec[static_cast<size_t>(i)];
            r = std::make_unique<TMMWaveIn>(sim);
            r->SetPollDelay(std::chrono::microseconds(500));
            r->setNumBuffers(5);
            r->setMode(mStereo);
            r->setBitLength(b16Bit);
            r->setSampleRate(48000);
            r->setCallBackMode(mode);
            r->setDeviceID(i);
            r->OnError = [this, i](TMMCustomDSPComponent*) { ++errors[static_cast<size_t>(i)]; };
            r->OnBufferReady = [this, i](TMMCustomDSPComponent*, PWaveHdr) { ++buffers[static_cast<size_t>(i)]; };
            r->Start();
        }
    }
    ~Rig() { SetApplicationErrorHandler(nullptr); }

    std::array<std::unique_ptr<TMMWaveIn>, 3> rec;
    std::array<std::atomic<int>, 3> buffers{};
    std::array<int, 3> errors{};
    std::vector<std::string> shown;
};

TEST(DeviceVanish, ManualClock)
{
    TMMSimulatedWaveIn sim;
    Rig rig(sim, cmWindow);
    for (int lap = 0; lap < 3; ++lap) {
        for (int d = 0; d < 3; ++d) sim.Pump(d, 1);
        WindowPoster().ProcessMessages();
    }
    sim.PumpFrames(1, 100);  // device 2 holds a partly filled buffer
    sim.Vanish(1);
    WindowPoster().ProcessMessages();

    auto& gone = *rig.rec[1];
    EXPECT_FALSE(gone.DeviceOpen());
    EXPECT_EQ(rig.errors[1], 1);
    EXPECT_EQ(gone.LastErrorText(), "WaveInAddBuffer:\n\rThe simulated device was removed.");
    ASSERT_EQ(rig.shown.size(), 1u);
    EXPECT_EQ(rig.shown[0], gone.LastErrorText());
    EXPECT_EQ(rig.buffers[1], 4);  // three full ones and what was recorded before it went
    EXPECT_EQ(sim.OpenStreams(1), 0);

    for (int lap = 0; lap < 3; ++lap) {
        for (int d = 0; d < 3; ++d) sim.Pump(d, 1);
        WindowPoster().ProcessMessages();
    }
    EXPECT_EQ(rig.buffers[0], 6);
    EXPECT_EQ(rig.buffers[2], 6);
    EXPECT_EQ(rig.buffers[1], 4);
    EXPECT_EQ(rig.errors[0] + rig.errors[2], 0);

    // While it is gone it cannot be opened; once back it records again.
    EXPECT_THROW(gone.Start(), EMMWaveInError);
    sim.Restore(1);
    gone.Start();
    EXPECT_EQ(sim.Pump(1, 1), 1);
}

// The same with the real-time clock: buffers come from the device thread.
void runRealTime(TMMCBMode mode)
{
    TMMSimulatedWaveIn sim(TMMSimulatedWaveIn::Clock::RealTime);
    Rig rig(sim, mode);
    auto runFor = [&](int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            WindowPoster().ProcessMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    };
    runFor(200);
    for (auto& b : rig.buffers) EXPECT_GT(b.load(), 5);
    sim.Vanish(1);
    runFor(100);
    const int before0 = rig.buffers[0], before1 = rig.buffers[1];
    runFor(200);
    EXPECT_FALSE(rig.rec[1]->DeviceOpen());
    EXPECT_EQ(rig.errors[1], 1);
    EXPECT_EQ(rig.buffers[1], before1);
    // 200 ms at 48000 Hz in 512-frame buffers is about 18.
    EXPECT_GT(rig.buffers[0] - before0, 10);
    EXPECT_TRUE(rig.rec[0]->DeviceStarted());
    EXPECT_TRUE(rig.rec[2]->DeviceStarted());
    EXPECT_EQ(rig.shown.size(), 1u);
}

TEST(DeviceVanish, RealTimeWindowMode) { runRealTime(cmWindow); }
TEST(DeviceVanish, RealTimeThreadMode) { runRealTime(cmThread); }
TEST(DeviceVanish, RealTimeCallbackMode) { runRealTime(cmCallback); }

}  // namespace

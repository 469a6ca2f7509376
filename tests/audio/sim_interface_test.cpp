// "Simulated interface 24": its pairs listed after it, twelve recorders
// metering its pairs from one stream, each pair with its own channels'
// levels, buffers aligned across pairs, one rate per stream.
#include "audio/MMSimWaveIn.h"
#include "audio/MMWavIn.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>

namespace {

using Sim = TMMSimulatedWaveIn;

TEST(SimInterface, ListedWithItsPairs)
{
    Sim sim;
    EXPECT_EQ(sim.GetNumDevs(), 25);
    WaveInCaps caps;
    ASSERT_EQ(sim.GetDevCaps(Sim::InterfaceId, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.szPname, "Simulated interface 24");
    EXPECT_EQ(caps.wChannels, 24);
    ASSERT_EQ(sim.GetDevCaps(Sim::InterfaceId + 1, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.szPname, "Simulated interface 24 (1-2)");
    ASSERT_EQ(sim.GetDevCaps(Sim::InputCount - 1, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.szPname, "Simulated interface 24 (23-24)");
    EXPECT_EQ(sim.GetDevCaps(Sim::InputCount, caps), MMSYSERR_BADDEVICEID);
    ASSERT_EQ(sim.GetDevCaps(11, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.szPname, "Simulated input 12");
}

double Db(int peak) { return 20 * std::log10(peak / 32767.0); }

struct Pairs {
    std::array<std::unique_ptr<TMMWaveIn>, 12> rec;
    std::array<int, 12> buffers{};
    std::array<std::array<int, 2>, 12> peak{};
    std::array<int64_t, 12> firstSample{};

    Pairs(Sim& sim, int rate = 48000, TMMCBMode mode = cmWindow)
    {
        for (int p = 0; p < 12; ++p) {
            auto& r = rec[static_cast<size_t>(p)];
            r = std::make_unique<TMMWaveIn>(sim);
            r->SetPollDelay(std::chrono::microseconds(500));
            r->setNumBuffers(5);
            r->setMode(mStereo);
            r->setBitLength(b16Bit);
            r->setSampleRate(rate);
            r->setCallBackMode(mode);
            r->setDeviceID(Sim::InterfaceId + 1 + p);
            r->OnBufferReady = [this, p](TMMCustomDSPComponent*, PWaveHdr h) {
                const auto* s = reinterpret_cast<const int16_t*>(h->lpData);
                auto& pk = peak[static_cast<size_t>(p)];
                for (uint32_t i = 0; i < h->dwBytesRecorded / 2; ++i)
                    pk[i % 2] = std::max(pk[i % 2], std::abs(static_cast<int>(s[i])));
                if (buffers[static_cast<size_t>(p)]++ == 1) firstSample[static_cast<size_t>(p)] = s[0];
            };
        }
    }
};

TEST(SimInterface, TwelvePairsFromOneStream)
{
    Sim sim;
    Pairs ps(sim);
    for (auto& r : ps.rec) r->Start();
    EXPECT_EQ(sim.OpenStreams(Sim::InterfaceId), 12);
    EXPECT_EQ(sim.Pump(Sim::InterfaceId, 3), 3);
    WindowPoster().ProcessMessages();
    for (int p = 0; p < 12; ++p) {
        EXPECT_EQ(ps.buffers[static_cast<size_t>(p)], 3) << p;
        for (int c = 0; c < 2; ++c)
            EXPECT_NEAR(Db(ps.peak[static_cast<size_t>(p)][static_cast<size_t>(c)]), Sim::InterfaceChannelDbfs(2 * p + c), 0.1)
                << "pair " << p + 1 << " channel " << c;
    }
    // Same frames in buffer 2 of every pair: the same sine phase, at each
    // pair's own level.
    for (int p = 1; p < 12; ++p) {
        const double scale = std::pow(10, (Sim::InterfaceChannelDbfs(2 * p) - Sim::InterfaceChannelDbfs(0)) / 20);
        EXPECT_NEAR(ps.firstSample[static_cast<size_t>(p)], ps.firstSample[0] * scale, 2.0) << p;
    }
    for (auto& r : ps.rec) EXPECT_EQ(r->Position(), 3 * 512);

    // Stopping some pairs leaves the others running.
    for (int p = 0; p < 6; ++p) ps.rec[static_cast<size_t>(p)]->Close();
    EXPECT_EQ(sim.OpenStreams(Sim::InterfaceId), 6);
    sim.Pump(Sim::InterfaceId, 1);
    WindowPoster().ProcessMessages();
    EXPECT_EQ(ps.buffers[0], 3);
    EXPECT_EQ(ps.buffers[11], 4);
    for (auto& r : ps.rec) r->Close();
    EXPECT_EQ(sim.OpenStreams(Sim::InterfaceId), 0);
    EXPECT_EQ(sim.Pump(Sim::InterfaceId, 1), 0);
}

TEST(SimInterface, OneRatePerStreamAndTheWholeDevice)
{
    Sim sim;
    TMMWaveIn a(sim), b(sim), whole(sim);
    for (TMMWaveIn* r : {&a, &b, &whole}) {
        r->setMode(mStereo);
        r->setBitLength(b16Bit);
    }
    a.setSampleRate(48000);
    a.setDeviceID(Sim::InterfaceId + 1);
    b.setSampleRate(44100);
    b.setDeviceID(Sim::InterfaceId + 2);
    a.Start();
    EXPECT_THROW(b.Start(), EMMWaveInError);
    EXPECT_EQ(b.LastErrorText(), "WaveInOpen:\n\rThe actual device can''t record this format");
    a.Close();
    b.Start();  // alone on the stream now
    EXPECT_TRUE(b.DeviceStarted());
    b.Close();

    // The device itself gives its first two channels.
    int peaks[2] = {0, 0};
    whole.setSampleRate(48000);
    whole.setDeviceID(Sim::InterfaceId);
    whole.OnBufferReady = [&](TMMCustomDSPComponent*, PWaveHdr h) {
        const auto* s = reinterpret_cast<const int16_t*>(h->lpData);
        for (uint32_t i = 0; i < h->dwBytesRecorded / 2; ++i) peaks[i % 2] = std::max(peaks[i % 2], std::abs(int{s[i]}));
    };
    whole.Start();
    sim.Pump(Sim::InterfaceId, 2);
    WindowPoster().ProcessMessages();
    EXPECT_NEAR(Db(peaks[0]), Sim::InterfaceChannelDbfs(0), 0.1);
    EXPECT_NEAR(Db(peaks[1]), Sim::InterfaceChannelDbfs(1), 0.1);
}

// Real time, on the device thread: every pair keeps pace with the others.
TEST(SimInterface, RealTimePairsKeepPace)
{
    Sim sim(Sim::Clock::RealTime);
    Pairs ps(sim, 48000, cmThread);
    using Clock = std::chrono::steady_clock;
    const auto t0 = Clock::now();
    for (auto& r : ps.rec) r->Start();
    const auto t1 = Clock::now();
    const auto end = t1 + std::chrono::milliseconds(300);
    while (Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto t2 = Clock::now();
    for (auto& r : ps.rec) r->Stop();
    const auto t3 = Clock::now();
    // 300 ms at 48000 Hz in 512-frame buffers: about 28 each. Pairs started
    // or stopped later than the first may miss the buffers the device filled
    // meanwhile (a loaded machine spreads the calls), never more.
    const double spreadMs = std::chrono::duration<double, std::milli>((t1 - t0) + (t3 - t2)).count();
    const int slack = 1 + static_cast<int>(std::ceil(spreadMs / (512 * 1000.0 / 48000)));
    for (int p = 0; p < 12; ++p) {
        EXPECT_GT(ps.buffers[static_cast<size_t>(p)], 15) << p;
        EXPECT_LE(std::abs(ps.buffers[static_cast<size_t>(p)] - ps.buffers[0]), slack) << p << ", calls spread " << spreadMs << " ms";
        EXPECT_NEAR(Db(ps.peak[static_cast<size_t>(p)][1]), Sim::InterfaceChannelDbfs(2 * p + 1), 0.1) << p;
    }
}

// Twelve recorders started one after another while the device thread runs:
// a stream started after the thread took the time of its pass used to get a
// negative span, read as a huge frame count, and was never filled again.
// Programme signals make the thread's first pass long enough to hit it.
TEST(SimRealTime, RecordersStartedDuringAPassAllKeepRecording)
{
    Sim sim(Sim::Clock::RealTime);
    std::array<std::unique_ptr<TMMWaveIn>, 12> rec;
    std::array<int, 12> buffers{};
    for (int p = 0; p < 12; ++p) {
        sim.SetSignal(p, "speech:-8:" + std::to_string((p + 1) * 101));
        auto& r = rec[static_cast<size_t>(p)];
        r = std::make_unique<TMMWaveIn>(sim);
        r->setNumBuffers(5);
        r->setMode(mStereo);
        r->setBitLength(b16Bit);
        r->setSampleRate(44100);
        r->setBufferSize(8192);
        r->setDeviceID(p);
        r->OnBufferReady = [&buffers, p](TMMCustomDSPComponent*, PWaveHdr) { ++buffers[static_cast<size_t>(p)]; };
        r->Start();
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < end) {
        WindowPoster().ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (auto& r : rec) r->Close();
    // 2 s in 2048-frame buffers at 44.1 kHz: about 43 each; the five queued
    // buffers are all a stopped stream ever gave.
    for (int p = 0; p < 12; ++p) EXPECT_GT(buffers[static_cast<size_t>(p)], 15) << "input " << p + 1;
}

}  // namespace

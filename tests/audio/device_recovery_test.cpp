// Recovery of a recorder whose device goes away while recording: one "lost"
// report and no error box, its chain told it stopped, a reopen attempt every
// interval, metering resumed once the device is back, the other recorders
// undisturbed; the same for the pairs of a multichannel device and for a
// device that goes quiet without saying so.
#include "audio/MMPaBackend.h"
#include "audio/MMSimWaveIn.h"
#include "audio/MMWavIn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Sim = TMMSimulatedWaveIn;

// A chain sink that tells whether its recorder's stream runs.
class Sink : public TMMDSPComponent {
public:
    void Started() override
    {
        running = true;
        TMMDSPComponent::Started();
    }
    void Stopped() override
    {
        running = false;
        TMMDSPComponent::Stopped();
    }
    bool running = false;
};

struct Rig {
    std::vector<std::unique_ptr<TMMWaveIn>> rec;
    std::vector<std::unique_ptr<Sink>> sink;
    std::vector<std::atomic<int>> buffers;
    std::vector<std::string> events;  // "k what device"
    std::vector<std::string> shown;
    int64_t now = 1000;

    Rig(Sim& sim, const std::vector<int>& devices, TMMCBMode mode = cmWindow, int interval = 2000)
        : buffers(devices.size())
    {
        SetApplicationErrorHandler([this](const std::string& t) { shown.push_back(t); });
        for (size_t i = 0; i < devices.size(); ++i) {
            auto r = std::make_unique<TMMWaveIn>(sim);
            r->SetPollDelay(std::chrono::microseconds(500));
            r->setNumBuffers(5);
            r->setMode(mStereo);
            r->setBitLength(b16Bit);
            r->setSampleRate(48000);
            r->setCallBackMode(mode);
            r->setDeviceID(devices[i]);
            r->setReopenInterval(interval);
            if (mode == cmWindow) r->SetClock([this] { return now; });
            r->OnBufferReady = [this, i](TMMCustomDSPComponent*, PWaveHdr) { ++buffers[i]; };
            r->OnDeviceEvent = [this, i](const std::string& what, const std::string& dev) {
                events.push_back(std::to_string(i + 1) + " " + what + " " + dev);
            };
            auto s = std::make_unique<Sink>();
            s->SetInput(r.get());
            r->Start();
            rec.push_back(std::move(r));
            sink.push_back(std::move(s));
        }
    }
    ~Rig()
    {
        // The recorders stop before the counts their threads write go away.
        for (auto& r : rec) r->Close();
        SetApplicationErrorHandler(nullptr);
    }
    // Buffers of recorder i in one second of its format (at least one).
    int BuffersPerSecond(size_t i) const
    {
        return std::max(1, 48000 * 4 / std::max(1, static_cast<int>(rec[i]->GetBufferSize())));
    }
    // n buffers from device d, each handed on before the next.
    void Feed(Sim& sim, int d, int n)
    {
        for (int k = 0; k < n; ++k) {
            sim.Pump(d, 1);
            WindowPoster().ProcessMessages();
        }
    }
    void PollAll()
    {
        for (auto& r : rec) r->Poll();
    }
};

TEST(DeviceRecovery, LostOnceThenReopenedEveryInterval)
{
    Sim sim;
    Rig rig(sim, {0, 1, 2});
    ASSERT_EQ(rig.events.size(), 3u);
    EXPECT_EQ(rig.events[1], "2 opened Simulated input 2");
    rig.events.clear();

    sim.Pump(1, 1);
    sim.Vanish(1);
    WindowPoster().ProcessMessages();
    auto& gone = *rig.rec[1];
    EXPECT_TRUE(gone.DeviceLost());
    EXPECT_FALSE(gone.DeviceOpen());
    EXPECT_FALSE(rig.sink[1]->running);  // its bars fall to silence
    EXPECT_TRUE(rig.shown.empty());      // no error box
    ASSERT_EQ(rig.events, std::vector<std::string>{"2 lost Simulated input 2"});

    // Attempts every 2 s while it stays away: quietly.
    for (int i = 0; i < 4; ++i) {
        rig.now += 1000;
        rig.PollAll();
        sim.Pump(0, 1);
        sim.Pump(2, 1);
        WindowPoster().ProcessMessages();
    }
    EXPECT_TRUE(gone.DeviceLost());
    EXPECT_EQ(rig.events.size(), 1u);
    EXPECT_EQ(gone.Reopens(), 0u);
    EXPECT_DOUBLE_EQ(gone.SecondsLost(), 4.0);
    EXPECT_EQ(rig.buffers[0], 4);
    EXPECT_EQ(rig.buffers[2], 4);

    // Back: the next attempt (2 s after the last) reopens it.
    sim.Restore(1);
    rig.now += 1000;
    rig.PollAll();
    EXPECT_TRUE(gone.DeviceLost());
    rig.now += 1000;
    rig.PollAll();
    EXPECT_FALSE(gone.DeviceLost());
    EXPECT_TRUE(gone.DeviceStarted());
    EXPECT_TRUE(rig.sink[1]->running);
    EXPECT_EQ(gone.Reopens(), 1u);
    EXPECT_DOUBLE_EQ(gone.SecondsLost(), 6.0);
    EXPECT_EQ(rig.events.back(), "2 reopened Simulated input 2");
    const int before = rig.buffers[1];
    sim.Pump(1, 2);
    WindowPoster().ProcessMessages();
    EXPECT_EQ(rig.buffers[1], before + 2);
    // The others never stopped.
    EXPECT_TRUE(rig.rec[0]->DeviceStarted());
    EXPECT_TRUE(rig.rec[2]->DeviceStarted());
    EXPECT_TRUE(rig.shown.empty());
}

TEST(DeviceRecovery, ClosedOnPurposeStopsTheAttempts)
{
    Sim sim;
    Rig rig(sim, {0});
    sim.Vanish(0);
    WindowPoster().ProcessMessages();
    ASSERT_TRUE(rig.rec[0]->DeviceLost());
    rig.now += 500;
    rig.rec[0]->Close();
    EXPECT_FALSE(rig.rec[0]->DeviceLost());
    sim.Restore(0);
    rig.now += 5000;
    rig.PollAll();
    EXPECT_FALSE(rig.rec[0]->DeviceOpen());
    EXPECT_DOUBLE_EQ(rig.rec[0]->SecondsLost(), 0.5);
}

TEST(DeviceRecovery, PairsOfALostInterfaceComeBackAligned)
{
    Sim sim;
    std::vector<int> pairs;
    for (int p = 0; p < 12; ++p) pairs.push_back(Sim::InterfaceId + 1 + p);
    Rig rig(sim, pairs);
    sim.Pump(Sim::InterfaceId, 2);
    sim.Vanish(Sim::InterfaceId);
    WindowPoster().ProcessMessages();
    for (auto& r : rig.rec) EXPECT_TRUE(r->DeviceLost());
    EXPECT_EQ(rig.events.size(), 24u);  // 12 opened, 12 lost
    EXPECT_EQ(sim.OpenStreams(Sim::InterfaceId), 0);

    sim.Restore(Sim::InterfaceId);
    rig.now += 2000;
    rig.PollAll();
    for (auto& r : rig.rec) EXPECT_TRUE(r->DeviceStarted());
    EXPECT_EQ(sim.OpenStreams(Sim::InterfaceId), 12);
    for (auto& b : rig.buffers) b = 0;
    sim.Pump(Sim::InterfaceId, 3);
    WindowPoster().ProcessMessages();
    for (auto& r : rig.rec) EXPECT_EQ(r->Position(), 3 * 512);
    for (auto& b : rig.buffers) EXPECT_EQ(b, 3);
    EXPECT_TRUE(rig.shown.empty());
}

TEST(DeviceRecovery, QuietDeviceIsLostAfterTheStallTimeout)
{
    Sim sim;
    Rig rig(sim, {0, 1});
    rig.rec[0]->setStallTimeout(3000);
    rig.rec[1]->setStallTimeout(3000);
    for (int i = 0; i < 4; ++i) {
        rig.now += 1000;
        rig.Feed(sim, 1, rig.BuffersPerSecond(1));  // only device 2 delivers
        WindowPoster().ProcessMessages();
        rig.PollAll();
    }
    EXPECT_TRUE(rig.rec[0]->DeviceLost());
    EXPECT_FALSE(rig.rec[1]->DeviceLost());
    // The device is there: the next attempt opens it again.
    rig.now += 2000;
    rig.PollAll();
    EXPECT_TRUE(rig.rec[0]->DeviceStarted());
    EXPECT_EQ(rig.rec[0]->Reopens(), 1u);
}

// A device that delivers a buffer now and then (a stream half torn down
// under a sound server) is lost too, with its reason, and opened again; one
// that runs at its rate is left alone, as is a slow start.
TEST(DeviceRecovery, ADeviceDeliveringATrickleIsLostAndOpenedAgain)
{
    Sim sim;
    Rig rig(sim, {0, 1});
    const int full = rig.BuffersPerSecond(0);
    ASSERT_GT(full, 8);
    rig.now += 1500;  // nothing yet: the rate is counted from the first buffer
    rig.PollAll();
    for (int i = 0; i < 24; ++i) {  // 6 s: device 1 gives a tenth of its rate
        rig.now += 250;
        if (i % 4 == 0) rig.Feed(sim, 0, full / 10);
        rig.Feed(sim, 1, full / 4 + 1);
        WindowPoster().ProcessMessages();
        rig.PollAll();
    }
    EXPECT_TRUE(rig.rec[0]->DeviceLost());
    EXPECT_EQ(rig.rec[0]->FailureReason(), "the device delivered under a quarter of its rate");
    EXPECT_FALSE(rig.rec[1]->DeviceLost());
    rig.now += 2000;
    rig.PollAll();
    EXPECT_TRUE(rig.rec[0]->DeviceStarted());
    EXPECT_EQ(rig.rec[0]->Reopens(), 1u);
    EXPECT_TRUE(rig.shown.empty());
}

// The GUI thread itself held up beyond the stall timeout (a modal loop, a
// debugger, a swapped-out machine): no device is declared lost for it.
TEST(DeviceRecovery, AStalledPollerLosesNoDevice)
{
    Sim sim;
    Rig rig(sim, {0, 1});
    rig.rec[0]->setStallTimeout(3000);
    rig.PollAll();
    rig.now += 8000;  // nothing polled or handed on for 8 s
    rig.PollAll();
    EXPECT_FALSE(rig.rec[0]->DeviceLost());
    // Back to polling every 250 ms: a device that stays quiet is still found.
    for (int i = 0; i < 13; ++i) {
        rig.now += 250;
        rig.PollAll();
    }
    EXPECT_TRUE(rig.rec[0]->DeviceLost());
    EXPECT_FALSE(rig.rec[1]->DeviceLost());  // 3.25 s quiet, under its 5 s
    EXPECT_EQ(rig.events.size(), 3u);        // opened, opened, lost
}

// Off the GUI thread (cmThread), on the device thread's real clock.
TEST(DeviceRecovery, RealTimeThreadMode)
{
    Sim sim(Sim::Clock::RealTime);
    Rig rig(sim, {0, 1}, cmThread, 100);
    auto runFor = [&](int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            WindowPoster().ProcessMessages();
            rig.PollAll();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    };
    runFor(100);
    sim.Vanish(1);
    runFor(150);
    EXPECT_TRUE(rig.rec[1]->DeviceLost());
    sim.Restore(1);
    runFor(250);
    EXPECT_FALSE(rig.rec[1]->DeviceLost());
    EXPECT_EQ(rig.rec[1]->Reopens(), 1u);
    const int before = rig.buffers[1];
    runFor(300);
    EXPECT_GT(rig.buffers[1], before + 3);
    EXPECT_TRUE(rig.rec[0]->DeviceStarted());
    EXPECT_EQ(rig.events.size(), 4u);  // opened, opened, lost, reopened
    EXPECT_TRUE(rig.shown.empty());
}

}  // namespace

namespace {

// A device that comes back under another id (a sound card renumbered) is
// found by its name at the next attempt; the others never notice.
TEST(DeviceRecovery, ADeviceBackUnderAnotherIdIsFoundByItsName)
{
    Sim sim;
    Rig rig(sim, {0, 1});
    rig.events.clear();
    sim.Vanish(0);
    WindowPoster().ProcessMessages();
    ASSERT_TRUE(rig.rec[0]->DeviceLost());
    sim.ReturnAt(0, 7);  // "Simulated input 1" is listed as id 7 now
    WaveInCaps caps;
    ASSERT_EQ(sim.GetDevCaps(0, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.szPname, "Simulated input 8");
    rig.now += 2000;
    rig.PollAll();
    EXPECT_FALSE(rig.rec[0]->DeviceLost());
    EXPECT_EQ(rig.rec[0]->DeviceID(), 7);
    EXPECT_EQ(rig.rec[0]->ProductName(), "Simulated input 1");
    EXPECT_EQ(rig.events, (std::vector<std::string>{"1 lost Simulated input 1", "1 reopened Simulated input 1"}));
    const int before0 = rig.buffers[0], before1 = rig.buffers[1];
    sim.Pump(7, 2);
    sim.Pump(1, 2);
    WindowPoster().ProcessMessages();
    EXPECT_EQ(rig.buffers[0] - before0, 2);
    EXPECT_EQ(rig.buffers[1] - before1, 2);
    EXPECT_EQ(rig.rec[1]->DeviceID(), 1);
}

// A start that fails is told once with its reason and retried like a lost
// device until it opens.
TEST(DeviceRecovery, AFailedStartIsToldOnceWithItsReasonAndRetried)
{
    Sim sim;
    sim.DeviceFaults(2).openError = MMSYSERR_ALLOCATED;
    Rig rig(sim, {1});
    TMMWaveIn r(sim);
    r.setMode(mStereo);
    r.setBitLength(b16Bit);
    r.setSampleRate(48000);
    r.setDeviceID(2);
    r.setReopenInterval(2000);
    int64_t now = 0;
    r.SetClock([&now] { return now; });
    std::vector<std::string> events;
    r.OnDeviceEvent = [&](const std::string& what, const std::string& dev) { events.push_back(what + " " + dev); };
    EXPECT_THROW(r.Start(), EMMWaveInError);
    ASSERT_EQ(events, std::vector<std::string>{"failed Simulated input 3"});
    EXPECT_TRUE(r.DeviceLost());
    EXPECT_NE(r.FailureReason().find("already in use"), std::string::npos) << r.FailureReason();
    EXPECT_EQ(r.FailureReason().find('\n'), std::string::npos);
    for (int i = 0; i < 3; ++i) {
        now += 2000;
        r.Poll();
    }
    EXPECT_EQ(events.size(), 1u);
    sim.DeviceFaults(2).openError = 0;
    now += 2000;
    r.Poll();
    EXPECT_TRUE(r.IsStarted()) << r.FailureReason();
    EXPECT_EQ(events.back(), "reopened Simulated input 3");
    EXPECT_TRUE(r.FailureReason().empty());
    r.Close();
}

}  // namespace

// ALSA cards by number in PortAudio's names: the card and device are read
// back only from a trailing "(hw:C,D)"; anything else opens by index.
TEST(AlsaNames, CardAndDeviceOnlyFromATrailingHwPair)
{
    int card = -1, dev = -1;
    ASSERT_TRUE(ParseAlsaHwName("Scarlett 18i20 USB: Audio (hw:2,0)", card, dev));
    EXPECT_EQ(card, 2);
    EXPECT_EQ(dev, 0);
    ASSERT_TRUE(ParseAlsaHwName("HDA Intel PCH: ALC3246 Analog (hw:10,12)", card, dev));
    EXPECT_EQ(card, 10);
    EXPECT_EQ(dev, 12);
    for (const char* other : {"pulse", "default", "x (hw:1,0) y", "x (hw:,0)", "x (hw:1,)", "x (hw:a,0)",
                              "x (hw:1,0", "x (hw:12345,0)", "x (hw:1-0)", "(hw:1,0,0)"})
        EXPECT_FALSE(ParseAlsaHwName(other, card, dev)) << other;
    // Without that card (none on a build machine) there is no stable name: the index is used.
    EXPECT_EQ(TMMPaBackend::AlsaStableName("pulse"), "");
}

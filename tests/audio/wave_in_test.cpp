// The recorder driven through the simulated back end with the manual clock:
// buffers arrive only when the test pumps them.
#include "audio/MMSimWaveIn.h"
#include "audio/MMWavIn.h"

#include <gtest/gtest.h>

#include <chrono>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace {

// A chain sink that logs notifications and keeps a copy of every buffer.
class Sink : public TMMDSPComponent {
public:
    explicit Sink(std::vector<std::string>* log) : mLog(log) {}
    void Opened() override { note("chain.opened"); TMMDSPComponent::Opened(); }
    void Started() override { note("chain.started"); TMMDSPComponent::Started(); }
    void Paused() override { note("chain.paused"); TMMDSPComponent::Paused(); }
    void Restarted() override { note("chain.restarted"); TMMDSPComponent::Restarted(); }
    void Stopped() override
    {
        if (IsStarted()) note("chain.stopped");
        TMMDSPComponent::Stopped();
    }
    void Closed() override { note("chain.closed"); TMMDSPComponent::Closed(); }
    void BufferReady(PWaveHdr h) override
    {
        headers.push_back(h);
        sizes.push_back(h->dwBytesRecorded);
        TMMDSPComponent::BufferReady(h);
    }
    std::vector<PWaveHdr> headers;
    std::vector<uint32_t> sizes;

private:
    void note(const char* what)
    {
        if (mLog) mLog->push_back(what);
    }
    std::vector<std::string>* mLog;
};

class WaveIn : public ::testing::Test {
protected:
    WaveIn() : rec(sim), sink(&log)
    {
        rec.SetPollDelay(std::chrono::microseconds(200));
        rec.setNumBuffers(5);
        rec.setMode(mStereo);
        rec.setBitLength(b16Bit);
        rec.setSampleRate(44100);
        rec.setOutput(&sink);
        rec.OnOpen = [this](TMMCustomDSPComponent*) { log.push_back("OnOpen"); };
        rec.OnStart = [this](TMMCustomDSPComponent*) { log.push_back("OnStart"); };
        rec.OnPause = [this](TMMCustomDSPComponent*) { log.push_back("OnPause"); };
        rec.OnRestart = [this](TMMCustomDSPComponent*) { log.push_back("OnRestart"); };
        rec.OnStop = [this](TMMCustomDSPComponent*) { log.push_back("OnStop"); };
        rec.OnClose = [this](TMMCustomDSPComponent*) { log.push_back("OnClose"); };
        rec.OnError = [this](TMMCustomDSPComponent*) { ++errors; };
    }
    // Runs the GUI thread's share: the window route.
    void Dispatch() { WindowPoster().ProcessMessages(); }
    // One buffer at a time, each handled (and queued again) before the next.
    int Record(int buffers, int device = 0)
    {
        int n = 0;
        for (; n < buffers && sim.Pump(device, 1) == 1; ++n) Dispatch();
        return n;
    }
    std::string Fails(const std::function<void()>& f)
    {
        try {
            f();
        } catch (const EMMWaveInError& e) {
            return e.what();
        }
        return "(no error)";
    }

    TMMSimulatedWaveIn sim;
    TMMWaveIn rec;
    std::vector<std::string> log;
    Sink sink;
    int errors = 0;
};

TEST_F(WaveIn, DefaultsAndPropertyClamps)
{
    TMMWaveIn fresh(sim);
    EXPECT_EQ(fresh.DeviceID(), 0);
    EXPECT_EQ(fresh.ProductName(), "Simulated input 1");
    EXPECT_EQ(fresh.NumBuffers(), 10);
    EXPECT_EQ(fresh.BufferSize(), 2048);
    EXPECT_EQ(fresh.Mode(), mMono);
    EXPECT_EQ(fresh.Channels(), 1);
    EXPECT_EQ(fresh.BitLength(), b8Bit);
    EXPECT_EQ(fresh.SampleRate(), 11025);
    EXPECT_EQ(fresh.CallBackMode(), cmWindow);
    EXPECT_EQ(fresh.Priority(), tpHigher);
    EXPECT_EQ(fresh.TimeFormat(), tfByte);
    EXPECT_EQ(fresh.MaxRecordTime(), -1);
    EXPECT_FALSE(fresh.PublishesInput());

    fresh.setNumBuffers(1);
    EXPECT_EQ(fresh.NumBuffers(), 10);
    fresh.setNumBuffers(10000);
    EXPECT_EQ(fresh.NumBuffers(), 4096);
    fresh.setBufferSize(10);
    EXPECT_EQ(fresh.BufferSize(), 32);
    fresh.setSampleRate(200000);
    EXPECT_EQ(fresh.SampleRate(), 100000);
    fresh.setSampleRate(100);
    EXPECT_EQ(fresh.SampleRate(), 8000);
    fresh.setChannels(0);
    EXPECT_EQ(fresh.Channels(), 1);
    fresh.setChannels(9);
    EXPECT_EQ(fresh.Channels(), 8);
    EXPECT_EQ(fresh.Mode(), mMultiChannel);
    fresh.setMode(mMultiChannel);  // ignored
    EXPECT_EQ(fresh.Channels(), 8);
    fresh.setMode(mStereo);
    EXPECT_EQ(fresh.Channels(), 2);
    ASSERT_NE(fresh.GetFormat(), nullptr);
    EXPECT_EQ(fresh.GetFormat()->nBlockAlign, 2);  // 8-bit stereo
}

TEST_F(WaveIn, DeviceIdLookup)
{
    rec.setDeviceID(-1);
    EXPECT_EQ(rec.DeviceID(), MapperId);
    rec.setDeviceID(11);
    EXPECT_EQ(rec.ProductName(), "Simulated input 12");
    for (int bad : {TMMSimulatedWaveIn::InputCount, -2, -7}) {
        rec.setDeviceID(bad);
        EXPECT_EQ(rec.DeviceID(), InvalidId);
        EXPECT_EQ(rec.ProductName(), "No wave audio recording device found");
    }
    EXPECT_EQ(Fails([&] { rec.Start(); }), "Invalid DeviceID");
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(rec.DeviceName(-1), "Simulated input 1");
    EXPECT_EQ(rec.DeviceName(TMMSimulatedWaveIn::InputCount), "");
}

TEST_F(WaveIn, EventOrderThroughALifecycle)
{
    rec.Start();
    EXPECT_TRUE(rec.DeviceStarted());
    EXPECT_EQ(sim.Pump(0, 3), 3);
    Dispatch();
    rec.Stop();
    rec.Close();
    const std::vector<std::string> want = {"chain.opened", "OnOpen", "chain.started", "OnStart",
                                           "chain.stopped", "OnStop", "chain.closed", "OnClose"};
    EXPECT_EQ(log, want);
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(sim.OpenStreams(0), 0);
    // Closing again, or a recorder never opened, does nothing.
    TMMWaveIn never(sim);
    never.Close();
    rec.Close();
    EXPECT_EQ(log.size(), want.size());
}

TEST_F(WaveIn, BuffersArriveInOrderAndAreRequeued)
{
    rec.Start();
    ASSERT_NE(sink.GetFormat(), nullptr);
    EXPECT_EQ(sink.GetFormat()->nSamplesPerSec, 44100u);
    EXPECT_EQ(sink.BufferSize(), 2048);
    // Three laps of the five-buffer ring.
    EXPECT_EQ(Record(15), 15);
    ASSERT_EQ(sink.headers.size(), 15u);
    for (size_t i = 5; i < 15; ++i) EXPECT_EQ(sink.headers[i], sink.headers[i - 5]);
    for (uint32_t n : sink.sizes) EXPECT_EQ(n, 2048u);
    EXPECT_EQ(rec.BytesDelivered(), 15 * 2048);
    EXPECT_EQ(rec.Position(), 15 * 512);
    rec.Close();
    EXPECT_EQ(rec.Position(), 0);
}

TEST_F(WaveIn, StopDeliversWhatWasRecorded)
{
    rec.Start();
    // Two full buffers still waiting on the window route, one partly filled.
    EXPECT_EQ(sim.Pump(0, 2), 2);
    sim.PumpFrames(0, 100);
    rec.Stop();
    EXPECT_EQ(sink.sizes, (std::vector<uint32_t>{2048, 2048, 400}));
    EXPECT_FALSE(rec.DeviceStarted());
    EXPECT_TRUE(rec.DeviceOpen());
}

TEST_F(WaveIn, PauseOnClosedRecorderThenStartAndRestart)
{
    rec.Pause();
    EXPECT_TRUE(rec.DeviceOpen());
    EXPECT_TRUE(rec.DevicePaused());
    EXPECT_EQ(sim.Pump(0, 1), 0);  // nothing recorded
    rec.Start();                   // queues, device stays stopped
    EXPECT_TRUE(rec.DeviceStarted());
    EXPECT_EQ(sim.Pump(0, 1), 0);
    rec.Restart();
    EXPECT_FALSE(rec.DevicePaused());
    EXPECT_EQ(sim.Pump(0, 2), 2);
    Dispatch();
    EXPECT_EQ(sink.headers.size(), 2u);
    const std::vector<std::string> want = {"chain.opened", "OnOpen", "chain.paused", "OnPause",
                                           "chain.started", "OnStart", "chain.restarted", "OnRestart"};
    EXPECT_EQ(log, want);
}

TEST_F(WaveIn, PauseWhileRecordingKeepsTheBuffers)
{
    rec.Start();
    sim.PumpFrames(0, 10);
    rec.Pause();
    Dispatch();  // the partial buffer is delivered and queued again
    ASSERT_EQ(sink.sizes.size(), 1u);
    EXPECT_EQ(sink.sizes[0], 40u);
    rec.Restart();
    EXPECT_EQ(sim.Pump(0, 5), 5);
    Dispatch();
    EXPECT_EQ(sink.sizes.size(), 6u);
}

TEST_F(WaveIn, PropertyChangeWhileOpenIsRefused)
{
    rec.Start();
    EXPECT_EQ(Fails([&] { rec.setSampleRate(48000); }), "Change to property while device was open");
    EXPECT_EQ(rec.SampleRate(), 44100);
    EXPECT_EQ(Fails([&] { rec.setDeviceID(3); }), "Change to property while device was open");
    EXPECT_EQ(Fails([&] { rec.setBufferSize(4096); }), "Change to property while device was open");
    EXPECT_EQ(Fails([&] { rec.setNumBuffers(8); }), "Change to property while device was open");
    EXPECT_EQ(errors, 4);
    rec.setBufferSize(2048);  // unchanged: ignored, no error
    rec.setPriority(tpHighest);  // allowed while open
    EXPECT_EQ(errors, 4);
    EXPECT_TRUE(rec.DeviceStarted());
    rec.Close();
    // Closed: the format change reaches the whole chain.
    rec.setSampleRate(48000);
    ASSERT_NE(sink.GetFormat(), nullptr);
    EXPECT_EQ(sink.GetFormat()->nSamplesPerSec, 48000u);
}

TEST_F(WaveIn, MaxRecordTimeEndsAtExactlyTheLimit)
{
    rec.setTimeFormat(tfMillisecond);
    rec.setMaxRecordTime(1000);
    rec.Start();
    EXPECT_EQ(Record(100), 87);
    EXPECT_EQ(rec.BytesDelivered(), 176400);
    int64_t sum = 0;
    for (uint32_t n : sink.sizes) sum += n;
    EXPECT_EQ(sum, 176400);
    ASSERT_EQ(sink.sizes.size(), 87u);
    EXPECT_EQ(sink.sizes.back(), 176400u - 86u * 2048u);
    EXPECT_FALSE(rec.DeviceStarted());
    EXPECT_EQ(log.back(), "OnStop");
    // The limit re-expressed in other units.
    rec.setTimeFormat(tfByte);
    EXPECT_EQ(rec.MaxRecordTime(), 176400);
    rec.setTimeFormat(tfSample);
    EXPECT_EQ(rec.MaxRecordTime(), 44100);
}

TEST_F(WaveIn, StopInsideABufferHandlerIsDeferred)
{
    int delivered = 0;
    sink.OnBufferReady = [&](TMMCustomDSPComponent*, PWaveHdr) {
        if (++delivered == 2) {
            rec.Stop();
            EXPECT_TRUE(rec.StopPending());
            EXPECT_EQ(log.back(), "OnStart");  // no OnStop yet
        }
    };
    rec.Start();
    EXPECT_EQ(Record(4), 2);  // handles the buffers, then the posted stop
    EXPECT_FALSE(rec.DeviceStarted());
    EXPECT_FALSE(rec.StopPending());
    EXPECT_EQ(log.back(), "OnStop");
    EXPECT_EQ(delivered, 2);
    // Close while a stop is pending closes once the stop has run.
    rec.Start();
    delivered = 0;
    sink.OnBufferReady = [&](TMMCustomDSPComponent*, PWaveHdr) {
        if (++delivered == 1) rec.Close();
    };
    sim.Pump(0, 1);
    Dispatch();
    EXPECT_FALSE(rec.DeviceOpen());
    EXPECT_EQ(log.back(), "OnClose");
}

TEST_F(WaveIn, DeviceFaultsAreReportedAndLeaveItClosed)
{
    auto& f = sim.DeviceFaults(0);
    f.refuseFormat = true;
    EXPECT_EQ(Fails([&] { rec.Start(); }), "WaveInOpen:\n\rThe actual device can''t record this format");
    EXPECT_FALSE(rec.DeviceOpen());
    f.refuseFormat = false;

    f.openError = MMSYSERR_ALLOCATED;
    EXPECT_EQ(Fails([&] { rec.Open(); }), "WaveInOpen:\n\rThe specified device is already in use.");
    f.openError = 0;

    f.noOpenConfirm = true;
    EXPECT_EQ(Fails([&] { rec.Open(); }), "WaveInOpen:\n\rUnable to open device");
    EXPECT_FALSE(rec.DeviceOpen());
    EXPECT_EQ(sim.OpenStreams(0), 0);
    f.noOpenConfirm = false;

    f.addBufferError = MMSYSERR_NOMEM;
    EXPECT_EQ(Fails([&] { rec.Start(); }),
              "WaveInAddBuffer:\n\rThere is not enough memory available for this task.");
    EXPECT_FALSE(rec.DeviceOpen());
    f.addBufferError = 0;

    f.startError = 12345;  // a code without a text
    EXPECT_EQ(Fails([&] { rec.Start(); }), "WaveInStart:\n\rSpecified error number is out of range (unknown error)");
    f.startError = 0;

    // An 8-bit format is not recorded by the simulated devices.
    rec.setBitLength(b8Bit);
    EXPECT_EQ(Fails([&] { rec.Start(); }), "WaveInOpen:\n\rThe actual device can''t record this format");
    rec.setBitLength(b16Bit);
    EXPECT_EQ(errors, 6);

    // A recorder that failed can start again.
    rec.Start();
    EXPECT_EQ(sim.Pump(0, 1), 1);
}

TEST_F(WaveIn, MissingCloseConfirmationIsReportedButTheDeviceIsReleased)
{
    rec.Start();
    sim.DeviceFaults(0).noCloseConfirm = true;
    rec.Close();  // never raises
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(rec.LastErrorText(), "WaveInClose:\n\rUnable to close device");
    EXPECT_FALSE(rec.DeviceOpen());
    sim.DeviceFaults(0).noCloseConfirm = false;
    rec.Start();
    EXPECT_TRUE(rec.DeviceStarted());
}

TEST_F(WaveIn, NotificationThreadAndCallbackModes)
{
    rec.setCallBackMode(cmThread);
    std::atomic<int> seen{0};
    sink.OnBufferReady = [&](TMMCustomDSPComponent*, PWaveHdr) { ++seen; };
    rec.Start();
    EXPECT_EQ(sim.Pump(0, 5), 5);  // the ring is five deep; wait for the requeue
    for (int i = 0; i < 2000 && seen < 5; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(sim.Pump(0, 5), 5);
    for (int i = 0; i < 2000 && seen < 10; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(seen.load(), 10);
    rec.Stop();
    EXPECT_EQ(log.back(), "OnStop");
    rec.Close();

    rec.setCallBackMode(cmCallback);
    seen = 0;
    rec.Start();
    EXPECT_EQ(sim.Pump(0, 12), 12);  // handled at once, so the ring never runs dry
    EXPECT_EQ(seen.load(), 12);
    rec.Close();
    EXPECT_EQ(errors, 0);
}

TEST_F(WaveIn, StopFromTheGuiWhileTheNotificationThreadHandlesIsDeferred)
{
    rec.setCallBackMode(cmThread);
    std::atomic<bool> inHandler{false}, release{false};
    sink.OnBufferReady = [&](TMMCustomDSPComponent*, PWaveHdr) {
        inHandler = true;
        while (!release) std::this_thread::sleep_for(std::chrono::microseconds(200));
    };
    rec.Start();
    sim.Pump(0, 1);
    for (int i = 0; i < 5000 && !inHandler; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(inHandler);
    rec.Stop();  // the handler is still running on the notification thread
    EXPECT_TRUE(rec.StopPending());
    EXPECT_EQ(log.back(), "OnStart");
    release = true;
    for (int i = 0; i < 5000 && log.back() != "OnStop"; ++i) {
        Dispatch();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(log.back(), "OnStop");
    EXPECT_FALSE(rec.DeviceStarted());
    rec.Close();
    EXPECT_EQ(log.back(), "OnClose");
    EXPECT_EQ(errors, 0);
}

// A platform without any capture device.
class NoDevices : public TMMWaveInDevice {
public:
    std::string BackendName() const override { return "none"; }
    int GetNumDevs() override { return 0; }
    MMRESULT GetDevCaps(int, WaveInCaps&) override { return MMSYSERR_BADDEVICEID; }
    MMRESULT GetErrorText(MMRESULT e, std::string& t) override { return StandardErrorText(e, t); }
    MMRESULT Open(HWAVEIN*, int, const WaveFormat&, TWaveInNotify, void*, uint32_t) override
    {
        return MMSYSERR_BADDEVICEID;
    }
    MMRESULT Close(HWAVEIN) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT PrepareHeader(HWAVEIN, PWaveHdr) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT UnprepareHeader(HWAVEIN, PWaveHdr) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT AddBuffer(HWAVEIN, PWaveHdr) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT Start(HWAVEIN) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT Stop(HWAVEIN) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT Reset(HWAVEIN) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT GetPosition(HWAVEIN, MMTime&) override { return MMSYSERR_INVALHANDLE; }
    MMRESULT GetID(HWAVEIN, int&) override { return MMSYSERR_INVALHANDLE; }
};

TEST(WaveInWithoutDevices, ReportsNoDevice)
{
    NoDevices none;
    TMMWaveIn rec(none);
    EXPECT_EQ(rec.ProductName(), "No wave audio recording device found");
    EXPECT_EQ(rec.DeviceID(), InvalidId);
    try {
        rec.Start();
        FAIL() << "Start succeeded";
    } catch (const EMMWaveInError& e) {
        EXPECT_STREQ(e.what(), "No wave audio recording device found");
    }
}

TEST_F(WaveIn, DestroyingARecordingRecorderReleasesTheDevice)
{
    {
        TMMWaveIn other(sim);
        other.setMode(mStereo);
        other.setBitLength(b16Bit);
        other.setDeviceID(3);
        other.Start();
        EXPECT_EQ(sim.Pump(3, 2), 2);
        EXPECT_EQ(sim.OpenStreams(3), 1);
    }
    EXPECT_EQ(sim.OpenStreams(3), 0);
    Dispatch();  // stale messages of the destroyed recorder are dropped
}

TEST_F(WaveIn, ANewRecorderAtADestroyedOnesAddressGetsNoneOfItsMessages)
{
    // A recorder destroyed with buffers still queued to the GUI thread, and a
    // new one made in the same storage before they are handled (as the
    // allocator readily does): the old messages, whose headers are gone, must
    // not reach the new recorder.
    alignas(TMMWaveIn) unsigned char storage[sizeof(TMMWaveIn)];
    auto* first = new (storage) TMMWaveIn(sim);
    first->setMode(mStereo);
    first->setBitLength(b16Bit);
    first->setDeviceID(3);
    first->Start();
    ASSERT_EQ(sim.Pump(3, 3), 3);
    first->~TMMWaveIn();

    auto* second = new (storage) TMMWaveIn(sim);
    int buffers = 0;
    second->OnBufferReady = [&](TMMCustomDSPComponent*, PWaveHdr) { ++buffers; };
    // On the same device, started before the old messages are handled: only
    // its own two buffers arrive.
    second->setMode(mStereo);
    second->setBitLength(b16Bit);
    second->setDeviceID(3);
    second->Start();
    ASSERT_EQ(sim.Pump(3, 2), 2);
    Dispatch();
    EXPECT_EQ(buffers, 2);
    second->~TMMWaveIn();
    Dispatch();
}

}  // namespace

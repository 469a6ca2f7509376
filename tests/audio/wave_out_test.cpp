// The wave-out component over the simulated outputs: property rules, open
// errors, playback to the end without extra signals, stop and close ordering,
// nothing to play, and an output that vanishes while playing.
#include "audio/MMSimWaveOut.h"
#include "audio/MMWaveOut.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

// A source that delivers a fixed byte sequence.
class Source : public TMMDSPComponent {
public:
    explicit Source(std::vector<uint8_t> bytes, int rate = 44100) : mBytes(std::move(bytes))
    {
        WaveFormat f;
        BuildPcmFormat(f, 16, 2, rate);
        SetFormat(&f);
    }
    bool PublishesInput() const override { return false; }
    void BufferLoad(PWaveHdr hdr, bool& more) override
    {
        const size_t n = std::min<size_t>(hdr->dwBufferLength, mBytes.size() - mPos);
        if (n) std::memcpy(hdr->lpData, mBytes.data() + mPos, n);
        mPos += n;
        hdr->dwBytesRecorded = static_cast<uint32_t>(n);
        more = mPos < mBytes.size();
    }
    std::vector<uint8_t> mBytes;
    size_t mPos = 0;
};

std::vector<uint8_t> ramp(size_t bytes)
{
    std::vector<uint8_t> v(bytes);
    for (size_t i = 0; i < bytes; ++i) v[i] = static_cast<uint8_t>((i * 7 + i / 251) & 0xFF);
    return v;
}

template <typename F> bool pumpUntil(F done, int ms = 5000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        WindowPoster().ProcessMessages();
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
}

struct Events {
    int open = 0, start = 0, stop = 0, close = 0, error = 0, ready = 0;
    void Attach(TMMWaveOut& o)
    {
        o.OnOpen = [this](TMMCustomDSPComponent*) { ++open; };
        o.OnStart = [this](TMMCustomDSPComponent*) { ++start; };
        o.OnStop = [this](TMMCustomDSPComponent*) { ++stop; };
        o.OnClose = [this](TMMCustomDSPComponent*) { ++close; };
        o.OnError = [this](TMMCustomDSPComponent*) { ++error; };
        o.OnBufferReady = [this](TMMCustomDSPComponent*, PWaveHdr) { ++ready; };
    }
};

std::string raised(const std::function<void()>& f)
{
    try {
        f();
    } catch (const EMMWaveOutError& e) {
        return e.what();
    }
    return "";
}

TEST(WaveOut, PropertyRules)
{
    TMMSimulatedWaveOut sim(1 << 16);
    TMMWaveOut out(sim);
    EXPECT_EQ(out.BufferSize(), 2048);
    EXPECT_EQ(out.NumBuffers(), 10);
    EXPECT_EQ(out.DeviceID(), 0);
    EXPECT_EQ(out.ProductName(), "Simulated output 1");
    out.setBufferSize(10);
    EXPECT_EQ(out.BufferSize(), 32);
    out.setNumBuffers(1);
    EXPECT_EQ(out.NumBuffers(), 10);
    out.setNumBuffers(1000);
    EXPECT_EQ(out.NumBuffers(), 500);
    out.setDeviceID(2);
    EXPECT_EQ(out.DeviceID(), InvalidId);
    EXPECT_EQ(out.ProductName(), "No wave audio playing device found");
    out.setDeviceID(MapperId);
    EXPECT_EQ(out.DeviceID(), MapperId);
    out.setCallBackMode(cmThread);
    EXPECT_EQ(out.CallBackMode(), cmThread);

    Source src(ramp(4096));
    src.setOutput(&out);
    out.Open();
    EXPECT_EQ(raised([&] { out.setBufferSize(4096); }), "Change to property while device was open");
    EXPECT_EQ(raised([&] { out.setNumBuffers(4); }), "Change to property while device was open");
    EXPECT_EQ(raised([&] { out.setDeviceID(1); }), "Change to property while device was open");
    EXPECT_EQ(raised([&] { out.setCallBackMode(cmWindow); }), "Change to property while device was open");
    out.Close();
    EXPECT_FALSE(out.DeviceOpen());
}

TEST(WaveOut, OpenErrors)
{
    TMMSimulatedWaveOut sim(1 << 16);
    {
        TMMWaveOut out(sim);
        Events ev;
        ev.Attach(out);
        EXPECT_EQ(raised([&] { out.Open(); }), "WaveOutOpen:\n\rInvalid wave format");
        EXPECT_EQ(ev.error, 1);
        Source src(ramp(64));
        src.setOutput(&out);
        out.setDeviceID(7);
        EXPECT_EQ(raised([&] { out.Open(); }), "Invalid DeviceID");
        out.setDeviceID(1);
        sim.DeviceFaults(1).refuseFormat = true;
        EXPECT_EQ(raised([&] { out.Open(); }), "WaveOutOpen:\n\rThe actual device can''t play this format");
        sim.DeviceFaults(1).refuseFormat = false;
        sim.DeviceFaults(1).noOpenConfirm = true;
        out.SetPollDelay(std::chrono::microseconds(100));
        EXPECT_EQ(raised([&] { out.Open(); }), "WaveOutOpen:\n\rUnable to open device");
        EXPECT_FALSE(out.DeviceOpen());
        sim.DeviceFaults(1).noOpenConfirm = false;
        sim.DeviceFaults(1).openError = MMSYSERR_ALLOCATED;
        EXPECT_EQ(raised([&] { out.Open(); }), "WaveOutOpen:\n\rThe specified device is already in use.");
        sim.DeviceFaults(1).openError = 0;
        EXPECT_EQ(sim.OpenStreams(1), 0);
        EXPECT_EQ(ev.open, 0);
        out.Open();
        EXPECT_EQ(ev.open, 1);
        EXPECT_EQ(sim.OpenStreams(1), 1);
    }
    EXPECT_EQ(sim.OpenStreams(1), 0);  // destruction closes
}

class WaveOutModes : public ::testing::TestWithParam<TMMCBMode> {};

// Sources shorter than one buffer, exactly a whole number of buffers, and
// longer than the queue all play completely and end by themselves.
TEST_P(WaveOutModes, PlaysToTheEndAndStopsByItself)
{
    TMMSimulatedWaveOut sim(1 << 20);
    for (size_t bytes : {1000u, 2048u * 3, 2048u * 12 + 100}) {
        SCOPED_TRACE(bytes);
        sim.ClearPlayed(0);
        TMMWaveOut out(sim);
        out.setCallBackMode(GetParam());
        out.setNumBuffers(5);
        Events ev;
        ev.Attach(out);
        out.OnStop = [&](TMMCustomDSPComponent*) {
            ++ev.stop;
            out.Close();
        };
        Source src(ramp(bytes));
        src.setOutput(&out);
        out.Start();
        EXPECT_TRUE(out.Playing());
        EXPECT_EQ(ev.start, 1);
        EXPECT_EQ(out.QueuedCount(), static_cast<int>(std::min<size_t>(5, (bytes + 2047) / 2048)));
        out.Start();  // while playing: nothing
        EXPECT_EQ(ev.start, 1);
        ASSERT_TRUE(pumpUntil([&] { return ev.close == 1; }));
        EXPECT_EQ(ev.stop, 1);
        EXPECT_EQ(ev.error, 0);
        EXPECT_FALSE(out.DeviceOpen());
        EXPECT_EQ(sim.Played(0), src.mBytes);
        EXPECT_EQ(ev.ready, static_cast<int>((bytes + 2047) / 2048));
        EXPECT_EQ(out.BytesPlayed(), static_cast<int64_t>(bytes));
    }
}

INSTANTIATE_TEST_SUITE_P(All, WaveOutModes, ::testing::Values(cmWindow, cmThread));

TEST(WaveOut, StopWhilePlayingAndNothingToPlay)
{
    TMMSimulatedWaveOut sim(1 << 20);
    TMMWaveOut out(sim);
    out.setCallBackMode(cmThread);
    out.setTimeFormat(tfMillisecond);
    Events ev;
    ev.Attach(out);
    out.Stop();  // closed: nothing
    out.Close();
    EXPECT_EQ(ev.stop + ev.close, 0);

    Source src(ramp(176400 * 2));  // two seconds
    src.setOutput(&out);
    out.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    out.Stop();
    EXPECT_EQ(ev.stop, 1);
    EXPECT_TRUE(out.DeviceOpen());
    EXPECT_FALSE(out.Playing());
    const int64_t pos = out.Position();
    EXPECT_GT(pos, 50);
    EXPECT_LT(pos, 1000);
    pumpUntil([] { return false; }, 50);  // a late stop message does nothing
    EXPECT_EQ(ev.stop, 1);
    out.Close();
    EXPECT_EQ(ev.close, 1);

    Source empty({});
    empty.setOutput(&out);
    EXPECT_EQ(raised([&] { out.Start(); }), "WaveOutStart:\n\rUnable to start device");
    EXPECT_FALSE(out.DeviceOpen());
}

// A stop asked while the playback thread handles a buffer completes when
// that handler ends: OnStop fires once; the same holds at destruction.
TEST(WaveOut, StopDuringABufferHandler)
{
    TMMSimulatedWaveOut sim(1 << 20);
    for (bool destroy : {false, true}) {
        SCOPED_TRACE(destroy);
        auto out = std::make_unique<TMMWaveOut>(sim);
        out->setCallBackMode(cmThread);
        Events ev;
        ev.Attach(*out);
        std::atomic<bool> inHandler{false}, release{false};
        out->OnBufferReady = [&](TMMCustomDSPComponent*, PWaveHdr) {
            inHandler.store(true);
            while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
        Source src(ramp(176400));
        src.setOutput(out.get());
        out->Start();
        while (!inHandler.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (destroy) {
            std::thread later([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
                release.store(true);
            });
            out.reset();
            later.join();
            EXPECT_EQ(sim.OpenStreams(0), 0);
            continue;
        }
        out->Stop();
        EXPECT_EQ(ev.stop, 0);  // pending until the handler ends
        EXPECT_TRUE(out->Playing());
        release.store(true);
        ASSERT_TRUE(pumpUntil([&] { return ev.stop == 1; }));
        pumpUntil([] { return false; }, 50);
        EXPECT_EQ(ev.stop, 1);
        EXPECT_FALSE(out->Playing());
        out->Close();
        EXPECT_EQ(ev.close, 1);
        EXPECT_EQ(sim.OpenStreams(0), 0);
    }
}

// The output vanishes while playing: the error is shown once, the output is
// closed, and it plays again once the device is back.
TEST(WaveOut, DeviceVanishesWhilePlaying)
{
    TMMSimulatedWaveOut sim(1 << 20);
    std::vector<std::string> shown;
    SetApplicationErrorHandler([&](const std::string& t) { shown.push_back(t); });
    {
        TMMWaveOut out(sim);
        out.setCallBackMode(cmThread);
        Events ev;
        ev.Attach(out);
        Source src(ramp(176400));
        src.setOutput(&out);
        out.Start();
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        sim.Vanish(0);
        ASSERT_TRUE(pumpUntil([&] { return !out.DeviceOpen(); }));
        pumpUntil([] { return false; }, 50);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0], "WaveOutWrite:\n\rThe simulated device was removed.");
        EXPECT_EQ(ev.close, 1);
        EXPECT_EQ(sim.OpenStreams(0), 0);
        EXPECT_EQ(raised([&] { out.Start(); }),
                  "WaveOutOpen:\n\rThe actual device can''t play this format");  // still gone
        sim.Restore(0);
        src.mPos = src.mBytes.size() - 4000;
        sim.ClearPlayed(0);
        out.OnStop = [&](TMMCustomDSPComponent*) { out.Close(); };
        out.Start();
        ASSERT_TRUE(pumpUntil([&] { return !out.DeviceOpen(); }));
        EXPECT_EQ(sim.Played(0).size(), 4000u);
        EXPECT_EQ(shown.size(), 1u);
    }
    SetApplicationErrorHandler(nullptr);
}

TEST(SimOutput, CaptureIsWrittenAsWave)
{
    TMMSimulatedWaveOut sim(1 << 16);
    TMMWaveOut out(sim);
    Source src(ramp(4000));
    src.setOutput(&out);
    out.OnStop = [&](TMMCustomDSPComponent*) { out.Close(); };
    out.Start();
    ASSERT_TRUE(pumpUntil([&] { return !out.DeviceOpen(); }));
    const std::string path = ::testing::TempDir() + "sim_capture.wav";
    std::string error;
    ASSERT_TRUE(WriteSimOutputCapture(sim, 0, path, error)) << error;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::vector<uint8_t> bytes(44 + 4000);
    EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
    EXPECT_EQ(std::memcmp(bytes.data(), "RIFF", 4), 0);
    EXPECT_TRUE(std::equal(src.mBytes.begin(), src.mBytes.end(), bytes.begin() + 44));
    EXPECT_FALSE(WriteSimOutputCapture(sim, 0, "/nonexistent/dir/x.wav", error));
    EXPECT_NE(error.find("/nonexistent/dir/x.wav"), std::string::npos);
}

}  // namespace

namespace {

// The queue can hold back the header that empties it until the device's
// latency has passed, and lets it go at once when another header follows.
TEST(PlaybackQueue, HoldsTheLastHeaderForTheLatency)
{
    static std::vector<PWaveHdr> returned;
    returned.clear();
    TMMPlaybackQueue q;
    q.Bind(1, [](HWAVEOUT, uint32_t msg, void*, PWaveHdr h) {
        if (msg == WOM_DONE) returned.push_back(h);
    }, nullptr);
    char a[8] = {1, 2, 3, 4, 5, 6, 7, 8}, b[4] = {9, 9, 9, 9};
    WaveHdr ha, hb;
    ha.lpData = a;
    ha.dwBufferLength = 8;
    hb.lpData = b;
    hb.dwBufferLength = 4;
    ASSERT_TRUE(q.Add(&ha));
    uint8_t out[16] = {};
    EXPECT_EQ(q.Read(out, 16, 10), 8u);
    EXPECT_TRUE(returned.empty());  // held
    EXPECT_EQ(q.Read(out, 6, 10), 0u);
    EXPECT_TRUE(returned.empty());
    EXPECT_EQ(q.Read(out, 4, 10), 0u);  // 10 bytes of latency passed
    ASSERT_EQ(returned.size(), 1u);
    EXPECT_EQ(q.Pending(), 0);

    ASSERT_TRUE(q.Add(&ha));
    EXPECT_EQ(q.Read(out, 8, 100), 8u);
    ASSERT_TRUE(q.Add(&hb));  // a follower releases the held header
    EXPECT_EQ(q.Read(out, 16, 100), 4u);
    EXPECT_EQ(returned.size(), 2u);
    EXPECT_EQ(out[0], 9);
    q.ReturnAll();
    EXPECT_EQ(returned.size(), 3u);
    EXPECT_EQ(q.Pending(), 0);
}

}  // namespace

namespace {

void IgnoreOut(HWAVEOUT, uint32_t, void*, PWaveHdr) {}

// The device thread sleeps while nothing plays; woken by a write after a
// long idle stretch it plays in real time from then on, not a burst that
// makes up for the idle time.
TEST(SimOutput, PlaysInRealTimeAfterIdling)
{
    TMMSimulatedWaveOut sim(1 << 16);
    WaveFormat f;
    BuildPcmFormat(f, 16, 2, 44100);
    HWAVEOUT h{};
    ASSERT_EQ(sim.Open(&h, 0, f, &IgnoreOut, nullptr, 0), MMSYSERR_NOERROR);
    std::vector<uint8_t> data(44100 * 4);  // one second
    WaveHdr hdr{};
    hdr.lpData = reinterpret_cast<char*>(data.data());
    hdr.dwBufferLength = static_cast<uint32_t>(data.size());
    ASSERT_EQ(sim.PrepareHeader(h, &hdr), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(sim.Write(h, &hdr), MMSYSERR_NOERROR);
    MMTime t{};
    uint32_t frames = 0;
    while (std::chrono::steady_clock::now() - t0 < std::chrono::seconds(2)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        sim.GetPosition(h, t);
        frames = t.value;
        if (frames > 0) break;
    }
    const double played = frames / 44100.0;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GT(frames, 0u) << "the write woke no playback";
    EXPECT_LE(played, elapsed + 0.05) << "played ahead of real time after idling";
    sim.Reset(h);
    sim.UnprepareHeader(h, &hdr);
    sim.Close(h);
}

}  // namespace

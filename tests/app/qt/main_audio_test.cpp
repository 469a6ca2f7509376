// The main window's recorders: how long the GUI thread may stall without
// losing audio, and the count of buffers lost.
#include "app/qt/MainAudio.h"
#include "audio/MMNotify.h"
#include "audio/MMSimWaveIn.h"
#include "audio/MMWavIn.h"
#include "audio/qt/MMConnectorLoop.h"
#include "base/TvConstants.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr int kBufferFrames = 2048 / 4;  // default buffer, 16-bit stereo

// The simulated device, reporting the lost bytes the test sets per handle.
class TLossyWaveIn : public TMMSimulatedWaveIn {
public:
    TLossyWaveIn() : TMMSimulatedWaveIn(Clock::Manual) {}
    int64_t LostBytes(HWAVEIN h) override
    {
        const auto it = mLost.find(h);
        return it == mLost.end() ? TMMSimulatedWaveIn::LostBytes(h) : it->second;
    }
    std::map<HWAVEIN, int64_t> mLost;
};

template <class Device>
struct Rig {
    Device device;
    std::unique_ptr<TMMConnectorQtLoop> loop = std::make_unique<TMMConnectorQtLoop>();
    std::unique_ptr<TMainAudio> audio;

    Rig()
    {
        SetMainCaptureDevice(&device);
        audio = std::make_unique<TMainAudio>();
        for (int k = 1; k <= tv::kPairs; ++k) {
            audio->SetDevice(k, k - 1);
            audio->SetSampleRate(k, kRate);
            audio->Start(k);
        }
    }
    ~Rig()
    {
        audio.reset();
        SetMainCaptureDevice(nullptr);
    }
    // The devices run for `frames` while the GUI thread handles nothing.
    void Stall(size_t frames)
    {
        for (int d = 0; d < tv::kPairs; ++d) device.PumpFrames(d, frames);
    }
};

struct SimRig : Rig<TMMSimulatedWaveIn> {};
struct LossyRig : Rig<TLossyWaveIn> {};

TEST(MainAudio, AStallOfFourHundredMillisecondsLosesNoAudio)
{
    SimRig rig;
    // The twelve recorders starting one after another on JACK kept the GUI
    // thread away for about 0.4 s.
    rig.Stall(kRate * 4 / 10);
    WindowPoster().ProcessMessages();
    for (int k = 1; k <= tv::kPairs; ++k) EXPECT_EQ(rig.audio->Buffers(k), uint64_t{kRate * 4 / 10 / kBufferFrames}) << k;
    EXPECT_EQ(rig.audio->DroppedBuffers(), 0u);

    // Every buffer went back to its device: the next stall is bridged too.
    rig.Stall(kRate * 4 / 10);
    WindowPoster().ProcessMessages();
    for (int k = 1; k <= tv::kPairs; ++k) EXPECT_EQ(rig.audio->Buffers(k), uint64_t{kRate * 8 / 10 / kBufferFrames}) << k;
    EXPECT_EQ(rig.audio->DroppedBuffers(), 0u);
}

TEST(MainAudio, AStallBeyondTheRingIsCountedAsLost)
{
    SimRig rig;
    const int held = rig.audio->Recorder(1).NumBuffers();
    // Two seconds without the GUI thread: the ring fills, the rest is lost.
    rig.Stall(2 * kRate);
    WindowPoster().ProcessMessages();
    EXPECT_EQ(rig.audio->Buffers(1), uint64_t(held));
    const uint64_t perRecorder = 2 * kRate / kBufferFrames - held;
    // The simulated device reports no lost bytes: the estimate from its
    // position allows for a full ring in flight, so it may be low by up to
    // the ring's depth, never high.
    EXPECT_GE(rig.audio->DroppedBuffers(), tv::kPairs * (perRecorder - held));
    EXPECT_LE(rig.audio->DroppedBuffers(), tv::kPairs * perRecorder);
    EXPECT_GT(rig.audio->DroppedBuffers(), 0u);
}

TEST(MainAudio, LostBytesOfTheBackEndCountInWholeBuffersAndOutliveAClose)
{
    LossyRig rig;
    EXPECT_EQ(rig.audio->DroppedBuffers(), 0u);
    const HWAVEIN h1 = rig.audio->Recorder(1).Handle();
    const HWAVEIN h2 = rig.audio->Recorder(2).Handle();
    for (int k = 3; k <= tv::kPairs; ++k) rig.device.mLost[rig.audio->Recorder(k).Handle()] = 0;
    rig.device.mLost[h1] = 1;         // one byte lost: one buffer
    rig.device.mLost[h2] = 2048 * 3;  // exactly three buffers
    EXPECT_EQ(rig.audio->DroppedBuffers(), 4u);

    // A closed recorder's losses stay counted; a new open starts from zero.
    rig.audio->Close(2);
    EXPECT_EQ(rig.audio->DroppedBuffers(), 4u);
    rig.audio->Start(2);
    rig.device.mLost[rig.audio->Recorder(2).Handle()] = 2048 + 1;
    EXPECT_EQ(rig.audio->DroppedBuffers(), 6u);
}

// A pair whose remembered device is not connected: never opened, not even at
// the position its device had (another device is there now), told once.
TEST(MainAudio, ANotConnectedDeviceLeavesItsRecorderClosedAndIsToldOnce)
{
    SimRig rig;
    TMainAudio& audio = *rig.audio;
    std::vector<std::string> events;
    audio.AddDeviceListener([&](int k, const std::string& what, const std::string& name, const std::string&) {
        if (what != "opened") events.push_back(std::to_string(k) + " " + what + " " + name);
    });
    audio.Close(2);
    audio.SetNotConnected(2, "USB Mic");
    audio.Start(2);
    audio.Close(2);
    audio.Start(2);
    EXPECT_FALSE(audio.Running(2));
    EXPECT_FALSE(audio.Recorder(2).DeviceOpen());
    EXPECT_THROW(audio.Recorder(2).Start(), EMMError) << "a direct start must not meter device 2 in its place";
    EXPECT_EQ(audio.RecorderDeviceName(2), "USB Mic (not connected)");
    EXPECT_EQ(DeviceEventLine(2, "not connected", "USB Mic"),
              "Input 3&4: device \"USB Mic\" not connected; its strips stay dark and read silence");
    // The same name again (the input setup confirmed) is not told again; another is.
    audio.SetNotConnected(2, "USB Mic");
    audio.Start(2);
    audio.SetNotConnected(2, "Other Mic");
    audio.Start(2);
    EXPECT_EQ(events, (std::vector<std::string>{"2 not connected USB Mic", "2 not connected Other Mic"}));
    // A device chosen ends it; the others ran on throughout.
    audio.SetDevice(2, 1);
    audio.Start(2);
    EXPECT_TRUE(audio.Running(2));
    EXPECT_EQ(audio.RecorderDeviceName(2), audio.InputDeviceName(1));
    for (int k = 1; k <= tv::kPairs; ++k) EXPECT_TRUE(audio.Running(k)) << k;
}

}  // namespace

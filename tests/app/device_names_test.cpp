// Devices remembered by name: resolution against the devices present now,
// the stored form, and the restore sequence leaving a missing device's pair
// unassigned instead of metering another device.
#include "app/DeviceNames.h"
#include "app/MainValues.h"
#include "app/StoreAccess.h"
#include "audio/MMAudioBackend.h"
#include "audio/MMSimWaveIn.h"
#include "audio/MMSimWaveOut.h"
#include "audio/MMWaveOutBackend.h"
#include "audio/MMWavIn.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

const std::vector<std::string> kPresent = {"Built-in", "USB Audio", "Interface 8", "USB Audio", "Interface 8 (1-2)"};

TEST(DeviceNames, FoundWhereverTheDeviceIsNow)
{
    // At the stored position.
    EXPECT_EQ(ResolveStoredDevice(2, {"Interface 8", 0}, kPresent).Id, 2);
    // Moved: another device appeared before it, or one before it went away.
    EXPECT_EQ(ResolveStoredDevice(0, {"Interface 8", 0}, kPresent).Id, 2);
    EXPECT_EQ(ResolveStoredDevice(9, {"Interface 8 (1-2)", 0}, kPresent).Id, 4);
    // Two identical devices keep their order, wherever the stored positions point.
    EXPECT_EQ(ResolveStoredDevice(3, {"USB Audio", 0}, kPresent).Id, 1);
    EXPECT_EQ(ResolveStoredDevice(1, {"USB Audio", 1}, kPresent).Id, 3);
    EXPECT_EQ(ResolveStoredDevice(1, {"USB Audio", -4}, kPresent).Id, 1);  // a damaged rank reads as the first
}

TEST(DeviceNames, MissingOrUnnamed)
{
    // Not present, or the second of two identical devices when one is left.
    const TDeviceChoice gone = ResolveStoredDevice(2, {"Dante Virtual", 0}, kPresent);
    EXPECT_TRUE(gone.Missing);
    EXPECT_EQ(gone.Id, kDeviceNotConnected);
    EXPECT_TRUE(ResolveStoredDevice(3, {"USB Audio", 2}, kPresent).Missing);
    EXPECT_TRUE(ResolveStoredDevice(0, {"Built-in", 0}, {}).Missing);
    // Names are compared exactly.
    EXPECT_TRUE(ResolveStoredDevice(1, {"usb audio", 0}, kPresent).Missing);
    // No name stored (older settings) or the default device: the position as stored.
    EXPECT_EQ(ResolveStoredDevice(7, {"", 0}, kPresent).Id, 7);
    EXPECT_FALSE(ResolveStoredDevice(7, {"", 0}, kPresent).Missing);
    EXPECT_EQ(ResolveStoredDevice(-1, {"Whatever", 0}, kPresent).Id, -1);
    EXPECT_EQ(NotConnectedCaption("USB Audio"), "USB Audio (not connected)");
}

// PortAudio names ALSA devices with their card number, which moves when
// another card appears before them; the device number does not.
TEST(DeviceNames, AlsaCardNumbersMayChange)
{
    const std::vector<std::string> before = {"HDA Intel PCH: ALC (hw:0,0)", "CODEC: USB Audio (hw:1,0)",
                                             "CODEC: USB Audio (hw:2,0)", "CODEC: USB Audio (hw:2,0) (3-4)"};
    const TDeviceName second = NameOfDevice(2, before);
    EXPECT_EQ(second.Name, "CODEC: USB Audio (hw:2,0)");
    EXPECT_EQ(second.Rank, 1) << "the second of two identical interfaces";
    // A card plugged in before them: both interfaces move up one number and keep their order.
    const std::vector<std::string> after = {"HDA Intel PCH: ALC (hw:0,0)", "Dock: USB Audio (hw:1,0)", "CODEC: USB Audio (hw:2,0)",
                                            "CODEC: USB Audio (hw:3,0)", "CODEC: USB Audio (hw:3,0) (3-4)"};
    EXPECT_EQ(ResolveStoredDevice(1, NameOfDevice(1, before), after).Id, 2);
    EXPECT_EQ(ResolveStoredDevice(2, second, after).Id, 3);
    EXPECT_EQ(ResolveStoredDevice(3, NameOfDevice(3, before), after).Id, 4);
    // Another device number of the same card is another device.
    EXPECT_TRUE(ResolveStoredDevice(0, {"HDA Intel PCH: ALC (hw:0,3)", 0}, before).Missing);
    // Only a card number is left out; malformed or other names stay as they are.
    for (const char* name : {"pulse", "(hw:", "x (hw:", "x (hw:,0)", "x (hw:12)", "x (hw:a,0)", "(hw:1"})
        EXPECT_EQ(DeviceNameKey(name), name);
    EXPECT_EQ(DeviceNameKey("a (hw:10,2) b (hw:3,1)"), "a (hw:*,2) b (hw:*,1)");
}

TEST(DeviceNames, StoredFormRoundTrip)
{
    TMemoryStore store;
    WriteRecorderDevice(store, 4, 3, kPresent);
    EXPECT_EQ(store.ReadInt("multi_4", 0), 3);
    EXPECT_EQ(store.ReadText("MULTI_4 NAME", ""), "USB Audio");
    EXPECT_EQ(store.ReadInt("multi_4 rank", 0), 1);
    // The devices move: the name and rank still find it.
    const std::vector<std::string> later = {"HDMI", "Built-in", "USB Audio", "Interface 8", "USB Audio"};
    EXPECT_EQ(StoredRecorderDevice(store, 4, 0, later).Id, 4);
    // The default device stores no name.
    WriteRecorderDevice(store, 5, -1, kPresent);
    EXPECT_EQ(store.ReadText("multi_5 name", "x"), "");
    EXPECT_EQ(StoredRecorderDevice(store, 5, 0, later).Id, -1);
    // A name of the wrong kind reads as none stored: the position holds.
    store.WriteInt("multi_6", 2);
    store.WriteInt("multi_6 name", 17);
    EXPECT_EQ(StoredRecorderDevice(store, 6, 0, later).Id, 2);
    // Nothing stored: the fallback position.
    EXPECT_EQ(StoredRecorderDevice(store, 7, 5, later).Id, 5);
    // No device chosen (none was listed): the position is written, the
    // remembered name kept, and it finds the device once it is listed again.
    WriteRecorderDevice(store, 4, InvalidId, {});
    EXPECT_EQ(store.ReadInt("multi_4", 0), InvalidId);
    EXPECT_EQ(store.ReadText("multi_4 name", ""), "USB Audio");
    EXPECT_EQ(StoredRecorderDevice(store, 4, 0, later).Id, 4);
    EXPECT_TRUE(StoredRecorderDevice(store, 4, 0, {}).Missing);
    // A missing output falls back to the default output.
    WriteOutDevice(store, 1, {"Speakers", "Headphones"});
    EXPECT_EQ(StoredOutDevice(store, {"Headphones"}).Id, 0);
    const TDeviceChoice out = StoredOutDevice(store, {"Speakers"});
    EXPECT_TRUE(out.Missing);
    EXPECT_EQ(out.Id, -1);
}

// The restore sequence over the simulated devices.
struct Target : TMainTarget {
    std::array<int, 12> devices;
    std::array<std::string, 12> missing;
    int out = 99;
    Target() { devices.fill(-99); }
    TStripValues StripValues(int n) override { return DesignStripValues(n); }
    void ApplyStripValues(int, const TStripValues&) override {}
    TWindowPlacement Placement() override { return {}; }
    void ApplyPlacement(const TWindowPlacement&) override {}
    void SetLabelText(int, const std::string&) override {}
    TLevelSetValues LevelSetValues() override { return DesignLevelSetValues(); }
    TCorreValues CorreValues() override { return {}; }
    int InputMode() override { return 4; }
    int SampleRateIndex() override { return 0; }
    void SetLoggingOn() override {}
    void ApplyLevelSetStart(const TLevelSetValues&) override {}
    void ApplyInputMode(int) override {}
    void ApplyStandard(int, int, int) override {}
    void ApplySampleRate(int) override {}
    void ApplyStereo(int) override {}
    void ApplyDetector(const TLevelSetValues&) override {}
    void ShowInputSetupModal() override {}
    void SetRecorderDevice(int k, int id) override { devices[k - 1] = id; }
    void SetRecorderNotConnected(int k, const std::string& name) override { missing[k - 1] = name; }
    void SetAlarmOutDevice(int id) override { out = id; }
    void CloseRecorder(int) override {}
    void StartRecorder(int) override {}
    void ShowCorrelation() override {}
};

TEST(DeviceNames, RestoreFindsMovedDevicesAndLeavesMissingOnesUnassigned)
{
    TMMSimulatedWaveIn sim;
    SetWaveInDevice(&sim);
    TMemoryStore store;
    store.WriteBool("is Sound", true);
    // Recorder 1: stored at 0 as "Simulated input 3" (it moved to 2).
    store.WriteInt("multi_1", 0);
    store.WriteText("multi_1 name", "Simulated input 3");
    // Recorder 2: a device that is gone; its position points at a present one.
    store.WriteInt("multi_2", 1);
    store.WriteText("multi_2 name", "USB Microphone");
    // Recorder 3: settings of an older version, position only.
    store.WriteInt("multi_3", 5);
    // The alarm output, found among the outputs the alarm plays on.
    TMMSimulatedWaveOut outputs;
    SetWaveOutDevice(&outputs);
    store.WriteInt("out", 0);
    store.WriteText("out name", "Simulated output 2");
    Target t;
    RestoreMainValues(store, t);
    SetWaveInDevice(nullptr);
    SetWaveOutDevice(nullptr);
    EXPECT_EQ(t.out, 1);
    EXPECT_EQ(t.devices[0], 2);
    EXPECT_EQ(t.devices[1], -99) << "a missing device must not be replaced by the one at its old position";
    EXPECT_EQ(t.missing[1], "USB Microphone");
    EXPECT_EQ(t.devices[2], 5);
    EXPECT_EQ(t.missing[2], "");
    EXPECT_EQ(t.devices[3], 3);  // nothing stored: simulated input k
    // Restoring writes nothing: what is stored for the missing device stays.
    EXPECT_EQ(store.ReadText("multi_2 name", ""), "USB Microphone");
    EXPECT_EQ(store.ReadInt("multi_2", 0), 1);
}

}  // namespace

// Devices remembered by name. Next to its position ("multi_1" ... "multi_12",
// "out") each chosen device's name is stored ("multi_1 name" ..., "out name"),
// and, for identical devices, which of the same name it is ("multi_1 rank" ...,
// "out rank": 0 the first; ALSA card numbers aside, see DeviceNameKey). At start a stored name wins over the stored
// position: positions move when another device appears, names do not.
#pragma once

#include "app/StoreAccess.h"

#include <string>
#include <vector>

// Position of a recorder whose remembered device is not connected: it stays
// closed and its strips dark.
constexpr int kDeviceNotConnected = -3;

// Caption of a remembered device that is missing, as the input setup shows it.
std::string NotConnectedCaption(const std::string& name);

std::string RecorderNameSetting(int k);  // "multi_K name"
std::string RecorderRankSetting(int k);  // "multi_K rank"
extern const char* const kOutNameSetting;  // "out name"
extern const char* const kOutRankSetting;  // "out rank"

// Names compare as the same device when they differ only in an ALSA card
// number: "USB Audio CODEC: USB Audio (hw:2,0)" is the interface that was
// "(hw:1,0)" before another card took number 1. Returns the name with each
// "(hw:N," written "(hw:*,".
std::string DeviceNameKey(const std::string& name);

// A device as remembered: its name ("" for the default device, id -1) and
// how many devices of the same name (DeviceNameKey) come before it.
struct TDeviceName {
    std::string Name;
    int Rank = 0;
};

// The name and rank of device `id` in `names` (device i is names[i]).
TDeviceName NameOfDevice(int id, const std::vector<std::string>& names);

struct TDeviceChoice {
    int Id = 0;
    bool Missing = false;  // a name was stored and no device has it
};

// No stored name (settings of older versions) or the default device: the
// stored position as it is. Else the device that has the name and rank now,
// wherever it is; none: Missing.
TDeviceChoice ResolveStoredDevice(int storedId, const TDeviceName& stored, const std::vector<std::string>& names);

// Recorder k's device (1 ... 12) as stored, resolved against the devices now
// present; `fallback` is the position when none is stored.
TDeviceChoice StoredRecorderDevice(TSettingsAccess& store, int k, int fallback, const std::vector<std::string>& names);
// The alarm output as stored; a missing output falls back to the default
// output (-1): the alarm is better heard elsewhere than not at all.
TDeviceChoice StoredOutDevice(TSettingsAccess& store, const std::vector<std::string>& names);
// The stored name of recorder k's device ("" when none).
std::string StoredRecorderName(TSettingsAccess& store, int k);
// Writes a choice of the input setup: position, name and rank. With no
// device chosen (id below -1) only the position is written: the stored name
// still finds the device when it is listed again.
void WriteRecorderDevice(TSettingsAccess& store, int k, int id, const std::vector<std::string>& names);
void WriteOutDevice(TSettingsAccess& store, int id, const std::vector<std::string>& names);

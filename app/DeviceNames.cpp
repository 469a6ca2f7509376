#include "app/DeviceNames.h"

const char* const kOutNameSetting = "out name";
const char* const kOutRankSetting = "out rank";

std::string RecorderNameSetting(int k) { return "multi_" + std::to_string(k) + " name"; }
std::string RecorderRankSetting(int k) { return "multi_" + std::to_string(k) + " rank"; }

std::string NotConnectedCaption(const std::string& name) { return name + " (not connected)"; }

std::string DeviceNameKey(const std::string& name)
{
    static const std::string kHw = "(hw:";
    std::string key;
    size_t from = 0;
    for (size_t at = name.find(kHw); at != std::string::npos; at = name.find(kHw, from)) {
        size_t end = at + kHw.size();
        while (end < name.size() && name[end] >= '0' && name[end] <= '9') ++end;
        key.append(name, from, at + kHw.size() - from);
        if (end > at + kHw.size() && end < name.size() && name[end] == ',')
            key += '*';
        else
            key.append(name, at + kHw.size(), end - at - kHw.size());
        from = end;
    }
    key.append(name, from, std::string::npos);
    return key;
}

TDeviceName NameOfDevice(int id, const std::vector<std::string>& names)
{
    if (id < 0 || id >= static_cast<int>(names.size())) return {};
    TDeviceName d{names[static_cast<size_t>(id)], 0};
    const std::string key = DeviceNameKey(d.Name);
    for (int i = 0; i < id; ++i)
        if (DeviceNameKey(names[static_cast<size_t>(i)]) == key) ++d.Rank;
    return d;
}

TDeviceChoice ResolveStoredDevice(int storedId, const TDeviceName& stored, const std::vector<std::string>& names)
{
    if (stored.Name.empty() || storedId == -1) return {storedId, false};
    const int rank = stored.Rank < 0 ? 0 : stored.Rank;
    const std::string key = DeviceNameKey(stored.Name);
    int seen = 0;
    for (int i = 0; i < static_cast<int>(names.size()); ++i) {
        if (DeviceNameKey(names[static_cast<size_t>(i)]) != key) continue;
        if (seen++ == rank) return {i, false};
    }
    return {kDeviceNotConnected, true};
}

namespace {

TDeviceChoice Stored(TSettingsAccess& store, const std::string& idName, int fallback, const std::string& nameName,
                     const std::string& rankName, const std::vector<std::string>& names)
{
    const int id = store.ReadInt(idName, fallback);
    const TDeviceName stored{store.ReadText(nameName, ""), store.ReadInt(rankName, 0)};
    return ResolveStoredDevice(id, stored, names);
}

void Write(TSettingsAccess& store, const std::string& idName, int id, const std::string& nameName,
           const std::string& rankName, const std::vector<std::string>& names)
{
    store.WriteInt(idName, id);
    // No device chosen (none listed): the remembered one is kept for the day
    // the list has it again.
    if (id < -1) return;
    const TDeviceName d = NameOfDevice(id, names);
    store.WriteText(nameName, d.Name);
    store.WriteInt(rankName, d.Rank);
}

}  // namespace

TDeviceChoice StoredRecorderDevice(TSettingsAccess& store, int k, int fallback, const std::vector<std::string>& names)
{
    return Stored(store, "multi_" + std::to_string(k), fallback, RecorderNameSetting(k), RecorderRankSetting(k), names);
}

TDeviceChoice StoredOutDevice(TSettingsAccess& store, const std::vector<std::string>& names)
{
    const TDeviceChoice c = Stored(store, "out", 0, kOutNameSetting, kOutRankSetting, names);
    return c.Missing ? TDeviceChoice{-1, true} : c;
}

std::string StoredRecorderName(TSettingsAccess& store, int k) { return store.ReadText(RecorderNameSetting(k), ""); }

void WriteRecorderDevice(TSettingsAccess& store, int k, int id, const std::vector<std::string>& names)
{
    Write(store, "multi_" + std::to_string(k), id, RecorderNameSetting(k), RecorderRankSetting(k), names);
}

void WriteOutDevice(TSettingsAccess& store, int id, const std::vector<std::string>& names)
{
    Write(store, "out", id, kOutNameSetting, kOutRankSetting, names);
}

#include "app/SettingsCommandLine.h"

#include "app/SettingNames.h"
#include "app/SettingsFile.h"

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

bool parseInt32(const std::string& s, int32_t& out)
{
    if (s.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(s.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || v < INT32_MIN || v > INT32_MAX) return false;
    if (s[0] == ' ' || s[0] == '\t' || s[0] == '+') return false;
    out = static_cast<int32_t>(v);
    return true;
}

}  // namespace

bool SettingFromCommandLine(const std::string& name, const std::string& value, TSettingValue& out,
                            std::string& error)
{
    int32_t n = 0;
    const bool isInt = parseInt32(value, n);
    const TSettingEntry* e = FindSettingEntry(name);
    if (!e) {
        out = isInt ? TSettingValue(n) : TSettingValue(value);
        return true;
    }
    switch (e->type) {
    case TSettingType::Text:
        out = TSettingValue(value);
        return true;
    case TSettingType::Boolean:
        if (SameName(value, "true") || SameName(value, "false")) {
            out = TSettingValue(SameName(value, "true"));
            return true;
        }
        if (isInt) {
            out = TSettingValue(n != 0);
            return true;
        }
        error = "--set " + name + ": expected true, false or an integer, got '" + value + "'";
        return false;
    case TSettingType::Integer:
        if (isInt) {
            out = TSettingValue(n);
            return true;
        }
        error = "--set " + name + ": expected a 32-bit integer, got '" + value + "'";
        return false;
    }
    return false;
}

bool ApplySettingsOptions(const CommandLine& cl, std::ostream& err)
{
    std::vector<std::pair<std::string, TSettingValue>> writes;
    for (const auto& [name, value] : cl.sets) {
        TSettingValue v;
        std::string error;
        if (!SettingFromCommandLine(name, value, v, error)) {
            err << "tarvolin: " << error << "\n";
            return false;
        }
        const TSettingEntry* e = FindSettingEntry(name);
        writes.emplace_back(e ? e->writeName : name, v);
    }
    SetSettingsStore(std::make_shared<TSettingsFile>(cl.settingsFile.empty() ? DefaultSettingsFile() : cl.settingsFile));
    for (const auto& [name, value] : writes) WriteSetting(TSettingsRoot::CurrentUser, kTarvolinKey, name, value);
    return true;
}

TMMNetWaveIn::TOptions NetworkOptions(const CommandLine& cl, TSettingsAccess& store)
{
    TMMNetWaveIn::TOptions o;
    o.interfaceName = cl.netInterface ? *cl.netInterface : kNetInterfaceSetting.Read(store);
    // No interface chosen: no group is joined until a stream is opened (an SDP
    // file's, received on the system's choice of interface).
    if (o.interfaceName == "none") o.interfaceName.clear();
    o.discover = !o.interfaceName.empty();
    const std::string files = kSdpFilesSetting.Read(store);
    for (size_t start = 0; start <= files.size();) {
        size_t end = files.find(';', start);
        if (end == std::string::npos) end = files.size();
        std::string f = files.substr(start, end - start);
        f.erase(0, f.find_first_not_of(" \t"));
        f.erase(f.find_last_not_of(" \t") + 1);
        if (!f.empty()) o.sdpFiles.push_back(f);
        start = end + 1;
    }
    o.sdpFiles.insert(o.sdpFiles.end(), cl.sdpFiles.begin(), cl.sdpFiles.end());
    return o;
}

// A stored value as its subsystem declares it: name, kind and default, with
// reading and writing through TSettingsAccess. Each subsystem declares its
// keys beside the code that uses them; app/SettingNames collects every
// declaration into the one table of stored values. Qt-free; GUI thread.
#pragma once

#include "base/SettingsAccess.h"

#include <cstdint>
#include <string>

enum class TSettingType { Integer, Boolean, Text };

// A key as the table of stored values takes it.
struct TSettingDecl {
    const char* Name;
    TSettingType Type;
    int32_t IntDefault;       // Integer; Boolean as 1 / 0
    const char* TextDefault;  // Text
};

struct TIntSetting {
    const char* Name;
    int32_t Default;
    int Read(TSettingsAccess& s) const { return s.ReadInt(Name, Default); }
    // With another default: the control's current value, or "no value stored".
    int Read(TSettingsAccess& s, int def) const { return s.ReadInt(Name, def); }
    void Write(TSettingsAccess& s, int v) const { s.WriteInt(Name, v); }
    constexpr TSettingDecl Decl() const { return {Name, TSettingType::Integer, Default, ""}; }
};

struct TBoolSetting {
    const char* Name;
    bool Default;
    bool Read(TSettingsAccess& s) const { return s.ReadBool(Name, Default); }
    void Write(TSettingsAccess& s, bool v) const { s.WriteBool(Name, v); }
    constexpr TSettingDecl Decl() const { return {Name, TSettingType::Boolean, Default ? 1 : 0, ""}; }
};

struct TTextSetting {
    const char* Name;
    const char* Default;
    std::string Read(TSettingsAccess& s) const { return s.ReadText(Name, Default); }
    void Write(TSettingsAccess& s, const std::string& v) const { s.WriteText(Name, v); }
    constexpr TSettingDecl Decl() const { return {Name, TSettingType::Text, 0, Default}; }
};

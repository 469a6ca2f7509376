// Named stored values as the windows and the level settings use them: one
// value per call, read with a default, names compared without regard to case,
// a missing or unreadable value gives the default, a failed write is ignored.
// Called on the GUI thread only.
#pragma once

#include <string>

class TSettingsAccess {
public:
    virtual ~TSettingsAccess() = default;
    virtual int ReadInt(const std::string& name, int def) = 0;
    virtual bool ReadBool(const std::string& name, bool def) = 0;
    virtual std::string ReadText(const std::string& name, const std::string& def) = 0;
    virtual void WriteInt(const std::string& name, int value) = 0;
    virtual void WriteBool(const std::string& name, bool value) = 0;
    virtual void WriteText(const std::string& name, const std::string& value) = 0;
};

// The name of a numbered value: the fixed text followed directly by n.
inline std::string NumberedName(const std::string& text, int n) { return text + std::to_string(n); }

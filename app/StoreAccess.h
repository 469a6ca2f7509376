// The settings store kept in memory. Qt-free.
#pragma once

#include "base/SettingsAccess.h"

#include <map>
#include <string>

// A store kept in memory, names matched without regard to case. Used when
// no store is wanted (screenshots) and by the tests.
class TMemoryStore : public TSettingsAccess {
public:
    struct Entry {
        enum Kind { Int, Bool, Text } kind = Int;
        int i = 0;
        std::string text;
    };

    int ReadInt(const std::string& name, int def) override;
    bool ReadBool(const std::string& name, bool def) override;
    std::string ReadText(const std::string& name, const std::string& def) override;
    void WriteInt(const std::string& name, int value) override;
    void WriteBool(const std::string& name, bool value) override;
    void WriteText(const std::string& name, const std::string& value) override;

    bool Has(const std::string& name) const;
    size_t Size() const { return mValues.size(); }
    int Writes() const { return mWrites; }
    const std::map<std::string, Entry>& Values() const { return mValues; }

private:
    static std::string Key(const std::string& name);
    std::map<std::string, Entry> mValues;  // keyed by the lower-case name
    int mWrites = 0;
};

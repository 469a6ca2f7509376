// Access to the settings store as the windows use it: one named value per
// call, read with the caller's current value as default, failures silent.
// Called on the GUI thread only.
#pragma once

#include <map>
#include <string>

class TStoreAccess {
public:
    virtual ~TStoreAccess() = default;
    virtual int ReadInt(const std::string& name, int def) = 0;
    virtual bool ReadBool(const std::string& name, bool def) = 0;
    virtual std::string ReadText(const std::string& name, const std::string& def) = 0;
    virtual void WriteInt(const std::string& name, int value) = 0;
    virtual void WriteBool(const std::string& name, bool value) = 0;
    virtual void WriteText(const std::string& name, const std::string& value) = 0;
};

// The name of a numbered value: the fixed text followed directly by n.
inline std::string NumberedName(const std::string& text, int n) { return text + std::to_string(n); }

// A store kept in memory, names matched without regard to case. Used when
// no store is wanted (screenshots) and by the tests.
class TMemoryStore : public TStoreAccess {
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

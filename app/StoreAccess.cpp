#include "app/StoreAccess.h"

#include <cctype>

std::string TMemoryStore::Key(const std::string& name)
{
    std::string k = name;
    for (char& c : k) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return k;
}

bool TMemoryStore::Has(const std::string& name) const { return mValues.count(Key(name)) != 0; }

int TMemoryStore::ReadInt(const std::string& name, int def)
{
    auto it = mValues.find(Key(name));
    if (it == mValues.end() || it->second.kind == Entry::Text) return def;
    return it->second.i;
}

bool TMemoryStore::ReadBool(const std::string& name, bool def)
{
    auto it = mValues.find(Key(name));
    if (it == mValues.end() || it->second.kind == Entry::Text) return def;
    return it->second.i != 0;
}

std::string TMemoryStore::ReadText(const std::string& name, const std::string& def)
{
    auto it = mValues.find(Key(name));
    if (it == mValues.end() || it->second.kind != Entry::Text) return def;
    return it->second.text;
}

void TMemoryStore::WriteInt(const std::string& name, int value)
{
    mValues[Key(name)] = Entry{Entry::Int, value, {}};
    ++mWrites;
}

void TMemoryStore::WriteBool(const std::string& name, bool value)
{
    mValues[Key(name)] = Entry{Entry::Bool, value ? 1 : 0, {}};
    ++mWrites;
}

void TMemoryStore::WriteText(const std::string& name, const std::string& value)
{
    mValues[Key(name)] = Entry{Entry::Text, 0, value};
    ++mWrites;
}

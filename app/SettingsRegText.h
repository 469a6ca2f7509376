// Registry text export format (REGEDIT5 / REGEDIT4): parsing and writing.
// Qt-free; used by the settings file back end. All texts are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Registry value types as stored in the platform's registry.
enum : uint32_t {
    kRegNone = 0,
    kRegSz = 1,
    kRegExpandSz = 2,
    kRegBinary = 3,
    kRegDword = 4,
};

// Raw stored data. For kRegSz/kRegExpandSz `bytes` holds UTF-8 text without a terminator
// (a text read from a file ends at its first NUL);
// for every other type the bytes as stored (kRegDword: 4 bytes, little-endian).
struct TRegData {
    uint32_t type = kRegNone;
    std::string bytes;

    bool operator==(const TRegData& o) const { return type == o.type && bytes == o.bytes; }
    bool operator!=(const TRegData& o) const { return !(*this == o); }
};

struct TRegValue {
    std::string name;  // spelling first written; "" is the key's default value ("@")
    TRegData data;
};

// One key: values in the order first written, looked up without regard to (ASCII) case.
class TRegKey {
public:
    explicit TRegKey(std::string path = {}) : mPath(std::move(path)) {}
    const std::string& Path() const { return mPath; }
    const std::vector<TRegValue>& Values() const { return mValues; }
    const TRegValue* Find(std::string_view name) const;
    // Replaces the data of an existing value (keeping its spelling) or appends a new one.
    void Set(std::string_view name, const TRegData& data);
    bool Remove(std::string_view name);

private:
    std::string mPath;
    std::vector<TRegValue> mValues;
    std::unordered_map<std::string, size_t> mIndex;  // folded name -> position
};

// A whole file: keys in file order, matched without regard to case.
class TRegDocument {
public:
    const std::vector<TRegKey>& Keys() const { return mKeys; }
    TRegKey* FindKey(std::string_view path);
    const TRegKey* FindKey(std::string_view path) const;
    // The existing key when present. The reference lasts until the next AddKey/RemoveKey.
    TRegKey& AddKey(std::string_view path);
    void RemoveKey(std::string_view path);

private:
    std::vector<TRegKey> mKeys;
};

// ASCII case folding, the rule for value names and key paths.
std::string FoldName(std::string_view s);
bool SameName(std::string_view a, std::string_view b);

// What a scan of a file learnt beyond its values.
struct TRegScanInfo {
    bool utf8 = true;            // false when the file came as UTF-16 and was converted
    bool endsWithNewline = true; // empty text counts as ending with one
    size_t valueLines = 0;       // value lines, duplicates included
    std::string lastKey;         // path of the last key section ("" when none)
    std::string error;           // why the text is not a registry file; empty when it is
};

// Called for every value line, in file order. `key` is the section's full path as written
// (e.g. "HKEY_CURRENT_USER\Verholt-Products\Tarvolin"); a `deleted` line ("name"=-) has no data.
using TRegVisitor = std::function<void(std::string_view key, std::string_view name, const TRegData& data,
                                       bool deleted)>;
using TRegKeyVisitor = std::function<void(std::string_view key, bool deleted)>;

// Scans registry text. Returns false (with info.error set) when any line cannot be parsed;
// the visitors may already have been called for earlier lines then.
bool ScanRegText(std::string_view text, TRegScanInfo& info, const TRegVisitor& onValue,
                 const TRegKeyVisitor& onKey = {});

// Parses into a document; later lines replace earlier values of the same name.
bool ParseRegText(std::string_view text, TRegDocument& doc, TRegScanInfo& info);

// Writes a whole file in REGEDIT5 form (UTF-8, LF line ends).
std::string FormatRegText(const TRegDocument& doc);
// One value line including its line end; false when the name holds a line break, or text
// with a line break (written as UTF-16 hex) is not valid UTF-8.
bool FormatRegValueLine(std::string_view name, const TRegData& data, std::string& line);
// "[PATH]\n"
std::string FormatRegKeyLine(std::string_view path);

extern const char* const kRegHeader;  // "Windows Registry Editor Version 5.00"

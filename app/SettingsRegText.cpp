#include "app/SettingsRegText.h"

#include <algorithm>
#include <cstdio>

const char* const kRegHeader = "Windows Registry Editor Version 5.00";

namespace {

char foldChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s)
{
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && (isBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

void appendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// UTF-16LE bytes (odd trailing byte ignored) to UTF-8; stops at a NUL unit when stopAtNul.
// False on an unpaired surrogate.
bool utf16leToUtf8(std::string_view in, std::string& out, bool stopAtNul)
{
    out.clear();
    const size_t units = in.size() / 2;
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = static_cast<uint8_t>(in[2 * i]) | (static_cast<uint8_t>(in[2 * i + 1]) << 8);
        if (u == 0 && stopAtNul) break;
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 >= units) return false;
            const uint32_t lo = static_cast<uint8_t>(in[2 * i + 2]) | (static_cast<uint8_t>(in[2 * i + 3]) << 8);
            if (lo < 0xDC00 || lo > 0xDFFF) return false;
            u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
            ++i;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return false;
        }
        appendUtf8(out, u);
    }
    return true;
}

// UTF-8 to UTF-16LE with a terminating NUL unit; false on malformed UTF-8.
bool utf8ToUtf16le(std::string_view in, std::string& out)
{
    out.clear();
    auto unit = [&out](uint32_t u) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    };
    for (size_t i = 0; i < in.size();) {
        const uint8_t c = static_cast<uint8_t>(in[i]);
        uint32_t cp;
        size_t len;
        if (c < 0x80) { cp = c; len = 1; }
        else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; len = 2; }
        else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; len = 3; }
        else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; len = 4; }
        else return false;
        if (i + len > in.size()) return false;
        for (size_t k = 1; k < len; ++k) {
            const uint8_t cc = static_cast<uint8_t>(in[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        static const uint32_t minCp[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < minCp[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            unit(0xD800 + (cp >> 10));
            unit(0xDC00 + (cp & 0x3FF));
        } else {
            unit(cp);
        }
        i += len;
    }
    unit(0);
    return true;
}

// A quoted string starting at s[pos] == '"'; `\\` and `\"` are escapes, any other `\c` is c.
// Leaves pos after the closing quote.
bool parseQuoted(std::string_view s, size_t& pos, std::string& out)
{
    out.clear();
    ++pos;
    // Most texts have no escapes: take them in one piece.
    size_t stop = pos;
    while (stop < s.size() && s[stop] != '"' && s[stop] != '\\') ++stop;
    if (stop < s.size() && s[stop] == '"') {
        out.assign(s.data() + pos, stop - pos);
        pos = stop + 1;
        return true;
    }
    while (pos < s.size()) {
        const char c = s[pos++];
        if (c == '"') return true;
        if (c == '\\') {
            if (pos >= s.size()) return false;
            out += s[pos++];
        } else {
            out += c;
        }
    }
    return false;
}

void appendQuoted(std::string& out, std::string_view s)
{
    out += '"';
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
}

// Only line breaks cannot stand inside a quoted text of one line.
bool hasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// Comma-separated hex bytes, blanks allowed around them; an empty list is valid.
bool parseHexBytes(std::string_view s, std::string& out)
{
    out.clear();
    s = trim(s);
    if (s.empty()) return true;
    size_t pos = 0;
    for (;;) {
        while (pos < s.size() && isBlank(s[pos])) ++pos;
        if (pos + 2 > s.size()) return false;
        const int hi = hexDigit(s[pos]), lo = hexDigit(s[pos + 1]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
        pos += 2;
        while (pos < s.size() && isBlank(s[pos])) ++pos;
        if (pos == s.size()) return true;
        if (s[pos] != ',') return false;
        ++pos;
    }
}

// Parses the data part of a value line (after '=').
bool parseData(std::string_view d, TRegData& data, bool& deleted, std::string& error)
{
    deleted = false;
    d = trim(d);
    if (d == "-") {
        deleted = true;
        return true;
    }
    if (!d.empty() && d.front() == '"') {
        size_t pos = 0;
        std::string text;
        if (!parseQuoted(d, pos, text) || !trim(d.substr(pos)).empty()) {
            error = "unterminated or trailing text after a string";
            return false;
        }
        // A text ends at its first NUL, as in the hex(1) form a rewrite may give it.
        text.resize(std::min(text.find('\0'), text.size()));
        data.type = kRegSz;
        data.bytes = std::move(text);
        return true;
    }
    auto startsWithNoCase = [&d](std::string_view p) {
        if (d.size() < p.size()) return false;
        for (size_t i = 0; i < p.size(); ++i)
            if (foldChar(d[i]) != p[i]) return false;
        return true;
    };
    if (startsWithNoCase("dword:")) {
        const std::string_view h = trim(d.substr(6));
        if (h.empty() || h.size() > 8) {
            error = "dword needs 1 to 8 hex digits";
            return false;
        }
        uint32_t v = 0;
        for (char c : h) {
            const int x = hexDigit(c);
            if (x < 0) {
                error = "bad hex digit in dword";
                return false;
            }
            v = v * 16 + static_cast<uint32_t>(x);
        }
        data.type = kRegDword;
        data.bytes.assign(4, '\0');
        for (int i = 0; i < 4; ++i) data.bytes[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
        return true;
    }
    if (startsWithNoCase("hex")) {
        std::string_view rest = d.substr(3);
        uint32_t type = kRegBinary;
        if (!rest.empty() && rest.front() == '(') {
            const size_t close = rest.find(')');
            if (close == std::string_view::npos || close == 1 || close > 9) {
                error = "bad hex(type)";
                return false;
            }
            type = 0;
            for (size_t i = 1; i < close; ++i) {
                const int x = hexDigit(rest[i]);
                if (x < 0) {
                    error = "bad hex(type)";
                    return false;
                }
                type = type * 16 + static_cast<uint32_t>(x);
            }
            rest.remove_prefix(close + 1);
        }
        if (rest.empty() || rest.front() != ':') {
            error = "expected ':' after hex";
            return false;
        }
        std::string bytes;
        if (!parseHexBytes(rest.substr(1), bytes)) {
            error = "bad hex byte list";
            return false;
        }
        if (type == kRegSz || type == kRegExpandSz) {
            std::string text;
            if (!utf16leToUtf8(bytes, text, true)) {
                error = "bad UTF-16 text in hex string";
                return false;
            }
            bytes = std::move(text);
        }
        data.type = type;
        data.bytes = std::move(bytes);
        return true;
    }
    error = "unknown value data";
    return false;
}

}  // namespace

std::string FoldName(std::string_view s)
{
    std::string r(s);
    for (char& c : r) c = foldChar(c);
    return r;
}

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (foldChar(a[i]) != foldChar(b[i])) return false;
    return true;
}

const TRegValue* TRegKey::Find(std::string_view name) const
{
    auto it = mIndex.find(FoldName(name));
    return it == mIndex.end() ? nullptr : &mValues[it->second];
}

void TRegKey::Set(std::string_view name, const TRegData& data)
{
    auto [it, added] = mIndex.emplace(FoldName(name), mValues.size());
    if (added) mValues.push_back({std::string(name), data});
    else mValues[it->second].data = data;
}

bool TRegKey::Remove(std::string_view name)
{
    auto it = mIndex.find(FoldName(name));
    if (it == mIndex.end()) return false;
    const size_t at = it->second;
    mIndex.erase(it);
    mValues.erase(mValues.begin() + static_cast<std::ptrdiff_t>(at));
    for (auto& kv : mIndex)
        if (kv.second > at) --kv.second;
    return true;
}

TRegKey* TRegDocument::FindKey(std::string_view path)
{
    for (auto& k : mKeys)
        if (SameName(k.Path(), path)) return &k;
    return nullptr;
}

const TRegKey* TRegDocument::FindKey(std::string_view path) const
{
    for (const auto& k : mKeys)
        if (SameName(k.Path(), path)) return &k;
    return nullptr;
}

TRegKey& TRegDocument::AddKey(std::string_view path)
{
    if (TRegKey* k = FindKey(path)) return *k;
    mKeys.emplace_back(std::string(path));
    return mKeys.back();
}

void TRegDocument::RemoveKey(std::string_view path)
{
    for (auto it = mKeys.begin(); it != mKeys.end(); ++it)
        if (SameName(it->Path(), path)) {
            mKeys.erase(it);
            return;
        }
}

bool ScanRegText(std::string_view text, TRegScanInfo& info, const TRegVisitor& onValue,
                 const TRegKeyVisitor& onKey)
{
    info = TRegScanInfo{};
    std::string converted;
    if (text.size() >= 2 && static_cast<uint8_t>(text[0]) == 0xFF && static_cast<uint8_t>(text[1]) == 0xFE) {
        if (!utf16leToUtf8(text.substr(2), converted, false)) {
            info.error = "bad UTF-16 text";
            return false;
        }
        text = converted;
        info.utf8 = false;
    } else if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    info.endsWithNewline = text.empty() || text.back() == '\n';

    bool sawHeader = false;
    bool inKey = false, keyDeleted = false;
    std::string key;
    std::string logical;
    size_t pos = 0, lineNo = 0;
    std::string name;
    TRegData data;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::string_view t = trim(line);
        if (t.empty() || t.front() == ';') continue;
        auto fail = [&](const std::string& why) {
            info.error = "line " + std::to_string(lineNo) + ": " + why;
            return false;
        };
        if (!sawHeader) {
            if (t != kRegHeader && t != "REGEDIT4") return fail("not a registry file");
            sawHeader = true;
            continue;
        }
        if (t.front() == '[') {
            if (t.back() != ']' || t.size() < 3) return fail("bad key line");
            std::string_view p = t.substr(1, t.size() - 2);
            keyDeleted = !p.empty() && p.front() == '-';
            if (keyDeleted) p.remove_prefix(1);
            if (p.empty()) return fail("empty key path");
            key.assign(p);
            inKey = true;
            info.lastKey = key;
            if (onKey) onKey(key, keyDeleted);
            continue;
        }
        // A value line; a trailing backslash continues it on the next line.
        std::string_view full = line;
        if (!t.empty() && t.back() == '\\') {
            logical.assign(trim(t.substr(0, t.size() - 1)));
            for (;;) {
                if (pos >= text.size()) return fail("continued line at end of file");
                size_t e = text.find('\n', pos);
                if (e == std::string_view::npos) e = text.size();
                std::string_view next = trim(text.substr(pos, e - pos));
                pos = e + 1;
                ++lineNo;
                const bool more = !next.empty() && next.back() == '\\';
                if (more) next = trim(next.substr(0, next.size() - 1));
                logical.append(next);
                if (!more) break;
            }
            full = logical;
        }
        if (!inKey) return fail("value before any key");
        std::string_view v = trim(full);
        size_t at = 0;
        if (v.front() == '@') {
            name.clear();
            at = 1;
        } else if (v.front() == '"') {
            if (!parseQuoted(v, at, name)) return fail("unterminated value name");
        } else {
            return fail("expected a value name");
        }
        while (at < v.size() && isBlank(v[at])) ++at;
        if (at >= v.size() || v[at] != '=') return fail("expected '='");
        bool deleted = false;
        std::string why;
        if (!parseData(v.substr(at + 1), data, deleted, why)) return fail(why);
        ++info.valueLines;
        if (!keyDeleted && onValue) onValue(key, name, data, deleted);
    }
    if (!sawHeader && !text.empty()) {
        // Only blank lines or comments: nothing stored, but not a registry file either.
        info.error = "no registry header";
        return false;
    }
    return true;
}

bool ParseRegText(std::string_view text, TRegDocument& doc, TRegScanInfo& info)
{
    doc = TRegDocument{};
    return ScanRegText(
        text, info,
        [&doc](std::string_view key, std::string_view name, const TRegData& data, bool deleted) {
            TRegKey& k = doc.AddKey(key);
            if (deleted) k.Remove(name);
            else k.Set(name, data);
        },
        [&doc](std::string_view key, bool deleted) {
            if (deleted) doc.RemoveKey(key);
            else doc.AddKey(key);
        });
}

std::string FormatRegKeyLine(std::string_view path)
{
    std::string s;
    s.reserve(path.size() + 3);
    s += '[';
    s += path;
    s += "]\n";
    return s;
}

bool FormatRegValueLine(std::string_view name, const TRegData& data, std::string& line)
{
    line.clear();
    if (hasLineBreak(name)) return false;
    if (name.empty()) line += '@';
    else appendQuoted(line, name);
    line += '=';
    static const char* digits = "0123456789abcdef";
    auto hexList = [&line](std::string_view bytes) {
        for (size_t i = 0; i < bytes.size(); ++i) {
            if (i) line += ',';
            const uint8_t b = static_cast<uint8_t>(bytes[i]);
            line += digits[b >> 4];
            line += digits[b & 15];
        }
    };
    if (data.type == kRegDword && data.bytes.size() == 4) {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(data.bytes[i]);
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(v));
        line += buf;
    } else if (data.type == kRegSz && !hasLineBreak(data.bytes)) {
        appendQuoted(line, data.bytes);
    } else if (data.type == kRegSz || data.type == kRegExpandSz) {
        // Text the quoted form cannot hold, and expandable text: UTF-16LE as regedit writes it.
        std::string wide;
        if (!utf8ToUtf16le(data.bytes, wide)) return false;
        line += data.type == kRegSz ? "hex(1):" : "hex(2):";
        hexList(wide);
    } else if (data.type == kRegBinary) {
        line += "hex:";
        hexList(data.bytes);
    } else {
        char buf[24];
        std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(data.type));
        line += buf;
        hexList(data.bytes);
    }
    line += '\n';
    return true;
}

std::string FormatRegText(const TRegDocument& doc)
{
    std::string out = std::string(kRegHeader) + "\n";
    std::string line;
    for (const TRegKey& k : doc.Keys()) {
        out += '\n';
        out += FormatRegKeyLine(k.Path());
        for (const TRegValue& v : k.Values())
            if (FormatRegValueLine(v.name, v.data, line)) out += line;
    }
    return out;
}

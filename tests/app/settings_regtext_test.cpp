// Registry text format: what is accepted, what is refused, and that it never crashes.
#include "app/SettingsRegText.h"

#include <gtest/gtest.h>

#include <random>

namespace {

bool parse(const std::string& text, TRegDocument& doc, std::string* error = nullptr)
{
    TRegScanInfo info;
    const bool ok = ParseRegText(text, doc, info);
    if (error) *error = info.error;
    return ok;
}

const char* const kKey = "HKEY_CURRENT_USER\\Verholt-Products\\Tarvolin";

TEST(RegText, AcceptsWhatRegeditWrites)
{
    TRegDocument doc;
    ASSERT_TRUE(parse("REGEDIT4\n; a comment\n\n[" + std::string(kKey) + "]\n"
                      "@=\"default\"\n"
                      "\"a\" = dword:FFFFFFFF\n"
                      "\"bin\"=hex:01,02,\\\n   03\n"
                      "\"empty\"=hex:\n"
                      "\"x\"=\"gone\"\n\"x\"=-\n"
                      "[-HKEY_CURRENT_USER\\Old]\n\"ignored\"=dword:1\n",
                      doc));
    const TRegKey* k = doc.FindKey("hkey_current_user\\verholt-products\\tarvolin");
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->Find("")->data, (TRegData{kRegSz, "default"}));
    EXPECT_EQ(k->Find("A")->data, (TRegData{kRegDword, "\xFF\xFF\xFF\xFF"}));
    EXPECT_EQ(k->Find("bin")->data, (TRegData{kRegBinary, "\x01\x02\x03"}));
    EXPECT_EQ(k->Find("empty")->data, (TRegData{kRegBinary, ""}));
    EXPECT_EQ(k->Find("x"), nullptr);
    EXPECT_EQ(doc.FindKey("HKEY_CURRENT_USER\\Old"), nullptr);
}

TEST(RegText, RefusesWhatItCannotReadWithTheLine)
{
    const std::pair<const char*, const char*> bad[] = {
        {"hello\n", "line 1"},
        {"REGEDIT4\n\"a\"=dword:1\n", "before any key"},
        {"REGEDIT4\n[k]\n\"a\"=dword:123456789\n", "line 3"},
        {"REGEDIT4\n[k]\n\"a\"=dword:\n", "dword"},
        {"REGEDIT4\n[k]\n\"a\"=hex:1,02\n", "hex"},
        {"REGEDIT4\n[k]\n\"a\"=hex(zz):01\n", "hex(type)"},
        {"REGEDIT4\n[k]\n\"a\"=\"open\n", "string"},
        {"REGEDIT4\n[k]\n\"a\"=\"x\" tail\n", "string"},
        {"REGEDIT4\n[k]\na=1\n", "value name"},
        {"REGEDIT4\n[k]\n\"a\"=hex:01,\\\n", "end of file"},
        {"REGEDIT4\n[k\n", "key line"},
        {"; only a comment\n", "header"},
    };
    for (const auto& [text, why] : bad) {
        TRegDocument doc;
        std::string error;
        EXPECT_FALSE(parse(text, doc, &error)) << text;
        EXPECT_NE(error.find(why), std::string::npos) << text << " -> " << error;
    }
    TRegDocument doc;
    EXPECT_TRUE(parse("", doc)) << "an empty file holds nothing";
}

TEST(RegText, FormatThenParseGivesTheSameValues)
{
    TRegDocument doc;
    doc.AddKey("HKEY_CURRENT_USER\\Other").Set("n", {kRegDword, std::string(4, '\0')});
    TRegKey& k = doc.AddKey(kKey);
    k.Set("Window Left", {kRegDword, std::string("\x08\0\0\0", 4)});
    k.Set("quote\"and\\slash", {kRegSz, "C:\\a \"b\""});
    k.Set("lines", {kRegSz, "a\r\nb\t€"});
    k.Set("expand", {kRegExpandSz, "%HOME%"});
    k.Set("qword", {0xb, std::string("\x01\0\0\0\0\0\0\0", 8)});
    k.Set("", {kRegBinary, std::string(40, '\x7f')});

    const std::string text = FormatRegText(doc);
    TRegDocument back;
    ASSERT_TRUE(parse(text, back)) << text;
    ASSERT_EQ(back.Keys().size(), 2u);
    for (const TRegValue& v : k.Values()) {
        const TRegValue* b = back.FindKey(kKey)->Find(v.name);
        ASSERT_NE(b, nullptr) << v.name;
        EXPECT_EQ(b->name, v.name);
        EXPECT_EQ(b->data, v.data) << v.name;
    }
    std::string line;
    EXPECT_FALSE(FormatRegValueLine("bad\nname", {kRegDword, std::string(4, '\0')}, line));
    EXPECT_FALSE(FormatRegValueLine("n", {kRegSz, "bad utf-8 \xC3 and a\nline"}, line));
}

TEST(RegText, RandomDamageNeverCrashes)
{
    TRegDocument doc;
    TRegKey& k = doc.AddKey(kKey);
    for (int i = 0; i < 20; ++i) k.Set("v" + std::to_string(i), {static_cast<uint32_t>(i % 5), std::string(i, 'a' + i)});
    const std::string good = FormatRegText(doc);
    std::mt19937 rng(1);
    const char alphabet[] = "\"\\[]=@-:,(\n\r hexdword01fF\xFF\xFE";
    for (int round = 0; round < 3000; ++round) {
        std::string t = good;
        const int edits = 1 + static_cast<int>(rng() % 6);
        for (int e = 0; e < edits; ++e) {
            const size_t at = rng() % (t.size() + 1);
            switch (rng() % 3) {
            case 0: t.insert(at, 1, alphabet[rng() % (sizeof alphabet - 1)]); break;
            case 1: if (at < t.size()) t.erase(at, 1 + rng() % 8); break;
            default: t = t.substr(0, at); break;
            }
        }
        TRegDocument d;
        TRegScanInfo info;
        if (ParseRegText(t, d, info)) {
            TRegDocument again;  // whatever was accepted is written back readably
            EXPECT_TRUE(parse(FormatRegText(d), again)) << t;
        } else {
            EXPECT_FALSE(info.error.empty());
        }
    }
}

}  // namespace

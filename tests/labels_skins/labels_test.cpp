#include "labels_skins/Labels.h"

#include <gtest/gtest.h>

#include <map>

TEST(Labels, FirstOpeningShowsNumbersLaterOpeningsTheStoredTexts)
{
    std::map<std::string, std::string> store;
    auto read = [&](const std::string& n, const std::string& d) {
        auto it = store.find(n);
        return it == store.end() ? d : it->second;
    };
    auto write = [&](const std::string& n, const std::string& v) { store[n] = v; };

    TLabelTexts blank;  // edits cleared: strip 1 still defaults to "1"
    TLabelTexts t = ReadLabelTexts(read, blank);
    EXPECT_EQ(t[0], "1");
    EXPECT_EQ(t[1], "");

    t = ReadLabelTexts(read, DesignLabelTexts());
    for (int n = 1; n <= LabelCount; ++n) EXPECT_EQ(t[n - 1], std::to_string(n));
    t[4] = "VOX L";  // five letters: stored as given, shown as three
    t[5] = "";
    WriteLabelTexts(write, t);
    EXPECT_EQ(store.size(), 24u);
    EXPECT_EQ(store["Edit 5"], "VOX L");
    EXPECT_EQ(store["Edit 6"], "");
    EXPECT_EQ(LabelValueName(12), "Edit 12");

    const TLabelTexts again = ReadLabelTexts(read, DesignLabelTexts());
    EXPECT_EQ(again[4], "VOX");
    EXPECT_EQ(again[5], "");
}

TEST(Labels, StripTextKeepsThreeWholeCharactersOfAnyStoredText)
{
    EXPECT_EQ(StripLabelText("Studio"), "Stu");
    EXPECT_EQ(StripLabelText("L"), "L");
    EXPECT_EQ(StripLabelText(""), "");
    EXPECT_EQ(StripLabelText("\xC3\x84\xC3\x96\xC3\x9C\xC3\x9F"), "\xC3\x84\xC3\x96\xC3\x9C");  // umlauts: bytes != letters
    EXPECT_EQ(StripLabelText("ab\xE2\x82\xAC!"), "ab\xE2\x82\xAC");                  // a 3-byte letter last
    // Broken UTF-8 and control bytes are cut by the same rule, never mid-letter.
    EXPECT_EQ(StripLabelText("\x80\x80\x80xyz"), "\x80\x80\x80");  // stray continuation bytes
    EXPECT_EQ(StripLabelText("\xC3" "ab!"), "\xC3" "ab");         // a lead byte without its follower
    EXPECT_EQ(StripLabelText(std::string("a\0b\tc\n", 7)), std::string("a\0b", 3));
    EXPECT_EQ(StripLabelText(std::string(100000, 'W')), "WWW");
}

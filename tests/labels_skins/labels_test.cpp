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
    t[4] = "VOX L";  // five letters, kept whole
    t[5] = "";
    WriteLabelTexts(write, t);
    EXPECT_EQ(store.size(), 24u);
    EXPECT_EQ(store["Edit 5"], "VOX L");
    EXPECT_EQ(store["Edit 6"], "");
    EXPECT_EQ(LabelValueName(12), "Edit 12");

    const TLabelTexts again = ReadLabelTexts(read, DesignLabelTexts());
    EXPECT_EQ(again[4], "VOX L");
    EXPECT_EQ(again[5], "");
}

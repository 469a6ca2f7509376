// Replays the fuzzer's seed corpus (fuzz/corpus/settings) through the fuzz target.
#include "fuzz/FuzzCorpus.h"
#include "fuzz/SettingsFuzzTarget.h"

#include <gtest/gtest.h>

TEST(SettingsCorpus, EverySeedRunsCleanly)
{
    const int seeds = ForEachFuzzSeed("settings", [](const std::uint8_t* p, std::size_t n, const std::string& name) {
        SCOPED_TRACE(name);
        FuzzSettingsOnce(p, n);
    });
    EXPECT_GE(seeds, 10);
}

// Replays the fuzzer's seed corpus (fuzz/corpus/alarm_file) through the fuzz target.
#include "fuzz/AlarmFileFuzzTarget.h"
#include "fuzz/FuzzCorpus.h"

#include <gtest/gtest.h>

TEST(AlarmFileCorpus, EverySeedRunsCleanly)
{
    const int seeds = ForEachFuzzSeed("alarm_file", [](const std::uint8_t* p, std::size_t n, const std::string& name) {
        SCOPED_TRACE(name);
        FuzzAlarmFileOnce(p, n);
    });
    EXPECT_GE(seeds, 10);
}

// Replays the fuzzer's seed corpus (fuzz/corpus/rtp) through the fuzz target.
#include "fuzz/FuzzCorpus.h"
#include "fuzz/RtpFuzzTarget.h"

#include <gtest/gtest.h>

TEST(RtpCorpus, EverySeedRunsCleanly)
{
    const int seeds = ForEachFuzzSeed("rtp", [&](const std::uint8_t* p, std::size_t n, const std::string& name) {
        SCOPED_TRACE(name);
        FuzzRtpOnce(p, n);
    });
    EXPECT_GE(seeds, 7);
}

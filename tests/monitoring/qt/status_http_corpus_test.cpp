// Replays the fuzzer's seed corpus (fuzz/corpus/status_http) through the fuzz
// target: each seed as a request to a status server on 127.0.0.1.
#include "fuzz/FuzzCorpus.h"
#include "fuzz/StatusHttpFuzzTarget.h"

#include <gtest/gtest.h>

TEST(StatusHttpCorpus, EverySeedRunsCleanly)
{
    const int seeds = ForEachFuzzSeed("status_http", [](const std::uint8_t* p, std::size_t n, const std::string& name) {
        SCOPED_TRACE(name);
        FuzzStatusHttpOnce(p, n);
    });
    EXPECT_GE(seeds, 10);
}

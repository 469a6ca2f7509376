// Replays the fuzzer's seed corpus (fuzz/corpus/sap_sdp) through the fuzz target.
#include "fuzz/FuzzCorpus.h"
#include "fuzz/SapSdpFuzzTarget.h"

#include <gtest/gtest.h>

TEST(SapSdpCorpus, EverySeedRunsCleanly)
{
    int receivable = 0;
    const int seeds = ForEachFuzzSeed("sap_sdp", [&](const std::uint8_t* p, std::size_t n, const std::string& name) {
        SCOPED_TRACE(name);
        FuzzSapSdpOnce(p, n);
        TSapDirectory dir;
        receivable += dir.Heard(p, n, 0) == TSapDirectory::TChange::Added;
    });
    EXPECT_GE(seeds, 12);
    EXPECT_GE(receivable, 8);  // the seeds reach past the refusals
}

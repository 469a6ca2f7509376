// Replays the fuzzer's seed corpus (fuzz/corpus/skin) through the fuzz target.
#include "fuzz/SkinFuzzTarget.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

TEST(SkinCorpus, EverySeedRunsCleanly)
{
    const std::filesystem::path dir = std::filesystem::path(TARVOLIN_SOURCE_DIR) / "fuzz" / "corpus" / "skin";
    int seeds = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(e.path(), std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        FuzzSkinOnce(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        ++seeds;
    }
    EXPECT_GE(seeds, 20);
}

// Replays the fuzzer's seed corpus (fuzz/corpus/wave) through the fuzz
// target, so the normal suite exercises every seed.
#include "fuzz/WaveFuzzTarget.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

TEST(WaveCorpus, EverySeedRunsClean)
{
    const std::filesystem::path dir = std::filesystem::path(TARVOLIN_SOURCE_DIR) / "fuzz" / "corpus" / "wave";
    ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        if (!e.is_regular_file()) continue;
        std::ifstream in(e.path(), std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(e.path().filename().string());
        FuzzWaveOnce(bytes.data(), bytes.size());
        ++n;
    }
    EXPECT_GE(n, 10);
}

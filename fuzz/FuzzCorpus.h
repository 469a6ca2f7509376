// The seeds of fuzz/corpus/NAME for the tests that replay them: calls
// f(bytes, size) for every file and returns how many there were.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

template <typename F>
int ForEachFuzzSeed(const std::string& name, F f)
{
    const std::filesystem::path dir = std::filesystem::path(TARVOLIN_SOURCE_DIR) / "fuzz" / "corpus" / name;
    int seeds = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        if (!e.is_regular_file()) continue;
        std::ifstream in(e.path(), std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        f(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), e.path().filename().string());
        ++seeds;
    }
    return seeds;
}

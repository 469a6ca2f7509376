// One fuzz input through the skin parser and, when it parses, the style
// sheet writer; shared by the fuzzer and the corpus replay test.
#pragma once

#include "labels_skins/SkinFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

inline void FuzzSkinOnce(const std::uint8_t* data, std::size_t size)
{
    const TSkinParseResult r = ParseSkinText(std::string(reinterpret_cast<const char*>(data), size));
    if (!r.ok) {
        if (r.error.empty()) std::abort();  // a failure always says why
        return;
    }
    const std::string sheet = SkinStyleSheet(r.model, "skinned");
    // Values are single declarations: braces stay balanced.
    long depth = 0;
    for (char c : sheet) {
        if (c == '{') ++depth;
        if (c == '}' && --depth < 0) std::abort();
        if (depth > 1) std::abort();
    }
    if (depth != 0) std::abort();
}

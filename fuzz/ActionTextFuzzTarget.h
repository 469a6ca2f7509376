// One fuzz input through the actions' text handling: the command-line split
// (a setting written by hand) and the JSON string of a label; shared by the
// fuzzer and the corpus replay test.
#pragma once

#include "monitoring/MMActions.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

inline void FuzzActionTextOnce(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const std::vector<std::string> argv = SplitCommandLine(text, &error);
    if (argv.empty() && error.empty() && text.find_first_not_of(" \t\r\n") != std::string::npos) std::abort();
    if (!argv.empty() && !error.empty()) std::abort();
    size_t total = 0;
    for (const std::string& a : argv) total += a.size();
    if (total > text.size()) std::abort();  // words only lose quotes and escapes

    // A JSON string: quoted, no raw control character, no lone backslash.
    const std::string json = JsonString(text);
    if (json.size() < 2 || json.front() != '"' || json.back() != '"') std::abort();
    for (size_t i = 1; i + 1 < json.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(json[i]);
        if (c < 0x20) std::abort();
        if (c == '"') std::abort();
        if (c == '\\') {
            const char n = json[++i];
            if (n != '"' && n != '\\' && n != 'u') std::abort();
        }
    }
}

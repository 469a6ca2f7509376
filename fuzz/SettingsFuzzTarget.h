// One fuzz input as the per-user settings file: the scan the store reads a
// value with, the parse into a document, and the whole-file rewrite of that
// document, which must read back to the same keys and values. Shared by the
// fuzzer and the corpus replay test.
#pragma once

#include "app/SettingsRegText.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

inline void FuzzSettingsOnce(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TRegScanInfo scan;
    std::size_t visits = 0;
    const bool scanned =
        ScanRegText(text, scan, [&](std::string_view, std::string_view, const TRegData&, bool) { ++visits; });
    if (scanned == !scan.error.empty()) std::abort();  // a failure always says why, a success never
    if (scanned && visits > scan.valueLines) std::abort();

    TRegDocument doc;
    TRegScanInfo parse;
    if (ParseRegText(text, doc, parse) != scanned) std::abort();
    if (!scanned) return;

    // The rewrite: UTF-8 with the header, every key kept, every value that has
    // a text form kept with its data.
    const std::string whole = FormatRegText(doc);
    TRegDocument back;
    TRegScanInfo again;
    if (!ParseRegText(whole, back, again) || !again.utf8 || !again.endsWithNewline) std::abort();
    if (back.Keys().size() != doc.Keys().size()) std::abort();
    std::string line;
    for (const TRegKey& k : doc.Keys()) {
        const TRegKey* b = back.FindKey(k.Path());
        if (!b || b->Path() != k.Path()) std::abort();
        std::size_t kept = 0;
        for (const TRegValue& v : k.Values()) {
            const TRegValue* r = b->Find(v.name);
            if (!FormatRegValueLine(v.name, v.data, line)) {
                if (r) std::abort();
                continue;
            }
            ++kept;
            if (!r || r->name != v.name || r->data != v.data) std::abort();
        }
        if (b->Values().size() != kept) std::abort();
    }
    if (FormatRegText(back) != whole) std::abort();  // a second rewrite changes nothing
}

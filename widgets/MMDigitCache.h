// Process-wide cache of recoloured seven-segment strips, shared by all LED
// digits and counted by reference. No Qt; GUI thread only (no lock).
#pragma once

#include "widgets/MMLEDGlyphs.h"

#include <cstdint>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

struct TMMDigitKey {
    bool Special = false;  // the 4-glyph strip (off, point, colon, minus)
    TMMLEDSize Size = ls13x21;
    TMMLEDColors Colors;

    bool operator<(const TMMDigitKey& o) const
    {
        return std::make_tuple(Special, int(Size), Colors.Background, Colors.Unlit, Colors.Lit,
                               Colors.DrawInactive) <
               std::make_tuple(o.Special, int(o.Size), o.Colors.Background, o.Colors.Unlit,
                               o.Colors.Lit, o.Colors.DrawInactive);
    }
};

// A recoloured strip: GlyphCount glyphs of GlyphWidth x Height side by side,
// opaque 0xAARRGGBB pixels.
struct TMMDigitStrip {
    int Width = 0;
    int Height = 0;
    int GlyphWidth = 0;
    int GlyphCount = 0;
    std::vector<uint32_t> Pixels;
};

class TMMDigitCache {
public:
    // The cache, created with its first use.
    static TMMDigitCache& Instance();

    // The strip for key, counted once more; null when the glyph resource is
    // missing (nothing is counted then).
    const TMMDigitStrip* Acquire(const TMMDigitKey& key);
    // Gives a strip back; it is freed with its last holder. Null is ignored.
    void Release(const TMMDigitStrip* strip);

    size_t Count() const { return mEntries.size(); }
    int RefCount(const TMMDigitKey& key) const;

private:
    struct Entry {
        std::unique_ptr<TMMDigitStrip> Strip;
        int Refs = 0;
    };
    std::map<TMMDigitKey, Entry> mEntries;
};

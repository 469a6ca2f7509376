#include "widgets/MMDigitCache.h"

TMMDigitCache& TMMDigitCache::Instance()
{
    static TMMDigitCache cache;
    return cache;
}

const TMMDigitStrip* TMMDigitCache::Acquire(const TMMDigitKey& key)
{
    auto it = mEntries.find(key);
    if (it == mEntries.end()) {
        const TMMLEDResource bitmap = LoadLEDResource(LEDDigitResourceName(key.Size, key.Special));
        const int glyphs = key.Special ? 4 : 11;
        if (!bitmap || bitmap->Width < glyphs || bitmap->Height <= 0) return nullptr;
        auto strip = std::make_unique<TMMDigitStrip>();
        strip->Width = bitmap->Width;
        strip->Height = bitmap->Height;
        strip->GlyphCount = glyphs;
        strip->GlyphWidth = bitmap->Width / glyphs;
        strip->Pixels = RecolorGlyphs(*bitmap, key.Colors);
        it = mEntries.emplace(key, Entry{std::move(strip), 0}).first;
    }
    ++it->second.Refs;
    return it->second.Strip.get();
}

void TMMDigitCache::Release(const TMMDigitStrip* strip)
{
    if (!strip) return;
    for (auto it = mEntries.begin(); it != mEntries.end(); ++it)
        if (it->second.Strip.get() == strip) {
            if (--it->second.Refs <= 0) mEntries.erase(it);
            return;
        }
}

int TMMDigitCache::RefCount(const TMMDigitKey& key) const
{
    auto it = mEntries.find(key);
    return it == mEntries.end() ? 0 : it->second.Refs;
}

// Artwork of the dot-matrix fonts: one 5 x 7 dot pattern per character.
#pragma once

#include <cstddef>

// Rows top to bottom; '#' is a lit dot, any other character an unlit dot.
// Rows shorter than 5 are padded with unlit dots. The fifth column is left
// unlit by most glyphs: neighbouring cells then keep one dark column between
// characters.
struct TMMDotGlyphArt {
    int Code;  // character code 32 .. 157
    const char* Rows[7];
};

extern const TMMDotGlyphArt LEDFontArt[];
extern const size_t LEDFontArtCount;

// The LED label's arithmetic: character to glyph mapping, font geometry,
// size rule, visible text window and the scroll stepping. No Qt; GUI thread.
#pragma once

#include <string>

enum TMMAlignment { taLeftJustify = 0, taRightJustify = 1, taCenter = 2 };
// How a control is aligned in its parent; alTop and alBottom leave the width
// to the parent.
enum TMMAlign { alNone = 0, alTop, alBottom, alLeft, alRight, alClient };

// The font glyph code of a character: the umlauts, sharp s and plus-minus are
// mapped onto the font's own codes; anything outside 32 .. 157 is a space.
int LEDCharCode(char32_t c);

// Glyph cell and position of a code inside a font bitmap of 63 glyphs a row,
// two rows with a 2-pixel gap.
struct TMMLEDFontGeometry {
    int w = 0;
    int h = 0;
    static TMMLEDFontGeometry FromBitmap(int width, int height);
    int GlyphX(int code) const { return ((code - 32) % 63) * w; }
    int GlyphY(int code) const { return ((code - 32) / 63) * (h + 2); }
};

struct TMMLEDLabelSizeIn {
    int Bevel = 0;  // total bevel width B
    int GlyphW = 0, GlyphH = 0;
    int LEDSpace = 1;
    bool AutoSize = true;
    int CaptionLength = 0;
    int Width = 0;  // current width (read without AutoSize)
    TMMAlign Align = alNone;
};
struct TMMLEDLabelSizeOut {
    int NumChars = 0;
    int Width = 0;
    int Height = 0;
    bool SetsWidth = true;  // false when aligned to the top or bottom of the parent
};
// NumChars follows the caption (AutoSize) or the width; the width follows
// NumChars at a pitch of w + LEDSpace - 1; the height is 2B + h.
TMMLEDLabelSizeOut LEDLabelSize(const TMMLEDLabelSizeIn& in);

// The NumChars characters shown for a caption.
std::u32string LEDTextWindow(const std::u32string& caption, int numChars, TMMAlignment alignment,
                             int currentStep);

// Scroll stepping of a label; the owner runs the timer and raises the events.
class TMMLEDScroller {
public:
    enum TTick { tkStep, tkEnd };

    int StartStep() const { return mStartStep; }
    int CurrentStep() const { return mCurrentStep; }
    bool Running() const { return mRunning; }
    // Accepted only within 0 .. caption length; false when ignored.
    bool SetStartStep(int v, int captionLength);
    bool SetCurrentStep(int v, int captionLength);
    // Starts scrolling when not running; true when it started (OnBegin, timer).
    bool Start(int captionLength);
    void Stop() { mRunning = false; }
    // One timer tick. At the caption's end it restarts at StartStep when
    // `loop` is set, otherwise it stops (the owner stops its timer).
    TTick Tick(int captionLength, bool loop);

private:
    int mStartStep = 0;
    int mCurrentStep = 0;
    bool mRunning = false;
};

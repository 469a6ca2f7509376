#include "labels_skins/Labels.h"

std::string StripLabelText(const std::string& text)
{
    size_t end = 0;
    for (int letters = 0; letters < LabelLetters && end < text.size(); ++letters) {
        // One letter: a lead byte with the continuation bytes it announces and
        // has; any other byte is a letter of its own (shown as a substitute).
        const auto b = static_cast<unsigned char>(text[end]);
        const size_t len = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 1;
        size_t j = 1;
        while (j < len && end + j < text.size() && (static_cast<unsigned char>(text[end + j]) & 0xC0) == 0x80) ++j;
        end += j;
    }
    return text.substr(0, end);
}

std::string LabelValueName(int n) { return "Edit " + std::to_string(n); }

TLabelTexts DesignLabelTexts()
{
    TLabelTexts t;
    for (int n = 1; n <= LabelCount; ++n) t[n - 1] = std::to_string(n);
    return t;
}

TLabelTexts ReadLabelTexts(const TReadText& read, const TLabelTexts& current)
{
    TLabelTexts t;
    for (int n = 1; n <= LabelCount; ++n)
        t[n - 1] = StripLabelText(read(LabelValueName(n), n == 1 ? std::string("1") : current[n - 1]));
    return t;
}

void WriteLabelTexts(const TWriteText& write, const TLabelTexts& texts)
{
    for (int n = 1; n <= LabelCount; ++n) write(LabelValueName(n), texts[n - 1]);
}

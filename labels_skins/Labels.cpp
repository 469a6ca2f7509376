#include "labels_skins/Labels.h"

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
        t[n - 1] = read(LabelValueName(n), n == 1 ? std::string("1") : current[n - 1]);
    return t;
}

void WriteLabelTexts(const TWriteText& write, const TLabelTexts& texts)
{
    for (int n = 1; n <= LabelCount; ++n) write(LabelValueName(n), texts[n - 1]);
}

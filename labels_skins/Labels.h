// The channel label texts as the labels dialog reads and stores them:
// "Edit " + n for strip n = 1 ... 24, at most LabelLetters letters each.
#pragma once

#include "base/TvConstants.h"

#include <array>
#include <functional>
#include <string>

constexpr int LabelCount = tv::kStrips;
// Whole letters a strip's label shows (its width holds three and a half).
constexpr int LabelLetters = 3;
using TLabelTexts = std::array<std::string, LabelCount>;

// The first LabelLetters characters of a UTF-8 text; a longer stored label
// (or one with broken UTF-8) is cut there, never inside a character.
std::string StripLabelText(const std::string& text);

// Name of strip n's stored label text ("Edit 7").
std::string LabelValueName(int n);

// Design texts of the dialog's edits: "1" ... "24".
TLabelTexts DesignLabelTexts();

using TReadText = std::function<std::string(const std::string& name, const std::string& def)>;
using TWriteText = std::function<void(const std::string& name, const std::string& value)>;

// Opening the dialog: each stored text cut to LabelLetters, with "1" as
// default for strip 1 and the edit's current text for the others.
TLabelTexts ReadLabelTexts(const TReadText& read, const TLabelTexts& current);
void WriteLabelTexts(const TWriteText& write, const TLabelTexts& texts);

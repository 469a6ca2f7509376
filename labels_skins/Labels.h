// The channel label texts as the labels dialog reads and stores them:
// "Edit " + n for strip n = 1 ... 24, exactly as typed.
#pragma once

#include "base/TvConstants.h"

#include <array>
#include <functional>
#include <string>

constexpr int LabelCount = tv::kStrips;
using TLabelTexts = std::array<std::string, LabelCount>;

// Name of strip n's stored label text ("Edit 7").
std::string LabelValueName(int n);

// Design texts of the dialog's edits: "1" ... "24".
TLabelTexts DesignLabelTexts();

using TReadText = std::function<std::string(const std::string& name, const std::string& def)>;
using TWriteText = std::function<void(const std::string& name, const std::string& value)>;

// Opening the dialog: each stored text, with "1" as default for strip 1 and
// the edit's current text for the others.
TLabelTexts ReadLabelTexts(const TReadText& read, const TLabelTexts& current);
void WriteLabelTexts(const TWriteText& write, const TLabelTexts& texts);

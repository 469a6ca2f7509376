// Names of the channel strips' components: a prefix followed by the decimal
// strip number (1 ... 24), looked up without regard to case.
#pragma once

#include "base/TvConstants.h"

#include <string>
#include <vector>

// Prefixes the code composes; the components' own names may differ in case
// ("ima_Nordic" finds `ima_nordic7`, "Led" finds `LED7` and `led17`).
constexpr const char* LevelPrefix = "Level";
constexpr const char* ScalePrefix = "MMLevelScale";
constexpr const char* ImagePrefix = "ima_Nordic";
constexpr const char* LabelPrefix = "Led";
constexpr const char* SilenceTimerPrefix = "timer_start";

// "Level" + 7 -> "Level7".
std::string StripComponentName(const std::string& prefix, int n);

// The design name of strip n's channel label: "LED1" ... "LED8", "led9" ... "led24".
std::string StripLabelDesignName(int n);

bool SameNameNoCase(const std::string& a, const std::string& b);

// Index into `names` of the component called prefix + n (any case), or -1.
int FindStripComponent(const std::vector<std::string>& names, const std::string& prefix, int n);

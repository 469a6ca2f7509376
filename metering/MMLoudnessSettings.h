// The loudness window's stored values: its place, whether it is open, the
// source (0 the sum of the active pairs, K pair K) and the target. Qt-free.
#pragma once

#include "base/SettingKey.h"
#include "metering/MMLoudness.h"

inline constexpr TIntSetting kLoudnessLeft{"Loudness Left", 0};
inline constexpr TIntSetting kLoudnessTop{"Loudness Top", 0};
inline constexpr TBoolSetting kLoudnessVisible{"Loudness Visible", false};
inline constexpr TIntSetting kLoudnessSource{"Loudness Source", 1};
inline constexpr TIntSetting kLoudnessTarget{"Loudness Target", kDefaultLoudnessTarget};

inline constexpr TSettingDecl kLoudnessSettingDecls[] = {kLoudnessLeft.Decl(), kLoudnessTop.Decl(),
                                                         kLoudnessVisible.Decl(), kLoudnessSource.Decl(),
                                                         kLoudnessTarget.Decl()};

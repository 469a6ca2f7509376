// The correlation window's stored values: its place, the averaging speed
// and the pair it taps. Qt-free.
#pragma once

#include "base/SettingKey.h"

inline constexpr TIntSetting kCorreTop{"wtop", 0};
inline constexpr TIntSetting kCorreLeft{"wleft", 0};
inline constexpr TIntSetting kCorreSpeed{"speed", 1};      // rg_correlation item
inline constexpr TIntSetting kCorreChannel{"Channel", 0};  // rg_channel item: pair 1 ... 6

inline constexpr TSettingDecl kCorrelationSettingDecls[] = {kCorreTop.Decl(), kCorreLeft.Decl(), kCorreSpeed.Decl(),
                                                            kCorreChannel.Decl()};

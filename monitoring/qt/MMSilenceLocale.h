// The wall clock and the user's locale as the silence log line takes them,
// shared by every detector host. GUI thread.
#pragma once

#include <cstdint>
#include <string>

// Milliseconds since the epoch.
int64_t SilenceNowMs();
// Short date and long time, separated by a blank; at exactly midnight only the date.
std::string SilenceDateTimeText(int64_t ms);
// The locale's decimal separator; '.' when it is not one ASCII character.
char SilenceDecimalSeparator();

// libFuzzer target for the alarm player's file readers (built with
// -DTARVOLIN_FUZZ=ON and clang).
#include "fuzz/AlarmFileFuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzAlarmFileOnce(data, size);
    return 0;
}

// libFuzzer target for the settings file's registry text (built with
// -DTARVOLIN_FUZZ=ON and clang).
#include "fuzz/SettingsFuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzSettingsOnce(data, size);
    return 0;
}

// libFuzzer target for the skin file parser (built with -DTARVOLIN_FUZZ=ON and clang).
#include "fuzz/SkinFuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzSkinOnce(data, size);
    return 0;
}

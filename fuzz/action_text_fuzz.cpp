// libFuzzer target for the actions' command-line split and JSON strings
// (built with -DTARVOLIN_FUZZ=ON and clang).
#include "fuzz/ActionTextFuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzActionTextOnce(data, size);
    return 0;
}

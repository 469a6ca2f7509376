// libFuzzer target for the RIFF/WAVE walk (built with -DTARVOLIN_FUZZ=ON and clang).
#include "fuzz/WaveFuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzWaveOnce(data, size);
    return 0;
}

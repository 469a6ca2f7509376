// libFuzzer target for RTP packets of a network stream (built with -DTARVOLIN_FUZZ=ON and clang).
#include "fuzz/RtpFuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzRtpOnce(data, size);
    return 0;
}

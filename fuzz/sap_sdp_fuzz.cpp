// libFuzzer target for SAP packets and SDP stream descriptions (built with -DTARVOLIN_FUZZ=ON and clang).
#include "fuzz/SapSdpFuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzSapSdpOnce(data, size);
    return 0;
}

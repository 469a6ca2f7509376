// libFuzzer target for the status endpoint's request handling over loopback
// (built with -DTARVOLIN_FUZZ=ON and clang).
#include "fuzz/StatusHttpFuzzTarget.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzStatusHttpOnce(data, size);
    return 0;
}

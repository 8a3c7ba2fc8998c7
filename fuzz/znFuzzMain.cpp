// The entry of one fuzzer; LP_FUZZ_RUN names the target body it runs.
#include "znFuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return LP_FUZZ_RUN(data, size);
}

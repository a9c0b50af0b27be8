// The libFuzzer entry of one target, named at build time by MTX_FUZZ_TARGET.
#include "fuzz/FuzzTargets.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const FuzzTarget* const target = FindFuzzTarget(MTX_FUZZ_TARGET);
    if (!target)
        std::abort();
    target->run(data, size);
    return 0;
}

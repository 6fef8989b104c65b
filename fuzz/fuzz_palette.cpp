// Fuzz target: the input as palette file and as gradient bitmap.
#include "fuzz_bodies.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    start_fuzz_session();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    stop_on_fuzz_problem(run_palette_body(data, size));
    return 0;
}

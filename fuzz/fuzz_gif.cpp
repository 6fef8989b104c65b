// Fuzz target: load_gif_anim on the input, then a walk over every frame as the remap would read it.
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
    stop_on_fuzz_problem(run_gif_body(data, size));
    return 0;
}

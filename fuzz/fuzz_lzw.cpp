// Fuzz target: the program's LZW decoder against the plain reference decoder.
#include "fuzz_bodies.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    start_fuzz_allegro();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    stop_on_fuzz_problem(run_lzw_body(data, size));
    return 0;
}

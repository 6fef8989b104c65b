// Fuzz target: load_gif_anim on the input, then a walk over every frame as the remap would read it.
#include "fuzz_bodies.h"
#include "gif/gif_anim.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    start_fuzz_session();
    // A few header bytes can ask for gigabytes, which the reader allows up
    // to its limits; keep each input small so the fuzzer stays fast.
    glb_gif_canvas_bytes_limit = 16LL << 20;
    glb_gif_frame_bytes_limit = 64LL << 20;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    stop_on_fuzz_problem(run_gif_body(data, size));
    return 0;
}

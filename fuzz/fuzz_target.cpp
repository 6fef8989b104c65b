// One libFuzzer target per body in tests/support/checks.cpp, named by the
// build (FUZZ_BODY); a problem aborts, so the fuzzer keeps the input.
#include "gif/gif_anim.h"
#include "support/checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A few header bytes can ask for gigabytes: a lower budget keeps inputs
    // fast (every rule of the reader holds at any size).
    glb_gif_reader.load_bytes_limit = 512LL << 10;
    std::string problem = FUZZ_BODY(data, size);
    if (!problem.empty()) {
        fprintf(stderr, "fuzz check failed: %s\n", problem.c_str());
        abort();
    }
    return 0;
}

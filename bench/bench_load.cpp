// Loading the large animation: the program's reader against giflib's.
#include "bench_support.h"
#include "gif/gif_anim.h"

#include <benchmark/benchmark.h>
#include <gif_lib.h>


static double seconds_per_iteration(double start, const benchmark::State &state)
{
    double seconds = read_cpu_seconds() - start;
    return state.iterations() > 0 ? seconds / double(state.iterations()) : 0.0;
}

// The peer: giflib decodes every image into its own buffer (no composition).
static void giflib_slurp(benchmark::State &state)
{
    const std::string &path = prepare_big_gif();
    if (path.empty()) {
        state.SkipWithError("can't write the animation");
        return;
    }
    double start = read_cpu_seconds();
    for (auto _ : state) {
        int error = 0;
        GifFileType *gif = DGifOpenFileName(path.c_str(), &error);
        bool ok = gif && DGifSlurp(gif) == GIF_OK && gif->ImageCount == BIG_GIF_FRAMES;
        if (gif)
            DGifCloseFile(gif, &error);
        if (!ok) {
            state.SkipWithError("giflib can't read the animation");
            break;
        }
    }
    record_peer_time("giflib_slurp", seconds_per_iteration(start, state));
}
BENCHMARK(giflib_slurp)->Unit(benchmark::kMillisecond);

// The program's reader: parse, decode and draw every frame over the
// animation so far into 8-bit bitmaps.
static void load_gif_anim_big(benchmark::State &state)
{
    const std::string &path = prepare_big_gif();
    if (path.empty()) {
        state.SkipWithError("can't write the animation");
        return;
    }
    prepare_library();
    int saved = silence_stdout();
    bool ok = true;
    double start = read_cpu_seconds();
    for (auto _ : state) {
        gif_anim *anim = load_gif_anim(path.c_str());
        ok = anim && anim->num_frames == BIG_GIF_FRAMES;
        if (anim)
            destroy_gif_anim(anim);
        if (!ok)
            break;
    }
    double seconds = seconds_per_iteration(start, state);
    restore_stdout(saved);
    if (!ok) {
        state.SkipWithError("load_gif_anim can't read the animation");
        return;
    }
    report_peer_ratio(state, "giflib_slurp", seconds);
}
BENCHMARK(load_gif_anim_big)->Unit(benchmark::kMillisecond);

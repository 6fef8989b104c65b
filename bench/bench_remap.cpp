// Remapping the loaded animations onto the global palette: the program's
// remap_pixels against the same work done with direct row access.
#include "bench_support.h"
#include "gif/gif_anim.h"
#include "palette/global_palette.h"

#include <allegro.h>
#include <benchmark/benchmark.h>

#include <cstring>

// The peer: the same search and rewrite, reading and writing rows directly
// and printing nothing.
static void remap_rows_directly(gif_anim *anim)
{
    for (int i = 0; i < anim->num_frames; i++) {
        gif_frame &f = anim->frames[i];
        int max = 0;
        for (int y = 0; y < f.h; y++)
            for (int x = 0; x < f.w; x++)
                max = f.bmp->line[y][x] > max ? f.bmp->line[y][x] : max;
        int32_t table[256] = {};
        const uint8_t *colors = anim->palettes + size_t(f.pal) * GIF_PALETTE_BYTES;
        for (int c = 0; c <= max; c++)
            for (int j = 0; j < 256; j++)
                if (std::memcmp(glb_palette[j], colors + c * 3, 3) == 0) {
                    table[c] = j == 1 ? 0 : j;
                    break;
                }
        for (int y = 0; y < f.h; y++)
            for (int x = 0; x < f.w; x++)
                f.bmp->line[y][x] = uint8_t(table[f.bmp->line[y][x]]);
    }
}

// Copies every frame's pixels out of (save) or back into the animation.
static void copy_frame_pixels(gif_anim *anim, std::vector<std::vector<uint8_t>> &pixels, bool save)
{
    pixels.resize(size_t(anim->num_frames));
    for (int i = 0; i < anim->num_frames; i++) {
        const gif_frame &f = anim->frames[i];
        pixels[i].resize(size_t(f.w) * f.h);
        for (int y = 0; y < f.h; y++) {
            uint8_t *kept = pixels[i].data() + size_t(y) * f.w;
            if (save)
                std::memcpy(kept, f.bmp->line[y], f.w);
            else
                std::memcpy(f.bmp->line[y], kept, f.w);
        }
    }
}

// Times remaps of the loaded animation. Each pass starts from the pixels as
// loaded, restored untimed: once remapped they are glb_palette indices, and
// the figure's 64-entry table would read most of them as unlisted black.
static void time_remap(benchmark::State &state, const bench_gif &gif, void (*remap)(gif_anim *))
{
    const std::string &path = prepare_case_gif(state, gif);
    if (path.empty())
        return;
    prepare_library();
    int saved = silence_stdout();
    gif_anim *anim = load_gif_anim(path.c_str());
    restore_stdout(saved);
    if (!anim || anim->num_frames != gif.frames) {
        destroy_gif_anim(anim);
        state.SkipWithError("can't load the animation");
        return;
    }
    std::vector<std::vector<uint8_t>> loaded;
    copy_frame_pixels(anim, loaded, true);
    fill_bench_glb_palette();
    saved = silence_stdout();
    double seconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        copy_frame_pixels(anim, loaded, false);
        state.ResumeTiming();
        double start = read_cpu_seconds();
        remap(anim);
        seconds += read_cpu_seconds() - start;
    }
    restore_stdout(saved);
    destroy_gif_anim(anim);
    seconds /= double(state.iterations());
    state.counters["us_per_megapixel"] = seconds * 1e12 / double(count_bench_gif_pixels(gif));
    std::string peer = std::string("remap_rows_directly/") + gif.name;
    if (remap == remap_rows_directly)
        record_peer_time(peer, seconds);
    else
        report_peer_ratio(state, peer, seconds);
}

// remap_pixels on the bench's palette.
static void remap_with_palette(gif_anim *anim)
{
    remap_pixels(anim, "the bench palette");
}

// The peer first on each animation, so its time is recorded before
// remap_pixels reports against it.
static bool register_remap_cases()
{
    const std::pair<const char *, void (*)(gif_anim *)> cases[] = {
        {"remap_rows_directly", remap_rows_directly}, {"remap_pixels", remap_with_palette}};
    for (const bench_gif &gif : list_bench_gifs())
        for (const auto &c : cases)
            benchmark::RegisterBenchmark((std::string(c.first) + "/" + gif.name).c_str(),
                                         time_remap, gif, c.second)
                ->Unit(benchmark::kMillisecond)
                ->MinTime(0.5);
    return true;
}
static const bool glb_remap_cases_registered = register_remap_cases();

// Remapping the large animation onto the global palette: the program's
// remap_pixels against the same work done with direct row access.
#include "bench_support.h"
#include "gif/checked_bitmap.h"
#include "gif/gif_anim.h"
#include "palette/global_palette.h"

#include <allegro.h>
#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <cstring>

// An animation record built from giflib's decode, so the remap is measured
// on its own whatever state the program's reader is in. The storage vectors
// own what the record points at.
struct remap_input {
    gif_anim anim;
    std::vector<gif_frame> frames;
    std::vector<uint8_t> palettes;
};

static void release_remap_input(remap_input &in)
{
    for (gif_frame &f : in.frames)
        if (f.bmp)
            destroy_bitmap(f.bmp);
    in.frames.clear();
}

static bool build_remap_input(const std::string &path, remap_input &in)
{
    int error = 0;
    GifFileType *gif = DGifOpenFileName(path.c_str(), &error);
    if (!gif)
        return false;
    bool ok = DGifSlurp(gif) == GIF_OK && gif->SColorMap && gif->SColorMap->ColorCount == 256;
    in.palettes.assign(GIF_PALETTE_BYTES, 0);
    for (int c = 0; ok && c < 256; c++) {
        in.palettes[c * 3] = gif->SColorMap->Colors[c].Red;
        in.palettes[c * 3 + 1] = gif->SColorMap->Colors[c].Green;
        in.palettes[c * 3 + 2] = gif->SColorMap->Colors[c].Blue;
    }
    for (int i = 0; ok && i < gif->ImageCount; i++) {
        const GifImageDesc &d = gif->SavedImages[i].ImageDesc;
        gif_frame f{{uint16_t(d.Left), uint16_t(d.Top)}, uint16_t(d.Width), uint16_t(d.Height),
                    0, -1, 4, create_checked_bitmap(8, d.Width, d.Height)};
        if (!f.bmp) {
            ok = false;
            break;
        }
        for (int y = 0; y < d.Height; y++)
            std::memcpy(f.bmp->line[y], gif->SavedImages[i].RasterBits + size_t(y) * d.Width,
                        size_t(d.Width));
        in.frames.push_back(f);
    }
    DGifCloseFile(gif, &error);
    in.anim = {int32_t(in.frames.size()), 1, BIG_GIF_W, BIG_GIF_H, in.frames.data(),
               in.palettes.data()};
    if (!ok)
        release_remap_input(in);
    return ok;
}

// glb_palette holds the animation's colours in reverse order, so every
// lookup searches a good part of it and every pixel changes value.
static void fill_reversed_glb_palette()
{
    std::vector<std::array<uint8_t, 3>> colours = list_big_gif_colours();
    for (int e = 0; e < 256; e++)
        std::memcpy(glb_palette[e], colours[255 - e].data(), 3);
}

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

// Times repeated remaps of one record: after the first pass the pixels are
// palette indices, which the frame's table still resolves to palette colours,
// so every pass does the full work.
static void time_remap(benchmark::State &state, void (*remap)(gif_anim *), const char *peer)
{
    const std::string &path = prepare_big_gif();
    prepare_library();
    remap_input in;
    if (path.empty() || !build_remap_input(path, in)) {
        state.SkipWithError("can't prepare the animation");
        return;
    }
    fill_reversed_glb_palette();
    int saved = silence_stdout();
    double start = read_cpu_seconds();
    for (auto _ : state)
        remap(&in.anim);
    double seconds = read_cpu_seconds() - start;
    restore_stdout(saved);
    if (state.iterations() > 0)
        seconds /= double(state.iterations());
    if (peer)
        report_peer_ratio(state, peer, seconds);
    else
        record_peer_time("rows_directly", seconds);
    release_remap_input(in);
}

static void remap_rows_directly_big(benchmark::State &state)
{
    time_remap(state, remap_rows_directly, nullptr);
}
BENCHMARK(remap_rows_directly_big)->Unit(benchmark::kMillisecond);

static void remap_pixels_big(benchmark::State &state)
{
    time_remap(state, remap_pixels, "rows_directly");
}
BENCHMARK(remap_pixels_big)->Unit(benchmark::kMillisecond);

// Composing the screen image of a 640 x 480 animation at zoom 100 and 1000,
// against one plain 800 x 600 blit of the screen image: a pass after the
// frame or zoom changed (the preview drawn) and one after the slot or a
// gradient row did (the whole image drawn). A pass after no change draws
// nothing.
#include "bench_support.h"
#include "display/panel.h"
#include "display/screen.h"
#include "common/checked_bitmap.h"
#include "gif/gif_anim.h"
#include "palette/data_set.h"
#include "palette/global_palette.h"
#include "palette/gradients.h"

#include <allegro.h>
#include <benchmark/benchmark.h>

#include <random>

// The surfaces start-up makes, at a colour depth a display would give, and a
// one-frame animation of random pixels, zeros included, covering the screen.
struct screen_input {
    gif_anim anim;
    gif_frame frame;
    BITMAP *copy; // the blit's destination
};

static void release_screen_input(screen_input &in)
{
    for (BITMAP **bmp : {&glb_sub_preview, &glb_buffer, &glb_cmap, &glb_sprite, &glb_sprite_8bpp,
                         &in.frame.bmp, &in.copy})
        if (*bmp) {
            destroy_bitmap(*bmp);
            *bmp = nullptr;
        }
}

static bool build_screen_input(screen_input &in, int depth)
{
    prepare_library();
    set_color_depth(depth);
    std::mt19937 rng(5);
    for (auto &entry : glb_palette)
        for (uint8_t &c : entry)
            c = uint8_t(rng());
    for (auto &row : gradient_table)
        for (auto &cell : row)
            for (uint8_t &c : cell)
                c = uint8_t(rng());
    in = {};
    glb_buffer = create_checked_bitmap(0, BUFFER_W, BUFFER_H);
    glb_sub_preview = glb_buffer ? create_sub_bitmap(glb_buffer, 0, 0, PREVIEW_W, PREVIEW_H) : nullptr;
    glb_cmap = create_checked_bitmap(0, CMAP_W, CMAP_H);
    draw_gradient_strip(bg2);
    glb_sprite = create_checked_bitmap(0, BIG_GIF_W, BIG_GIF_H);
    glb_sprite_8bpp = create_checked_bitmap(8, BIG_GIF_W, BIG_GIF_H);
    in.copy = create_checked_bitmap(0, BUFFER_W, BUFFER_H);
    in.frame = {{0, 0}, BIG_GIF_W, BIG_GIF_H, 0, -1, 4, create_checked_bitmap(8, BIG_GIF_W, BIG_GIF_H)};
    in.anim = {1, 1, BIG_GIF_W, BIG_GIF_H, &in.frame, nullptr};
    bool ok = glb_buffer && glb_sub_preview && glb_cmap && glb_sprite && glb_sprite_8bpp && in.copy &&
              in.frame.bmp;
    for (int y = 0; ok && y < BIG_GIF_H; y++)
        for (int x = 0; x < BIG_GIF_W; x++)
            in.frame.bmp->line[y][x] = rng() % 5 == 0 ? 0 : uint8_t(rng());
    if (ok)
        clear_bitmap(in.copy);
    glb_frame = 0;
    return ok;
}

static double finish_seconds(double start, const benchmark::State &state)
{
    double seconds = read_cpu_seconds() - start;
    return state.iterations() > 0 ? seconds / double(state.iterations()) : 0.0;
}

// The peer: the screen image copied once into another memory bitmap.
static void blit_800x600(benchmark::State &state)
{
    screen_input in;
    if (!build_screen_input(in, int(state.range(0)))) {
        release_screen_input(in);
        state.SkipWithError("can't create the bitmaps");
        return;
    }
    glb_view.screen_dirty = true;
    compose_screen(&in.anim, bg2, ".bmp");
    double start = read_cpu_seconds();
    for (auto _ : state)
        blit(glb_buffer, in.copy, 0, 0, 0, 0, BUFFER_W, BUFFER_H);
    record_peer_time("blit_800x600/" + std::to_string(state.range(0)), finish_seconds(start, state));
    release_screen_input(in);
}
BENCHMARK(blit_800x600)->Arg(32)->Arg(24)->Arg(16)->ArgName("depth")->Unit(benchmark::kMicrosecond);

// One loop pass's screen image at the zoom given.
static void compose_screen_at(benchmark::State &state)
{
    screen_input in;
    int depth = int(state.range(0));
    if (!build_screen_input(in, depth)) {
        release_screen_input(in);
        state.SkipWithError("can't create the bitmaps");
        return;
    }
    glb_zoom = int32_t(state.range(1));
    double start = read_cpu_seconds();
    bool whole = state.range(2);
    for (auto _ : state) {
        glb_view.preview_dirty = true;
        glb_view.screen_dirty = whole;
        compose_screen(&in.anim, bg2, ".bmp");
    }
    report_peer_ratio(state, "blit_800x600/" + std::to_string(depth), finish_seconds(start, state));
    release_screen_input(in);
}
BENCHMARK(compose_screen_at)
    ->Name("compose_screen")
    ->ArgsProduct({{32, 24, 16}, {100, 1000}, {0, 1}})
    ->ArgNames({"depth", "zoom", "whole"})
    ->Unit(benchmark::kMicrosecond);

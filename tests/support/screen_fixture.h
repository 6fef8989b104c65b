// Set-up shared by the palette, screen, key and export tests, and the screen
// image drawn the library's way with the strip and panel drawn anew.
#pragma once

#include <allegro.h>
#include <gtest/gtest.h>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "app/app.h"
#include "common/checked_bitmap.h"
#include "display/screen.h"
#include "export/export.h"
#include "gif/gif_anim.h"
#include "palette/data_set.h"
#include "palette/global_palette.h"
#include "palette/gradients.h"
#include "palette/tint_slots.h"

inline std::vector<unsigned int> glb_test_pauses; // pauses taken, in order
inline std::vector<int> glb_test_releases;        // keys waited on, in order

inline std::vector<uint8_t> read_bytes(const std::string &name)
{
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Per test: the library without a display, pauses and waits recorded, known
// palettes (distinct, never black, both low bits in use), a scratch directory.
struct screen_test : ::testing::Test {
    gif_anim anim{};
    std::vector<gif_frame> frames;
    char dir[28] = "/tmp/huesmith_screen_XXXXXX";

    void SetUp() override
    {
        static bool started = install_allegro(SYSTEM_NONE, &errno, atexit) == 0;
        ASSERT_TRUE(started && mkdtemp(dir) && chdir(dir) == 0);
        glb_pause = [](unsigned int ms) { glb_test_pauses.push_back(ms); };
        // Stands in for the keyboard handler: the key goes up once waited on.
        glb_wait_release = [](int scancode) { glb_test_releases.push_back(scancode), key[scancode] = 0; };
        for (int k = 0; k < 768; k++)
            glb_palette[k / 3][k % 3] = working_palette[k / 3][k % 3] = uint8_t(k / 3 * (3 + k % 3 * 2) + k % 3 * 85 + 9);
        make_anim(0, 0, 0);
    }
    void TearDown() override
    {
        make_anim(0, 0, 0);
        if (chdir("/tmp") == 0)
            std::filesystem::remove_all(dir);
    }
    // Resets keys and state; unless n is 0, n w x h frames without bitmaps, bitmaps at the depth.
    void make_anim(int w, int h, int n, int depth = 32)
    {
        for (BITMAP **bmp : {&glb_sub_preview, &glb_buffer, &glb_cmap, &glb_sprite, &glb_sprite_8bpp})
            destroy_bitmap(*bmp), *bmp = nullptr;
        for (gif_frame &frame : frames)
            destroy_bitmap(frame.bmp);
        std::fill_n(key, KEY_MAX, 0), glb_test_pauses.clear(), glb_test_releases.clear();
        glb_input = {}, glb_playing = false, glb_clock = 0, mouse_b = mouse_z = 0;
        std::tie(glb_slot, glb_frame, pcx_flag, glb_zoom, glb_screen_dirty) = std::make_tuple(0, 0, 0, 100, true);
        std::fill_n(palshift_bg2, BG2_SLOTS, 0), std::fill_n(palshift_pst, PST_SLOTS, 0);
        frames.assign(n, gif_frame{});
        anim = {n, 1, w, h, frames.data(), nullptr};
        set_color_depth(depth);
        if (n == 0)
            return;
        glb_buffer = create_checked_bitmap(depth, BUFFER_W, BUFFER_H);
        glb_sub_preview = create_sub_bitmap(glb_buffer, 0, 0, PREVIEW_W, PREVIEW_H);
        clear_to_color(glb_cmap = create_checked_bitmap(depth, CMAP_W, CMAP_H), 0);
        glb_sprite = create_checked_bitmap(depth, w, h);
        glb_sprite_8bpp = create_checked_bitmap(8, w, h);
    }
    // Gives frame i an 8-bit fw x fh bitmap at (x, y) filled with index fill.
    BITMAP *add_frame(int i, int x, int y, int fw, int fh, int fill)
    {
        frames[i] = {{uint16_t(x), uint16_t(y)}, uint16_t(fw), uint16_t(fh), 0, -1, 0, create_checked_bitmap(8, fw, fh)};
        clear_to_color(frames[i].bmp, fill);
        return frames[i].bmp;
    }
};

// The screen image into glb_buffer, its palette into pal. The first group
// of slots (7 in bg2, 4 in pst) and the second differ in every measure.
inline void compose_screen_by_library(const gif_anim &anim, const data_set &set, uint8_t (*pal)[3])
{
    bool pst = set.id == DATA_SET_PST;
    int white = makecol(255, 255, 255), a_count = pst ? 4 : 7;
    const int32_t *rows = pst ? palshift_pst : palshift_bg2;
    clear_to_color(glb_buffer, 0);
    // The strip: 6 x 6 cells at (step * c, 5 * r), each over the ones before.
    set_clip_rect(glb_buffer, 725, 15, 725 + 63, 15 + 579);
    for (int r = 0, step = pst ? 2 : 5; r < (pst ? 79 : 116); r++)
        for (int c = 0; c < (pst ? 32 : 12); c++)
            rectfill(glb_buffer, 725 + step * c, 15 + 5 * r, 730 + step * c, 20 + 5 * r, makecol(gradient_table[r][c][0], gradient_table[r][c][1], gradient_table[r][c][2]));
    set_clip_rect(glb_buffer, 0, 0, 799, 599);
    std::copy_n(glb_palette[0], 768, pal[0]), std::fill_n(pal[0], 3, 170);
    for (int s = 0; s <= set.last_slot; s++) {
        bool a = s < a_count;
        int y = a ? 15 + 20 * s : 35 + 20 * s, n = pst ? (a ? 16 : 32) : (a ? 12 : 8);
        int first = pst ? (a ? std::array{16, 32, 64, 80}[s] : 32 * s) : (a ? 4 + 12 * s : 32 + 8 * s);
        int step = pst ? (a ? 15 : 7) : 20, right = pst ? (a ? 13 : 5) : 18;
        textprintf_ex(glb_buffer, font, 300, y, white, -1, "%s %3i : color %c%i", s == glb_slot ? "-->" : "   ",
                      rows[s], a ? 'A' : 'B', a ? s + 1 : s - a_count + 1);
        for (int c = 0; c < n; c++) {
            // bg2 B slots take columns 0, 1, 3, 4, 6, 7, 9, 10; pst A every second.
            const uint8_t *rgb = gradient_table[rows[s]][pst ? (a ? 2 * c : c) : (a ? c : c + c / 2)];
            std::copy_n(rgb, 3, pal[first + c]);
            rectfill(glb_buffer, 460 + step * c, y - 7, 460 + step * c + right, y + 11, makecol(rgb[0], rgb[1], rgb[2]));
        }
    }
    textout_ex(glb_buffer, font, ">", 717, 5 * rows[glb_slot] + 14, white, -1);
    textout_ex(glb_buffer, font, "<", pst ? 791 : 787, 5 * rows[glb_slot] + 14, white, -1);
    PALETTE six;
    for (int e = 0; e < 256; e++)
        six[e] = {uint8_t(pal[e][0] >> 2), uint8_t(pal[e][1] >> 2), uint8_t(pal[e][2] >> 2), 0};
    set_palette(six);
    clear_to_color(glb_sprite, 0);
    if (glb_frame < anim.num_frames && anim.frames[glb_frame].bmp)
        draw_sprite(glb_sprite, anim.frames[glb_frame].bmp, anim.frames[glb_frame].pos.x, anim.frames[glb_frame].pos.y);
    int w = glb_sprite->w * glb_zoom / 100, h = glb_sprite->h * glb_zoom / 100;
    if (w > 0 && h > 0)
        stretch_blit(glb_sprite, glb_sub_preview, 0, 0, glb_sprite->w, glb_sprite->h, (300 - w) / 2, (450 - h) / 2, w, h);
    textprintf_ex(glb_buffer, font, 50, 450, white, -1, "Frame : %i", glb_frame);
    textprintf_ex(glb_buffer, font, 50, 460, white, -1, "Zoom  : %i%%", glb_zoom);
    draw_help_lines(glb_buffer, white);
}

// glb_buffer and the composed palette against the library's pass over noise.
inline void expect_library_image(const gif_anim &anim, const data_set &set)
{
    BITMAP *ours = create_checked_bitmap(bitmap_color_depth(glb_buffer), BUFFER_W, BUFFER_H);
    blit(glb_buffer, ours, 0, 0, 0, 0, BUFFER_W, BUFFER_H);
    size_t row = size_t(BUFFER_W * ((bitmap_color_depth(glb_buffer) + 7) / 8));
    for (int y = 0; y < BUFFER_H; y++)
        std::memset(glb_buffer->line[y], y | 1, row);
    uint8_t pal[256][3];
    compose_screen_by_library(anim, set, pal);
    EXPECT_EQ(0, memcmp(working_palette, pal, sizeof pal));
    for (int y = 0; y < BUFFER_H; y++)
        ASSERT_EQ(0, memcmp(ours->line[y], glb_buffer->line[y], row)) << "row " << y;
    destroy_bitmap(ours);
}

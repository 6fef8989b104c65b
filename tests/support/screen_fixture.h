// Set-up shared by the palette, screen, key and export tests, and the screen
// image drawn the library's way with the strip and panel drawn anew.
#pragma once

#include <allegro.h>
#include <gtest/gtest.h>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "app/app.h"
#include "common/checked_bitmap.h"
#include "display/panel.h"
#include "display/screen.h"
#include "export/export.h"
#include "gif/gif_anim.h"
#include "palette/data_set.h"
#include "palette/global_palette.h"
#include "palette/gradients.h"
#include "palette/tint_slots.h"

inline std::vector<uint8_t> read_bytes(const std::string &name)
{
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Stands in for the keyboard callback: key k goes down or up.
inline void set_key(int k, bool down)
{
    note_key_event(glb_input.presses, down ? k : k | 0x80);
}

// Per test: the library without a display, no press logged, known
// palettes (distinct, never black, both low bits in use), a scratch directory.
struct screen_test : ::testing::Test {
    gif_anim anim{};
    std::vector<gif_frame> frames;
    char dir[28] = "/tmp/huesmith_screen_XXXXXX";

    void SetUp() override
    {
        static bool started = install_allegro(SYSTEM_NONE, &errno, atexit) == 0;
        ASSERT_TRUE(started);
        ASSERT_TRUE(mkdtemp(dir));
        ASSERT_EQ(chdir(dir), 0);
        for (int e = 0; e < 256; e++)
            for (int k = 0; k < 3; k++) {
                glb_palette[e][k] = uint8_t(e * (3 + 2 * k) + 85 * k + 9);
                working_palette[e][k] = glb_palette[e][k];
            }
        make_anim(0, 0, 0);
    }
    void TearDown() override
    {
        make_anim(0, 0, 0);
        if (chdir("/tmp") == 0)
            std::filesystem::remove_all(dir);
    }
    // Resets keys and state: slot 0, every row 0, frame 0, zoom 100, BMP
    // export, all marked for drawing. Unless n is 0, gives the animation n
    // w x h frames without bitmaps and makes the bitmaps at the depth.
    void make_anim(int w, int h, int n, int depth = 32)
    {
        destroy_surfaces();
        for (gif_frame &frame : frames)
            destroy_bitmap(frame.bmp);
        clear_press_log(glb_input.presses);
        std::fill_n(glb_input.keys, LOGGED_KEYS, key_track{});
        glb_input.button = {};
        glb_input.wheel = 0;
        glb_input.esc_before_export = 0;
        glb_input.progress_clock = 0;
        glb_input.history = {};
        glb_view = {};
        glb_view.screen_dirty = true;
        glb_view.preview_dirty = true;
        glb_status.clock = 0;
        mouse_z = 0;
        glb_slot = 0;
        glb_frame = 0;
        glb_zoom = 100;
        glb_export_options = export_options{};
        std::fill_n(palshift_bg2, BG2_SLOTS, 0);
        std::fill_n(palshift_pst, PST_SLOTS, 0);
        frames.assign(n, gif_frame{});
        anim = {n, 1, w, h, frames.data(), nullptr};
        set_color_depth(depth);
        if (n == 0)
            return;
        glb_buffer = create_checked_bitmap(depth, BUFFER_W, BUFFER_H);
        glb_sub_preview = create_sub_bitmap(glb_buffer, 0, 0, PREVIEW_W, PREVIEW_H);
        glb_cmap = create_checked_bitmap(depth, CMAP_W, CMAP_H);
        clear_to_color(glb_cmap, 0);
        glb_sprite = create_checked_bitmap(depth, w, h);
        glb_sprite_8bpp = create_checked_bitmap(8, w, h);
    }
    // The sub-bitmap goes before its parent.
    void destroy_surfaces()
    {
        BITMAP **surfaces[] = {&glb_sub_preview, &glb_buffer, &glb_cmap, &glb_sprite,
                               &glb_sprite_8bpp};
        for (BITMAP **bmp : surfaces) {
            destroy_bitmap(*bmp);
            *bmp = nullptr;
        }
    }
    // Gives frame i an 8-bit fw x fh bitmap at (x, y) filled with index fill.
    BITMAP *add_frame(int i, int x, int y, int fw, int fh, int fill)
    {
        gif_frame &frame = frames[i];
        frame = gif_frame{};
        frame.pos.x = uint16_t(x);
        frame.pos.y = uint16_t(y);
        frame.w = uint16_t(fw);
        frame.h = uint16_t(fh);
        frame.pal = 0;
        frame.trans = -1;
        frame.bmp = create_checked_bitmap(8, fw, fh);
        clear_to_color(frame.bmp, fill);
        return frame.bmp;
    }
};

// The panel as the user sees it, for the library's drawing below: slot s's
// text line y, swatch count, swatch step and width, first palette entry and
// gradient column of swatch c. bg2: A1..A7 take 12 entries each from 4 on,
// B1..B21 8 each from 88 on; pst: A1..A4 16 each at 16, 32, 64 and 80,
// B1..B4 32 each from 128 on. A slot's swatches spread over its gradient
// row: bg2 B slots take columns 0, 1, 3, 4, 6, 7, 9, 10; pst A every second.
struct panel_slot {
    bool a;
    int y, swatches, step, width, first_entry;
    int column(bool pst, int c) const
    {
        if (pst)
            return a ? 2 * c : c;
        return a ? c : c + c / 2;
    }
};

inline panel_slot describe_slot(bool pst, int s)
{
    const int pst_a_first[4] = {16, 32, 64, 80};
    panel_slot slot;
    slot.a = s < (pst ? 4 : 7);
    slot.y = slot.a ? 15 + 20 * s : 35 + 20 * s;
    if (pst) {
        slot.swatches = slot.a ? 16 : 32;
        slot.step = slot.a ? 15 : 7;
        slot.first_entry = slot.a ? pst_a_first[s] : 32 * s;
    } else {
        slot.swatches = slot.a ? 12 : 8;
        slot.step = 20;
        slot.first_entry = slot.a ? 4 + 12 * s : 32 + 8 * s;
    }
    // One pixel of black between swatches.
    slot.width = slot.step - 1;
    return slot;
}

inline int make_white()
{
    return makecol(255, 255, 255);
}

inline int make_colour(const uint8_t *rgb)
{
    return makecol(rgb[0], rgb[1], rgb[2]);
}

// The strip: 6 x 6 cells at (725 + step * c, 15 + 5 * r), each over the
// ones before, cut to the 64 x 580 strip.
inline void draw_strip_by_library(const data_set &set)
{
    bool pst = set.id == DATA_SET_PST;
    int step = pst ? 2 : 5;
    int rows = pst ? 79 : 116;
    int columns = pst ? 32 : 12;
    set_clip_rect(glb_buffer, 725, 15, 725 + 63, 15 + 579);
    for (int r = 0; r < rows; r++)
        for (int c = 0; c < columns; c++) {
            int x = 725 + step * c;
            int y = 15 + 5 * r;
            rectfill(glb_buffer, x, y, x + 5, y + 5, make_colour(gradient_table[r][c]));
        }
    set_clip_rect(glb_buffer, 0, 0, 799, 599);
}

// The panel's lines and swatches, the markers, and the composed palette in
// pal: grey at 0, the palette file's colours, each slot's swatch colours.
inline void draw_panel_by_library(const data_set &set, uint8_t (*pal)[3])
{
    bool pst = set.id == DATA_SET_PST;
    const int32_t *rows = pst ? palshift_pst : palshift_bg2;
    std::copy_n(glb_palette[0], 768, pal[0]);
    std::fill_n(pal[0], 3, 170);
    for (int s = 0; s <= set.last_slot; s++) {
        panel_slot slot = describe_slot(pst, s);
        const char *arrow = s == glb_slot ? "-->" : "   ";
        char group = slot.a ? 'A' : 'B';
        int number = slot.a ? s + 1 : s - (pst ? 4 : 7) + 1;
        textprintf_ex(glb_buffer, font, 300, slot.y, make_white(), -1, "%s %3i : color %c%i",
                      arrow, rows[s], group, number);
        for (int c = 0; c < slot.swatches; c++) {
            const uint8_t *rgb = gradient_table[rows[s]][slot.column(pst, c)];
            std::copy_n(rgb, 3, pal[slot.first_entry + c]);
            int x = 460 + slot.step * c;
            rectfill(glb_buffer, x, slot.y - 7, x + slot.width - 1, slot.y + 11, make_colour(rgb));
        }
    }
    int marker_y = 14 + 5 * rows[glb_slot];
    textout_ex(glb_buffer, font, ">", 717, marker_y, make_white(), -1);
    textout_ex(glb_buffer, font, "<", pst ? 791 : 787, marker_y, make_white(), -1);
}

// The frame drawn on the cleared sprite, stretched into the preview and
// centred, then the frame and zoom lines below it.
inline void draw_view_by_library(const gif_anim &anim)
{
    clear_to_color(glb_sprite, 0);
    bool shown = glb_frame < anim.num_frames && anim.frames[glb_frame].bmp;
    if (shown) {
        const gif_frame &frame = anim.frames[glb_frame];
        draw_sprite(glb_sprite, frame.bmp, frame.pos.x, frame.pos.y);
    }
    int w = glb_sprite->w * glb_zoom / 100;
    int h = glb_sprite->h * glb_zoom / 100;
    if (w > 0 && h > 0)
        stretch_blit(glb_sprite, glb_sub_preview, 0, 0, glb_sprite->w, glb_sprite->h,
                     (300 - w) / 2, (450 - h) / 2, w, h);
    textprintf_ex(glb_buffer, font, 50, 450, make_white(), -1, "Frame : %i", glb_frame);
    textprintf_ex(glb_buffer, font, 50, 460, make_white(), -1, "Zoom  : %i%%", glb_zoom);
}

// The screen image into glb_buffer, its palette into pal; the help names
// the extension of the files S writes.
inline void compose_screen_by_library(const gif_anim &anim, const data_set &set,
                                      uint8_t (*pal)[3], const char *extension = ".bmp")
{
    clear_to_color(glb_buffer, 0);
    draw_strip_by_library(set);
    draw_panel_by_library(set, pal);
    PALETTE six;
    for (int e = 0; e < 256; e++) {
        six[e].r = uint8_t(pal[e][0] >> 2);
        six[e].g = uint8_t(pal[e][1] >> 2);
        six[e].b = uint8_t(pal[e][2] >> 2);
        six[e].filler = 0;
    }
    set_palette(six);
    draw_view_by_library(anim);
    draw_help_lines(glb_buffer, make_white(), ".bmp");
    // The line of S names the extension: drawn anew over the help's own.
    rectfill(glb_buffer, 10, 540, 299, 547, 0);
    std::string save_line = std::string("S                  : Save into ") + extension;
    textout_ex(glb_buffer, font, save_line.c_str(), 10, 540, make_white(), -1);
}

// glb_buffer and the composed palette against the library's pass over noise.
inline void expect_library_image(const gif_anim &anim, const data_set &set,
                                 const char *extension = ".bmp")
{
    int depth = bitmap_color_depth(glb_buffer);
    BITMAP *ours = create_checked_bitmap(depth, BUFFER_W, BUFFER_H);
    blit(glb_buffer, ours, 0, 0, 0, 0, BUFFER_W, BUFFER_H);
    size_t row = size_t(BUFFER_W * ((depth + 7) / 8));
    for (int y = 0; y < BUFFER_H; y++)
        std::memset(glb_buffer->line[y], y | 1, row);
    uint8_t pal[256][3];
    compose_screen_by_library(anim, set, pal, extension);
    EXPECT_EQ(0, memcmp(working_palette, pal, sizeof pal));
    for (int y = 0; y < BUFFER_H; y++)
        ASSERT_EQ(0, memcmp(ours->line[y], glb_buffer->line[y], row)) << "row " << y;
    destroy_bitmap(ours);
}

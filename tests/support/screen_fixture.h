// Shared set-up for the screen, key and export tests, and the interfaces
// they all drive.
#pragma once

#include <allegro.h>
#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "app/app.h"
#include "display/screen.h"
#include "export/export.h"
#include "common/checked_bitmap.h"
#include "gif/gif_anim.h"
#include "palette/data_set.h"
#include "palette/global_palette.h"
#include "palette/tint_slots.h"

inline std::vector<unsigned int> glb_test_pauses; // pauses taken, in order
inline std::vector<int> glb_test_releases;        // keys waited on, in order

// Per test: the library without a display at 32 bits, released keys, pauses
// and release waits recorded, view and slot state zeroed, known palettes and
// a scratch working directory. TearDown frees and undoes all of it.
struct screen_test : ::testing::Test {
    gif_anim anim{};
    std::vector<gif_frame> frames;
    char dir[28] = "/tmp/huesmith_screen_XXXXXX";

    void SetUp() override
    {
        static bool started = install_allegro(SYSTEM_NONE, &errno, atexit) == 0;
        ASSERT_TRUE(started && mkdtemp(dir) && chdir(dir) == 0);
        set_color_depth(32);
        set_color_conversion(COLORCONV_NONE);
        glb_pause = [](unsigned int ms) { glb_test_pauses.push_back(ms); };
        // Stands in for the keyboard handler: the key goes up once waited on.
        glb_wait_release = [](int scancode) { glb_test_releases.push_back(scancode), key[scancode] = 0; };
        // Distinct, never black, with both low bits in use.
        for (int k = 0; k < 256; k++)
            for (int c = 0; c < 3; c++)
                glb_palette[k][c] = working_palette[k][c] = uint8_t(k * (3 + 2 * c) + c * 85 + 9);
    }
    void TearDown() override
    {
        make_anim(0, 0, 0);
        std::error_code ignored;
        if (chdir("/tmp") == 0)
            std::filesystem::remove_all(dir, ignored);
    }
    // Frees the earlier animation and bitmaps, clears keys and view state;
    // then, unless n is 0, a w x h animation of n frames without bitmaps and
    // the five bitmaps for it.
    void make_anim(int w, int h, int n)
    {
        for (BITMAP **bmp : {&glb_sub_preview, &glb_buffer, &glb_cmap, &glb_sprite, &glb_sprite_8bpp})
            destroy_bitmap(*bmp), *bmp = nullptr;
        for (gif_frame &frame : frames)
            destroy_bitmap(frame.bmp);
        std::fill(key, key + KEY_MAX, 0);
        glb_test_pauses.clear();
        glb_test_releases.clear();
        glb_slot = glb_frame = pcx_flag = 0;
        glb_zoom = 100;
        glb_screen_dirty = true;
        std::fill(palshift_bg2, palshift_bg2 + BG2_SLOTS, 0);
        std::fill(palshift_pst, palshift_pst + PST_SLOTS, 0);
        frames.assign(n, gif_frame{});
        anim = {n, 1, w, h, frames.data(), nullptr};
        if (n == 0)
            return;
        glb_buffer = create_checked_bitmap(32, BUFFER_W, BUFFER_H);
        glb_sub_preview = create_sub_bitmap(glb_buffer, 0, 0, PREVIEW_W, PREVIEW_H);
        glb_cmap = create_checked_bitmap(32, CMAP_W, CMAP_H);
        clear_to_color(glb_cmap, 0);
        glb_sprite = create_checked_bitmap(32, w, h);
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

inline std::vector<uint8_t> read_screen_file(const std::string &name)
{
    std::ifstream in(name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

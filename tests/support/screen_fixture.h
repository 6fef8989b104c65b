// Shared set-up for the screen, key and export tests: the library without a
// display, hand-made animations, the five bitmaps and a scratch directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct BITMAP;
struct gif_anim;

// Starts the library once per process (no display, 32-bit colour depth).
void start_screen_allegro();

// A calloc'ed animation of the given logical size with num_frames frames,
// each without a bitmap; the palette block holds one slot.
gif_anim *make_screen_anim(int w, int h, int num_frames);
// Gives frame i an 8-bit fw x fh bitmap at (x, y), filled with index fill.
BITMAP *add_screen_frame(gif_anim *anim, int i, int x, int y, int fw, int fh, int fill);
void free_screen_anim(gif_anim *anim);

// Creates glb_buffer, glb_sub_preview, glb_cmap, glb_sprite (32-bit) and
// glb_sprite_8bpp for a w x h logical screen; destroys them again.
void create_screen_bitmaps(int w, int h);
void destroy_screen_bitmaps();

// Releases every key of the library's key-state array.
void release_screen_keys();

// Makes a fresh temporary directory the working directory; the second call
// returns to the previous one and removes the scratch directory.
void enter_screen_scratch_dir();
void leave_screen_scratch_dir();

std::vector<uint8_t> read_screen_file(const std::string &name);
bool write_screen_file(const std::string &name, const std::vector<uint8_t> &bytes);

// Fills working_palette with distinct values (low bits set) and
// display_palette with the same shifted right by 2.
void fill_screen_palettes(int seed);

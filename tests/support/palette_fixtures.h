// Helpers for the palette engine tests: a library without a display, fresh
// working directories, hand-built animations and child-process runs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct BITMAP;
struct gif_anim;

// Installs the library without a display (once) and sets 32-bit depth.
void init_palette_test_library();

// Makes a fresh directory under /tmp and makes it the working directory.
std::string enter_fresh_dir();

// Leaves the directory made by enter_fresh_dir and removes it with all it holds.
void leave_fresh_dir(const std::string &path);

// A calloc'ed record with frames and palette slots, each frame an 8-bit
// w x h bitmap cleared to 0 with palette slot 0.
gif_anim *make_test_anim(int num_frames, int num_palettes, int w, int h);

// Releases a record made by make_test_anim.
void free_test_anim(gif_anim *anim);

struct child_run {
    int status;         // exit status, -1 when the child did not exit
    std::string output; // everything the child wrote to stdout
};

// Runs body in a forked child with stdout sent to a file.
child_run run_in_child(const std::function<void()> &body);

bool write_bytes(const std::string &path, const std::vector<uint8_t> &bytes);
std::vector<uint8_t> read_bytes(const std::string &path);

// Saves a 24-bit BMP whose pixel (x, y) has the colour rgb(x, y) returns as
// 0xRRGGBB.
bool write_rgb_bmp(const std::string &path, int w, int h,
                   const std::function<uint32_t(int, int)> &rgb);

// True when every pixel of the w x h area at (x, y) is equal in a and b.
bool same_area(BITMAP *a, BITMAP *b, int x, int y, int w, int h);

// Reference frames from the giflib decoder, composited on a canvas the way
// the reader draws them, and helpers to load through the reader in tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct gif_anim;

struct gif_ref_frame {
    int x, y, w, h;
    int pal;                      // expected palette slot
    int trans;                    // -1 for none
    int delay;
    std::vector<uint8_t> pixels;  // w x h: the image rectangle after drawing
};

struct gif_reference {
    int w, h;
    std::vector<gif_ref_frame> frames;
    std::vector<std::vector<uint8_t>> palettes; // 768 bytes per slot
};

// Decodes path with giflib and composites every frame; false (with a
// reason) when giflib refuses the file.
bool build_gif_reference(const std::string &path, gif_reference *ref, std::string *error);

// Checks every frame record, bitmap and palette slot against the reference.
void expect_anim_matches(const gif_anim *anim, const gif_reference &ref);

// Installs the library without a display and sets 8-bit colour, once.
void start_gif_tests();

// load_gif_anim with standard output captured into *text.
gif_anim *load_gif_captured(const std::string &path, std::string *text);

// Pixel values of a frame bitmap, row by row.
std::vector<uint8_t> read_frame_pixels(const gif_anim *anim, int frame);

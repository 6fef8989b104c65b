// Reference frames from the giflib decoder, composited on a canvas the way
// the reader draws them, and helpers to load through the reader in tests.
#pragma once

#include "support/gif_writer.h"

struct gif_anim;

struct gif_ref_frame {
    std::vector<int> fields; // x, y, w, h, pal, trans, delay
    byte_list pixels;        // w x h: the image rectangle after drawing
};

struct gif_reference {
    int w = 0, h = 0;
    std::vector<gif_ref_frame> frames;
    byte_list palettes; // 768 bytes per slot
};

// Decodes path with giflib and composites every frame; false when giflib
// refuses the file.
bool build_gif_reference(const std::string &path, gif_reference *ref);
// Checks every frame record, bitmap and palette slot against the reference.
void expect_anim_matches(const gif_anim *anim, const gif_reference &ref);
// load_gif_anim with standard output captured into *text when given.
gif_anim *load_gif_captured(const std::string &path, std::string *text = nullptr);
// Pixel values of a frame bitmap, row by row; empty without a bitmap.
byte_list read_frame_pixels(const gif_anim *anim, int frame);

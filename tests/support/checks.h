// Shared by the tests and the fuzz targets: made-up colours and pixels for
// GIF files, and one body per fuzz target, which returns "" when what a
// loader left keeps the rules, else what went wrong.
#pragma once

#include "gif_write.h"

#include <string>

struct gif_anim;

std::vector<gif_rgb> test_colours(int bits); // 2^bits, none for 0, unlike any earlier
byte_list make_pixels(int w, int h, int colours, int seed); // a varied pattern below colours

std::vector<gif_rgb> make_full_palette(int seed); // 256 entries, all differing, low bits in use

// A PNG read back by libpng; ok only for an 8-bit indexed one read whole.
struct png_read {
    bool ok;
    int w, h;
    std::vector<gif_rgb> palette;
    byte_list alpha; // the tRNS entries
    byte_list pixels;
};
png_read read_png_bytes(const byte_list &bytes);

// The whole file decoded by giflib, null when it fails; DGifCloseFile it.
GifFileType *slurp_gif_bytes(const byte_list &bytes);
// Each image's graphic control delay, 0 without one.
std::vector<int> list_gif_delays(GifFileType *file);

// load_gif_memory on the bytes, with the trace off.
gif_anim *load_gif_bytes(const byte_list &bytes);
byte_list read_frame_pixels(const gif_anim *anim, int frame); // empty without a bitmap
// Counts, frames, bitmaps and palette slots walked as the remap indexes them.
std::string check_gif_anim(const gif_anim *anim);

// The input as a GIF file, checked as above.
std::string run_gif_body(const uint8_t *data, size_t size);
// The input as palette file, and as gradient bitmap of both data sets:
// refused untouched, or black outside the block it loads.
std::string run_palette_body(const uint8_t *data, size_t size);
// The input as one image's data for a plain bit-by-bit LZW decoder and the
// program's (its table kept from earlier inputs): the same indices, count
// and place where the parse goes on. Bytes 0..4: code size (mod 12), width
// and height (their product is the number of indices kept), flags (1: an
// output buffer with no room past its end), unused; then the data from its
// first sub-block.
std::string run_lzw_body(const uint8_t *data, size_t size);

// Test-side GIF writer: builds GIF bytes block by block, with LZW data from
// a real encoder or from raw code lists, so malformed streams can be made.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct gif_code {
    int code;
    int width; // bits written
};

// One image: descriptor, optional local table, code size and data.
struct gif_image_spec {
    int x = 0, y = 0, w = 0, h = 0;
    std::vector<uint8_t> local_rgb; // 3 x 2^n bytes; empty for none
    bool interlace = false;
    int min_code_size = 8;
    std::vector<uint8_t> data;      // packed code bytes, split into sub-blocks
    int block_size = 255;           // bytes per data sub-block
    bool terminate = true;          // write the zero-length terminator
};

// Codes for pixels in stream order: a clear first, the end code last, each
// with the width a decoder reads it at. Without clear_when_full the encoder
// keeps sending 12-bit codes once the table is full.
std::vector<gif_code> encode_gif_lzw(const std::vector<uint8_t> &pixels, int min_code_size,
                                     bool clear_when_full = true);
// Widths for a raw code list, as a decoder tracks them.
std::vector<gif_code> assign_gif_code_widths(const std::vector<int> &codes, int min_code_size);
std::vector<uint8_t> pack_gif_codes(const std::vector<gif_code> &codes);
// Rows of a w x h image reordered into interlaced stream order.
std::vector<uint8_t> interlace_gif_rows(const std::vector<uint8_t> &pixels, int w, int h);
// Image spec whose data encodes pixels (given in display order).
gif_image_spec make_gif_image(int x, int y, int w, int h, const std::vector<uint8_t> &pixels,
                              int min_code_size = 8, bool interlace = false);

void write_gif_header(std::vector<uint8_t> *out, int w, int h,
                      const std::vector<uint8_t> &global_rgb, int background);
void write_gif_gce(std::vector<uint8_t> *out, int disposal, bool transparent, int index,
                   int delay);
// Extension with the given label, first block and following sub-blocks.
void write_gif_extension(std::vector<uint8_t> *out, int label, const std::vector<uint8_t> &first,
                         const std::vector<std::vector<uint8_t>> &sub_blocks);
void write_gif_image(std::vector<uint8_t> *out, const gif_image_spec &image);
void write_gif_trailer(std::vector<uint8_t> *out);

// 2^bits entries of distinct, recognisable colours.
std::vector<uint8_t> make_gif_colour_table(int bits, int seed);
// Writes bytes to a per-process temporary file; returns its path.
std::string save_temp_gif(const std::string &name, const std::vector<uint8_t> &bytes);

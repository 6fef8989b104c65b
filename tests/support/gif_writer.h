// Test-side GIF writer: appends GIF blocks byte by byte, valid or not, with
// LZW data from a real encoder or from a raw code list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using byte_list = std::vector<uint8_t>;

// w x h pixels of a varied pattern of indices below colours.
byte_list make_pixels(int w, int h, int colours, int seed);
// "GIF89a", the screen descriptor and a global table of 2^bits entries (none
// for bits 0). Every table's colours are distinct and differ between tables.
byte_list make_gif_screen(unsigned w, unsigned h, int bits, int background);
// Graphic control extension of block size 4; trans -1 clears the flag.
void append_gce(byte_list &out, int disposal, int trans, int delay = 0);
// Extension with one first block, one more sub-block when given, terminator.
void append_extension(byte_list &out, int label, const byte_list &first, const byte_list &more = {});
// Bytes cut into sub-blocks of at most block_size, then the terminator.
void append_sub_blocks(byte_list &out, const byte_list &bytes, size_t block_size = 255);
// Raw codes packed least significant bit first, each at the width a decoder
// reads it at.
byte_list pack_gif_codes(const std::vector<int> &codes, int min_code_size);
// Dictionary encoder: clear first, end last, and no clear when the table is
// full (12-bit codes go on without new entries).
byte_list encode_gif_lzw(const byte_list &pixels, int min_code_size);
// Descriptor, local table of 2^bits entries (none for 0) and code size byte.
void append_gif_descriptor(byte_list &out, unsigned x, unsigned y, unsigned w, unsigned h, int bits,
                           int min_code_size, bool interlace = false);
// Descriptor and the encoded pixels, given in display order.
void append_gif_image(byte_list &out, unsigned x, unsigned y, unsigned w, unsigned h, int bits,
                      int min_code_size, const byte_list &pixels, bool interlace = false,
                      size_t block_size = 255);
// Writes the bytes into this process's scratch directory; returns the path.
std::string save_temp_gif(const std::string &name, const byte_list &bytes);

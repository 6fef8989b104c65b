// Byte-level GIF writer for hostile inputs: every block is appended as the
// test spells it, valid or not.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using byte_list = std::vector<uint8_t>;

void append_u16(byte_list &out, unsigned value);

// "GIF89a", the logical screen descriptor and, when global_bits is 1..8, a
// global table of 2^global_bits entries (entry i = (i, 255 - i, i / 2)).
void append_gif_screen(byte_list &out, unsigned w, unsigned h, int global_bits,
                       int background);

// A colour table of 2^bits entries, entry i = (i, 255 - i, i / 2).
void append_color_table(byte_list &out, int bits);

// Graphic control extension with the standard block size 4.
void append_gce(byte_list &out, int disposal, int trans);

// A comment extension holding one sub-block of text.
void append_comment(byte_list &out, const std::string &text);

// Bytes cut into sub-blocks of at most 255, with the terminator.
void append_sub_blocks(byte_list &out, const byte_list &bytes);

// LZW stream of the pixels at this minimum code size: one literal code per
// pixel, a clear code before the code width would grow, then the end code.
// Pixel values must be below 2^min_code_size.
byte_list encode_gif_lzw(int min_code_size, const byte_list &pixels);

// Image descriptor (local table of 2^local_bits entries when local_bits is
// 1..8), the code size byte and the encoded pixels in sub-blocks.
void append_gif_image(byte_list &out, unsigned x, unsigned y, unsigned w, unsigned h,
                      int local_bits, int min_code_size, const byte_list &pixels);

// Writes the bytes to a file in the process's scratch directory; its path.
std::string write_hostile_file(const std::string &name, const byte_list &bytes);

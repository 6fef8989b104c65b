// LZW decoder for one GIF image's table-based data.
#pragma once

#include <cstdio>

struct BITMAP;

// Smallest and largest minimum code size the decoder accepts; a size above
// the limit would let codes index past the 4096-entry string table.
constexpr int GIF_LZW_MAX_MIN_CODE_SIZE = 11;

// Decodes from the first data sub-block's size byte into target (its own
// width and height give the row length and count). Pixels equal to trans are
// skipped. Leaves the stream after the image data's terminator.
void decode_gif_image(FILE *file, int min_code_size, BITMAP *target,
                      int interlace, int trans);

// Skips a chain of sub-blocks, stopping after the zero-length block or at
// end of file.
void skip_gif_sub_blocks(FILE *file);

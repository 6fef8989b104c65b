// LZW decoder for one GIF image's table-based data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

struct BITMAP;

constexpr int GIF_LZW_TABLE_SIZE = 4096; // codes of up to 12 bits

// String table: entries as links (prefix code, suffix index) for a walk,
// and as places in the output (offset, length, first index, and the whole
// string when it is short) for a copy.
struct gif_lzw_table {
    uint16_t prefix[GIF_LZW_TABLE_SIZE];
    uint8_t suffix[GIF_LZW_TABLE_SIZE];
    uint8_t first[GIF_LZW_TABLE_SIZE];
    uint16_t length[GIF_LZW_TABLE_SIZE];
    uint32_t offset[GIF_LZW_TABLE_SIZE];
    uint64_t bytes[GIF_LZW_TABLE_SIZE]; // strings of up to 8, first index lowest
};

// Working buffers of the decoder, kept from one image to the next so that
// an animation's frames do not each allocate (and fault in) their own.
struct gif_decode_scratch {
    std::vector<uint8_t> window;    // data bytes of the sub-blocks being decoded, joined
    std::vector<size_t> block_end;  // running total of data bytes after each sub-block
    std::vector<uint8_t> indices;   // decoded indices in stored order
    std::vector<int> rows;          // decoded row number -> y
    std::vector<size_t> wide_codes; // where first codes above 255 were written
    std::vector<gif_lzw_table> table; // one table
};

// Smallest and largest minimum code size the decoder accepts; a size above
// the limit would let codes index past the 4096-entry string table.
constexpr int GIF_LZW_MAX_MIN_CODE_SIZE = 11;

// Decodes from the first data sub-block's size byte into target (its own
// width and height give the row length and count). Pixels equal to trans are
// skipped. Leaves the stream after the image data's terminator.
void decode_gif_image(FILE *file, int min_code_size, BITMAP *target,
                      int interlace, int trans);
// The same, with buffers the caller keeps between images.
void decode_gif_image_with(FILE *file, int min_code_size, BITMAP *target, int interlace,
                           int trans, gif_decode_scratch *scratch);
// A plain image (not interlaced, no transparent index) decoded straight into
// the target's rows. Returns how many pixels, in row order from the top
// left, it decoded; the pixels after them hold nothing defined and are the
// caller's to fill.
size_t decode_plain_gif_image(FILE *file, int min_code_size, BITMAP *target,
                              gif_decode_scratch *scratch);

// Skips a chain of sub-blocks, stopping after the zero-length block or at
// end of file.
void skip_gif_sub_blocks(FILE *file);
// Skips count bytes by reading them (a seek costs a system call each time);
// false on a read error. Stops early at end of file.
bool skip_gif_bytes(FILE *file, long count);

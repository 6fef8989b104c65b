// LZW decoder for one GIF image's table-based data (see README.md here for
// how it copies strings).
#pragma once

#include <cstddef>
#include <cstdio>

struct BITMAP;

// The decoder's working buffers, kept from one image to the next so that an
// animation's frames do not each allocate (and fault in) their own.
struct gif_decoder;

// Null when memory runs out.
gif_decoder *make_gif_decoder();
void free_gif_decoder(gif_decoder *decoder);

// Largest minimum code size the decoder accepts; a larger one would let
// codes index past the 4096-entry string table.
constexpr int GIF_LZW_MAX_MIN_CODE_SIZE = 11;

// Decodes from the first data sub-block's size byte into target, whose own
// width and height give the row length and count, and leaves the stream
// after the image data's terminator. Returns how many pixels it decoded, in
// stored order. In a plain image (not interlaced, no transparent index) the
// pixels after them hold nothing defined and are the caller's to fill; in
// any other image the pixels it leaves alone, those equal to trans among
// them, keep what they held.
size_t decode_gif_image(FILE *file, int min_code_size, BITMAP *target, int interlace, int trans,
                        gif_decoder *decoder);

// Skips a chain of sub-blocks, stopping after the zero-length block or at
// end of file.
void skip_gif_sub_blocks(FILE *file);
// Skips count bytes by reading them (a seek costs a system call each time);
// false on a read error. Stops early at end of file.
bool skip_gif_bytes(FILE *file, long count);

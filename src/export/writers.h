// The export's file writers: each codes an 8-bit bitmap as the library's
// writer lays it out, with the 6-bit palette, then puts the exact 8-bit one
// where the patch after the library's writer would put it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "common/simd_tier.h"

struct BITMAP;

// The file for bmp in the first bytes of bytes; returns its length. bytes
// may be kept longer than the file, for the next frame.
size_t encode_bmp_file(BITMAP *bmp, std::vector<uint8_t> &bytes);
size_t encode_pcx_file(BITMAP *bmp, std::vector<uint8_t> &bytes);
// An indexed PNG of bmp on working_palette, index 0 transparent; 0 when
// it cannot be coded.
size_t encode_png_file(BITMAP *bmp, std::vector<uint8_t> &bytes);

// Codes one PCX row of w pixels into out, which has room for two bytes a
// pixel plus one; returns the end of the row's code. The plain coder states
// the run rule; the other takes the vector coders of the tier where they
// can go and the plain rule elsewhere, and gives the same bytes.
uint8_t *code_pcx_row_plainly(const uint8_t *row, int w, uint8_t *out);
uint8_t *code_pcx_row(const uint8_t *row, int w, uint8_t *out, simd_tier tier);

#ifdef __x86_64__
// From row[x], which starts a run, the runs the vector coders can take at
// once; each returns where it stopped (x when it took none) and moves out
// past what it wrote. It may store up to sixteen (eight-pixel coder) or 128
// (sixty-four-pixel coder) bytes past the end of what it wrote.
int shuffle_pcx_runs(const uint8_t *row, int x, int w, uint8_t *&out);
int compress_pcx_runs(const uint8_t *row, int x, int w, uint8_t *&out);
#endif

// Rewrites the colour table that find locates with bytes, warning in the
// routine's name when the file cannot be opened, has no room for the table,
// or cannot be written. A file without a sound table is left alone.
void patch_palette_table(const char *file, const char *routine, long (*find)(FILE *),
                         const uint8_t *bytes, size_t count);

// Length of an open file, or -1.
long measure_file(FILE *file);

// Reference LZW decoder for differential tests of the program's decoder.
#pragma once

#include <cstdio>

struct BITMAP;

// Same contract as decode_gif_image.
void decode_gif_image_reference(FILE *file, int min_code_size, BITMAP *target,
                                int interlace, int trans);

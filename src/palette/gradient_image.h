// The gradient bitmap's file, checked before the library's loader sees it.
#pragma once

#include <cstdint>

struct BITMAP;

// Loads the image file (a regular file, its format chosen by extension as
// the library's loader does) from bytes read once, refusing (null) what the
// loader cannot be trusted with: a header claiming too large an image, a
// compressed BMP whose runs leave their rows or the image. A paletted image
// comes back 8-bit, its colours in colours at the file's full 8 bits; any
// other keeps its own depth.
BITMAP *load_gradient_image(const char *file, uint8_t colours[256][3]);

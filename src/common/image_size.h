// The size an image file's header announces, read before the library's
// loader is let near the file.
#pragma once

#include <cstddef>
#include <cstdint>

// Width and height that the header of the image file named file (whose
// first size bytes are head) announces, for the formats the library's
// loader picks by extension (.bmp, .pcx, .tga); false for any other file or
// one too short to hold the header.
bool read_image_size(const char *file, const uint8_t *head, size_t size, long long *w,
                     long long *h);

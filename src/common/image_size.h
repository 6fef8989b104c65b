// The size an image file's header announces, read before the library's
// loader is let near the file.
#pragma once

// Width and height that the image's header announces, for the formats the
// library's loader picks by extension (.bmp, .pcx, .tga); false for any
// other file or one too short to hold the header.
bool read_image_size(const char *file, long long *w, long long *h);

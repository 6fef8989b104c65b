// Bitmap creation guarded against the library's 32-bit size arithmetic, and
// the test for bitmaps whose rows may be read and written directly.
#pragma once

struct BITMAP;

// Like the library's create_bitmap_ex (depth 0 means the current colour
// depth), but refuses, as a failed creation (null), negative sizes and any
// bitmap whose byte size would not fit in a signed 32-bit value.
BITMAP *create_checked_bitmap(int depth, int w, int h);

// True when a w x h bitmap of depth bits per pixel fits the library's sizes.
bool bitmap_size_fits(int depth, long long w, long long h);

// Bytes per pixel of a depth whose rows are written directly (8, 15, 16,
// 24, 32), else 0.
int count_pixel_bytes(int depth);

// True when bmp is a memory bitmap of such a depth (of this depth, when
// depth is not 0): its line pointers are plain rows of pixels.
bool is_plain_bitmap(BITMAP *bmp, int depth = 0);

// True when bmp clips, and to the whole of itself: plain row writes then
// do what the library's clipped drawing would.
bool has_whole_clip(BITMAP *bmp);

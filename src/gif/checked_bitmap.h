// Bitmap creation guarded against the library's 32-bit size arithmetic.
#pragma once

struct BITMAP;

// Like the library's create_bitmap_ex (depth 0 means the current colour
// depth), but refuses, as a failed creation (null), negative sizes and any
// bitmap whose byte size would not fit in a signed 32-bit value.
BITMAP *create_checked_bitmap(int depth, int w, int h);

// True when a w x h bitmap of depth bits per pixel fits the library's sizes.
bool bitmap_size_fits(int depth, long long w, long long h);

#include "gif/checked_bitmap.h"

#include <allegro.h>
#include <climits>

bool bitmap_size_fits(int depth, long long w, long long h)
{
    if (w < 0 || h < 0 || w > INT_MAX || h > INT_MAX)
        return false;
    long long bytes_per_pixel = (depth + 7) / 8;
    // Each factor is below 2^31 and bytes_per_pixel at most 4, so neither
    // product overflows 64 bits.
    long long row = w * bytes_per_pixel;
    if (row > INT_MAX)
        return false;
    // The library also keeps one line pointer per row.
    if (h > INT_MAX / static_cast<long long>(sizeof(void *)))
        return false;
    return h == 0 || row <= INT_MAX / h;
}

BITMAP *create_checked_bitmap(int depth, int w, int h)
{
    if (depth == 0)
        depth = get_color_depth();
    if (!bitmap_size_fits(depth, w, h))
        return nullptr;
    return create_bitmap_ex(depth, w, h);
}

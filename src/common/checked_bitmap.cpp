#include "common/checked_bitmap.h"

#include <allegro.h>
#include <climits>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

// Below this many bytes a bitmap's pages are left to fault in one by one.
constexpr long long PREFAULT_MIN_BYTES = 64 * 1024;

// Asks the kernel to map a large memory bitmap's fresh pages in one call
// rather than in one fault per page as rows are first written: on a
// virtual machine each fault is costly. Memory the allocator hands out
// again is mostly mapped already, and walking its pages costs more than the
// few faults it saves: when the first whole page is mapped, nothing is
// asked. Only a hint; any failure is ignored.
static void prefault_bitmap(BITMAP *bmp, int depth)
{
#ifdef MADV_POPULATE_WRITE
    long long bytes = static_cast<long long>(bmp->w) * ((depth + 7) / 8) * bmp->h;
    if (bytes < PREFAULT_MIN_BYTES || !is_memory_bitmap(bmp))
        return;
    uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    uintptr_t start = (reinterpret_cast<uintptr_t>(bmp->line[0]) + page - 1) & ~(page - 1);
    uintptr_t end = (reinterpret_cast<uintptr_t>(bmp->line[0]) + uintptr_t(bytes)) & ~(page - 1);
    unsigned char mapped = 0;
    if (end > start && mincore(reinterpret_cast<void *>(start), page, &mapped) == 0 && (mapped & 1))
        return;
    if (end > start)
        madvise(reinterpret_cast<void *>(start), end - start, MADV_POPULATE_WRITE);
#else
    (void)bmp;
    (void)depth;
#endif
}

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
    BITMAP *bmp = create_bitmap_ex(depth, w, h);
    if (bmp)
        prefault_bitmap(bmp, depth);
    return bmp;
}

int count_pixel_bytes(int depth)
{
    switch (depth) {
    case 8:
        return 1;
    case 15:
    case 16:
        return 2;
    case 24:
        return 3;
    case 32:
        return 4;
    default:
        return 0;
    }
}

bool is_plain_bitmap(BITMAP *bmp, int depth)
{
    if (!bmp || !is_memory_bitmap(bmp))
        return false;
    int own = bitmap_color_depth(bmp);
    return count_pixel_bytes(own) && (depth == 0 || own == depth);
}

bool has_whole_clip(BITMAP *bmp)
{
    return bmp->clip && bmp->cl == 0 && bmp->ct == 0 && bmp->cr == bmp->w && bmp->cb == bmp->h;
}

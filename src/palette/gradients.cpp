#include "palette/gradients.h"

#include "display/screen.h"

#include <allegro.h>
#include <cstdio>
#include <cstring>
#include <strings.h>

uint8_t gradient_table[GRADIENT_TABLE_ROWS][GRADIENT_TABLE_COLUMNS][3];

// A row or column count cut into 0..limit, so no loop leaves the table.
static int clamp_count(int count, int limit)
{
    return count < 0 ? 0 : count > limit ? limit : count;
}

static long long read_le(const uint8_t *p, int bytes)
{
    unsigned long long v = 0;
    for (int k = bytes - 1; k >= 0; k--)
        v = v << 8 | p[k];
    return (long long)v;
}

static long long read_le32_signed(const uint8_t *p)
{
    return (long long)int32_t(uint32_t(read_le(p, 4)));
}

// Width and height that the image's header announces, for the formats the
// library's loader picks by extension; false for any other file.
static bool read_image_size(const char *file, long long *w, long long *h)
{
    const char *dot = std::strrchr(file, '.');
    if (!dot)
        return false;
    FILE *in = std::fopen(file, "rb");
    if (!in)
        return false;
    uint8_t head[26];
    size_t got = std::fread(head, 1, sizeof head, in);
    std::fclose(in);
    if (strcasecmp(dot, ".bmp") == 0) {
        if (got < 26)
            return false;
        // A 12-byte info header holds 16-bit sizes, the others 32-bit ones.
        // The loader takes a negative (top-down) height as it stands, so
        // that is refused as a bad size too.
        bool os2 = read_le(head + 14, 4) == 12;
        *w = os2 ? read_le(head + 18, 2) : read_le32_signed(head + 18);
        *h = os2 ? read_le(head + 20, 2) : read_le32_signed(head + 22);
        return true;
    }
    if (strcasecmp(dot, ".pcx") == 0) {
        if (got < 12)
            return false;
        *w = read_le(head + 8, 2) - read_le(head + 4, 2) + 1;
        *h = read_le(head + 10, 2) - read_le(head + 6, 2) + 1;
        return true;
    }
    if (strcasecmp(dot, ".tga") == 0) {
        if (got < 16)
            return false;
        *w = read_le(head + 12, 2);
        *h = read_le(head + 14, 2);
        return true;
    }
    return false;
}

// Gradients are a few dozen pixels each way; anything past this is no
// gradient bitmap, however large a header may claim it to be.
constexpr long long GRADIENT_IMAGE_MAX_SIDE = 16384;
constexpr long long GRADIENT_IMAGE_MAX_PIXELS = 1LL << 24;

// The library's loader sizes its bitmaps in 32-bit arithmetic without any
// check, and a zero width with a huge height still costs one line pointer
// per row, so a lying header is refused before it gets there.
static bool check_image_size(const char *file)
{
    long long w, h;
    return read_image_size(file, &w, &h) && w >= 0 && h >= 0 &&
           w <= GRADIENT_IMAGE_MAX_SIDE && h <= GRADIENT_IMAGE_MAX_SIDE &&
           w * h <= GRADIENT_IMAGE_MAX_PIXELS;
}

bool load_cmaps(const char *file, int columns, int rows)
{
    if (!check_image_size(file))
        return false;
    BITMAP *source = load_bitmap(file, nullptr);
    if (!source)
        return false;
    std::memset(gradient_table, 0, sizeof gradient_table);
    columns = clamp_count(columns, GRADIENT_TABLE_COLUMNS);
    rows = clamp_count(rows, GRADIENT_TABLE_ROWS);
    int depth = bitmap_color_depth(source);
    // Positions outside a too-small bitmap keep the black they were given.
    int used_rows = rows < source->h ? rows : source->h;
    int used_columns = columns < source->w ? columns : source->w;
    for (int r = 0; r < used_rows; r++)
        for (int c = 0; c < used_columns; c++) {
            int pixel = getpixel(source, c, r);
            gradient_table[r][c][0] = uint8_t(getr_depth(depth, pixel));
            gradient_table[r][c][1] = uint8_t(getg_depth(depth, pixel));
            gradient_table[r][c][2] = uint8_t(getb_depth(depth, pixel));
        }
    destroy_bitmap(source);
    return true;
}

void draw_cmaps(int columns, int rows, int step)
{
    if (!glb_cmap)
        return;
    clear_bitmap(glb_cmap);
    columns = clamp_count(columns, GRADIENT_TABLE_COLUMNS);
    rows = clamp_count(rows, GRADIENT_TABLE_ROWS);
    int depth = bitmap_color_depth(glb_cmap);
    // Each 6 x 6 swatch overlaps its neighbours; later ones cover the
    // overlap, so a cell shows step x 5 pixels except on the far edges.
    for (int r = 0; r < rows; r++)
        for (int c = 0; c < columns; c++) {
            const uint8_t *rgb = gradient_table[r][c];
            int color = makecol_depth(depth, rgb[0], rgb[1], rgb[2]);
            rectfill(glb_cmap, c * step, r * 5, c * step + 5, r * 5 + 5, color);
        }
}

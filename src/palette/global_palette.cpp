#include "palette/global_palette.h"

#include "common/address_text.h"
#include "common/checked_bitmap.h"
#include "common/safe_file.h"
#include "common/trace.h"
#include "gif/gif_anim.h"

#include <algorithm>
#include <allegro.h>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

uint8_t glb_palette[256][3];

bool load_glb_palette(const char *file)
{
    // Not a regular file (a directory, a FIFO), or one with nothing in it:
    // no palette to speak of.
    FILE *in = open_regular_stream(file);
    if (!in)
        return false;
    uint8_t bytes[256 * 3];
    size_t got = std::fread(bytes, 1, sizeof bytes, in);
    bool read_error = std::ferror(in) != 0;
    std::fclose(in);
    if (got == 0 || read_error)
        return false;
    // A short file is accepted: the end-of-file value's low byte (255)
    // stands in for every missing byte.
    std::memset(bytes + got, 255, sizeof bytes - got);
    std::memcpy(glb_palette, bytes, sizeof bytes);
    return true;
}

// After the failure line: releases the animation and ends the process.
[[noreturn]] static void end_remap(gif_anim *anim)
{
    std::fflush(stdout);
    destroy_gif_anim(anim);
    std::exit(1);
}

// Rectangle of the frame's bitmap that holds pixels: the frame's own size
// cut to the bitmap, none at all for a missing, non-memory or non-8-bit
// bitmap. Inside it the rows are read and written directly, one byte per
// pixel, which is several times faster than the per-pixel calls.
static void get_pixel_area(const gif_frame &frame, int *w, int *h)
{
    *w = 0;
    *h = 0;
    if (!is_plain_bitmap(frame.bmp, 8))
        return;
    *w = frame.w < frame.bmp->w ? frame.w : frame.bmp->w;
    *h = frame.h < frame.bmp->h ? frame.h : frame.bmp->h;
}

// Largest value of w pixels. Sixteen running maxima over blocks of sixteen
// are a loop the compiler turns into vector code, some twenty times faster
// than one running maximum.
static uint8_t find_row_max(const uint8_t *row, int w)
{
    uint8_t lanes[16] = {};
    int x = 0;
    for (; x + 16 <= w; x += 16)
        for (int k = 0; k < 16; k++)
            lanes[k] = row[x + k] > lanes[k] ? row[x + k] : lanes[k];
    uint8_t max = 0;
    for (; x < w; x++)
        max = row[x] > max ? row[x] : max;
    for (uint8_t lane : lanes)
        max = lane > max ? lane : max;
    return max;
}

// Largest pixel value of the frame, 0 when it has no pixels. The scan ends
// after the first row that holds 255.
static int find_max_index(const gif_frame &frame)
{
    int w, h;
    get_pixel_area(frame, &w, &h);
    uint8_t max = 0;
    for (int y = 0; y < h && max < 255; y++) {
        uint8_t row_max = find_row_max(frame.bmp->line[y], w);
        max = row_max > max ? row_max : max;
    }
    return max;
}

// glb_palette's colours as (r, g, b) << 8 | entry, sorted: the first entry
// of a colour is the first of its equal keys.
using color_index = std::array<uint32_t, 256>;

static void build_color_index(color_index &index)
{
    for (uint32_t j = 0; j < 256; j++)
        index[j] = uint32_t(glb_palette[j][0]) << 24 | uint32_t(glb_palette[j][1]) << 16 |
                   uint32_t(glb_palette[j][2]) << 8 | j;
    std::sort(index.begin(), index.end());
}

// First glb_palette entry equal to the colour, -1 when there is none.
static int find_glb_color(const color_index &index, const uint8_t *rgb)
{
    uint32_t key = uint32_t(rgb[0]) << 24 | uint32_t(rgb[1]) << 16 | uint32_t(rgb[2]) << 8;
    auto found = std::lower_bound(index.begin(), index.end(), key);
    if (found == index.end() || (*found & ~0xFFu) != key)
        return -1;
    return int(*found & 0xFF);
}

// Writes text then n as printf's %i would, and flushes, unless the trace is
// off: the trace is flushed piece by piece, and printf's formatting costs
// more than the rest.
static void print_number(const char *text, size_t text_length, int n, const char *after)
{
    if (glb_quiet)
        return;
    char digits[12];
    char *end = digits + sizeof digits, *p = end;
    unsigned int u = n < 0 ? 0u - unsigned(n) : unsigned(n);
    do {
        *--p = char('0' + u % 10);
        u /= 10;
    } while (u);
    if (n < 0)
        *--p = '-';
    std::fwrite(text, 1, text_length, stdout);
    std::fwrite(p, 1, size_t(end - p), stdout);
    std::fputs(after, stdout);
    std::fflush(stdout);
}

// First glb_palette entry nearest to the colour (squared distance of the
// three components).
static int find_nearest_color(const uint8_t *rgb)
{
    int nearest = 0, best = 3 * 255 * 255 + 1;
    for (int j = 0; j < 256; j++) {
        int d = 0;
        for (int k = 0; k < 3; k++)
            d += (glb_palette[j][k] - rgb[k]) * (glb_palette[j][k] - rgb[k]);
        if (d < best) {
            best = d;
            nearest = j;
        }
    }
    return nearest;
}

// What to do about a colour that glb_palette lacks.
static void print_missing_color_hint(const uint8_t *rgb, const char *palette_file)
{
    int j = find_nearest_color(rgb);
    std::printf("hint : recolour (%i, %i, %i) with a colour of <%s>; "
                "the nearest is entry %i (%i, %i, %i)\n",
                rgb[0], rgb[1], rgb[2], palette_file, j, glb_palette[j][0], glb_palette[j][1],
                glb_palette[j][2]);
}

// Fills table entries 0..max for frame i, tracing each lookup; a colour
// missing from glb_palette ends the process.
static void build_remap_table(gif_anim *anim, int i, int max, const color_index &index,
                              const char *palette_file, std::array<uint8_t, 256> &table)
{
    static const char color_text[] = "   color ";
    const gif_frame &frame = anim->frames[i];
    const uint8_t *colors = anim->palettes + size_t(frame.pal) * GIF_PALETTE_BYTES;
    for (int c = 0; c <= max; c++) {
        print_number(color_text, sizeof color_text - 1, c, "  --> ");
        int j = find_glb_color(index, colors + c * 3);
        if (j < 0) {
            std::printf("error : frame %i, color %i not found in glb palette\n", i, c);
            print_missing_color_hint(colors + c * 3, palette_file);
            end_remap(anim);
        }
        // Entry 1 is folded onto entry 0; the trace still shows the match.
        table[size_t(c)] = uint8_t(j == 1 ? 0 : j);
        print_number("", 0, j, "\n");
    }
}

// Four pixels per load and store: a third faster than one at a time.
static void rewrite_pixels(gif_frame &frame, const std::array<uint8_t, 256> &table)
{
    int w, h;
    get_pixel_area(frame, &w, &h);
    for (int y = 0; y < h; y++) {
        uint8_t *row = frame.bmp->line[y];
        int x = 0;
        for (; x + 4 <= w; x += 4) {
            uint32_t four;
            std::memcpy(&four, row + x, 4);
            four = uint32_t(table[four & 255]) | uint32_t(table[(four >> 8) & 255]) << 8 |
                   uint32_t(table[(four >> 16) & 255]) << 16 | uint32_t(table[four >> 24]) << 24;
            std::memcpy(row + x, &four, 4);
        }
        for (; x < w; x++)
            row[x] = table[row[x]];
    }
}

void remap_pixels(gif_anim *anim, const char *palette_file)
{
    if (!glb_quiet) {
        std::printf("gif_anim = %s\n", format_address(anim).c_str());
        std::fflush(stdout);
        std::printf("# frame  = %i\n", anim->num_frames);
        std::fflush(stdout);
    }
    color_index index;
    build_color_index(index);
    std::array<uint8_t, 256> table{};
    static const char frame_text[] = "\nframe ";
    for (int i = 0; anim->frames && i < anim->num_frames; i++) {
        gif_frame &frame = anim->frames[i];
        print_number(frame_text, sizeof frame_text - 1, i, "\n");
        if (frame.pal < 0 || frame.pal >= anim->num_palettes || !anim->palettes) {
            std::printf("error : frame %i has no color table\n", i);
            end_remap(anim);
        }
        int max = find_max_index(frame);
        build_remap_table(anim, i, max, index, palette_file, table);
        rewrite_pixels(frame, table);
    }
}

#include "palette/global_palette.h"

#include "gif/address_text.h"
#include "gif/gif_anim.h"

#include <allegro.h>
#include <array>
#include <cstdio>
#include <cstdlib>

uint8_t glb_palette[256][3];

bool load_glb_palette(const char *file)
{
    FILE *in = std::fopen(file, "rb");
    if (!in)
        return false;
    // A short file is accepted: the end-of-file value's low byte (255)
    // stands in for every missing byte.
    for (int e = 0; e < 256; e++)
        for (int k = 0; k < 3; k++)
            glb_palette[e][k] = uint8_t(std::fgetc(in));
    std::fclose(in);
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
    if (!frame.bmp || !is_memory_bitmap(frame.bmp) || bitmap_color_depth(frame.bmp) != 8)
        return;
    *w = frame.w < frame.bmp->w ? frame.w : frame.bmp->w;
    *h = frame.h < frame.bmp->h ? frame.h : frame.bmp->h;
}

// Largest pixel value of the frame, 0 when it has no pixels.
static int find_max_index(const gif_frame &frame)
{
    int w, h;
    get_pixel_area(frame, &w, &h);
    int max = 0;
    for (int y = 0; y < h; y++) {
        const uint8_t *row = frame.bmp->line[y];
        for (int x = 0; x < w; x++)
            if (row[x] > max)
                max = row[x];
    }
    return max;
}

// First glb_palette entry equal to the colour, -1 when there is none.
static int find_glb_color(const uint8_t *rgb)
{
    for (int j = 0; j < 256; j++)
        if (glb_palette[j][0] == rgb[0] && glb_palette[j][1] == rgb[1] &&
            glb_palette[j][2] == rgb[2])
            return j;
    return -1;
}

// Fills table entries 0..max for frame i, tracing each lookup; a colour
// missing from glb_palette ends the process.
static void build_remap_table(gif_anim *anim, int i, int max, std::array<int32_t, 256> &table)
{
    const gif_frame &frame = anim->frames[i];
    const uint8_t *colors = anim->palettes + size_t(frame.pal) * GIF_PALETTE_BYTES;
    for (int c = 0; c <= max; c++) {
        std::printf("   color %i  --> ", c);
        std::fflush(stdout);
        int j = find_glb_color(colors + c * 3);
        if (j < 0) {
            std::printf("error : frame %i, color %i not found in glb palette\n", i, c);
            end_remap(anim);
        }
        // Entry 1 is folded onto entry 0; the trace still shows the match.
        table[c] = j == 1 ? 0 : j;
        std::printf("%i\n", j);
        std::fflush(stdout);
    }
}

static void rewrite_pixels(gif_frame &frame, const std::array<int32_t, 256> &table)
{
    int w, h;
    get_pixel_area(frame, &w, &h);
    for (int y = 0; y < h; y++) {
        uint8_t *row = frame.bmp->line[y];
        for (int x = 0; x < w; x++)
            row[x] = uint8_t(table[row[x]]);
    }
}

void remap_pixels(gif_anim *anim)
{
    std::printf("gif_anim = %s\n", format_address(anim).c_str());
    std::fflush(stdout);
    std::printf("# frame  = %i\n", anim->num_frames);
    std::fflush(stdout);
    std::array<int32_t, 256> table{};
    for (int i = 0; anim->frames && i < anim->num_frames; i++) {
        gif_frame &frame = anim->frames[i];
        std::printf("\nframe %i\n", i);
        std::fflush(stdout);
        if (frame.pal < 0 || frame.pal >= anim->num_palettes || !anim->palettes) {
            std::printf("error : frame %i has no color table\n", i);
            end_remap(anim);
        }
        int max = find_max_index(frame);
        build_remap_table(anim, i, max, table);
        rewrite_pixels(frame, table);
    }
}

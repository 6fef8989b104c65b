#include "support/library_reference.h"

#include "display/screen.h"
#include "export/export.h"
#include "common/address_text.h"
#include "common/checked_bitmap.h"
#include "gif/gif_anim.h"
#include "palette/global_palette.h"
#include "palette/tint_slots.h"

#include <allegro.h>
#include <cstdio>
#include <cstdlib>

// The frame at index i alone on the cleared canvas, as draw_sprite leaves it.
static void draw_frame_alone(BITMAP *canvas, const gif_anim *anim, int i)
{
    clear_to_color(canvas, 0);
    if (anim && i >= 0 && i < anim->num_frames && anim->frames[i].bmp)
        draw_sprite(canvas, anim->frames[i].bmp, anim->frames[i].pos.x, anim->frames[i].pos.y);
}

void compose_screen_by_library(const gif_anim *anim, const data_set &set)
{
    clear_to_color(glb_buffer, 0);
    blit(glb_cmap, glb_buffer, 0, 0, CMAP_X, CMAP_Y, glb_cmap->w, glb_cmap->h);
    draw_tint_panel(set);
    set_palette(display_palette);
    draw_frame_alone(glb_sprite, anim, glb_frame);
    preview_rect rect = compute_preview_rect(glb_sprite->w, glb_sprite->h, glb_zoom);
    if (rect.w > 0 && rect.h > 0 && glb_sprite->w > 0 && glb_sprite->h > 0)
        stretch_blit(glb_sprite, glb_sub_preview, 0, 0, glb_sprite->w, glb_sprite->h, rect.x, rect.y, rect.w,
                     rect.h);
    int white = makecol(255, 255, 255);
    textprintf_ex(glb_buffer, font, 50, 450, white, -1, "Frame : %i", glb_frame);
    textprintf_ex(glb_buffer, font, 50, 460, white, -1, "Zoom  : %i%%", glb_zoom);
    draw_help_lines(glb_buffer, white);
}

void save_all_frames_by_library(const gif_anim *anim, int zoom, int pcx_flag, const char *prefix)
{
    int w, h;
    compute_export_size(zoom, anim->w, anim->h, &w, &h);
    BITMAP *save_bmp = create_checked_bitmap(8, w, h);
    if (!save_bmp)
        return;
    clear_to_color(save_bmp, 0);
    for (int i = 0; i < anim->num_frames; i++) {
        char name[64];
        std::snprintf(name, sizeof name, "%s%03i%s", prefix, i, pcx_flag ? ".pcx" : ".bmp");
        draw_frame_alone(glb_sprite_8bpp, anim, i);
        if (glb_sprite_8bpp->w > 0 && glb_sprite_8bpp->h > 0)
            stretch_blit(glb_sprite_8bpp, save_bmp, 0, 0, glb_sprite_8bpp->w, glb_sprite_8bpp->h, 0, 0, w, h);
        if (save_bitmap(name, save_bmp, display_palette) == 0)
            pcx_flag ? modify_pcx_palette(name) : modify_bmp_palette(name);
    }
    destroy_bitmap(save_bmp);
}

// Prints the failure line, releases the animation and ends the process.
[[noreturn]] static void fail_remap(gif_anim *anim, const char *line, int i, int c)
{
    std::printf(line, i, c);
    std::fflush(stdout);
    destroy_gif_anim(anim);
    std::exit(1);
}

void remap_pixels_by_search(gif_anim *anim)
{
    std::printf("gif_anim = %s\n", format_address(anim).c_str());
    std::fflush(stdout);
    std::printf("# frame  = %i\n", anim->num_frames);
    std::fflush(stdout);
    for (int i = 0; anim->frames && i < anim->num_frames; i++) {
        gif_frame &frame = anim->frames[i];
        std::printf("\nframe %i\n", i);
        std::fflush(stdout);
        if (frame.pal < 0 || frame.pal >= anim->num_palettes || !anim->palettes)
            fail_remap(anim, "error : frame %i has no color table\n", i, 0);
        int w = 0, h = 0, max = 0, table[256] = {};
        if (frame.bmp && is_memory_bitmap(frame.bmp) && bitmap_color_depth(frame.bmp) == 8) {
            w = frame.w < frame.bmp->w ? frame.w : frame.bmp->w;
            h = frame.h < frame.bmp->h ? frame.h : frame.bmp->h;
        }
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                max = getpixel(frame.bmp, x, y) > max ? getpixel(frame.bmp, x, y) : max;
        const uint8_t *colors = anim->palettes + size_t(frame.pal) * GIF_PALETTE_BYTES;
        for (int c = 0; c <= max; c++) {
            std::printf("   color %i  --> ", c);
            std::fflush(stdout);
            int j = 0;
            while (j < 256 && (glb_palette[j][0] != colors[3 * c] || glb_palette[j][1] != colors[3 * c + 1] ||
                               glb_palette[j][2] != colors[3 * c + 2]))
                j++;
            if (j == 256)
                fail_remap(anim, "error : frame %i, color %i not found in glb palette\n", i, c);
            table[c] = j == 1 ? 0 : j;
            std::printf("%i\n", j);
            std::fflush(stdout);
        }
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                putpixel(frame.bmp, x, y, table[getpixel(frame.bmp, x, y)]);
    }
}

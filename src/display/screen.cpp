// Screen composition: one complete 800 x 600 image per loop pass.
#include "display/screen.h"

#include <allegro.h>

#include "gif/gif_anim.h"
#include "palette/data_set.h"
#include "palette/tint_slots.h"

BITMAP *glb_buffer;
BITMAP *glb_sub_preview;
BITMAP *glb_cmap;
BITMAP *glb_sprite;
BITMAP *glb_sprite_8bpp;
int32_t glb_frame;
int32_t glb_zoom;

preview_rect compute_preview_rect(int sprite_w, int sprite_h, int zoom)
{
    // 64-bit products: a 65535-pixel side at zoom 1000 still fits an int
    // after the division, but not always before it.
    preview_rect rect;
    rect.w = static_cast<int>(static_cast<long long>(sprite_w) * zoom / 100);
    rect.h = static_cast<int>(static_cast<long long>(sprite_h) * zoom / 100);
    // C++ division truncates towards zero, also for a negative difference.
    rect.x = (PREVIEW_W - rect.w) / 2;
    rect.y = (PREVIEW_H - rect.h) / 2;
    return rect;
}

// Draws the current frame alone onto the cleared glb_sprite; index 0 is
// skipped by the masked drawing and stays black.
static void draw_current_frame(const gif_anim *anim)
{
    clear_to_color(glb_sprite, 0);
    if (!anim || glb_frame < 0 || glb_frame >= anim->num_frames)
        return;
    const gif_frame &frame = anim->frames[glb_frame];
    if (frame.bmp)
        draw_sprite(glb_sprite, frame.bmp, frame.pos.x, frame.pos.y);
}

// Scales glb_sprite into the preview, centred; the sub-bitmap clips it.
static void draw_preview()
{
    preview_rect rect = compute_preview_rect(glb_sprite->w, glb_sprite->h, glb_zoom);
    // A zero-size stretch must never reach the library.
    if (rect.w <= 0 || rect.h <= 0 || glb_sprite->w <= 0 || glb_sprite->h <= 0)
        return;
    stretch_blit(glb_sprite, glb_sub_preview, 0, 0, glb_sprite->w, glb_sprite->h,
                 rect.x, rect.y, rect.w, rect.h);
}

void compose_screen(const gif_anim *anim, const data_set &set)
{
    clear_to_color(glb_buffer, 0);
    blit(glb_cmap, glb_buffer, 0, 0, CMAP_X, CMAP_Y, glb_cmap->w, glb_cmap->h);
    draw_tint_panel(set);
    set_palette(display_palette);
    draw_current_frame(anim);
    draw_preview();
    draw_status_text();
}

void draw_status_text()
{
    int white = makecol(255, 255, 255);
    textprintf_ex(glb_buffer, font, 50, 450, white, -1, "Frame : %i", glb_frame);
    textprintf_ex(glb_buffer, font, 50, 460, white, -1, "Zoom  : %i%%", glb_zoom);
    textout_ex(glb_buffer, font, "Up, Down           : Tint selection", 10, 490, white, -1);
    textout_ex(glb_buffer, font, "Left, Right        : Colormap on Tint", 10, 500, white, -1);
    textout_ex(glb_buffer, font, "Page Up, Page Down : Frame", 10, 510, white, -1);
    textout_ex(glb_buffer, font, "+, -               : Zoom in, out", 10, 520, white, -1);
    textout_ex(glb_buffer, font, "S                  : Save into .bmp", 10, 540, white, -1);
    textout_ex(glb_buffer, font, "Esc                : Quit", 10, 560, white, -1);
}

// Scaling a frame's rows straight onto a bitmap's rows: the screen's
// preview and the exported files both draw a frame this way.
#pragma once

#include <cstdint>

struct BITMAP;

struct preview_rect {
    int x, y, w, h;
};

// Draws what stretch_blit of canvas (all of it) onto rect of dst would give
// after the canvas was cleared to 0 and frame_bmp drawn on it at (frame_x,
// frame_y) by draw_sprite; frame_bmp may be null (nothing drawn). Each index
// goes through colors, which must map 0 to 0; null keeps the indices. Reads
// and writes rows directly; false, touching nothing, when dst, the canvas or
// the frame is not a memory bitmap of a depth it handles (8, 15, 16, 24, 32)
// or the canvas clips, and the caller must take the library's way. The
// canvas is only measured, never drawn.
bool draw_frame_scaled(BITMAP *dst, preview_rect rect, BITMAP *canvas, BITMAP *frame_bmp,
                       int frame_x, int frame_y, const int32_t *colors);

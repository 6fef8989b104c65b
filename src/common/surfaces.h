// The process-wide bitmaps every screen image and export is drawn on, the
// view state they show, and where things sit on the screen image.
#pragma once

#include <cstdint>

struct BITMAP;

extern BITMAP *glb_buffer;      // 800 x 600 screen image, screen depth
extern BITMAP *glb_sub_preview; // 300 x 450 sub-bitmap of glb_buffer at (0, 0)
extern BITMAP *glb_cmap;        // 64 x 580 rendered gradient table
// The two canvases give the logical size; the frame is drawn on them only
// when the library's way scales it (see draw_frame_scaled).
extern BITMAP *glb_sprite;      // logical size, screen depth: frame before scaling
extern BITMAP *glb_sprite_8bpp; // logical size, 8 bits: the export canvas
extern int32_t glb_frame;       // index of the frame shown
extern int32_t glb_zoom;        // zoom in percent

constexpr int BUFFER_W = 800; // the screen image (SCREEN_W is the library's)
constexpr int BUFFER_H = 600;
constexpr int PREVIEW_W = 300;
constexpr int PREVIEW_H = 450;
// The rendered gradient table: one 5-pixel band per gradient row, drawn at
// (CMAP_X, CMAP_Y) on the screen image.
constexpr int CMAP_W = 64;
constexpr int CMAP_H = 580;
constexpr int CMAP_X = 725;
constexpr int CMAP_Y = 15;
constexpr int CMAP_ROW_H = 5;
// The tint panel: one text line per slot at PANEL_TEXT_X, the slot's
// swatches from SWATCH_X on.
constexpr int PANEL_TEXT_X = 300;
constexpr int SWATCH_X = 460;
// The ">" marker left of the table, on the band of the selected row.
constexpr int LEFT_MARKER_X = CMAP_X - 8;

// Top of the markers' text for gradient row: one pixel above its band.
constexpr int find_marker_y(int row)
{
    return CMAP_Y - 1 + CMAP_ROW_H * row;
}

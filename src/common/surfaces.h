// The process-wide bitmaps every screen image and export is drawn on.
#pragma once

struct BITMAP;

extern BITMAP *glb_buffer;      // 800 x 600 screen image, screen depth
extern BITMAP *glb_sub_preview; // 300 x 450 sub-bitmap of glb_buffer at (0, 0)
extern BITMAP *glb_cmap;        // 64 x 580 rendered gradient table
// The two canvases give the logical size; the frame is drawn on them only
// when the library's way scales it (see draw_frame_scaled).
extern BITMAP *glb_sprite;      // logical size, screen depth: frame before scaling
extern BITMAP *glb_sprite_8bpp; // logical size, 8 bits: the export canvas

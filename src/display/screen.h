// Screen composition: the surfaces each screen image is built from and the
// view state it shows.
#pragma once

#include <cstdint>

struct BITMAP;
struct gif_anim;
struct data_set;

extern BITMAP *glb_buffer;      // 800 x 600 screen image, screen depth
extern BITMAP *glb_sub_preview; // 300 x 450 sub-bitmap of glb_buffer at (0, 0)
extern BITMAP *glb_cmap;        // 64 x 580 rendered gradient table
extern BITMAP *glb_sprite;      // logical size, screen depth: frame before scaling
extern BITMAP *glb_sprite_8bpp; // logical size, 8 bits: the export canvas
extern int32_t glb_frame;       // index of the frame shown
extern int32_t glb_zoom;        // zoom in percent

constexpr int BUFFER_W = 800; // the screen image (SCREEN_W is the library's)
constexpr int BUFFER_H = 600;
constexpr int PREVIEW_W = 300;
constexpr int PREVIEW_H = 450;
constexpr int CMAP_W = 64;
constexpr int CMAP_H = 580;
constexpr int CMAP_X = 725;
constexpr int CMAP_Y = 15;

struct preview_rect {
    int x, y, w, h;
};

// Where a W x H sprite lands in the preview at a zoom (may reach outside).
preview_rect compute_preview_rect(int sprite_w, int sprite_h, int zoom);

// Builds the whole screen image in glb_buffer.
void compose_screen(const gif_anim *anim, const data_set &set);
void draw_status_text();

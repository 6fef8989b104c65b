// Screen composition: the surfaces each screen image is built from and the
// view state it shows.
#pragma once

#include <cstdint>
#include <vector>

struct BITMAP;
struct FONT;
struct gif_anim;
struct data_set;

// The screen image as cleared and drawn up to the tint panel (strip and
// panel), with everything it was drawn from: passes that change none of it
// copy it instead of drawing it again.
struct screen_backdrop {
    BITMAP *bmp;                    // null until a pass kept one
    int set_id;                     // data set drawn
    int32_t slot;                   // glb_slot drawn
    std::vector<int32_t> palshift;  // the set's gradient rows drawn
    const FONT *font;               // font the text was drawn in
    std::vector<uint8_t> gradients; // gradient_table drawn
    std::vector<uint8_t> strip;     // glb_cmap's rows drawn
};

// A horizontal run of lit text pixels.
struct lit_run {
    int x, y, n;
};

// The status lines' lit pixels as the library draws them, for the frame,
// zoom, font and screen size they were found for. Text costs a tenth of a
// pass through the library and next to nothing as stored runs; the lines
// change only with the frame and the zoom.
struct status_runs {
    bool found;
    int32_t frame, zoom;
    const FONT *font;
    int w, h;
    std::vector<lit_run> runs;
};

extern BITMAP *glb_buffer;      // 800 x 600 screen image, screen depth
extern BITMAP *glb_sub_preview; // 300 x 450 sub-bitmap of glb_buffer at (0, 0)
extern BITMAP *glb_cmap;        // 64 x 580 rendered gradient table
// The two canvases give the logical size; the frame is drawn on them only
// when the library's way scales it (see draw_frame_scaled).
extern BITMAP *glb_sprite;      // logical size, screen depth: frame before scaling
extern BITMAP *glb_sprite_8bpp; // logical size, 8 bits: the export canvas
extern int32_t glb_frame;       // index of the frame shown
extern int32_t glb_zoom;        // zoom in percent
extern screen_backdrop glb_backdrop;  // strip and panel of the last pass that drew them
extern status_runs glb_status_runs;   // status lines of the last frame and zoom drawn

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

// Draws what stretch_blit of canvas (all of it) onto rect of dst would give
// after the canvas was cleared to 0 and frame_bmp drawn on it at (frame_x,
// frame_y) by draw_sprite; frame_bmp may be null (nothing drawn). Each index
// goes through colors, which must map 0 to 0; null keeps the indices. Reads
// and writes rows directly; false, touching nothing, when dst, the canvas or
// the frame is not a memory bitmap of a depth it handles (8, 15, 16, 24, 32)
// or the canvas clips, and the caller must take the library's way. The
// canvas is only measured, never drawn.
bool draw_frame_scaled(BITMAP *dst, preview_rect rect, BITMAP *canvas, BITMAP *frame_bmp, int frame_x,
                       int frame_y, const int32_t *colors);

// Builds the whole screen image in glb_buffer.
void compose_screen(const gif_anim *anim, const data_set &set);
// Frees the kept backdrop (at shut-down).
void release_screen_backdrop();
// The frame and zoom lines and the key help, lit in white (the current
// depth's) into glb_buffer; draw_status_lines draws them by the library.
void draw_status_text();
void draw_status_lines(BITMAP *bmp, int white);

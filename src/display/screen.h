// Screen composition: the preview area and the screen image built around it.
#pragma once

#include <cstdint>
#include <vector>

#include "common/row_scaler.h"
#include "common/surfaces.h"

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

extern screen_backdrop glb_backdrop;  // strip and panel of the last pass that drew them
extern status_runs glb_status_runs;   // status lines of the last frame and zoom drawn

// Where a W x H sprite lands in the preview at a zoom (may reach outside).
preview_rect compute_preview_rect(int sprite_w, int sprite_h, int zoom);

// Builds the whole screen image in glb_buffer.
void compose_screen(const gif_anim *anim, const data_set &set);
// Frees the kept backdrop (at shut-down).
void release_screen_backdrop();
// The frame and zoom lines and the key help, lit in white (the current
// depth's) into glb_buffer; draw_status_lines draws them by the library.
void draw_status_text();
void draw_status_lines(BITMAP *bmp, int white);

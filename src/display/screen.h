// Screen composition: the screen image, the preview in it and the lines
// below the preview; the view state they show and the status note.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/row_scaler.h"
#include "common/surfaces.h"
#include "display/layout.h"

struct BITMAP;
struct gif_anim;
struct data_set;

// What the preview shows behind the frame's transparent pixels.
enum preview_background {
    BACKGROUND_BLACK,
    BACKGROUND_GREY,
    BACKGROUND_CHECKERBOARD,
    BACKGROUND_COUNT
};

// Playback, how the preview and the panel are drawn, and what the next pass
// draws again.
struct view_state {
    bool playing;         // Space set the frames playing
    int64_t frame_due_ms; // when the playing animation shows its next frame
    bool screen_dirty;    // the panel or strip changed: the next pass draws all
    bool preview_dirty;   // the frame, zoom or a preview mode changed: the next pass draws it
    bool untinted;        // Tab held: the preview in the palette as loaded
    bool highlight;       // H held: the selected slot's pixels in a contrasting colour
    int background;       // a preview_background, stepped by B
    // Per slot, whether a frame's pixel uses it; empty: all are.
    std::vector<bool> used_slots;
};

// The note below the zoom line and the clock that ends it.
struct status_state {
    volatile int clock; // hundredths of a second, counted by the library's timer after start_clock
    std::string note;   // shown until note_end; empty: none
    int note_end;       // clock at which the note goes
};

extern int32_t glb_frame;      // index of the frame shown
extern int32_t glb_zoom;       // zoom in percent
extern view_state glb_view;     // playback, the preview's modes, the marks for the next pass
extern status_state glb_status; // the clock and the note

// Where a W x H sprite lands in the preview at a zoom (may reach outside).
preview_rect compute_preview_rect(int sprite_w, int sprite_h, int zoom);

// Brings glb_buffer up to date and clears both marks: all of it when
// screen_dirty is set or the screen has 8 bits, the preview and the frame
// and zoom lines below it when only preview_dirty is; nothing else changes
// what it shows. Rebuilds the composed palettes for the panel and sets them
// as the library's. save_extension is the files S writes (".bmp", ".pcx").
void compose_screen(const gif_anim *anim, const data_set &set, const char *save_extension);

// Copies glb_buffer to the library's screen after the vertical retrace.
void show_screen();

// Has the library's timer, which must be installed, count glb_status.clock.
void start_clock();
// Shows text below the zoom line for two seconds, in as many lines of the
// left column as it needs up to two; a second line too long shows its end.
void show_status_note(const std::string &text);
// The same at once, between two passes: the note's lines drawn into
// glb_buffer and copied to the screen, when there is one.
void show_progress_note(const std::string &text);

// The key help below the preview, drawn by the library; S names the
// extension of the files it writes.
void draw_help_lines(BITMAP *bmp, int white, const char *save_extension);

// Screen composition: the screen image, the preview in it and the lines
// below the preview.
#pragma once

#include <string>

#include "common/row_scaler.h"
#include "common/surfaces.h"

struct BITMAP;
struct gif_anim;
struct data_set;

extern bool glb_screen_dirty;  // set by what changes the panel or strip: the next pass draws all
extern bool glb_preview_dirty; // set by what changes the frame or zoom: the next pass draws the preview
extern volatile int glb_clock;  // hundredths of a second, counted by the library's timer after start_clock
extern std::string glb_status_note; // shown below the zoom line until glb_note_end; empty: none
extern int glb_note_end;            // glb_clock at which the note goes
extern const char *glb_save_extension; // ".bmp" or ".pcx", the files S writes: the help names it

// Where a W x H sprite lands in the preview at a zoom (may reach outside).
preview_rect compute_preview_rect(int sprite_w, int sprite_h, int zoom);

// Brings glb_buffer up to date and clears both marks: all of it when
// glb_screen_dirty is set or the screen has 8 bits, the preview and the
// frame and zoom lines below it when only glb_preview_dirty is; nothing
// else changes what it shows.
void compose_screen(const gif_anim *anim, const data_set &set);

// Has the library's timer, which must be installed, count glb_clock.
void start_clock();
// Shows text below the zoom line for two seconds, in as many lines of the
// left column as it needs up to two; a second line too long shows its end.
void show_status_note(const std::string &text);

// The key help below the preview, drawn by the library.
void draw_help_lines(BITMAP *bmp, int white);

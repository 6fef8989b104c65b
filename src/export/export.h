// Frame export: every frame as a scaled 8-bit BMP or PCX with the exact
// composed palette patched in.
#pragma once

#include <string>

struct gif_anim;

extern std::string glb_export_dir; // where the frames go, made if missing; empty: the working directory

// Size of the exported files: zoom x logical size / 100, at least 1.
void compute_export_size(int zoom, int w, int h, int *out_w, int *out_h);

// Writes frame000.bmp ... (or .pcx) in glb_export_dir and prints the
// summary line; returns the number of frames written. Each file is written
// whole or not at all: a frame that cannot be saved ("can't save <name>")
// leaves the old file of its name as it was, and the export goes on. When
// the directory or the export canvas cannot be made it says so and writes
// nothing.
int save_all_frames(const gif_anim *anim, int zoom, int pcx_flag);

// The summary of an export that wrote this many frames to glb_export_dir.
std::string format_export_summary(int frames);

void modify_bmp_palette(const char *file);
void modify_pcx_palette(const char *file);

// Frame export: every frame as a scaled 8-bit file (BMP or PCX) with the
// exact composed palette patched in.
#pragma once

#include <string>

struct gif_anim;

// The file formats the export writes; each has its writer in export.cpp's
// table, so a new one is an entry there and its coder.
enum export_format { EXPORT_BMP, EXPORT_PCX };

// Called before each frame with the frames done and all of them; false
// stops the export there.
using export_progress = bool (*)(int done, int total);

// Where the frames go and as what.
struct export_options {
    std::string dir;                  // made if missing; empty: the working directory
    export_format format = EXPORT_BMP;
    export_progress progress = nullptr; // when given, may stop the export between two frames
};

extern export_options glb_export_options; // as the command line set them

// The file name extension of the format, with its dot: ".bmp", ".pcx".
const char *name_export_extension(export_format format);

// Size of the exported files: zoom x logical size / 100, at least 1.
void compute_export_size(int zoom, int w, int h, int *out_w, int *out_h);

// Writes frame000.bmp ... (or the format's extension) in the options'
// directory and prints the summary line; returns the number of frames
// written. Each file is written whole or not at all: a frame that cannot be
// saved ("can't save <name>") leaves the old file of its name as it was, and
// the export goes on. When the directory or the export canvas cannot be made
// it says so and writes nothing.
int save_all_frames(const gif_anim *anim, int zoom, const export_options &options);

// The summary of an export that wrote this many frames to dir (empty: the
// working directory).
std::string format_export_summary(int frames, const std::string &dir);

void modify_bmp_palette(const char *file);
void modify_pcx_palette(const char *file);

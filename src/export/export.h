// Frame export: every frame scaled, as 8-bit files (BMP, PCX or indexed
// PNG) with the exact composed palette, or as one animated GIF or one
// sprite sheet with its JSON description.
#pragma once

#include <string>
#include <vector>

struct gif_anim;

// The file formats the export writes; each has its writer in export.cpp's
// table, so a new one is an entry there and its coder.
enum export_format { EXPORT_BMP, EXPORT_PCX, EXPORT_PNG, EXPORT_GIF, EXPORT_SHEET };

// Called before each frame with the frames done and all of them; false
// stops the export there.
using export_progress = bool (*)(int done, int total);

// Where the frames go and as what.
struct export_options {
    std::string dir;                  // made if missing; empty: the working directory
    export_format format = EXPORT_BMP;
    export_progress progress = nullptr; // when given, may stop the export between two frames
    std::string name;                 // the animation's base name: NAME_tinted.gif, NAME_sheet.*
    std::string input;                // the animation's file, never written over
};

extern export_options glb_export_options; // as the command line set them

// The file name extension of the format, with its dot: ".bmp", ".pcx",
// ".png", ".gif", and ".png" for the sheet.
const char *name_export_extension(export_format format);

// The files named after the animation that the format writes (NAME_tinted.gif;
// NAME_sheet.png and NAME_sheet.json), without the directory; none for the
// formats that write a file per frame.
std::vector<std::string> list_export_files(const export_options &options);

// True when one of those files is the animation's file itself (through a
// link, say), with the one line that refuses the export.
bool find_input_clash(const export_options &options, std::string &refusal);

// Size of the exported files: zoom x logical size / 100, at least 1.
void compute_export_size(int zoom, int w, int h, int *out_w, int *out_h);

// Writes frame000.bmp ... (or the format's extension), or the files named
// after the animation, in the options' directory and prints the summary
// line, then how many frame files numbered past the last one were left
// from before; returns the number of frames written. Each file is written
// whole or not at all: a frame that cannot be saved ("can't save <name>")
// leaves the old file of its name as it was, and the export goes on; the
// animation's own files hold every frame or are not written. When the
// directory or the export canvas cannot be made it says so and writes
// nothing, and it refuses to write over the animation's file.
int save_all_frames(const gif_anim *anim, int zoom, const export_options &options);

// The summary of an export that wrote this many frames to dir (empty: the
// working directory).
std::string format_export_summary(int frames, const std::string &dir);
// The same naming the options' files when the format has them.
std::string format_export_summary(int frames, const export_options &options);

// Files in dir named as frame files of extension numbered from first on.
int count_frame_files_from(const std::string &dir, const char *extension, int first);

void modify_bmp_palette(const char *file);
void modify_pcx_palette(const char *file);

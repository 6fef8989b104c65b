// The screen image, the export and the remap done the slow way: the
// library's own drawing and a plain search, as the program did before it
// wrote rows directly. The tests hold the program to these byte for byte.
#pragma once

struct gif_anim;
struct data_set;

// compose_screen through clear_to_color, draw_sprite into glb_sprite and
// stretch_blit into glb_sub_preview.
void compose_screen_by_library(const gif_anim *anim, const data_set &set);

// save_all_frames through draw_sprite into glb_sprite_8bpp and stretch_blit,
// writing <prefix>000.bmp ... instead of frame000.bmp ...
void save_all_frames_by_library(const gif_anim *anim, int zoom, int pcx_flag, const char *prefix);

// remap_pixels with a linear search of glb_palette per colour and printf;
// the same trace, including the lines before an exit.
void remap_pixels_by_search(gif_anim *anim);

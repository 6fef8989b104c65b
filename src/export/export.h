// Frame export: every frame as a scaled 8-bit BMP or PCX with the exact
// composed palette patched in.
#pragma once

struct gif_anim;

// Size of the exported files: zoom x logical size / 100, at least 1.
void compute_export_size(int zoom, int w, int h, int *out_w, int *out_h);

// Writes frame000.bmp ... (or .pcx) in the current directory. When the
// export canvas cannot be created it says so, writes nothing and returns.
void save_all_frames(const gif_anim *anim, int zoom, int pcx_flag);

void modify_bmp_palette(const char *file);
void modify_pcx_palette(const char *file);

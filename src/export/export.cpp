// STUB: replaced by the frame export.
#include "export/export.h"
void compute_export_size(int, int, int, int *out_w, int *out_h) { *out_w = *out_h = 1; }
void save_all_frames(const gif_anim *, int, int) {}
void modify_bmp_palette(const char *) {}
void modify_pcx_palette(const char *) {}

// STUB: replaced by the palette engine.
#include "palette/global_palette.h"
uint8_t glb_palette[256][3];
bool load_glb_palette(const char *) { return false; }
void remap_pixels(gif_anim *) {}

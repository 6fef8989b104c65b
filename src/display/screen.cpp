// STUB: replaced by the screen composition.
#include "display/screen.h"
BITMAP *glb_buffer;
BITMAP *glb_sub_preview;
BITMAP *glb_cmap;
BITMAP *glb_sprite;
BITMAP *glb_sprite_8bpp;
int32_t glb_frame;
int32_t glb_zoom;
preview_rect compute_preview_rect(int, int, int) { return {0, 0, 0, 0}; }
void compose_screen(const gif_anim *, const data_set &) {}
void draw_status_text() {}

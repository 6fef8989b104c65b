#include "common/surfaces.h"

BITMAP *glb_buffer;
BITMAP *glb_sub_preview;
BITMAP *glb_cmap;
BITMAP *glb_sprite;
BITMAP *glb_sprite_8bpp;

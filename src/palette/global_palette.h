// The fixed 256-colour global palette and the remapping of frame pixels
// onto its indices.
#pragma once

#include <cstdint>

struct gif_anim;

extern uint8_t glb_palette[256][3]; // (r, g, b) at 8 bits, from the palette file

// Fills glb_palette; false when the file cannot be opened or read as a
// regular file, or is empty. Prints nothing.
bool load_glb_palette(const char *file);

// Rewrites every frame pixel as the glb_palette index of its colour (a first
// match at entry 1 becomes 0), printing the remap trace. A colour missing
// from glb_palette (its line followed by a hint naming the nearest entry
// and palette_file, the file glb_palette was read from),
// or a frame without a colour table, prints its line,
// releases the animation and ends the process with status 1.
void remap_pixels(gif_anim *anim, const char *palette_file);

// STUB: replaced by the key handling.
#include "app/app.h"
#include <allegro.h>
void (*glb_pause)(unsigned int ms) = rest;
void handle_keys(gif_anim *, const data_set &) {}
int32_t snap_zoom(int32_t zoom) { return zoom; }

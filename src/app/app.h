// Application driver: start-up, the main loop and its key handling.
#pragma once

#include <cstdint>

struct gif_anim;
struct data_set;

extern int pcx_flag;                        // 1 when -pcx was given: export PCX
extern void (*glb_pause)(unsigned int ms);  // the key pauses; the library's rest
extern void (*glb_wait_release)(int scancode); // Home's and S's wait; spins on key[]

// The whole program: start-up, main loop, orderly quit. Fatal errors end the
// process through exit().
int run_huesmith(int argc, char **argv);

// Steps 4 to 16 of one loop pass: reads the key-state array and changes the
// slot, its gradient row, the frame and the zoom, marking the screen dirty
// when it does; S exports and saves.
void handle_keys(gif_anim *anim, const data_set &set);

// Spins until key[scancode] is up, without pausing: glb_wait_release's default.
void wait_key_release(int scancode);

// Home's zoom snap.
int32_t snap_zoom(int32_t zoom);

// The largest multiple of 10 below 1000 at which a w x h frame is strictly
// smaller than the preview, else 100.
int32_t choose_first_zoom(int w, int h);


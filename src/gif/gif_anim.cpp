// STUB: replaced by the GIF reader.
#include "gif/gif_anim.h"
gif_anim *load_gif_anim(const char *) { return nullptr; }
void destroy_gif_anim(gif_anim *) {}
void destroy_gif_frame(gif_frame *) {}
void read_gif_screen(FILE *, gif_screen *) {}
void count_gif_frames(FILE *, int32_t *, int32_t *) {}
int read_gif_blocks(FILE *, gif_screen *, gif_anim *) { return 1; }

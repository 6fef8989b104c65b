// STUB: replaced by the LZW decoder.
#include "gif/gif_lzw.h"
void decode_gif_image(FILE *, int, BITMAP *, int, int) {}
void skip_gif_sub_blocks(FILE *) {}

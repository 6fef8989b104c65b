// STUB: replaced by the palette engine.
#include "palette/gradients.h"
uint8_t gradient_table[GRADIENT_TABLE_ROWS][GRADIENT_TABLE_COLUMNS][3];
bool load_cmaps(const char *, int, int) { return false; }
void draw_cmaps(int, int, int) {}

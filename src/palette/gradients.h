// Gradient colour maps: the table read from the gradient bitmap.
#pragma once

#include <cstdint>

constexpr int GRADIENT_TABLE_ROWS = 116;
constexpr int GRADIENT_TABLE_COLUMNS = 32;

// (r, g, b) at 8 bits; cells outside the loaded rows and columns are black.
extern uint8_t gradient_table[GRADIENT_TABLE_ROWS][GRADIENT_TABLE_COLUMNS][3];

// Fills gradient_table from the bitmap; false when it cannot be loaded.
// Positions outside a too-small bitmap read black. Prints nothing.
bool load_cmaps(const char *file, int columns, int rows);

#include "palette/gradients.h"

#include "palette/gradient_image.h"

#include <allegro.h>
#include <cstring>

uint8_t gradient_table[GRADIENT_TABLE_ROWS][GRADIENT_TABLE_COLUMNS][3];

// A row or column count cut into 0..limit, so no loop leaves the table.
static int clamp_count(int count, int limit)
{
    return count < 0 ? 0 : count > limit ? limit : count;
}

bool load_cmaps(const char *file, int columns, int rows)
{
    uint8_t colours[256][3];
    BITMAP *source = load_gradient_image(file, colours);
    if (!source)
        return false;
    std::memset(gradient_table, 0, sizeof gradient_table);
    columns = clamp_count(columns, GRADIENT_TABLE_COLUMNS);
    rows = clamp_count(rows, GRADIENT_TABLE_ROWS);
    int depth = bitmap_color_depth(source);
    // Positions outside a too-small bitmap keep the black they were given.
    int used_rows = rows < source->h ? rows : source->h;
    int used_columns = columns < source->w ? columns : source->w;
    for (int r = 0; r < used_rows; r++)
        for (int c = 0; c < used_columns; c++) {
            int pixel = getpixel(source, c, r);
            uint8_t *cell = gradient_table[r][c];
            if (depth == 8) {
                std::memcpy(cell, colours[pixel & 255], 3);
                continue;
            }
            cell[0] = uint8_t(getr_depth(depth, pixel));
            cell[1] = uint8_t(getg_depth(depth, pixel));
            cell[2] = uint8_t(getb_depth(depth, pixel));
        }
    destroy_bitmap(source);
    return true;
}

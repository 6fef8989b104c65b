#include "display/panel.h"

#include <algorithm>
#include <allegro.h>
#include <cstdio>

#include "common/surfaces.h"
#include "display/layout.h"
#include "display/screen.h"
#include "palette/data_set.h"
#include "palette/gradients.h"
#include "palette/tint_slots.h"

// The text of an unused slot's line, but for its arrow.
constexpr int UNUSED_GREY = 112;

// The swatches of one group of slots.
struct swatch_row {
    int x_step;       // distance between the slot's swatches
    int right_offset; // swatch right edge from its left edge
};

// Where one data set's panel draws its swatches and its "<" marker.
struct panel_geometry {
    swatch_row a, b;
    int right_marker_x; // x of the "<" marker
};

static const panel_geometry bg2_geometry = {{20, 18}, {20, 18}, 787};
static const panel_geometry pst_geometry = {{15, 13}, {7, 5}, 791};

static const panel_geometry &get_panel_geometry(const data_set &set)
{
    return set.id == DATA_SET_PST ? pst_geometry : bg2_geometry;
}

static bool is_group_a(const data_set &set, int s)
{
    return s < count_group_slots(set, 'A');
}

static const swatch_row &find_swatch_row(const data_set &set, int s)
{
    const panel_geometry &geometry = get_panel_geometry(set);
    return is_group_a(set, s) ? geometry.a : geometry.b;
}

// The y of slot s's text line; the second group starts one line lower.
static int find_slot_y(const data_set &set, int s)
{
    return is_group_a(set, s) ? 15 + 20 * s : 35 + 20 * s;
}

void draw_gradient_strip(const data_set &set)
{
    if (!glb_cmap)
        return;
    clear_bitmap(glb_cmap);
    // Counts cut into the table, so no loop leaves it.
    int columns = std::clamp(set.gradient_columns, 0, GRADIENT_TABLE_COLUMNS);
    int rows = std::clamp(set.gradient_rows, 0, GRADIENT_TABLE_ROWS);
    int step = set.swatch_step;
    int depth = bitmap_color_depth(glb_cmap);
    // Each 6 x 6 swatch overlaps its neighbours; later ones cover the
    // overlap, so a cell shows step x CMAP_ROW_H pixels except on the far edges.
    for (int r = 0; r < rows; r++)
        for (int c = 0; c < columns; c++) {
            const uint8_t *rgb = gradient_table[r][c];
            int color = makecol_depth(depth, rgb[0], rgb[1], rgb[2]);
            rectfill(glb_cmap, c * step, r * CMAP_ROW_H, c * step + 5, r * CMAP_ROW_H + 5, color);
        }
}

// Whether a pixel uses slot s, as far as glb_view.used_slots knows.
static bool is_slot_used(int s)
{
    const std::vector<bool> &used = glb_view.used_slots;
    return s < 0 || size_t(s) >= used.size() || used[size_t(s)];
}

// Text line, row markers and swatches of slot s.
static void draw_slot(const data_set &set, int s, int white)
{
    bool is_a = is_group_a(set, s);
    const swatch_row &swatches = find_swatch_row(set, s);
    int y = find_slot_y(set, s);
    int p = active_palshift(set)[s];
    char name[20];
    int number = is_a ? s + 1 : s - count_group_slots(set, 'A') + 1;
    std::snprintf(name, sizeof name, "color %c%i", is_a ? 'A' : 'B', number);
    const char *arrow = s == glb_slot ? "-->" : "   ";
    bool used = is_slot_used(s);
    int depth = bitmap_color_depth(glb_buffer);
    if (used) {
        textprintf_ex(glb_buffer, font, PANEL_TEXT_X, y, white, -1, "%s %3i : %s", arrow, p, name);
    } else {
        // The arrow as ever, the rest in grey.
        int grey = makecol_depth(depth, UNUSED_GREY, UNUSED_GREY, UNUSED_GREY);
        textout_ex(glb_buffer, font, arrow, PANEL_TEXT_X, y, white, -1);
        int rest_x = PANEL_TEXT_X + text_length(font, arrow);
        textprintf_ex(glb_buffer, font, rest_x, y, grey, -1, " %3i : %s", p, name);
    }
    if (s == glb_slot) {
        int right_marker_x = get_panel_geometry(set).right_marker_x;
        textout_ex(glb_buffer, font, ">", LEFT_MARKER_X, find_marker_y(p), white, -1);
        textout_ex(glb_buffer, font, "<", right_marker_x, find_marker_y(p), white, -1);
    }
    // An unused slot's swatches at half their brightness.
    int shift = used ? 0 : 1;
    for (int c = 0; c < count_slot_colours(set, s); c++) {
        const uint8_t *rgb = find_slot_colour(set, s, c);
        int x = SWATCH_X + swatches.x_step * c;
        int colour = makecol_depth(depth, rgb[0] >> shift, rgb[1] >> shift, rgb[2] >> shift);
        rectfill(glb_buffer, x, y - 7, x + swatches.right_offset, y + 11, colour);
    }
}

void draw_tint_panel(const data_set &set)
{
    if (!glb_buffer)
        return;
    int white = makecol_depth(bitmap_color_depth(glb_buffer), 255, 255, 255);
    for (int s = 0; s <= set.last_slot; s++)
        draw_slot(set, s, white);
}

int find_slot_at(const data_set &set, int x, int y)
{
    for (int s = 0; s <= set.last_slot; s++) {
        const swatch_row &swatches = find_swatch_row(set, s);
        int slot_y = find_slot_y(set, s);
        int last = count_slot_colours(set, s) - 1;
        int right = SWATCH_X + swatches.x_step * last + swatches.right_offset;
        if (x >= PANEL_TEXT_X && x <= right && y >= slot_y - 7 && y <= slot_y + 11)
            return s;
    }
    return -1;
}

int find_strip_row_at(const data_set &set, int x, int y)
{
    // Cells are one pixel wider and higher than their step, each covering
    // the overlap of the one before: the last row and column show whole,
    // cut by glb_cmap's size.
    int right = CMAP_X + std::min(set.swatch_step * (set.gradient_columns - 1) + 5, CMAP_W - 1);
    int bottom = CMAP_Y + std::min(CMAP_ROW_H * set.gradient_rows, CMAP_H - 1);
    if (x < CMAP_X || x > right || y < CMAP_Y || y > bottom)
        return -1;
    return std::min((y - CMAP_Y) / CMAP_ROW_H, set.gradient_rows - 1);
}

// Where things sit on the screen image.
#pragma once

constexpr int BUFFER_W = 800; // the screen image (SCREEN_W is the library's)
constexpr int BUFFER_H = 600;
constexpr int PREVIEW_W = 300;
constexpr int PREVIEW_H = 450;
// The rendered gradient table: one 5-pixel band per gradient row, drawn at
// (CMAP_X, CMAP_Y) on the screen image.
constexpr int CMAP_W = 64;
constexpr int CMAP_H = 580;
constexpr int CMAP_X = 725;
constexpr int CMAP_Y = 15;
constexpr int CMAP_ROW_H = 5;
// The tint panel: one text line per slot at PANEL_TEXT_X, the slot's
// swatches from SWATCH_X on.
constexpr int PANEL_TEXT_X = 300;
constexpr int SWATCH_X = 460;
// The ">" marker left of the table, on the band of the selected row.
constexpr int LEFT_MARKER_X = CMAP_X - 8;

// Top of the markers' text for gradient row: one pixel above its band.
constexpr int find_marker_y(int row)
{
    return CMAP_Y - 1 + CMAP_ROW_H * row;
}

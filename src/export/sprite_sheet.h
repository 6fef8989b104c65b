// Sprite sheets: the frames side by side in one image, left to right and
// then on further rows, with a JSON description in the frame-array layout
// that game engines' sheet importers read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "export/png_writer.h"

// No side of a sheet passes this many pixels.
constexpr int SHEET_MAX_SIDE = 16384;

// Where the frames go on a sheet.
struct sheet_layout {
    int frame_w, frame_h; // every frame's size
    int count;            // frames on the sheet
    int columns, rows;    // cells across and down
    int w, h;             // the sheet: columns x frame_w by rows x frame_h
};

// As many frames on a row as fit within SHEET_MAX_SIDE, as many rows as
// the frames need. False when a frame is larger than a side, the rows do
// not fit either, or there is no frame.
bool plan_sprite_sheet(int frame_w, int frame_h, int count, sheet_layout &layout);

// Top-left corner of frame i on the sheet.
int find_sheet_x(const sheet_layout &layout, int i);
int find_sheet_y(const sheet_layout &layout, int i);

// The description of a sheet saved as image, whose frames show for the
// given delays (hundredths of a second), exported at zoom percent: frames
// named base_000, base_001, ... with their rectangles and durations in
// milliseconds, and meta with the image's name, size and scale.
std::string format_sheet_json(const sheet_layout &layout, const std::vector<int> &delays,
                              const std::string &base, const std::string &image, int zoom);

// A sheet being coded as an indexed PNG, a row of frames at a time.
struct sheet_encoding {
    sheet_layout layout;
    png_encoding png;
    std::vector<uint8_t> band; // the current row of frames, cleared to 0 between rows
    int added;                 // frames given so far
};

// Starts a sheet of layout coded into bytes, as begin_png_encoding does.
bool begin_sheet_encoding(sheet_encoding &sheet, const sheet_layout &layout,
                          const uint8_t (*palette)[3], std::vector<uint8_t> &bytes);

// Adds the next frame, frame_w x frame_h indices given by its rows.
bool add_sheet_frame(sheet_encoding &sheet, const uint8_t *const *rows);

// Ends the sheet; true when every step worked and every frame was given.
bool finish_sheet_encoding(sheet_encoding &sheet);

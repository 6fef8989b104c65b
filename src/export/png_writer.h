// Indexed PNG out: 8-bit indices into one 256-entry table, index 0 fully
// transparent, coded by libspng row by row into memory.
#pragma once

#include <cstdint>
#include <vector>

struct spng_ctx;

// One image being coded.
struct png_encoding {
    spng_ctx *ctx;               // libspng's encoder; null once finished
    std::vector<uint8_t> *bytes; // where the file goes, appended to
    int w, h;                    // the image
    int rows_left;               // rows still to come
    bool failed;                 // a step went wrong: finishing says so
};

// Starts a w x h image whose PLTE is palette (256 entries of red, green,
// blue at 8 bits) and whose tRNS makes index 0 transparent; the file goes
// into bytes. False when libspng refuses. Finish it whatever this returns.
bool begin_png_encoding(png_encoding &png, int w, int h, const uint8_t (*palette)[3],
                        std::vector<uint8_t> &bytes);

// Adds the next row of w indices.
bool add_png_row(png_encoding &png, const uint8_t *row);

// Ends the file and releases the encoder; true when every step worked and
// every row was given.
bool finish_png_encoding(png_encoding &png);

// A whole image given by its rows, as above.
bool encode_indexed_png(const uint8_t *const *rows, int w, int h, const uint8_t (*palette)[3],
                        std::vector<uint8_t> &bytes);

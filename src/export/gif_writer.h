// Animated GIF out: every frame a whole screen of indices into one global
// table, index 0 transparent and cleared after each frame, coded by giflib's
// encoder into memory so the file can be replaced whole.
#pragma once

#include <cstdint>
#include <vector>

struct GifFileType;

// GIF holds each side of the screen in 16 bits.
constexpr int GIF_MAX_SIDE = 65535;

// One animation being coded.
struct gif_encoding {
    GifFileType *file;          // giflib's handle; null once finished
    std::vector<uint8_t> bytes; // the file as coded so far
    int w, h;                   // the screen, which every frame fills
    bool failed;                // a step went wrong: finishing says so
};

// Starts a w x h file whose global table is palette (256 entries of red,
// green, blue at 8 bits). loop_count is the looping extension's count (0:
// for ever), or -1 for none. False when a side does not fit the format or
// giflib refuses.
bool begin_gif_encoding(gif_encoding &gif, int w, int h, const uint8_t (*palette)[3],
                        int loop_count);

// Adds a frame of w x h indices, row by row, shown for delay hundredths of
// a second. giflib masks each row in place to the table's bits, which
// leaves 8-bit indices as they are: the rows must be writable.
bool add_gif_frame(gif_encoding &gif, uint8_t *const *rows, int delay);

// Ends the file and releases giflib's handle; true when every step worked,
// and gif.bytes then hold the whole file.
bool finish_gif_encoding(gif_encoding &gif);

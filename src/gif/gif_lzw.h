// LZW decoder for one GIF image's table-based data: the image's sub-block
// data joined into one run of bytes goes in, colour indices in stored order
// come out. Rows, interlace, clipping and transparency are the caller's
// (see README.md here for how it copies strings).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Largest minimum code size the decoder accepts; a larger one would let
// codes index past the 4096-entry string table.
constexpr int GIF_LZW_MAX_MIN_CODE_SIZE = 11;
// Zero bytes the data must have readable past its end: codes are loaded as
// 32-bit words.
constexpr size_t GIF_LZW_READ_SLACK = 4;
// Bytes an output buffer must have writable past its capacity, unless its
// fast_end stops this much short of it: short strings are stored as words.
constexpr size_t GIF_LZW_COPY_SLACK = 16;

// The string table, kept from one image to the next so that an animation's
// frames do not each allocate (and fault in) their own.
struct gif_lzw_table;

// Null when memory runs out.
gif_lzw_table *make_gif_lzw_table();
void free_gif_lzw_table(gif_lzw_table *table);

// Where the decoded indices go. Those at capacity and past it are counted
// and dropped.
struct gif_lzw_output {
    uint8_t *data;   // capacity indices in stored order, unless put_run is set
    size_t capacity; // indices wanted
    size_t fast_end; // below it whole-word stores stay inside data's room
    // Where a first code above 255 was written (its low byte): such a pixel
    // is drawn even when it equals the transparent index, which the code
    // itself never does. Null when nobody skips pixels.
    std::vector<size_t> *wide_codes;
    // When set, data is unused and each decoded string below capacity is
    // handed over instead, at its place in stored order; opaque marks the
    // single index of a first code above 255.
    void (*put_run)(void *context, size_t at, const uint8_t *indices, size_t count, bool opaque);
    void *context;
};

struct gif_lzw_result {
    size_t count; // indices decoded, at most capacity
    size_t bits;  // bits of the data read, the end code's included
    bool ended;   // the end code was read
};

// Decodes size bytes of joined data. A minimum code size above
// GIF_LZW_MAX_MIN_CODE_SIZE decodes nothing.
gif_lzw_result decode_gif_lzw(const uint8_t *data, size_t size, int min_code_size,
                              const gif_lzw_output &out, gif_lzw_table *table);

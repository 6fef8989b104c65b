// LZW decoder for one GIF image's table-based data: the image's chain of
// sub-blocks goes in, colour indices in stored order come out. Rows,
// interlace, clipping, transparency and where the parse goes on are the
// caller's (see README.md here for how it copies strings).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Largest minimum code size the decoder accepts; a larger one would let
// codes index past the 4096-entry string table.
constexpr int GIF_LZW_MAX_MIN_CODE_SIZE = 11;
// Bytes the decoder's window keeps readable past its data: codes are
// loaded as 32-bit words.
constexpr size_t GIF_LZW_READ_SLACK = 4;
// Bytes an output buffer must have writable past its capacity, unless its
// fast_end stops this much short of it: short strings are stored as words.
constexpr size_t GIF_LZW_COPY_SLACK = 16;

// The string table and the input window, kept from one image to the next
// so that an animation's frames do not each allocate (and fault in) their
// own.
struct gif_lzw_decoder;

// Null when memory runs out.
gif_lzw_decoder *make_gif_lzw_decoder();
void free_gif_lzw_decoder(gif_lzw_decoder *decoder);

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

// What the decoder did. Without the end code it read the whole chain.
struct gif_lzw_result {
    size_t count;      // indices decoded, at most capacity
    size_t bits;       // bits of the chain's data bytes read, the end code's included
    bool ended;        // the end code was read
    size_t chain_read; // bytes of the chain read, its terminator's included
    bool terminated;   // a zero size byte ended the chain (else the file's end)
    // A sub-block of the chain (the offset of its size byte, and the data
    // bytes before it) at or before the one holding the last bit read, not
    // far from it.
    size_t mark_at;
    size_t mark_data;
};

// Decodes the sub-block chain at chain (its first size byte), of which
// chain_size bytes lie before the end of the file: the chain ends at a
// zero size byte or there. A minimum code size above
// GIF_LZW_MAX_MIN_CODE_SIZE decodes nothing.
gif_lzw_result decode_gif_lzw(const uint8_t *chain, size_t chain_size, int min_code_size,
                              const gif_lzw_output &out, gif_lzw_decoder *decoder);

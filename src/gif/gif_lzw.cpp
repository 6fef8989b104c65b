#include "gif/gif_lzw.h"

#include "common/checked_bitmap.h"

#include <algorithm>
#include <allegro.h>
#include <cstdint>
#include <cstring>
#include <vector>

// The decoder reads the image's sub-blocks into a window of joined data
// bytes as the codes need them, and decodes into a linear buffer of indices
// in stored order, which it then draws into the bitmap's rows (a plain image
// can be decoded straight into its rows). Codes come from the window with
// one word load each, and a string is copied from where it was first
// written instead of being walked link by link: every table entry is the
// previous string plus one index, which the output already holds in one
// piece.
//
// That copy is exact only while every code is one the table defines. The
// first code past the next free code switches the rest of the image to the
// link-by-link walk over the same prefix and suffix tables, which gives the
// same result for any input, corrupt tables included.

namespace {

constexpr int LZW_TABLE_SIZE = GIF_LZW_TABLE_SIZE;
constexpr int LZW_MAX_WIDTH = 12;
// Strings up to this long are kept whole in their table entry.
constexpr size_t SHORT_STRING = 8;
// Short strings are copied as two unaligned words; the buffer keeps this
// much room past its end for them.
constexpr size_t COPY_SLACK = 16;
// Bytes past the data that the code reader may load and ignore.
constexpr size_t READ_SLACK = 4;
// Data bytes the input window holds: small enough to stay in cache.
constexpr size_t WINDOW_BYTES = 32 * 1024;

// Code state; reset by every clear code.
struct lzw_codes {
    int clear_code;
    int end_code;
    int first_free;
    int width;       // bits per code
    int limit;       // codes the current width can hold
    int next_free;   // next table entry to define
    int prev;        // last code that defined an entry
    int first_index; // first index of prev's string
    bool fresh;      // no code since the start or the last clear code
};

using lzw_table = gif_lzw_table;

// The decoded indices in stored order; writes past capacity are dropped.
struct lzw_output {
    uint8_t *data;   // capacity bytes, and COPY_SLACK more unless direct
    size_t capacity; // width x height of the target
    size_t fast_end; // below it whole-word stores stay inside the buffer
    size_t pos;      // indices decoded so far, dropped ones included
    size_t prev_pos; // where prev's string was written
    size_t prev_len; // its length
    // Where a first code above 255 was written (code sizes over 8 only):
    // its low byte lands even when it equals the transparent index, since
    // the code itself never does.
    std::vector<size_t> &wide_codes;
};

// The data chain seen through a window: sub-blocks are read into it as
// the codes need them, and bytes before the code being read are dropped.
struct lzw_input {
    FILE *file;
    uint8_t *window;                // WINDOW_BYTES + READ_SLACK bytes
    size_t base;                    // chain offset of window[0]
    size_t held;                    // data bytes in the window
    size_t bit;                     // cursor, in bits from window[0]
    bool ended;                     // zero size byte, end of file or short block seen
    size_t file_bytes;              // size bytes and data read from the file so far
    std::vector<size_t> &block_end; // chain offset after each sub-block
};

// Moves the unread bytes to the window's start and reads sub-blocks behind
// them while a whole one fits. Throws only when memory runs out.
void refill_window(lzw_input *in)
{
    size_t drop = in->bit >> 3;
    std::memmove(in->window, in->window + drop, in->held - drop);
    in->held -= drop;
    in->base += drop;
    in->bit -= drop * 8;
    while (!in->ended && in->held + 255 <= WINDOW_BYTES) {
        int size = fgetc(in->file);
        if (size == EOF || size == 0) {
            in->file_bytes += size == 0;
            in->ended = true;
            break;
        }
        ++in->file_bytes;
        size_t got = fread(in->window + in->held, 1, size_t(size), in->file);
        in->file_bytes += got;
        in->held += got;
        if (got > 0)
            in->block_end.push_back(in->base + in->held);
        if (got < size_t(size))
            in->ended = true;
    }
    std::memset(in->window + in->held, 0, READ_SLACK);
}

// False when the chain ends before a code of width bits is complete.
inline bool has_code_bits(lzw_input *in, int width)
{
    if (in->bit + size_t(width) <= in->held * 8)
        return true;
    if (in->ended)
        return false;
    refill_window(in);
    return in->bit + size_t(width) <= in->held * 8;
}

// The code of width bits at bit of the window, least significant bit first.
inline int load_code(const uint8_t *window, size_t bit, int width)
{
    uint32_t word;
    std::memcpy(&word, window + (bit >> 3), 4);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = __builtin_bswap32(word);
#endif
    return int((word >> (bit & 7)) & ((1u << width) - 1));
}

// False when the chain ends before the code is complete.
inline bool read_code(lzw_input *in, int width, int *code)
{
    if (!has_code_bits(in, width))
        return false;
    *code = load_code(in->window, in->bit, width);
    in->bit += size_t(width);
    return true;
}

// Bytes of the file taken by the first `blocks` sub-blocks of the chain.
size_t count_file_bytes(const lzw_input &in, size_t blocks)
{
    return blocks + (blocks ? in.block_end[blocks - 1] : 0);
}

// Puts the stream where a decoder reading one sub-block at a time would
// have stopped: after the block holding the end code's last bit, or after
// the block that follows when that bit closed its block (such a decoder
// loads the next block as soon as one is used up).
void rewind_to_end_code(const lzw_input &in)
{
    size_t end_bit = in.base * 8 + in.bit;
    size_t last_byte = (end_bit - 1) / 8;
    size_t block = size_t(std::upper_bound(in.block_end.begin(), in.block_end.end(), last_byte) -
                          in.block_end.begin());
    size_t blocks_read = block + 1;
    size_t stop = count_file_bytes(in, blocks_read);
    if (end_bit % 8 == 0 && end_bit / 8 == in.block_end[block]) {
        if (blocks_read < in.block_end.size())
            stop = count_file_bytes(in, blocks_read + 1);
        else if (in.ended)
            stop = in.file_bytes; // the terminator, or the end of file
        else
            stop = SIZE_MAX; // that next block is still unread: read it past
    }
    if (stop == SIZE_MAX) {
        int size = fgetc(in.file);
        if (size != EOF && size != 0)
            skip_gif_bytes(in.file, size);
    } else if (stop < in.file_bytes) {
        fseek(in.file, -long(in.file_bytes - stop), SEEK_CUR);
    }
}

void reset_codes(lzw_codes *codes, int min_code_size)
{
    codes->width = min_code_size + 1;
    codes->limit = 1 << codes->width;
    codes->next_free = codes->first_free;
    codes->fresh = true;
}

// One more bit once the table has reached the width's capacity. Checked
// after every code, so a minimum size of 0 or 1, whose first free code
// already reaches the limit, widens as encoders expect.
inline void widen_codes(lzw_codes *codes)
{
    if (codes->next_free >= codes->limit && codes->width < LZW_MAX_WIDTH) {
        ++codes->width;
        codes->limit <<= 1;
    }
}

inline void put_output(lzw_output *out, size_t at, int index)
{
    if (at < out->capacity)
        out->data[at] = uint8_t(index);
}

// The first code after a clear (or at the start): one index, and the
// string the next entry will extend.
inline void write_fresh_code(lzw_codes *codes, lzw_output *out, int code)
{
    if (code >= codes->first_free)
        code = 0;
    codes->prev = code;
    codes->first_index = code;
    codes->fresh = false;
    out->prev_pos = out->pos;
    out->prev_len = 1;
    if (code > 0xFF && out->pos < out->capacity)
        out->wide_codes.push_back(out->pos);
    put_output(out, out->pos++, code);
    widen_codes(codes);
}

// Stores 8 bytes at p: the string and, past it, bytes the next strings
// overwrite (or that nobody reads).
inline void store_word(uint8_t *p, uint64_t word)
{
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = __builtin_bswap64(word);
#endif
    std::memcpy(p, &word, 8);
}

// Copies a string of count > SHORT_STRING indices written earlier at from
// to the output at pos (from + count <= pos). Whole 16-byte chunks while the
// buffer has room for the last one; reading past the string is harmless,
// since nothing of it has been overwritten yet.
inline void copy_long_string(uint8_t *data, size_t capacity, size_t fast_end, size_t from,
                             size_t pos, size_t count)
{
    if (pos >= capacity)
        return;
    if (pos + count <= fast_end) {
        for (size_t k = 0; k < count; k += 16) {
            uint8_t chunk[16];
            std::memcpy(chunk, data + from + k, 16);
            std::memcpy(data + pos + k, chunk, 16);
        }
    } else {
        std::memcpy(data + pos, data + from, count < capacity - pos ? count : capacity - pos);
    }
}

// Stores a short string exactly, for the output's last bytes.
inline void store_tail(uint8_t *data, size_t capacity, size_t pos, uint64_t bytes, size_t count)
{
    for (size_t k = 0; k < count && pos + k < capacity; ++k)
        data[pos + k] = uint8_t(bytes >> (8 * k));
}

// Decodes while every ordinary code is one the table defines, with the
// state in locals so it stays in registers. Returns 1 at the end code, 0 at
// the end of the chain, and -1 at a code past the next free one: the state
// is then in codes and out, that code in *code, for walk_codes.
int copy_codes(lzw_input *in, lzw_codes *codes, lzw_table *table, lzw_output *out, int *code_out,
               int *top)
{
    const int clear_code = codes->clear_code;
    const int end_code = codes->end_code;
    const int first_free = codes->first_free;
    const int first_width = codes->width;
    const uint8_t *src = in->window;
    size_t total_bits = in->held * 8;
    uint8_t *dst = out->data;
    const size_t capacity = out->capacity;
    const size_t fast_end = out->fast_end;
    size_t bit = in->bit;
    int width = codes->width, limit = codes->limit, next_free = codes->next_free;
    int prev = codes->prev, first_index = codes->first_index;
    bool fresh = codes->fresh;
    size_t pos = out->pos, prev_pos = out->prev_pos, prev_len = out->prev_len;
    uint64_t prev_bytes = 0;
    int result = 0;
    int code = 0;
    for (;;) {
        if (bit + size_t(width) > total_bits) {
            in->bit = bit;
            bool more = has_code_bits(in, width);
            bit = in->bit;
            total_bits = in->held * 8;
            if (!more)
                break;
        }
        code = load_code(src, bit, width);
        bit += size_t(width);

        // Clear and end codes sit between the literals and the entries.
        if (unsigned(code - clear_code) < 2u) {
            if (code == end_code) {
                result = 1;
                break;
            }
            *top = next_free > *top ? next_free : *top;
            width = first_width;
            limit = 1 << width;
            next_free = first_free;
            fresh = true;
            continue;
        }
        if (fresh || code > next_free) {
            // Rare codes go through the general routines.
            codes->width = width, codes->limit = limit, codes->next_free = next_free;
            codes->prev = prev, codes->first_index = first_index, codes->fresh = fresh;
            out->pos = pos, out->prev_pos = prev_pos, out->prev_len = prev_len;
            if (!fresh) {
                in->bit = bit;
                *top = next_free > *top ? next_free : *top;
                *code_out = code;
                return -1;
            }
            write_fresh_code(codes, out, code);
            width = codes->width, limit = codes->limit;
            prev = codes->prev, first_index = codes->first_index, fresh = false;
            pos = out->pos, prev_pos = out->prev_pos, prev_len = 1;
            prev_bytes = uint64_t(prev & 0xFF);
            continue;
        }

        // Literals have entries of their own (see fill_literal_entries), so
        // one path serves them and the defined strings alike.
        size_t length;
        int root;
        uint64_t bytes;
        if (code < next_free) {
            root = table->first[code];
            length = table->length[code];
            bytes = table->bytes[code];
            if (length > SHORT_STRING)
                copy_long_string(dst, capacity, fast_end, table->offset[code], pos, length);
            else if (pos < fast_end)
                store_word(dst + pos, bytes);
            else
                store_tail(dst, capacity, pos, bytes, length);
        } else {
            // The entry being defined: the previous string and its first index.
            root = first_index & 0xFF;
            length = prev_len + 1;
            bytes = prev_len < SHORT_STRING ? prev_bytes | uint64_t(root) << (8 * prev_len) : 0;
            if (length > SHORT_STRING) {
                copy_long_string(dst, capacity, fast_end, prev_pos, pos, prev_len);
                if (pos + prev_len < capacity)
                    dst[pos + prev_len] = uint8_t(root);
            } else if (pos < fast_end) {
                store_word(dst + pos, bytes);
            } else {
                store_tail(dst, capacity, pos, bytes, length);
            }
        }
        if (next_free < limit) {
            table->prefix[next_free] = uint16_t(prev);
            table->suffix[next_free] = uint8_t(root);
            table->first[next_free] = uint8_t(first_index);
            table->length[next_free] = uint16_t(prev_len + 1);
            table->offset[next_free] = uint32_t(prev_pos);
            table->bytes[next_free] =
                prev_len < SHORT_STRING ? prev_bytes | uint64_t(root) << (8 * prev_len) : 0;
            ++next_free;
            prev = code;
            first_index = root;
            prev_pos = pos;
            prev_len = length;
            prev_bytes = bytes;
        }
        pos += length;
        if (next_free >= limit && width < LZW_MAX_WIDTH) {
            ++width;
            limit <<= 1;
        }
    }
    in->bit = bit;
    out->pos = pos;
    *top = next_free > *top ? next_free : *top;
    return result;
}

// Walks an ordinary code's links onto the stack, last index first, and
// defines the next entry while there is room. Returns the stack depth. A
// corrupt table can chain links in a loop: the walk stops at the stack's end.
int push_code_string(lzw_codes *codes, lzw_table *table, uint8_t *stack, int code)
{
    int depth = 0;
    int current = code;
    if (code >= codes->next_free) {
        stack[depth++] = uint8_t(codes->first_index);
        current = codes->prev;
    }
    while (current >= codes->first_free && depth < LZW_TABLE_SIZE - 1) {
        stack[depth++] = table->suffix[current];
        current = table->prefix[current];
    }
    int root = current & 0xFF;
    stack[depth++] = uint8_t(root);

    if (codes->next_free < codes->limit) {
        table->suffix[codes->next_free] = uint8_t(root);
        table->prefix[codes->next_free] = uint16_t(codes->prev);
        codes->prev = code;
        codes->first_index = root;
        ++codes->next_free;
    }
    widen_codes(codes);
    return depth;
}

// Takes over after a code the table does not define, to the end of the
// image. Returns true when the end code was read.
bool walk_codes(lzw_input *in, int min_code_size, lzw_codes *codes, lzw_table *table,
                lzw_output *out, int code)
{
    uint8_t stack[LZW_TABLE_SIZE];
    do {
        if (code == codes->end_code)
            return true;
        if (code == codes->clear_code) {
            reset_codes(codes, min_code_size);
        } else if (codes->fresh) {
            write_fresh_code(codes, out, code);
        } else {
            int depth = push_code_string(codes, table, stack, code);
            while (depth > 0)
                put_output(out, out->pos++, stack[--depth]);
        }
    } while (read_code(in, codes->width, &code));
    return false;
}

// Entries for the literal codes, each the one index of its low 8 bits, so
// the copy loop can look them up like defined strings. The walk never reads
// them: it stops at the first code below the first free one.
void fill_literal_entries(lzw_table *table, int clear_code)
{
    for (int c = 0; c < clear_code; ++c) {
        table->first[c] = uint8_t(c);
        table->length[c] = 1;
        table->bytes[c] = uint64_t(c & 0xFF);
    }
}

// The code loop: runs until the end code or the end of the chain. Returns
// true when the end code was read.
bool decode_codes(lzw_input *in, int min_code_size, lzw_table *table, lzw_output *out)
{
    lzw_codes codes{};
    codes.clear_code = 1 << min_code_size;
    codes.end_code = codes.clear_code + 1;
    codes.first_free = codes.clear_code + 2;
    reset_codes(&codes, min_code_size);

    fill_literal_entries(table, codes.clear_code);
    int top = codes.first_free; // entries below were defined in this image
    int code;
    int result = copy_codes(in, &codes, table, out, &code, &top);
    if (result >= 0)
        return result == 1;
    // Entries this image never defined read as zero, as if the table had
    // been cleared for it.
    for (int e = top; e < LZW_TABLE_SIZE; ++e) {
        table->prefix[e] = 0;
        table->suffix[e] = 0;
    }
    return walk_codes(in, min_code_size, &codes, table, out, code);
}

// Fills rows with the y of each decoded row, in plain or interlaced order.
void build_row_table(std::vector<int> &rows, int height, int interlace)
{
    if (!interlace) {
        for (int n = 0; n < height; ++n)
            rows[size_t(n)] = n;
        return;
    }
    static const int starts[4] = {0, 4, 2, 1};
    static const int steps[4] = {8, 8, 4, 2};
    size_t n = 0;
    for (int pass = 0; pass < 4; ++pass)
        for (int y = starts[pass]; y < height; y += steps[pass])
            rows[n++] = y;
}

// Rows of an 8-bit memory bitmap can be written directly.
bool has_direct_rows(BITMAP *bmp)
{
    return is_plain_bitmap(bmp, 8);
}

// Draws the first count decoded indices into the target's rows, skipping
// the transparent index.
void draw_indices(const lzw_output &out, BITMAP *target, const std::vector<int> &rows, int trans)
{
    const uint8_t *indices = out.data;
    size_t w = size_t(target->w);
    size_t count = out.pos < out.capacity ? out.pos : out.capacity;
    bool direct = has_direct_rows(target);
    for (size_t n = 0; n < rows.size() && n * w < count; ++n) {
        const uint8_t *src = indices + n * w;
        size_t run = count - n * w < w ? count - n * w : w;
        int y = rows[n];
        if (direct && trans < 0) {
            std::memcpy(target->line[y], src, run);
        } else if (direct) {
            uint8_t *dst = target->line[y];
            for (size_t x = 0; x < run; ++x)
                if (src[x] != trans)
                    dst[x] = src[x];
        } else {
            for (size_t x = 0; x < run; ++x)
                if (src[x] != trans)
                    putpixel(target, int(x), y, src[x]);
        }
    }
    for (size_t at : out.wide_codes)
        putpixel(target, int(at % w), rows[at / w], indices[at]);
}

} // namespace

void decode_gif_image(FILE *file, int min_code_size, BITMAP *target,
                      int interlace, int trans)
{
    gif_decode_scratch scratch;
    decode_gif_image_with(file, min_code_size, target, interlace, trans, &scratch);
}

// Decodes into out, reading the chain through the scratch window, and
// leaves the stream where a sub-block-at-a-time decoder would. False when
// the window cannot be had (nothing read then).
static bool run_decoder(FILE *file, int min_code_size, gif_decode_scratch *scratch,
                        lzw_output *out)
{
    try {
        scratch->window.resize(WINDOW_BYTES + READ_SLACK);
        scratch->table.resize(1);
    } catch (const std::bad_alloc &) {
        return false;
    }
    scratch->block_end.clear();
    scratch->wide_codes.clear();
    lzw_input in{file, scratch->window.data(), 0, 0, 0, false, 0, scratch->block_end};
    try {
        if (decode_codes(&in, min_code_size, &scratch->table[0], out))
            rewind_to_end_code(in);
    } catch (const std::bad_alloc &) {
        // Only the list of block ends can grow; without it the stream
        // position is lost, so read on to the chain's end.
        skip_gif_sub_blocks(file);
    }
    return true;
}

// Decodes into the scratch buffer, then draws; returns how many indices
// were decoded.
static size_t decode_buffered(FILE *file, int min_code_size, BITMAP *target, int interlace,
                              int trans, gif_decode_scratch *scratch)
{
    if (min_code_size < 0 || min_code_size > GIF_LZW_MAX_MIN_CODE_SIZE) {
        skip_gif_sub_blocks(file);
        return 0;
    }
    size_t capacity = size_t(target->w) * size_t(target->h);
    try {
        scratch->rows.resize(size_t(target->h));
        // Grown, never shrunk: what a larger earlier frame left is simply
        // overwritten.
        if (scratch->indices.size() < capacity + COPY_SLACK)
            scratch->indices.resize(capacity + COPY_SLACK);
    } catch (const std::bad_alloc &) {
        return 0; // nothing read: the parser goes on from the data
    }
    build_row_table(scratch->rows, target->h, interlace);
    lzw_output out{scratch->indices.data(), capacity, capacity, 0, 0, 0, scratch->wide_codes};
    if (!run_decoder(file, min_code_size, scratch, &out))
        return 0;
    draw_indices(out, target, scratch->rows, trans);
    return out.pos < capacity ? out.pos : capacity;
}

void decode_gif_image_with(FILE *file, int min_code_size, BITMAP *target, int interlace,
                           int trans, gif_decode_scratch *scratch)
{
    decode_buffered(file, min_code_size, target, interlace, trans, scratch);
}

size_t decode_plain_gif_image(FILE *file, int min_code_size, BITMAP *target,
                              gif_decode_scratch *scratch)
{
    size_t capacity = size_t(target->w) * size_t(target->h);
    bool contiguous = has_direct_rows(target);
    for (int y = 1; contiguous && y < target->h; ++y)
        contiguous = target->line[y] == target->line[0] + size_t(y) * size_t(target->w);
    if (!contiguous || capacity == 0 || min_code_size < 0 ||
        min_code_size > GIF_LZW_MAX_MIN_CODE_SIZE)
        return decode_buffered(file, min_code_size, target, 0, -1, scratch);
    // Whole-word stores stop 16 bytes short of the bitmap's end.
    size_t fast_end = capacity > COPY_SLACK ? capacity - COPY_SLACK : 0;
    lzw_output out{target->line[0], capacity, fast_end, 0, 0, 0, scratch->wide_codes};
    if (!run_decoder(file, min_code_size, scratch, &out))
        return 0;
    return out.pos < capacity ? out.pos : capacity;
}

void skip_gif_sub_blocks(FILE *file)
{
    int size = fgetc(file);
    while (size != EOF && size != 0) {
        if (!skip_gif_bytes(file, size))
            return;
        size = fgetc(file);
    }
}

bool skip_gif_bytes(FILE *file, long count)
{
    uint8_t sink[256];
    while (count > 0) {
        size_t want = count < long(sizeof sink) ? size_t(count) : sizeof sink;
        size_t got = fread(sink, 1, want, file);
        if (got < want)
            return !ferror(file);
        count -= long(got);
    }
    return true;
}

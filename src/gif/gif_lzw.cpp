#include "gif/gif_lzw.h"

#include <allegro.h>
#include <cstdint>
#include <cstring>
#include <vector>

// The decoder reads the image's whole sub-block chain into memory, decodes
// it into a linear buffer of indices in stored order, then draws that buffer
// into the bitmap's rows. Codes come from the contiguous bytes with one
// word load each, and a string is copied from where it was first written
// instead of being walked link by link: every table entry is the previous
// string plus one index, which the output already holds in one piece.
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
// Bytes past the chain that the code reader may load and ignore.
constexpr size_t READ_SLACK = 4;

// The image's data chain in memory, with the chain's shape in the file.
struct lzw_chain {
    std::vector<uint8_t> &bytes;    // data bytes of every sub-block, in order
    std::vector<size_t> &block_end; // running total of bytes after each block
    size_t file_bytes;              // size bytes and data read from the file
};

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
    uint8_t *data;   // capacity + COPY_SLACK bytes
    size_t capacity; // width x height of the target
    size_t pos;      // indices decoded so far, dropped ones included
    size_t prev_pos; // where prev's string was written
    size_t prev_len; // its length
    // Where a first code above 255 was written (code sizes over 8 only):
    // its low byte lands even when it equals the transparent index, since
    // the code itself never does.
    std::vector<size_t> &wide_codes;
};

// Bit cursor over the chain.
struct lzw_input {
    const uint8_t *data;
    size_t total_bits;
    size_t bit;
};

// Reads sub-blocks until a zero size byte, the end of file or a short
// block. Throws only when memory runs out.
void read_data_chain(FILE *file, lzw_chain *chain)
{
    chain->file_bytes = 0;
    chain->bytes.clear();
    chain->block_end.clear();
    for (;;) {
        int size = fgetc(file);
        if (size == EOF)
            break;
        ++chain->file_bytes;
        if (size == 0)
            break;
        size_t held = chain->bytes.size();
        chain->bytes.resize(held + size_t(size));
        size_t got = fread(chain->bytes.data() + held, 1, size_t(size), file);
        chain->bytes.resize(held + got);
        chain->file_bytes += got;
        if (got == 0)
            break;
        chain->block_end.push_back(chain->bytes.size());
        if (got < size_t(size))
            break;
    }
    chain->bytes.resize(chain->bytes.size() + READ_SLACK, 0);
}

// Bytes of the file taken by the first `blocks` sub-blocks of the chain.
size_t count_file_bytes(const lzw_chain &chain, size_t blocks)
{
    return blocks + (blocks ? chain.block_end[blocks - 1] : 0);
}

// Puts the stream where a decoder reading one sub-block at a time would
// have stopped: after the block holding the end code's last bit, or after
// the block that follows when that bit closed its block (such a decoder
// loads the next block as soon as one is used up).
void rewind_to_end_code(FILE *file, const lzw_chain &chain, size_t end_bit)
{
    size_t last_byte = (end_bit - 1) / 8;
    size_t block = 0;
    while (chain.block_end[block] <= last_byte)
        ++block;
    size_t blocks_read = block + 1;
    size_t stop = count_file_bytes(chain, blocks_read);
    if (end_bit % 8 == 0 && end_bit / 8 == chain.block_end[block]) {
        if (blocks_read < chain.block_end.size())
            stop = count_file_bytes(chain, blocks_read + 1);
        else
            stop = chain.file_bytes; // the terminator, or the end of file
    }
    if (stop < chain.file_bytes)
        fseek(file, -long(chain.file_bytes - stop), SEEK_CUR);
}

// False when the chain ends before the code is complete.
inline bool read_code(lzw_input *in, int width, int *code)
{
    if (in->bit + size_t(width) > in->total_bits)
        return false;
    const uint8_t *p = in->data + (in->bit >> 3);
    uint32_t word = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                    uint32_t(p[3]) << 24;
    *code = int((word >> (in->bit & 7)) & ((1u << width) - 1));
    in->bit += size_t(width);
    return true;
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
inline void copy_long_string(uint8_t *data, size_t capacity, size_t from, size_t pos, size_t count)
{
    if (pos >= capacity)
        return;
    if (pos + count <= capacity) {
        for (size_t k = 0; k < count; k += 16) {
            uint8_t chunk[16];
            std::memcpy(chunk, data + from + k, 16);
            std::memcpy(data + pos + k, chunk, 16);
        }
    } else {
        std::memcpy(data + pos, data + from, capacity - pos);
    }
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
    const uint8_t *src = in->data;
    const size_t total_bits = in->total_bits;
    uint8_t *dst = out->data;
    const size_t capacity = out->capacity;
    size_t bit = in->bit;
    int width = codes->width, limit = codes->limit, next_free = codes->next_free;
    int prev = codes->prev, first_index = codes->first_index;
    bool fresh = codes->fresh;
    size_t pos = out->pos, prev_pos = out->prev_pos, prev_len = out->prev_len;
    uint64_t prev_bytes = 0;
    int result = 0;
    int code = 0;
    for (;;) {
        if (bit + size_t(width) > total_bits)
            break;
        uint32_t word;
        std::memcpy(&word, src + (bit >> 3), 4);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        word = __builtin_bswap32(word);
#endif
        code = int((word >> (bit & 7)) & ((1u << width) - 1));
        bit += size_t(width);

        if (code == end_code) {
            result = 1;
            break;
        }
        if (code == clear_code) {
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

        size_t length;
        int root;
        uint64_t bytes;
        if (code < first_free) {
            root = code & 0xFF;
            length = 1;
            bytes = uint64_t(root);
            if (pos < capacity)
                dst[pos] = uint8_t(root);
        } else if (code < next_free) {
            root = table->first[code];
            length = table->length[code];
            bytes = table->bytes[code];
            if (length <= SHORT_STRING) {
                if (pos < capacity)
                    store_word(dst + pos, bytes);
            } else {
                copy_long_string(dst, capacity, table->offset[code], pos, length);
            }
        } else {
            // The entry being defined: the previous string and its first index.
            root = first_index & 0xFF;
            length = prev_len + 1;
            bytes = prev_len < SHORT_STRING ? prev_bytes | uint64_t(root) << (8 * prev_len) : 0;
            if (length <= SHORT_STRING) {
                if (pos < capacity)
                    store_word(dst + pos, bytes);
            } else {
                copy_long_string(dst, capacity, prev_pos, pos, prev_len);
                if (pos + prev_len < capacity)
                    dst[pos + prev_len] = uint8_t(root);
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

// The code loop: runs until the end code or the end of the chain. Returns
// true when the end code was read.
bool decode_codes(lzw_input *in, int min_code_size, lzw_table *table, lzw_output *out)
{
    lzw_codes codes{};
    codes.clear_code = 1 << min_code_size;
    codes.end_code = codes.clear_code + 1;
    codes.first_free = codes.clear_code + 2;
    reset_codes(&codes, min_code_size);

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
    return is_memory_bitmap(bmp) && bitmap_color_depth(bmp) == 8;
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

void decode_gif_image_with(FILE *file, int min_code_size, BITMAP *target, int interlace,
                           int trans, gif_decode_scratch *scratch)
{
    if (min_code_size < 0 || min_code_size > GIF_LZW_MAX_MIN_CODE_SIZE) {
        skip_gif_sub_blocks(file);
        return;
    }
    size_t capacity = size_t(target->w) * size_t(target->h);
    try {
        scratch->rows.resize(size_t(target->h));
        // Grown, never shrunk: what a larger earlier frame left is simply
        // overwritten.
        if (scratch->indices.size() < capacity + COPY_SLACK)
            scratch->indices.resize(capacity + COPY_SLACK);
        scratch->table.resize(1);
    } catch (const std::bad_alloc &) {
        return; // nothing read: the parser goes on from the data
    }
    build_row_table(scratch->rows, target->h, interlace);
    lzw_chain chain{scratch->chain, scratch->block_end, 0};
    try {
        read_data_chain(file, &chain);
    } catch (const std::bad_alloc &) {
        skip_gif_sub_blocks(file);
        return;
    }

    lzw_input in{chain.bytes.data(), (chain.bytes.size() - READ_SLACK) * 8, 0};
    scratch->wide_codes.clear();
    lzw_output out{scratch->indices.data(), capacity, 0, 0, 0, scratch->wide_codes};
    if (decode_codes(&in, min_code_size, &scratch->table[0], &out))
        rewind_to_end_code(file, chain, in.bit);
    draw_indices(out, target, scratch->rows, trans);
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

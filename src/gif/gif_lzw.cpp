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

constexpr int LZW_TABLE_SIZE = 4096; // codes of up to 12 bits
constexpr int LZW_MAX_WIDTH = 12;
// Short strings are copied as two unaligned words; the buffer keeps this
// much room past its end for them.
constexpr size_t COPY_SLACK = 16;
// Bytes past the chain that the code reader may load and ignore.
constexpr size_t READ_SLACK = 4;

// The image's data chain in memory, with the chain's shape in the file.
struct lzw_chain {
    std::vector<uint8_t> bytes;    // data bytes of every sub-block, in order
    std::vector<size_t> block_end; // running total of bytes after each block
    size_t file_bytes;             // size bytes and data read from the file
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

// Entries as links (prefix code, suffix index) for the walk, and as places
// in the output (offset, length, first index) for the copy.
struct lzw_table {
    uint16_t prefix[LZW_TABLE_SIZE];
    uint8_t suffix[LZW_TABLE_SIZE];
    uint8_t first[LZW_TABLE_SIZE];
    uint16_t length[LZW_TABLE_SIZE];
    uint32_t offset[LZW_TABLE_SIZE];
};

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
    std::vector<size_t> wide_codes;
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
    uint8_t block[255];
    for (;;) {
        int size = fgetc(file);
        if (size == EOF)
            break;
        ++chain->file_bytes;
        if (size == 0)
            break;
        size_t got = fread(block, 1, size_t(size), file);
        chain->file_bytes += got;
        if (got == 0)
            break;
        chain->bytes.insert(chain->bytes.end(), block, block + got);
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

// Copies count indices written earlier at from to the output's end. The
// source always ends at or before the destination, so short strings can be
// moved as two whole words: what they carry past count is overwritten by
// the next string or never read.
inline void copy_output(lzw_output *out, size_t from, size_t count)
{
    if (out->pos >= out->capacity)
        return;
    uint8_t *dst = out->data + out->pos;
    const uint8_t *src = out->data + from;
    if (count <= 16) {
        uint64_t a, b;
        std::memcpy(&a, src, 8);
        std::memcpy(&b, src + 8, 8);
        std::memcpy(dst, &a, 8);
        std::memcpy(dst + 8, &b, 8);
    } else {
        size_t room = out->capacity - out->pos;
        std::memcpy(dst, src, count < room ? count : room);
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

// An ordinary code the table defines (or the one it is defining now):
// copies its string, defines the next entry, widens.
inline void copy_code_string(lzw_codes *codes, lzw_table *table, lzw_output *out, int code)
{
    size_t start = out->pos;
    size_t length;
    int root;
    if (code < codes->first_free) {
        root = code & 0xFF;
        length = 1;
        put_output(out, start, root);
    } else if (code < codes->next_free) {
        root = table->first[code];
        length = table->length[code];
        copy_output(out, table->offset[code], length);
    } else {
        // The entry being defined: the previous string and its first index.
        root = codes->first_index & 0xFF;
        length = out->prev_len + 1;
        copy_output(out, out->prev_pos, out->prev_len);
        put_output(out, start + out->prev_len, root);
    }
    out->pos = start + length;
    if (codes->next_free < codes->limit) {
        int entry = codes->next_free++;
        table->prefix[entry] = uint16_t(codes->prev);
        table->suffix[entry] = uint8_t(root);
        table->first[entry] = uint8_t(codes->first_index);
        table->length[entry] = uint16_t(out->prev_len + 1);
        table->offset[entry] = uint32_t(out->prev_pos);
        codes->prev = code;
        codes->first_index = root;
        out->prev_pos = start;
        out->prev_len = length;
    }
    widen_codes(codes);
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
bool decode_codes(lzw_input *in, int min_code_size, lzw_output *out)
{
    lzw_codes codes{};
    codes.clear_code = 1 << min_code_size;
    codes.end_code = codes.clear_code + 1;
    codes.first_free = codes.clear_code + 2;
    reset_codes(&codes, min_code_size);

    // Zeroed per image: a corrupt stream may read entries never defined.
    std::vector<lzw_table> storage(1);
    lzw_table *table = storage.data();
    int code;
    while (read_code(in, codes.width, &code)) {
        if (code == codes.end_code)
            return true;
        if (code == codes.clear_code)
            reset_codes(&codes, min_code_size);
        else if (codes.fresh)
            write_fresh_code(&codes, out, code);
        else if (code <= codes.next_free)
            copy_code_string(&codes, table, out, code);
        else
            return walk_codes(in, min_code_size, &codes, table, out, code);
    }
    return false;
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
    size_t count = out.pos < out.capacity ? out.pos : out.capacity;
    size_t w = size_t(target->w);
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
    if (min_code_size < 0 || min_code_size > GIF_LZW_MAX_MIN_CODE_SIZE) {
        skip_gif_sub_blocks(file);
        return;
    }
    size_t capacity = size_t(target->w) * size_t(target->h);
    std::vector<int> rows;
    std::vector<uint8_t> indices;
    lzw_chain chain;
    try {
        rows.resize(size_t(target->h));
        indices.resize(capacity + COPY_SLACK);
    } catch (const std::bad_alloc &) {
        return; // nothing read: the parser goes on from the data
    }
    build_row_table(rows, target->h, interlace);
    try {
        read_data_chain(file, &chain);
    } catch (const std::bad_alloc &) {
        skip_gif_sub_blocks(file);
        return;
    }

    lzw_input in{chain.bytes.data(), (chain.bytes.size() - READ_SLACK) * 8, 0};
    lzw_output out{indices.data(), capacity, 0, 0, 0, {}};
    if (decode_codes(&in, min_code_size, &out))
        rewind_to_end_code(file, chain, in.bit);
    draw_indices(out, target, rows, trans);
}

void skip_gif_sub_blocks(FILE *file)
{
    int size = fgetc(file);
    while (size != EOF && size != 0) {
        if (fseek(file, size, SEEK_CUR) != 0)
            return;
        size = fgetc(file);
    }
}

#include "gif/gif_lzw.h"

#include "common/checked_bitmap.h"

#include <algorithm>
#include <allegro.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// Codes are read from a window of joined sub-block data and decoded into a
// buffer of indices in stored order, then drawn into the bitmap's rows; a
// plain image is decoded straight into its rows. The copy decoder copies
// each string from where the output already holds it, and hands over to the
// walk decoder at the first code the table does not define: README.md.

namespace {

constexpr int LZW_TABLE_SIZE = 4096; // codes of up to 12 bits
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

// String table: entries as links (prefix code, suffix index) for the walk,
// and as places in the output (offset, length, first index, and the whole
// string when it is short) for the copy.
struct lzw_table {
    uint16_t prefix[LZW_TABLE_SIZE];
    uint8_t suffix[LZW_TABLE_SIZE];
    uint8_t first[LZW_TABLE_SIZE];
    uint16_t length[LZW_TABLE_SIZE];
    uint32_t offset[LZW_TABLE_SIZE];
    uint64_t bytes[LZW_TABLE_SIZE]; // strings of up to 8, first index lowest
};

// Sizes in a list grown by doubling.
struct size_list {
    size_t *items;
    size_t count;
    size_t room;
};

// False, the list unchanged, when memory runs out.
bool append_size(size_list *list, size_t value)
{
    if (list->count == list->room) {
        size_t room = list->room ? 2 * list->room : 256;
        void *grown = realloc(list->items, room * sizeof(size_t));
        if (!grown)
            return false;
        list->items = static_cast<size_t *>(grown);
        list->room = room;
    }
    list->items[list->count++] = value;
    return true;
}

} // namespace

struct gif_decoder {
    uint8_t window[WINDOW_BYTES + READ_SLACK]; // data bytes of the sub-blocks being decoded
    lzw_table table;
    size_list block_end;  // running total of data bytes after each sub-block
    size_list wide_codes; // where first codes above 255 were written
    uint8_t *indices;     // decoded indices in stored order, zeroed when made
    size_t indices_room;
    int *rows; // decoded row number -> y
    size_t rows_room;
};

namespace {

// Constants of one image's codes.
struct lzw_codes {
    int clear_code;
    int end_code;
    int first_free;
    int first_width;
};

// Code and string state; the copy loop keeps its own copy in registers.
struct lzw_state {
    int width;           // bits per code
    int limit;           // codes the current width can hold
    int next_free;       // next table entry to define
    int top;             // highest next_free reached in this image
    int prev;            // last code that defined an entry
    int first_index;     // first index of prev's string
    bool fresh;          // no code since the start or the last clear code
    size_t pos;          // indices decoded so far, dropped ones included
    size_t prev_pos;     // where prev's string was written
    size_t prev_len;     // its length
    uint64_t prev_bytes; // its indices when short, first lowest
};

// The decoded indices; writes past capacity are dropped.
struct lzw_output {
    uint8_t *data;   // capacity bytes, and COPY_SLACK more unless direct
    size_t capacity; // width x height of the target
    size_t fast_end; // below it whole-word stores stay inside the buffer
    // Where a first code above 255 was written, when transparent pixels are
    // skipped: its low byte is drawn even when it equals the transparent
    // index, since the code itself never does. Null when nothing is skipped.
    size_list *wide_codes;
};

// The data chain seen through a window: sub-blocks are read into it as
// the codes need them, and bytes before the code being read are dropped.
struct lzw_input {
    FILE *file;
    uint8_t *window;       // WINDOW_BYTES + READ_SLACK bytes
    size_t base;           // chain offset of window[0]
    size_t held;           // data bytes in the window
    size_t bit;            // cursor, in bits from window[0]
    bool ended;            // zero size byte, end of file or short block seen
    bool lost;             // the list of block ends could not grow: reading stopped
    size_t file_bytes;     // size bytes and data read from the file so far
    size_list *block_end;  // chain offset after each sub-block
};

// Moves the unread bytes to the window's start and reads sub-blocks behind
// them while a whole one fits.
void refill_window(lzw_input *in)
{
    size_t drop = in->bit >> 3;
    std::memmove(in->window, in->window + drop, in->held - drop);
    in->held -= drop;
    in->base += drop;
    in->bit -= drop * 8;
    while (!in->ended && in->held + 255 <= WINDOW_BYTES) {
        int size = getc_unlocked(in->file); // the stream is this thread's alone
        if (size == EOF || size == 0) {
            in->file_bytes += size == 0;
            in->ended = true;
            break;
        }
        ++in->file_bytes;
        size_t got = fread(in->window + in->held, 1, size_t(size), in->file);
        in->file_bytes += got;
        in->held += got;
        if (got > 0 && !append_size(in->block_end, in->base + in->held))
            in->ended = in->lost = true;
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
    return blocks + (blocks ? in.block_end->items[blocks - 1] : 0);
}

// Puts the stream where a decoder reading one sub-block at a time would
// have stopped: after the block holding the end code's last bit, or after
// the block that follows when that bit closed its block (such a decoder
// loads the next block as soon as one is used up).
void rewind_to_end_code(const lzw_input &in)
{
    const size_t *ends = in.block_end->items;
    size_t count = in.block_end->count;
    size_t end_bit = in.base * 8 + in.bit;
    size_t last_byte = (end_bit - 1) / 8;
    size_t block = size_t(std::upper_bound(ends, ends + count, last_byte) - ends);
    size_t blocks_read = block + 1;
    size_t stop = count_file_bytes(in, blocks_read);
    if (end_bit % 8 == 0 && end_bit / 8 == ends[block]) {
        if (blocks_read < count)
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

inline void reset_codes(lzw_state *s, const lzw_codes &codes)
{
    s->top = std::max(s->top, s->next_free);
    s->width = codes.first_width;
    s->limit = 1 << s->width;
    s->next_free = codes.first_free;
    s->fresh = true;
}

// One more bit once the table has reached the width's capacity. Checked
// after every code, so a minimum size of 0 or 1, whose first free code
// already reaches the limit, widens as encoders expect.
inline void widen_codes(lzw_state *s)
{
    if (s->next_free >= s->limit && s->width < LZW_MAX_WIDTH) {
        ++s->width;
        s->limit <<= 1;
    }
}

inline void put_output(const lzw_output &out, size_t at, int index)
{
    if (at < out.capacity)
        out.data[at] = uint8_t(index);
}

// The first code after a clear (or at the start): one index, and the
// string the next entry will extend.
inline void start_string(lzw_state *s, const lzw_codes &codes, const lzw_output &out, int code)
{
    if (code >= codes.first_free)
        code = 0;
    s->prev = code;
    s->first_index = code;
    s->fresh = false;
    s->prev_pos = s->pos;
    s->prev_len = 1;
    s->prev_bytes = uint64_t(code & 0xFF);
    // Dropped when memory runs out: the pixel may then be skipped.
    if (code > 0xFF && out.wide_codes && s->pos < out.capacity)
        append_size(out.wide_codes, s->pos);
    put_output(out, s->pos++, code);
    widen_codes(s);
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
inline void copy_long_string(const lzw_output &out, size_t from, size_t pos, size_t count)
{
    if (pos >= out.capacity)
        return;
    if (pos + count <= out.fast_end) {
        for (size_t k = 0; k < count; k += 16) {
            uint8_t chunk[16];
            std::memcpy(chunk, out.data + from + k, 16);
            std::memcpy(out.data + pos + k, chunk, 16);
        }
    } else {
        std::memcpy(out.data + pos, out.data + from, std::min(count, out.capacity - pos));
    }
}

// Stores a short string of count indices at pos: one word while it fits,
// else exactly, for the output's last bytes.
inline void store_short_string(const lzw_output &out, size_t pos, uint64_t bytes, size_t count)
{
    if (pos < out.fast_end) {
        store_word(out.data + pos, bytes);
        return;
    }
    for (size_t k = 0; k < count && pos + k < out.capacity; ++k)
        out.data[pos + k] = uint8_t(bytes >> (8 * k));
}

// A string as the copy loop knows it.
struct lzw_string {
    size_t length;
    int root;       // first index
    uint64_t bytes; // the indices when short, first lowest
};

// Writes the string of a code the table defines, or of the entry being
// defined (code == next_free): the previous string and its first index.
inline lzw_string put_code_string(const lzw_state &s, const lzw_table &table,
                                  const lzw_output &out, int code)
{
    if (code < s.next_free) {
        lzw_string string{table.length[code], table.first[code], table.bytes[code]};
        if (string.length > SHORT_STRING)
            copy_long_string(out, table.offset[code], s.pos, string.length);
        else
            store_short_string(out, s.pos, string.bytes, string.length);
        return string;
    }
    int root = s.first_index & 0xFF;
    lzw_string string{s.prev_len + 1, root,
                      s.prev_len < SHORT_STRING ? s.prev_bytes | uint64_t(root) << (8 * s.prev_len)
                                                : 0};
    if (string.length > SHORT_STRING) {
        copy_long_string(out, s.prev_pos, s.pos, s.prev_len);
        put_output(out, s.pos + s.prev_len, root);
    } else {
        store_short_string(out, s.pos, string.bytes, string.length);
    }
    return string;
}

// Defines the next entry, the previous string plus the first index of the
// one just written, while the table has room; the new string becomes the
// previous one.
inline void define_entry(lzw_state *s, lzw_table *table, int code, const lzw_string &string)
{
    if (s->next_free >= s->limit)
        return;
    int entry = s->next_free++;
    table->prefix[entry] = uint16_t(s->prev);
    table->suffix[entry] = uint8_t(string.root);
    table->first[entry] = uint8_t(s->first_index);
    table->length[entry] = uint16_t(s->prev_len + 1);
    table->offset[entry] = uint32_t(s->prev_pos);
    table->bytes[entry] =
        s->prev_len < SHORT_STRING ? s->prev_bytes | uint64_t(string.root) << (8 * s->prev_len) : 0;
    s->prev = code;
    s->first_index = string.root;
    s->prev_pos = s->pos;
    s->prev_len = string.length;
    s->prev_bytes = string.bytes;
}

// Decodes while every ordinary code is one the table defines, with the
// state in locals so it stays in registers. Returns 1 at the end code, 0 at
// the end of the chain, and -1 at a code past the next free one, which is
// then in *code_out for walk_codes.
int copy_codes(lzw_input *in, const lzw_codes codes, lzw_table *table, const lzw_output &output,
               lzw_state *state, int *code_out)
{
    lzw_state s = *state;
    const lzw_output out = output;
    const uint8_t *window = in->window;
    size_t bit = in->bit, total_bits = in->held * 8;
    int result = 0, code = 0;
    for (;;) {
        if (bit + size_t(s.width) > total_bits) {
            in->bit = bit;
            bool more = has_code_bits(in, s.width);
            bit = in->bit;
            total_bits = in->held * 8;
            if (!more)
                break;
        }
        code = load_code(window, bit, s.width);
        bit += size_t(s.width);

        // Clear and end codes sit between the literals and the entries.
        if (unsigned(code - codes.clear_code) < 2u) {
            if (code == codes.end_code) {
                result = 1;
                break;
            }
            reset_codes(&s, codes);
        } else if (s.fresh) {
            start_string(&s, codes, out, code);
        } else if (code > s.next_free) {
            result = -1;
            break;
        } else {
            // Literals have entries of their own (see fill_literal_entries),
            // so one path serves them and the defined strings alike.
            lzw_string string = put_code_string(s, *table, out, code);
            define_entry(&s, table, code, string);
            s.pos += string.length;
            widen_codes(&s);
        }
    }
    in->bit = bit;
    *code_out = code;
    s.top = std::max(s.top, s.next_free);
    *state = s;
    return result;
}

// Walks an ordinary code's links onto the stack, which grows down from its
// end (LZW_TABLE_SIZE bytes), so that the string lies there in order, and
// defines the next entry while there is room. Returns the string's length.
// A corrupt table can chain links in a loop: the walk stops at the stack's
// end.
int push_code_string(lzw_state *s, const lzw_codes &codes, lzw_table *table, uint8_t *stack,
                     int code)
{
    int depth = 0;
    int current = code;
    uint8_t *top = stack + LZW_TABLE_SIZE;
    if (code >= s->next_free) {
        top[-++depth] = uint8_t(s->first_index);
        current = s->prev;
    }
    while (current >= codes.first_free && depth < LZW_TABLE_SIZE - 1) {
        top[-++depth] = table->suffix[current];
        current = table->prefix[current];
    }
    int root = current & 0xFF;
    top[-++depth] = uint8_t(root);

    if (s->next_free < s->limit) {
        table->suffix[s->next_free] = uint8_t(root);
        table->prefix[s->next_free] = uint16_t(s->prev);
        s->prev = code;
        s->first_index = root;
        ++s->next_free;
    }
    widen_codes(s);
    return depth;
}

// Takes over after a code the table does not define, to the end of the
// image. Returns true when the end code was read. Entries this image never
// defined read as zero, as if the table had been cleared for it.
bool walk_codes(lzw_input *in, const lzw_codes &codes, lzw_table *table, const lzw_output &out,
                lzw_state *s, int code)
{
    std::fill(table->prefix + s->top, table->prefix + LZW_TABLE_SIZE, 0);
    std::fill(table->suffix + s->top, table->suffix + LZW_TABLE_SIZE, 0);
    uint8_t stack[LZW_TABLE_SIZE];
    do {
        if (code == codes.end_code)
            return true;
        if (code == codes.clear_code) {
            reset_codes(s, codes);
        } else if (s->fresh) {
            start_string(s, codes, out, code);
        } else if (s->pos >= out.capacity) {
            // Nothing more is drawn. Where the end code lies still matters,
            // but the code widths follow the count of entries alone: the
            // strings (up to 4095 steps a code through a corrupt table's
            // loops) and the entries' contents are left out.
            if (s->next_free < s->limit) {
                s->prev = code;
                ++s->next_free;
            }
            widen_codes(s);
        } else {
            size_t length = size_t(push_code_string(s, codes, table, stack, code));
            if (s->pos < out.capacity)
                std::memcpy(out.data + s->pos, stack + LZW_TABLE_SIZE - length,
                            std::min(length, out.capacity - s->pos));
            s->pos += length;
        }
    } while (read_code(in, s->width, &code));
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

// Decodes into out, reading the chain through the decoder's window, and
// leaves the stream where a sub-block-at-a-time decoder would. Returns how
// many indices were decoded, dropped ones included.
size_t run_decoder(FILE *file, int min_code_size, gif_decoder *decoder, const lzw_output &out)
{
    decoder->block_end.count = 0;
    lzw_input in{file, decoder->window, 0, 0, 0, false, false, 0, &decoder->block_end};
    lzw_codes codes{1 << min_code_size, (1 << min_code_size) + 1, (1 << min_code_size) + 2,
                    min_code_size + 1};
    lzw_state s{};
    reset_codes(&s, codes);
    fill_literal_entries(&decoder->table, codes.clear_code);
    int code;
    int result = copy_codes(&in, codes, &decoder->table, out, &s, &code);
    bool ended = result == 1 || (result < 0 && walk_codes(&in, codes, &decoder->table, out, &s, code));
    if (in.lost)
        skip_gif_sub_blocks(file); // the stream position is lost: read on to the chain's end
    else if (ended)
        rewind_to_end_code(in);
    return s.pos;
}

// Fills rows with the y of each decoded row, in plain or interlaced order.
void build_row_table(int *rows, int height, int interlace)
{
    if (!interlace) {
        for (int n = 0; n < height; ++n)
            rows[n] = n;
        return;
    }
    static const int starts[4] = {0, 4, 2, 1};
    static const int steps[4] = {8, 8, 4, 2};
    int n = 0;
    for (int pass = 0; pass < 4; ++pass)
        for (int y = starts[pass]; y < height; y += steps[pass])
            rows[n++] = y;
}

// Rows of an 8-bit memory bitmap can be written directly.
bool has_direct_rows(BITMAP *bmp)
{
    return is_plain_bitmap(bmp, 8);
}

// Copies the count indices of src that are not trans over dst: sixteen at a
// time with a compare and a blend, no branch per pixel (a branch per pixel
// took half the load of an animation stored with transparent pixels).
void copy_opaque_indices(uint8_t *dst, const uint8_t *src, size_t count, uint8_t trans)
{
    typedef uint8_t bytes16 __attribute__((vector_size(16)));
    bytes16 key = bytes16{} + trans;
    size_t x = 0;
    for (; x + 16 <= count; x += 16) {
        bytes16 from, to;
        std::memcpy(&from, src + x, 16);
        std::memcpy(&to, dst + x, 16);
        bytes16 keep = reinterpret_cast<bytes16>(from == key);
        to = (to & keep) | (from & ~keep);
        std::memcpy(dst + x, &to, 16);
    }
    for (; x < count; ++x)
        dst[x] = src[x] == trans ? dst[x] : src[x];
}

// Draws the first count decoded indices into the target's rows, skipping
// the transparent index.
void draw_indices(const gif_decoder &decoder, size_t count, BITMAP *target, int trans)
{
    const uint8_t *indices = decoder.indices;
    size_t w = size_t(target->w);
    bool direct = has_direct_rows(target);
    for (size_t n = 0; n < size_t(target->h) && n * w < count; ++n) {
        const uint8_t *src = indices + n * w;
        size_t run = std::min(count - n * w, w);
        int y = decoder.rows[n];
        if (direct && trans < 0) {
            std::memcpy(target->line[y], src, run);
        } else if (direct) {
            copy_opaque_indices(target->line[y], src, run, uint8_t(trans));
        } else {
            for (size_t x = 0; x < run; ++x)
                if (src[x] != trans)
                    putpixel(target, int(x), y, src[x]);
        }
    }
    for (size_t k = 0; k < decoder.wide_codes.count; ++k) {
        size_t at = decoder.wide_codes.items[k];
        putpixel(target, int(at % w), decoder.rows[at / w], indices[at]);
    }
}

// Grows a buffer to at least bytes, zeroed when made; never shrinks it, since
// what a larger earlier image left is simply overwritten. False when memory
// runs out.
bool reserve_buffer(void **buffer, size_t *room, size_t bytes)
{
    if (*room >= bytes)
        return true;
    free(*buffer);
    *buffer = calloc(1, bytes);
    *room = *buffer ? bytes : 0;
    return *buffer != nullptr;
}

// Decodes into the decoder's buffer of indices, then draws.
size_t decode_buffered(FILE *file, int min_code_size, BITMAP *target, int interlace, int trans,
                       gif_decoder *decoder)
{
    size_t capacity = size_t(target->w) * size_t(target->h);
    if (!reserve_buffer(reinterpret_cast<void **>(&decoder->rows), &decoder->rows_room,
                        size_t(target->h) * sizeof(int)) ||
        !reserve_buffer(reinterpret_cast<void **>(&decoder->indices), &decoder->indices_room,
                        capacity + COPY_SLACK))
        return 0; // nothing read: the parser goes on from the data
    build_row_table(decoder->rows, target->h, interlace);
    decoder->wide_codes.count = 0;
    lzw_output out{decoder->indices, capacity, capacity, trans >= 0 ? &decoder->wide_codes : nullptr};
    size_t decoded = std::min(run_decoder(file, min_code_size, decoder, out), capacity);
    draw_indices(*decoder, decoded, target, trans);
    return decoded;
}

// An 8-bit memory bitmap whose rows follow each other with no gap.
bool has_contiguous_rows(BITMAP *bmp)
{
    bool contiguous = has_direct_rows(bmp);
    for (int y = 1; contiguous && y < bmp->h; ++y)
        contiguous = bmp->line[y] == bmp->line[0] + size_t(y) * size_t(bmp->w);
    return contiguous;
}

} // namespace

gif_decoder *make_gif_decoder()
{
    return static_cast<gif_decoder *>(calloc(1, sizeof(gif_decoder)));
}

void free_gif_decoder(gif_decoder *decoder)
{
    if (!decoder)
        return;
    free(decoder->block_end.items);
    free(decoder->wide_codes.items);
    free(decoder->indices);
    free(decoder->rows);
    free(decoder);
}

size_t decode_gif_image(FILE *file, int min_code_size, BITMAP *target, int interlace, int trans,
                        gif_decoder *decoder)
{
    if (min_code_size < 0 || min_code_size > GIF_LZW_MAX_MIN_CODE_SIZE) {
        skip_gif_sub_blocks(file);
        return 0;
    }
    size_t capacity = size_t(target->w) * size_t(target->h);
    if (interlace || trans >= 0 || capacity == 0 || !has_contiguous_rows(target))
        return decode_buffered(file, min_code_size, target, interlace, trans, decoder);
    // Every decoded index is drawn, so it can go straight into the rows;
    // whole-word stores stop 16 bytes short of the bitmap's end.
    size_t fast_end = capacity > COPY_SLACK ? capacity - COPY_SLACK : 0;
    lzw_output out{target->line[0], capacity, fast_end, nullptr};
    return std::min(run_decoder(file, min_code_size, decoder, out), capacity);
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

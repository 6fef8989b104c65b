#include "gif/gif_lzw.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

// Codes are read from a window of joined sub-block data and decoded into
// the output. The copy decoder copies each string from where the output
// already holds it, and hands over to the walk decoder at the first code
// the table does not define: README.md.

namespace {

constexpr int LZW_TABLE_SIZE = 4096; // codes of up to 12 bits
constexpr int LZW_MAX_WIDTH = 12;
// Strings up to this long are kept whole in their table entry.
constexpr size_t SHORT_STRING = 8;

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

} // namespace

struct gif_lzw_decoder {
    uint8_t window[WINDOW_BYTES + GIF_LZW_READ_SLACK]; // data of the blocks being decoded
    lzw_table table;
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

// The sub-block chain seen through the decoder's window: blocks are copied
// into it as the codes need them, and bytes before the code being read are
// dropped.
struct lzw_input {
    const uint8_t *chain; // the chain's bytes, to the end of the file
    size_t chain_size;
    size_t next;          // next size byte in the chain
    bool ended;           // zero size byte or end of file seen
    bool terminated;      // that was a zero size byte
    // The first block the last refill read: the offset of its size byte and
    // the data bytes before it. A refill comes when a code does not fit, so
    // every later bit lies in that block or after it.
    size_t mark_at;
    size_t mark_data;
    uint8_t *window;      // GIF_LZW_WINDOW_BYTES + GIF_LZW_READ_SLACK bytes
    size_t base;          // data offset of window[0]
    size_t held;          // data bytes in the window
    size_t bit;           // cursor, in bits from window[0]
};

// Moves the unread bytes to the window's start and copies sub-blocks behind
// them while a whole one fits.
void refill_window(lzw_input *in)
{
    size_t drop = in->bit >> 3;
    std::memmove(in->window, in->window + drop, in->held - drop);
    in->held -= drop;
    in->base += drop;
    in->bit -= drop * 8;
    bool first = true;
    while (!in->ended && in->held + 255 <= WINDOW_BYTES) {
        if (in->next >= in->chain_size) {
            in->ended = true;
            break;
        }
        size_t length = in->chain[in->next];
        if (length == 0) {
            in->next++;
            in->ended = true;
            in->terminated = true;
            break;
        }
        if (first) {
            in->mark_at = in->next;
            in->mark_data = in->base + in->held;
            first = false;
        }
        in->next++;
        size_t got = std::min(length, in->chain_size - in->next);
        std::memcpy(in->window + in->held, in->chain + in->next, got);
        in->held += got;
        in->next += got;
        if (got < length)
            in->ended = true;
    }
    std::memset(in->window + in->held, 0, GIF_LZW_READ_SLACK);
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

// False when the data ends before the code is complete.
inline bool read_code(lzw_input *in, int width, int *code)
{
    if (!has_code_bits(in, width))
        return false;
    *code = load_code(in->window, in->bit, width);
    in->bit += size_t(width);
    return true;
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

// The rare paths, out of line so that the copy loop keeps its registers.
__attribute__((noinline)) void hand_over_run(const gif_lzw_output &out, size_t pos,
                                             const uint8_t *indices, size_t count, bool opaque)
{
    out.put_run(out.context, pos, indices, count, opaque);
}

__attribute__((noinline)) void note_wide_code(const gif_lzw_output &out, size_t pos)
{
    out.wide_codes->push_back(pos);
}

// Hands count indices at pos over, those below capacity.
inline void put_indices(const gif_lzw_output &out, size_t pos, const uint8_t *indices,
                        size_t count, bool opaque)
{
    if (pos >= out.capacity)
        return;
    count = std::min(count, out.capacity - pos);
    if (out.put_run)
        hand_over_run(out, pos, indices, count, opaque);
    else
        std::memcpy(out.data + pos, indices, count);
}

// The first code after a clear (or at the start): one index, and the
// string the next entry will extend.
inline void start_string(lzw_state *s, const lzw_codes &codes, const gif_lzw_output &out, int code)
{
    if (code >= codes.first_free)
        code = 0;
    s->prev = code;
    s->first_index = code;
    s->fresh = false;
    s->prev_pos = s->pos;
    s->prev_len = 1;
    s->prev_bytes = uint64_t(code & 0xFF);
    bool wide = code > 0xFF;
    if (wide && out.wide_codes && s->pos < out.capacity)
        note_wide_code(out, s->pos);
    uint8_t index = uint8_t(code);
    put_indices(out, s->pos++, &index, 1, wide);
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
inline void copy_long_string(const gif_lzw_output &out, size_t from, size_t pos, size_t count)
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
inline void store_short_string(const gif_lzw_output &out, size_t pos, uint64_t bytes, size_t count)
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
                                  const gif_lzw_output &out, int code)
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
        if (s.pos + s.prev_len < out.capacity)
            out.data[s.pos + s.prev_len] = uint8_t(root);
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
// the end of the data, and -1 at a code past the next free one, which is
// then in *code_out for walk_codes.
int copy_codes(lzw_input *in, const lzw_codes codes, lzw_table *table,
               const gif_lzw_output &output, lzw_state *state, int *code_out)
{
    lzw_state s = *state;
    const gif_lzw_output out = output;
    const uint8_t *window = in->window;
    size_t bit = in->bit;
    size_t total_bits = in->held * 8;
    int result = 0;
    int code = 0;
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
bool walk_codes(lzw_input *in, const lzw_codes &codes, lzw_table *table,
                const gif_lzw_output &out, lzw_state *s, int code)
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
            put_indices(out, s->pos, stack + LZW_TABLE_SIZE - length, length, false);
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

} // namespace

gif_lzw_decoder *make_gif_lzw_decoder()
{
    return static_cast<gif_lzw_decoder *>(calloc(1, sizeof(gif_lzw_decoder)));
}

void free_gif_lzw_decoder(gif_lzw_decoder *decoder)
{
    free(decoder);
}

gif_lzw_result decode_gif_lzw(const uint8_t *chain, size_t chain_size, int min_code_size,
                              const gif_lzw_output &out, gif_lzw_decoder *decoder)
{
    if (min_code_size < 0 || min_code_size > GIF_LZW_MAX_MIN_CODE_SIZE)
        return gif_lzw_result{0, 0, false, 0, false, 0, 0};
    lzw_table *table = &decoder->table;
    lzw_input in{};
    in.chain = chain;
    in.chain_size = chain_size;
    in.window = decoder->window;
    lzw_codes codes{1 << min_code_size, (1 << min_code_size) + 1, (1 << min_code_size) + 2,
                    min_code_size + 1};
    lzw_state s{};
    reset_codes(&s, codes);
    bool ended = false;
    int code = 0;
    if (out.put_run) {
        // Strings handed over one by one have no output to copy from.
        ended = read_code(&in, s.width, &code) && walk_codes(&in, codes, table, out, &s, code);
    } else {
        fill_literal_entries(table, codes.clear_code);
        int result = copy_codes(&in, codes, table, out, &s, &code);
        ended = result == 1 || (result < 0 && walk_codes(&in, codes, table, out, &s, code));
    }
    gif_lzw_result result;
    result.count = std::min(s.pos, out.capacity);
    result.bits = in.base * 8 + in.bit;
    result.ended = ended;
    result.chain_read = std::min(in.next, chain_size);
    result.terminated = in.terminated;
    result.mark_at = in.mark_at;
    result.mark_data = in.mark_data;
    return result;
}

#include "gif/gif_lzw.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

// Codes are read from the joined data and decoded into the output. The copy
// decoder copies each string from where the output already holds it, and
// hands over to the walk decoder at the first code the table does not
// define: README.md.

namespace {

constexpr int LZW_TABLE_SIZE = 4096; // codes of up to 12 bits
constexpr int LZW_MAX_WIDTH = 12;
// Strings up to this long are kept whole in their table entry.
constexpr size_t SHORT_STRING = 8;

} // namespace

// String table: entries as links (prefix code, suffix index) for the walk,
// and as places in the output (offset, length, first index, and the whole
// string when it is short) for the copy.
struct gif_lzw_table {
    uint16_t prefix[LZW_TABLE_SIZE];
    uint8_t suffix[LZW_TABLE_SIZE];
    uint8_t first[LZW_TABLE_SIZE];
    uint16_t length[LZW_TABLE_SIZE];
    uint32_t offset[LZW_TABLE_SIZE];
    uint64_t bytes[LZW_TABLE_SIZE]; // strings of up to 8, first index lowest
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

// The joined data and the cursor in it.
struct lzw_input {
    const uint8_t *data; // size bytes, and GIF_LZW_READ_SLACK more
    size_t size;
    size_t bit; // bits read
};

// False when the data ends before a code of width bits is complete.
inline bool has_code_bits(const lzw_input *in, int width)
{
    return in->bit + size_t(width) <= in->size * 8;
}

// The code of width bits at bit of the data, least significant bit first.
inline int load_code(const uint8_t *data, size_t bit, int width)
{
    uint32_t word;
    std::memcpy(&word, data + (bit >> 3), 4);
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
    *code = load_code(in->data, in->bit, width);
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

// Hands count indices at pos over, those below capacity.
inline void put_indices(const gif_lzw_output &out, size_t pos, const uint8_t *indices,
                        size_t count, bool opaque)
{
    if (pos >= out.capacity)
        return;
    count = std::min(count, out.capacity - pos);
    if (out.put_run)
        out.put_run(out.context, pos, indices, count, opaque);
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
        out.wide_codes->push_back(s->pos);
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
inline lzw_string put_code_string(const lzw_state &s, const gif_lzw_table &table,
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
inline void define_entry(lzw_state *s, gif_lzw_table *table, int code, const lzw_string &string)
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
int copy_codes(lzw_input *in, const lzw_codes codes, gif_lzw_table *table,
               const gif_lzw_output &output, lzw_state *state, int *code_out)
{
    lzw_state s = *state;
    const gif_lzw_output out = output;
    const uint8_t *data = in->data;
    size_t bit = in->bit;
    const size_t total_bits = in->size * 8;
    int result = 0;
    int code = 0;
    for (;;) {
        if (bit + size_t(s.width) > total_bits)
            break;
        code = load_code(data, bit, s.width);
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
int push_code_string(lzw_state *s, const lzw_codes &codes, gif_lzw_table *table, uint8_t *stack,
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
bool walk_codes(lzw_input *in, const lzw_codes &codes, gif_lzw_table *table,
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
void fill_literal_entries(gif_lzw_table *table, int clear_code)
{
    for (int c = 0; c < clear_code; ++c) {
        table->first[c] = uint8_t(c);
        table->length[c] = 1;
        table->bytes[c] = uint64_t(c & 0xFF);
    }
}

} // namespace

gif_lzw_table *make_gif_lzw_table()
{
    return static_cast<gif_lzw_table *>(calloc(1, sizeof(gif_lzw_table)));
}

void free_gif_lzw_table(gif_lzw_table *table)
{
    free(table);
}

gif_lzw_result decode_gif_lzw(const uint8_t *data, size_t size, int min_code_size,
                              const gif_lzw_output &out, gif_lzw_table *table)
{
    if (min_code_size < 0 || min_code_size > GIF_LZW_MAX_MIN_CODE_SIZE)
        return gif_lzw_result{0, 0, false};
    lzw_input in{data, size, 0};
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
    return gif_lzw_result{std::min(s.pos, out.capacity), in.bit, ended};
}

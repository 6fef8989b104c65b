// The LZW decoder written the plain way: codes read bit by bit, strings
// built on a stack, pixels put one at a time. The program's decoder must
// leave the same pixels and the same stream position for every input.
#include "support/lzw_reference.h"

#include "gif/gif_lzw.h"

#include <allegro.h>
#include <cstdint>
#include <memory>
#include <new>

namespace {

constexpr int LZW_TABLE_SIZE = 4096; // codes of up to 12 bits
constexpr int LZW_MAX_WIDTH = 12;

// The data sub-block being read and the bit cursor in it.
struct lzw_input {
    FILE *file;
    uint8_t block[256];
    int length;     // bytes held in block
    int byte_pos;   // byte under the cursor
    int bit_pos;    // 0..7 within that byte
    bool exhausted; // the chain ended: zero-length block or end of file
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

struct lzw_table {
    uint8_t suffix[LZW_TABLE_SIZE];
    uint16_t prefix[LZW_TABLE_SIZE];
};

// Where the next decoded index goes.
struct pixel_cursor {
    BITMAP *target;
    const int *rows; // decoded row number -> y
    int row_count;
    int column;
    int row;
    int trans;
};

// Loads the next sub-block; a zero size, a missing size byte or an empty
// read marks the chain as ended.
void read_sub_block(lzw_input *in)
{
    in->byte_pos = 0;
    in->length = 0;
    int size = fgetc(in->file);
    if (size == EOF || size == 0) {
        in->exhausted = true;
        return;
    }
    in->length = int(fread(in->block, 1, size_t(size), in->file));
    if (in->length == 0)
        in->exhausted = true;
}

// Assembles one code, least significant bit first, across sub-blocks.
// False when the chain ends before the code is complete.
bool read_code(lzw_input *in, int width, int *code)
{
    int value = 0;
    for (int k = 0; k < width; ++k) {
        if (in->exhausted)
            return false;
        value |= ((in->block[in->byte_pos] >> in->bit_pos) & 1) << k;
        if (++in->bit_pos == 8) {
            in->bit_pos = 0;
            if (++in->byte_pos == in->length)
                read_sub_block(in);
        }
    }
    *code = value;
    return true;
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

void write_pixel(pixel_cursor *cursor, int index)
{
    if (cursor->row >= cursor->row_count || cursor->target->w == 0)
        return;
    if (index != cursor->trans)
        putpixel(cursor->target, cursor->column, cursor->rows[cursor->row], index);
    if (++cursor->column == cursor->target->w) {
        cursor->column = 0;
        ++cursor->row;
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
void widen_codes(lzw_codes *codes)
{
    if (codes->next_free >= codes->limit && codes->width < LZW_MAX_WIDTH) {
        ++codes->width;
        codes->limit <<= 1;
    }
}

// Pushes the string of an ordinary code, last index first, and defines the
// next table entry while there is room. Returns the stack depth. A corrupt
// table can chain prefixes in a loop: the walk stops at the stack's end.
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

// The code loop: runs until the end code or the end of the data chain.
void decode_codes(lzw_input *in, int min_code_size, pixel_cursor *cursor)
{
    lzw_codes codes{};
    codes.clear_code = 1 << min_code_size;
    codes.end_code = codes.clear_code + 1;
    codes.first_free = codes.clear_code + 2;
    reset_codes(&codes, min_code_size);

    lzw_table table{};
    uint8_t stack[LZW_TABLE_SIZE];
    int code;
    while (read_code(in, codes.width, &code)) {
        if (code == codes.end_code)
            return;
        if (code == codes.clear_code) {
            reset_codes(&codes, min_code_size);
            continue;
        }
        if (codes.fresh) {
            // The first code after a clear (or at the start) is one index.
            if (code >= codes.first_free)
                code = 0;
            codes.prev = code;
            codes.first_index = code;
            codes.fresh = false;
            write_pixel(cursor, code);
            widen_codes(&codes);
            continue;
        }
        int depth = push_code_string(&codes, &table, stack, code);
        while (depth > 0)
            write_pixel(cursor, stack[--depth]);
    }
}

} // namespace

void decode_gif_image_reference(FILE *file, int min_code_size, BITMAP *target,
                                int interlace, int trans)
{
    if (min_code_size < 0 || min_code_size > GIF_LZW_MAX_MIN_CODE_SIZE) {
        skip_gif_sub_blocks(file); // past the data, as the program does
        return;
    }
    std::unique_ptr<int[]> rows(new (std::nothrow) int[size_t(target->h) + 1]);
    if (!rows)
        return;
    build_row_table(rows.get(), target->h, interlace);

    pixel_cursor cursor{target, rows.get(), target->h, 0, 0, trans};
    lzw_input in{};
    in.file = file;
    read_sub_block(&in);
    decode_codes(&in, min_code_size, &cursor);
}


#include "gif/gif_anim.h"

#include "common/address_text.h"
#include "common/checked_bitmap.h"
#include "common/safe_file.h"
#include "common/simd_tier.h"
#include "common/trace.h"
#include "gif/gif_lzw.h"

#include <algorithm>
#include <allegro.h>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// A few header bytes can claim a screen and images of 65535 x 65535 pixels
// each; the limit bounds what one file can make the reader allocate.
gif_reader_state glb_gif_reader = {1LL << 30, nullptr};

// The decoder's table and the buffers of one image, grown to the largest
// image asked and kept for the next.
struct gif_load_buffers {
    gif_lzw_decoder *decoder;
    uint8_t *indices;  // decoded indices of an interlaced or transparent image
    size_t indices_room;
    int *rows;         // decoded row number -> y
    size_t rows_room;
    std::vector<size_t> wide_codes; // see gif_lzw_output
};

// Buffers above this size are not kept after their load.
constexpr size_t GIF_KEPT_BUFFER_BYTES = 1 << 20;
// What glibc adds to each allocation of a bitmap (chunk header and 16-byte
// rounding), measured on the library's memory bitmaps: a 1 x 1 bitmap takes
// 168 bytes, a 3 x 100 one 1241.
constexpr long long GIF_ALLOCATION_OVERHEAD = 32;

long long count_gif_bitmap_bytes(long long w, long long h)
{
    long long line_table = h * static_cast<long long>(sizeof(void *));
    long long record = static_cast<long long>(sizeof(BITMAP)) + line_table;
    return w * h + record + 2 * GIF_ALLOCATION_OVERHEAD;
}

namespace {

// The image descriptor being handled.
struct gif_id {
    uint16_t x, y, w, h;
    int local_palette_flag;
    int interlace;
    int sort_flag;
    int palette_size;
};

// Graphic-control values waiting for the next image.
struct gif_gce {
    int disposal;
    int transparent_flag;
    uint16_t delay;
    int trans;
};

// Everything one parse shares between its blocks.
struct parse_state {
    const gif_screen *screen;
    gif_anim *anim;
    // The animation as drawn so far; null while it is the fill alone,
    // which is until an image that is not the last stays drawn on it.
    BITMAP *canvas;
    int canvas_w, canvas_h; // logical screen size
    int fill;        // background index, or 0 without a global table
    gif_gce gce;
    int32_t frame;   // next frame record to fill
    int32_t slot;    // next free palette slot
    long long load_bytes;   // taken from the load's budget so far
    gif_load_buffers *buffers; // reused by every image
};

enum image_result { IMAGE_DONE, IMAGE_END_OF_FILE, IMAGE_FAILED };

// The one place where a load's memory is counted against its budget, before
// it is allocated: the file's bytes, the record's tables, the canvas, each
// frame bitmap and the growth of the kept buffers. True, with the bytes
// counted, when they fit. (The decoder's string table, some hundred
// kilobytes, is left out.)
bool take_load_bytes(parse_state *state, long long bytes)
{
    if (bytes > glb_gif_reader.load_bytes_limit - state->load_bytes)
        return false;
    state->load_bytes += bytes;
    return true;
}

// Prints trace lines and flushes them, unless the trace is off.
__attribute__((format(printf, 1, 2))) void print_trace(const char *format, ...)
{
    if (glb_quiet)
        return;
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    fflush(stdout);
}

// Reading past the end of the file is the end of the file: false.
bool read_u8(gif_cursor *cursor, int *value)
{
    if (cursor->at >= cursor->size)
        return false;
    *value = cursor->bytes[cursor->at++];
    return true;
}

bool read_u16(gif_cursor *cursor, uint16_t *value)
{
    int lo;
    int hi;
    if (!read_u8(cursor, &lo) || !read_u8(cursor, &hi))
        return false;
    *value = uint16_t(lo | (hi << 8));
    return true;
}

// Moves count bytes on, or to the end of the file; false when it is reached
// first.
bool skip_bytes(gif_cursor *cursor, size_t count)
{
    if (count > cursor->size - cursor->at) {
        cursor->at = cursor->size;
        return false;
    }
    cursor->at += count;
    return true;
}

// Reads count bytes, or what is left of them; false when the end of the
// file came first.
bool read_bytes(gif_cursor *cursor, uint8_t *out, size_t count)
{
    size_t got = std::min(count, cursor->size - cursor->at);
    if (got > 0)
        std::memcpy(out, cursor->bytes + cursor->at, got);
    cursor->at += got;
    return got == count;
}

// Moves past a sub-block chain: after its zero-length terminator, or to the
// end of the file.
void skip_sub_blocks(gif_cursor *cursor)
{
    while (cursor->at < cursor->size) {
        size_t length = cursor->bytes[cursor->at++];
        if (length == 0)
            return;
        cursor->at += std::min(length, cursor->size - cursor->at);
    }
}

void reset_gce(gif_gce *gce)
{
    gce->disposal = 0;
    gce->transparent_flag = 0;
    gce->delay = 0;
    gce->trans = -1;
}

// Descriptor fields after the 0x2C; false at end of file.
bool read_gif_id(gif_cursor *cursor, gif_id *id)
{
    int packed;
    if (!read_u16(cursor, &id->x) || !read_u16(cursor, &id->y) || !read_u16(cursor, &id->w) ||
        !read_u16(cursor, &id->h) || !read_u8(cursor, &packed))
        return false;
    id->local_palette_flag = (packed >> 7) & 1;
    id->interlace = (packed >> 6) & 1;
    id->sort_flag = (packed >> 5) & 1;
    id->palette_size = 1 << ((packed & 7) + 1);
    return true;
}

void print_gif_id(const gif_id *id)
{
    print_trace("   gif_id.local_palette_flag  = %i\n"
                "   gif_id.interlace           = %i\n"
                "   gif_id.sort_flag           = %i\n"
                "   gif_id.palette_size        = %i\n"
                "   sz                         = %i\n",
                id->local_palette_flag, id->interlace, id->sort_flag, id->palette_size,
                id->palette_size);
}

// The loop count of an application extension's first block of size bytes
// at the cursor, when it is NETSCAPE2.0 and its first sub-block says so.
void read_loop_count(const gif_cursor *cursor, int size, gif_anim *anim)
{
    static const char name[] = "NETSCAPE2.0";
    const size_t name_length = sizeof name - 1;
    const uint8_t *at = cursor->bytes + cursor->at;
    size_t left = cursor->size - cursor->at;
    if (size_t(size) != name_length || left < name_length + 4)
        return;
    if (std::memcmp(at, name, name_length) != 0)
        return;
    const uint8_t *block = at + name_length;
    if (block[0] >= 3 && block[1] == 1)
        anim->loop_count = block[2] | (block[3] << 8);
}

// Graphic control or skipped extension, after the 0x21; false at end of file.
bool read_extension(gif_cursor *cursor, parse_state *state)
{
    print_trace("\n\n0x21 Extension Block\n");
    int label;
    if (!read_u8(cursor, &label))
        return false;
    if (label == 0xF9) {
        print_trace("   0xF9 Graphic Control extension\n");
        int block_size;
        int packed;
        int index;
        uint16_t delay;
        if (!read_u8(cursor, &block_size) || !read_u8(cursor, &packed) ||
            !read_u16(cursor, &delay) || !read_u8(cursor, &index))
            return false;
        gif_gce *gce = &state->gce;
        gce->disposal = (packed >> 2) & 7;
        gce->transparent_flag = packed & 1;
        gce->delay = delay;
        gce->trans = gce->transparent_flag ? index : -1;
    } else {
        print_trace("   ???? 0x%02X Skip that block\n", label);
        int size;
        if (!read_u8(cursor, &size))
            return false;
        if (label == 0xFF)
            read_loop_count(cursor, size, state->anim);
        if (!skip_bytes(cursor, size_t(size)))
            return false;
    }
    skip_sub_blocks(cursor);
    return true;
}

// An image beyond the counted frames: parsed past, its data skipped.
image_result skip_surplus_image(gif_cursor *cursor, const gif_id *id, parse_state *state)
{
    reset_gce(&state->gce);
    int code_size;
    if (id->local_palette_flag && !skip_bytes(cursor, 3 * size_t(id->palette_size)))
        return IMAGE_END_OF_FILE;
    if (!read_u8(cursor, &code_size))
        return IMAGE_END_OF_FILE;
    skip_sub_blocks(cursor);
    return IMAGE_DONE;
}

// Palette slot of the image being read; reads its local table when it has
// one. A local table with no slot left is read past and the image keeps the
// global table (or none). False at end of file.
bool choose_frame_palette(gif_cursor *cursor, const gif_id *id, parse_state *state,
                          gif_frame *frame)
{
    frame->pal = -1;
    print_trace("   g->have_global_palette    = %i\n"
                "   gif_id.local_palette_flag = %i\n",
                state->screen->have_global_palette, id->local_palette_flag);
    if (state->screen->have_global_palette)
        frame->pal = 0;
    if (!id->local_palette_flag)
        return true;
    print_trace("   reading local palette, size = %i\n", id->palette_size);
    size_t table_bytes = 3 * size_t(id->palette_size);
    if (state->slot >= state->anim->num_palettes)
        return skip_bytes(cursor, table_bytes);
    uint8_t *rgb = state->anim->palettes + size_t(state->slot) * GIF_PALETTE_BYTES;
    if (!read_bytes(cursor, rgb, table_bytes))
        return false;
    frame->pal = state->slot++;
    return true;
}

// Fills row y of the kept pixels from x on with what lies under them.
void fill_row_from_canvas(BITMAP *image, const gif_id *id, const parse_state *state, size_t y,
                          size_t x)
{
    uint8_t *row = image->line[y];
    size_t w = size_t(image->w);
    if (state->canvas)
        std::memcpy(row + x, state->canvas->line[id->y + y] + id->x + x, w - x);
    else
        std::memset(row + x, state->fill, w - x);
}

// Fills the kept pixels from index `from` on (in row order) with what lies
// under them: the canvas, or the fill while there is none.
void fill_from_canvas(BITMAP *image, const gif_id *id, const parse_state *state, size_t from)
{
    size_t w = size_t(image->w);
    if (w == 0)
        return;
    for (size_t y = from / w; y < size_t(image->h); ++y)
        fill_row_from_canvas(image, id, state, y, y == from / w ? from % w : 0);
}

// Puts the kept image on the canvas, then applies its disposal: 2 clears
// it to the fill, 3 leaves the canvas as it was (the image was drawn into
// its own bitmap, never onto the canvas). Nothing reads the canvas after
// the last counted image, and an image disposed of by 2 over a canvas that
// is the fill alone leaves it so: the canvas is made only when an image
// must stay on it. Fails only when it cannot be made.
image_result leave_image_on_canvas(const gif_id *id, parse_state *state, BITMAP *image)
{
    int disposal = state->gce.disposal;
    bool last = state->frame + 1 >= state->anim->num_frames;
    if (last || image->w == 0 || image->h == 0 || disposal == 3 ||
        (!state->canvas && disposal == 2))
        return IMAGE_DONE;
    if (!state->canvas) {
        if (!take_load_bytes(state, count_gif_bitmap_bytes(state->canvas_w, state->canvas_h)))
            return IMAGE_FAILED;
        state->canvas = create_checked_bitmap(8, state->canvas_w, state->canvas_h);
        if (!state->canvas)
            return IMAGE_FAILED;
        clear_to_color(state->canvas, state->fill);
    }
    // Both are 8-bit memory bitmaps: plain rows.
    for (int y = 0; y < image->h; ++y) {
        uint8_t *row = state->canvas->line[id->y + y] + id->x;
        if (disposal == 2)
            std::memset(row, state->fill, size_t(image->w));
        else
            std::memcpy(row, image->line[y], size_t(image->w));
    }
    return IMAGE_DONE;
}

// Grows a kept buffer to at least bytes, counting the growth in the load's
// budget; never shrinks it, since what a larger earlier image left is
// simply overwritten. False when the budget or memory runs out.
bool reserve_buffer(parse_state *state, void **buffer, size_t *room, size_t bytes)
{
    if (*room >= bytes)
        return true;
    if (!take_load_bytes(state, static_cast<long long>(bytes - *room)))
        return false;
    free(*buffer);
    *buffer = malloc(bytes);
    *room = *buffer ? bytes : 0;
    return *buffer != nullptr;
}

// The four passes of an interlaced image: the y of each pass's first row
// and the step between its rows.
constexpr int INTERLACE_STARTS[4] = {0, 4, 2, 1};
constexpr int INTERLACE_STEPS[4] = {8, 8, 4, 2};

// Fills rows with the y of each decoded row, in plain or interlaced order.
void build_row_table(int *rows, int height, int interlace)
{
    if (!interlace) {
        for (int n = 0; n < height; ++n)
            rows[n] = n;
        return;
    }
    int n = 0;
    for (int pass = 0; pass < 4; ++pass)
        for (int y = INTERLACE_STARTS[pass]; y < height; y += INTERLACE_STEPS[pass])
            rows[n++] = y;
}

// Blends whole blocks of sixteen pixels for blend_over_under, with a compare
// and a mask, no branch per pixel; returns the pixels done.
size_t blend_blocks_of_16(uint8_t *dst, const uint8_t *src, const uint8_t *under, uint8_t fill,
                          size_t count, uint8_t trans)
{
    typedef uint8_t bytes16 __attribute__((vector_size(16)));
    bytes16 key = bytes16{} + trans;
    bytes16 fills = bytes16{} + fill;
    size_t x = 0;
    for (; x + 16 <= count; x += 16) {
        bytes16 from;
        bytes16 below = fills;
        std::memcpy(&from, src + x, 16);
        if (under)
            std::memcpy(&below, under + x, 16);
        bytes16 keep = reinterpret_cast<bytes16>(from == key);
        bytes16 to = (below & keep) | (from & ~keep);
        std::memcpy(dst + x, &to, 16);
    }
    return x;
}

// Writes count pixels of dst in one pass: src's index where it is not
// trans (every one when trans < 0), else what lies under it, under's pixel
// or the fill when there is no canvas. A branch per pixel took half the
// load of an animation stored with transparent pixels, hence the blocks
// (the loop below states the rule and does the rest); a second pass over
// the frame's fresh bitmap cost another tenth.
void blend_over_under(uint8_t *dst, const uint8_t *src, const uint8_t *under, uint8_t fill,
                      size_t count, int trans)
{
    if (trans < 0) {
        std::memcpy(dst, src, count);
        return;
    }
    size_t x = 0;
    if (glb_simd_tier != SIMD_NONE)
        x = blend_blocks_of_16(dst, src, under, fill, count, uint8_t(trans));
    for (; x < count; ++x) {
        uint8_t below = under ? under[x] : fill;
        dst[x] = src[x] == trans ? below : src[x];
    }
}

// Writes every row of the kept part once: the first count decoded indices
// of an image w wide over what lies under them, and what lies under it
// alone where the data ran out. Wide first codes are drawn even when their
// low byte is the transparent index.
void draw_decoded_rows(const gif_load_buffers &buffers, size_t count, size_t w, const gif_id *id,
                       const parse_state *state, BITMAP *kept, int trans)
{
    size_t kept_w = size_t(kept->w);
    uint8_t fill = uint8_t(state->fill);
    for (size_t n = 0; n < size_t(id->h); ++n) {
        int y = buffers.rows[n];
        if (y >= kept->h)
            continue;
        size_t start = n * w;
        size_t drawn = count > start ? std::min(count - start, kept_w) : 0;
        uint8_t *row = kept->line[y];
        const uint8_t *under = nullptr;
        if (state->canvas)
            under = state->canvas->line[id->y + y] + id->x;
        if (drawn > 0)
            blend_over_under(row, buffers.indices + start, under, fill, drawn, trans);
        fill_row_from_canvas(kept, id, state, size_t(y), drawn);
    }
    for (size_t at : buffers.wide_codes) {
        int y = buffers.rows[at / w];
        if (y < kept->h && at % w < kept_w)
            kept->line[y][at % w] = buffers.indices[at];
    }
}

// An image whose rectangle reaches past the screen: its decoded strings are
// cut to the kept rectangle as they come.
struct clipped_image {
    BITMAP *kept;     // the part inside the screen
    const int *rows;  // decoded row number -> y
    size_t w;         // the image's own width
    int trans;
};

void put_clipped_run(void *context, size_t at, const uint8_t *indices, size_t count, bool opaque)
{
    const clipped_image *image = static_cast<const clipped_image *>(context);
    size_t kept_w = size_t(image->kept->w);
    while (count > 0) {
        size_t x = at % image->w;
        size_t piece = std::min(count, image->w - x);
        int y = image->rows[at / image->w];
        if (y < image->kept->h && x < kept_w) {
            uint8_t *row = image->kept->line[y] + x;
            size_t inside = std::min(piece, kept_w - x);
            for (size_t k = 0; k < inside; ++k)
                if (opaque || indices[k] != image->trans)
                    row[k] = indices[k];
        }
        at += piece;
        indices += piece;
        count -= piece;
    }
}

// Not interlaced, no transparent index: every decoded pixel is drawn, in
// row order.
bool is_plain_image(const gif_id *id, const parse_state *state)
{
    return !id->interlace && state->gce.trans < 0;
}

// How an image's indices reach the part of it kept.
enum decode_way {
    DECODE_INTO_ROWS,   // straight into the kept bitmap's rows
    DECODE_INTO_BUFFER, // into the buffer of indices, then drawn row by row
    DECODE_BY_RUNS,     // each string cut to the kept part as it comes
};

// An image's kept part and the way to it.
struct image_plan {
    int kept_w;
    int kept_h;
    size_t wanted; // indices up to the last kept one, in stored order
    decode_way way;
};

// A buffer of indices up to the last kept one is used while it is at most
// this much larger than twice the kept part.
constexpr size_t GIF_BUFFER_SLACK_INDICES = 64 * 1024;

// The kept part is where the image and the logical screen overlap (nothing
// when they do not). Only an image cut on the right or in interlaced rows
// far down can want many more indices than it keeps: those go by runs.
image_plan plan_image(const gif_id *id, const parse_state *state)
{
    image_plan plan{0, 0, 0, DECODE_BY_RUNS};
    if (id->x < state->canvas_w && id->y < state->canvas_h && id->w > 0 && id->h > 0) {
        plan.kept_w = std::min<int>(id->w, state->canvas_w - id->x);
        plan.kept_h = std::min<int>(id->h, state->canvas_h - id->y);
    }
    size_t w = id->w;
    size_t rows = 0; // rows in stored order so far
    for (int pass = 0; plan.kept_w > 0 && pass < (id->interlace ? 4 : 1); ++pass) {
        int start = id->interlace ? INTERLACE_STARTS[pass] : 0;
        int step = id->interlace ? INTERLACE_STEPS[pass] : 1;
        for (int y = start; y < id->h; y += step) {
            if (y < plan.kept_h)
                plan.wanted = rows * w + size_t(plan.kept_w);
            ++rows;
        }
    }
    size_t kept = size_t(plan.kept_w) * size_t(plan.kept_h);
    if (is_plain_image(id, state) && plan.kept_w == id->w)
        plan.way = DECODE_INTO_ROWS;
    else if (plan.wanted <= 2 * kept + GIF_BUFFER_SLACK_INDICES)
        plan.way = DECODE_INTO_BUFFER;
    return plan;
}

// An 8-bit memory bitmap whose rows follow each other with no gap.
bool has_contiguous_rows(BITMAP *bmp)
{
    bool contiguous = is_plain_bitmap(bmp, 8);
    for (int y = 1; contiguous && y < bmp->h; ++y)
        contiguous = bmp->line[y] == bmp->line[0] + size_t(y) * size_t(bmp->w);
    return contiguous;
}

// Decodes the image's joined data into its kept bitmap, which holds what
// lies under the image wherever the image leaves a pixel alone. Returns
// what the decoder read. Rows the library did not lay out one after the
// other go by runs.
gif_lzw_result decode_image(const gif_cursor *chain, int code_size, const gif_id *id,
                            parse_state *state, const image_plan &plan, BITMAP *kept)
{
    gif_load_buffers *buffers = state->buffers;
    int trans = state->gce.trans;
    size_t capacity = plan.wanted;
    const uint8_t *data = chain->bytes + chain->at;
    size_t size = chain->size - chain->at;
    if (plan.way == DECODE_INTO_ROWS && capacity > 0 && has_contiguous_rows(kept)) {
        size_t fast_end = capacity > GIF_LZW_COPY_SLACK ? capacity - GIF_LZW_COPY_SLACK : 0;
        gif_lzw_output out{kept->line[0], capacity, fast_end, nullptr, nullptr, nullptr};
        gif_lzw_result result = decode_gif_lzw(data, size, code_size, out, buffers->decoder);
        fill_from_canvas(kept, id, state, result.count);
        return result;
    }
    build_row_table(buffers->rows, id->h, id->interlace);
    buffers->wide_codes.clear();
    std::vector<size_t> *wide_codes = trans >= 0 ? &buffers->wide_codes : nullptr;
    if (plan.way == DECODE_INTO_BUFFER) {
        gif_lzw_output out{buffers->indices, capacity, capacity, wide_codes, nullptr, nullptr};
        gif_lzw_result result = decode_gif_lzw(data, size, code_size, out, buffers->decoder);
        draw_decoded_rows(*buffers, result.count, id->w, id, state, kept, trans);
        return result;
    }
    fill_from_canvas(kept, id, state, 0);
    clipped_image image{kept, buffers->rows, id->w, trans};
    gif_lzw_output out{nullptr, capacity, 0, nullptr, put_clipped_run, &image};
    return decode_gif_lzw(data, size, code_size, out, buffers->decoder);
}

// The kept buffers an image needs, counted in the budget: the row table,
// and the indices when it goes through them.
bool reserve_image_buffers(parse_state *state, const gif_id *id, const image_plan &plan)
{
    gif_load_buffers *b = state->buffers;
    size_t indices = 0;
    if (plan.way == DECODE_INTO_BUFFER)
        indices = plan.wanted + GIF_LZW_COPY_SLACK;
    return reserve_buffer(state, reinterpret_cast<void **>(&b->rows), &b->rows_room,
                          size_t(id->h) * sizeof(int)) &&
           reserve_buffer(state, reinterpret_cast<void **>(&b->indices), &b->indices_room,
                          indices);
}

// Draws one image over the canvas and keeps the part of its rectangle that
// lies inside the logical screen in the frame; only that part goes back to
// the canvas, and only that part is disposed of. Leaves the cursor where a
// decoder reading one sub-block at a time would stop.
image_result draw_frame_image(gif_cursor *cursor, const gif_id *id, int code_size,
                              parse_state *state, gif_frame *frame)
{
    print_trace("sub_bmp = (%i, %i), w =%i, h =%i\n", id->x, id->y, id->w, id->h);
    image_plan plan = plan_image(id, state);
    BITMAP *image = nullptr;
    if (take_load_bytes(state, count_gif_bitmap_bytes(plan.kept_w, plan.kept_h)) &&
        reserve_image_buffers(state, id, plan))
        image = create_checked_bitmap(8, plan.kept_w, plan.kept_h);
    if (!image) {
        printf("sub_bmp = NULL\n");
        fflush(stdout);
        return IMAGE_FAILED;
    }
    gif_lzw_result result = decode_image(cursor, code_size, id, state, plan, image);
    cursor->at = find_gif_data_end(cursor, result);
    if (!result.ended && !result.terminated)
        state->anim->cut_frame = state->frame;
    frame->bmp = image;
    return leave_image_on_canvas(id, state, image);
}

// One image, after the 0x2C.
image_result read_image(gif_cursor *cursor, parse_state *state)
{
    print_trace("0x2C Image Descriptor\n");
    gif_id id;
    if (!read_gif_id(cursor, &id))
        return IMAGE_END_OF_FILE;
    print_gif_id(&id);
    if (state->frame >= state->anim->num_frames)
        return skip_surplus_image(cursor, &id, state);

    gif_frame *frame = &state->anim->frames[state->frame];
    int code_size;
    if (!choose_frame_palette(cursor, &id, state, frame) || !read_u8(cursor, &code_size))
        return IMAGE_END_OF_FILE;
    frame->pos.x = id.x;
    frame->pos.y = id.y;
    frame->w = id.w;
    frame->h = id.h;
    frame->trans = state->gce.trans;
    frame->delay = state->gce.delay;
    frame->disposal = uint8_t(state->gce.disposal);

    image_result result = draw_frame_image(cursor, &id, code_size, state, frame);
    if (result != IMAGE_DONE)
        return result;
    reset_gce(&state->gce);
    ++state->frame;
    return IMAGE_DONE;
}

void print_frame_table(const gif_anim *anim)
{
    if (glb_quiet)
        return;
    for (int32_t i = 0; i < anim->num_frames; ++i) {
        const gif_frame *frame = &anim->frames[i];
        printf("\nframe %3i\n"
               "   .pos   = %3i, %3i\n"
               "   .w, h  = %3i, %3i\n"
               "   .pal   = %i\n"
               "   .trans = %i\n"
               "   .delay = %i\n"
               "   .bmp   = 0x%s\n",
               i, frame->pos.x, frame->pos.y, frame->w, frame->h, frame->pal, frame->trans,
               frame->delay, format_address(frame->bmp).c_str());
    }
}

// Frame table and palette block, zero-filled; false when either cannot be had.
bool allocate_anim_tables(gif_anim *anim)
{
    if (anim->num_frames != 0) {
        void *frames = calloc(size_t(anim->num_frames), sizeof(gif_frame));
        anim->frames = static_cast<gif_frame *>(frames);
        if (!anim->frames)
            return false;
    }
    anim->palettes = static_cast<uint8_t *>(calloc(size_t(anim->num_palettes), GIF_PALETTE_BYTES));
    return anim->palettes != nullptr;
}

void print_anim_sizes(const gif_anim *anim)
{
    if (glb_quiet)
        return;
    long long frames_size = 24LL * anim->num_frames;
    long long palettes_size = 768LL * anim->num_palettes;
    printf("num_frames   = %i\n", anim->num_frames);
    printf("num_palettes = %i\n", anim->num_palettes);
    printf("total size   = %i + %lld + %lld = %lld\n", 24, frames_size, palettes_size,
           24 + frames_size + palettes_size);
    fflush(stdout);
}

// The whole file in one read, in a block the caller frees; null when it
// cannot be read (or held). Only a regular file: a FIFO, a device or a
// directory is no GIF. A file larger than the whole load's budget is not
// even read.
uint8_t *read_whole_file(const char *path, size_t *size)
{
    int fd = open_regular_file(path);
    if (fd < 0)
        return nullptr;
    struct stat st;
    uint8_t *bytes = nullptr;
    if (fstat(fd, &st) == 0 && st.st_size >= 0 && st.st_size <= glb_gif_reader.load_bytes_limit)
        bytes = static_cast<uint8_t *>(malloc(size_t(st.st_size) + 1));
    // Bytes the file gained since fstat are left for another load.
    size_t got = 0;
    while (bytes && got < size_t(st.st_size)) {
        ssize_t n = read(fd, bytes + got, size_t(st.st_size) - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += size_t(n);
    }
    close(fd);
    *size = got;
    return bytes;
}

void free_load_buffers(gif_load_buffers *buffers)
{
    if (!buffers)
        return;
    free_gif_lzw_decoder(buffers->decoder);
    free(buffers->indices);
    free(buffers->rows);
    delete buffers;
}

// The kept buffers, made on first use; null when memory runs out.
gif_load_buffers *get_load_buffers()
{
    if (glb_gif_reader.buffers)
        return glb_gif_reader.buffers;
    gif_load_buffers *buffers = new gif_load_buffers{};
    buffers->decoder = make_gif_lzw_decoder();
    if (!buffers->decoder) {
        free_load_buffers(buffers);
        return nullptr;
    }
    glb_gif_reader.buffers = buffers;
    return buffers;
}

// Small files come one after another (fuzzing, the suite): their buffers
// are kept. A large image's buffers are not held after its load.
void release_large_buffers()
{
    gif_load_buffers *b = glb_gif_reader.buffers;
    if (b && std::max(b->indices_room, b->rows_room) > GIF_KEPT_BUFFER_BYTES)
        free_gif_reader_buffers();
}

} // namespace

gif_anim *load_gif_anim(const char *path)
{
    // The file is read once; the frame count and the parse both read it
    // from memory.
    size_t size = 0;
    uint8_t *bytes = read_whole_file(path, &size);
    gif_anim *anim = bytes ? load_gif_memory(bytes, size) : nullptr;
    free(bytes);
    if (anim && anim->cut_frame >= 0)
        fprintf(stderr, "warning : %s ends early, frame %i is incomplete\n", path, anim->cut_frame);
    return anim;
}

gif_anim *load_gif_memory(const uint8_t *bytes, size_t size)
{
    gif_cursor cursor{bytes, size, 0};
    gif_screen screen;
    read_gif_screen(&cursor, &screen);
    int32_t num_frames = 0;
    int32_t num_palettes = 1;
    count_gif_frames(&cursor, &num_frames, &num_palettes);

    gif_anim *anim = static_cast<gif_anim *>(calloc(1, sizeof(gif_anim)));
    if (!anim)
        return nullptr;
    anim->num_frames = num_frames;
    anim->num_palettes = num_palettes;
    anim->w = screen.w;
    anim->h = screen.h;
    anim->loop_count = GIF_NO_LOOP_EXTENSION;
    anim->cut_frame = -1;
    if (!allocate_anim_tables(anim)) {
        destroy_gif_anim(anim);
        return nullptr;
    }
    print_anim_sizes(anim);
    if (read_gif_blocks(&cursor, &screen, anim, static_cast<long long>(size)) != 0) {
        destroy_gif_anim(anim);
        return nullptr;
    }
    print_frame_table(anim);
    return anim;
}

void destroy_gif_anim(gif_anim *anim)
{
    if (!anim)
        return;
    if (anim->frames) {
        for (int32_t i = 0; i < anim->num_frames; ++i)
            destroy_gif_frame(&anim->frames[i]);
        free(anim->frames);
    }
    free(anim->palettes);
    free(anim);
}

void free_gif_reader_buffers()
{
    free_load_buffers(glb_gif_reader.buffers);
    glb_gif_reader.buffers = nullptr;
}

void destroy_gif_frame(gif_frame *frame)
{
    if (frame && frame->bmp) {
        destroy_bitmap(frame->bmp);
        frame->bmp = nullptr;
    }
}

size_t find_gif_data_end(const gif_cursor *cursor, const gif_lzw_result &result)
{
    if (!result.ended)
        return cursor->at + result.chain_read;
    // From a block at or before the one holding the end code's last bit.
    const uint8_t *chain = cursor->bytes + cursor->at;
    size_t chain_size = cursor->size - cursor->at;
    size_t last_byte = (result.bits - 1) / 8;
    size_t at = result.mark_at;
    size_t data_end = result.mark_data;
    while (at < chain_size) {
        size_t length = chain[at++];
        size_t got = std::min(length, chain_size - at);
        at += got;
        data_end += got;
        if (last_byte >= data_end)
            continue;
        bool closed_block = result.bits % 8 == 0 && result.bits / 8 == data_end;
        if (!closed_block || at >= chain_size)
            break;
        // Such a decoder loads the next block as soon as one is used up.
        at += 1 + std::min(size_t(chain[at]), chain_size - at - 1);
        break;
    }
    return cursor->at + std::min(at, chain_size);
}

void read_gif_screen(gif_cursor *cursor, gif_screen *screen)
{
    memset(screen, 0, sizeof *screen);
    int flags = 0;
    int background = 0;
    int aspect = 0;
    if (!read_bytes(cursor, screen->signature, 3) || !read_bytes(cursor, screen->version, 3) ||
        !read_u16(cursor, &screen->w) || !read_u16(cursor, &screen->h) ||
        !read_u8(cursor, &flags) || !read_u8(cursor, &background) || !read_u8(cursor, &aspect))
        return;
    screen->flags = uint8_t(flags);
    screen->have_global_palette = (flags >> 7) & 1;
    screen->color_resolution = uint8_t(((flags >> 4) & 7) + 1);
    screen->sort_flag = (flags >> 3) & 1;
    screen->palette_bits = uint8_t((flags & 7) + 1);
    screen->palette_size = uint16_t(1 << screen->palette_bits);
    screen->background = uint8_t(background);
    screen->aspect_ratio = uint8_t(aspect);
    // A short table keeps what was read; the rest stays zero.
    if (screen->have_global_palette)
        read_bytes(cursor, &screen->palette[0][0], 3 * size_t(screen->palette_size));
}

void count_gif_frames(const gif_cursor *cursor, int32_t *num_frames, int32_t *num_palettes)
{
    // The walk a stream reader would make, reading past the end being the
    // end of the file.
    gif_cursor walk = *cursor;
    int byte;
    int label;
    int length;
    int packed;
    int code_size;
    while (read_u8(&walk, &byte) && byte != 0x3B) {
        if (byte == 0x21) {
            if (!read_u8(&walk, &label) || !read_u8(&walk, &length))
                break;
            skip_bytes(&walk, size_t(length));
        } else if (byte == 0x2C) {
            ++*num_frames;
            skip_bytes(&walk, 8);
            if (!read_u8(&walk, &packed))
                break;
            if (packed & 0x80) {
                ++*num_palettes;
                skip_bytes(&walk, size_t(3) << ((packed & 7) + 1));
            }
            if (!read_u8(&walk, &code_size))
                break;
        }
        skip_sub_blocks(&walk);
    }
}

int read_gif_blocks(gif_cursor *cursor, const gif_screen *screen, gif_anim *anim, long long held)
{
    if (!cursor || !screen || !anim)
        return 1;
    parse_state state{};
    state.screen = screen;
    state.anim = anim;
    if (screen->have_global_palette) {
        memcpy(anim->palettes, screen->palette, GIF_PALETTE_BYTES);
        state.slot = 1;
    }
    state.fill = screen->have_global_palette ? screen->background : 0;
    // The canvas is made when first needed, but a size it could never have
    // fails the parse here, before anything is read. The record's tables
    // grow with the file (a 6-byte local table takes a 768-byte slot).
    long long table_bytes = static_cast<long long>(anim->num_frames) * sizeof(gif_frame) +
                            static_cast<long long>(anim->num_palettes) * GIF_PALETTE_BYTES;
    if (!bitmap_size_fits(8, screen->w, screen->h) || !take_load_bytes(&state, held + table_bytes))
        return 1;
    state.canvas_w = screen->w;
    state.canvas_h = screen->h;
    state.buffers = get_load_buffers();
    if (!state.buffers)
        return 1;
    reset_gce(&state.gce);

    image_result result = IMAGE_DONE;
    int byte;
    while (result == IMAGE_DONE && read_u8(cursor, &byte) && byte != 0x3B) {
        if (byte == 0x21 && !read_extension(cursor, &state))
            break;
        if (byte == 0x2C)
            result = read_image(cursor, &state);
    }
    if (state.canvas)
        destroy_bitmap(state.canvas);
    release_large_buffers();
    if (result == IMAGE_FAILED)
        return 1;
    // Images cut off in their descriptor never became frames.
    anim->num_frames = state.frame;
    return 0;
}

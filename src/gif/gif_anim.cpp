#include "gif/gif_anim.h"

#include "common/address_text.h"
#include "common/checked_bitmap.h"
#include "common/safe_file.h"
#include "common/trace.h"
#include "gif/gif_lzw.h"

#include <algorithm>
#include <allegro.h>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

// A few header bytes can claim a screen and images of 65535 x 65535 pixels
// each; this bounds what one file can make the reader allocate.
long long glb_gif_load_bytes_limit = 1LL << 30;
gif_decoder *glb_gif_decoder = nullptr;

// Images up to this size leave the decoder kept for the next load.
constexpr long long GIF_KEPT_DECODER_IMAGE_BYTES = 1 << 20;

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
    long long decode_bytes; // of which the decoder's pixel buffer
    gif_decoder *decoder; // reused by every image
    long long largest_image; // bytes of the largest image decoded
};

enum image_result { IMAGE_DONE, IMAGE_END_OF_FILE, IMAGE_FAILED };

// The one place where a load's memory is counted against its budget, before
// it is allocated: the file's bytes, the record's tables, the canvas, each
// frame bitmap and the decoder's pixel buffer. True, with the bytes counted,
// when they fit. (The decoder's fixed buffers, some hundred kilobytes, are
// left out.)
bool take_load_bytes(parse_state *state, long long bytes)
{
    if (bytes > glb_gif_load_bytes_limit - state->load_bytes)
        return false;
    state->load_bytes += bytes;
    return true;
}

// A w x h 8-bit bitmap: its pixels and one line pointer per row.
long long count_bitmap_bytes(long long w, long long h)
{
    return w * h + h * static_cast<long long>(sizeof(void *));
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

// The stream is this thread's alone: its bytes are read without the lock.
bool read_u8(FILE *file, int *value)
{
    *value = getc_unlocked(file);
    return *value != EOF;
}

bool read_u16(FILE *file, uint16_t *value)
{
    int lo = getc_unlocked(file);
    int hi = getc_unlocked(file);
    if (lo == EOF || hi == EOF)
        return false;
    *value = uint16_t(lo | (hi << 8));
    return true;
}

void reset_gce(gif_gce *gce)
{
    gce->disposal = 0;
    gce->transparent_flag = 0;
    gce->delay = 0;
    gce->trans = -1;
}

// False at end of file.
bool read_colour_table(FILE *file, uint8_t *rgb, int entries)
{
    size_t bytes = size_t(entries) * 3;
    return fread(rgb, 1, bytes, file) == bytes;
}

// Descriptor fields after the 0x2C; false at end of file.
bool read_gif_id(FILE *file, gif_id *id)
{
    int packed;
    if (!read_u16(file, &id->x) || !read_u16(file, &id->y) ||
        !read_u16(file, &id->w) || !read_u16(file, &id->h) || !read_u8(file, &packed))
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

// Graphic control or skipped extension, after the 0x21; false at end of file.
bool read_extension(FILE *file, gif_gce *gce)
{
    print_trace("\n\n0x21 Extension Block\n");
    int label;
    if (!read_u8(file, &label))
        return false;
    if (label == 0xF9) {
        print_trace("   0xF9 Graphic Control extension\n");
        int block_size, packed, index;
        uint16_t delay;
        if (!read_u8(file, &block_size) || !read_u8(file, &packed) ||
            !read_u16(file, &delay) || !read_u8(file, &index))
            return false;
        gce->disposal = (packed >> 2) & 7;
        gce->transparent_flag = packed & 1;
        gce->delay = delay;
        gce->trans = gce->transparent_flag ? index : -1;
    } else {
        print_trace("   ???? 0x%02X Skip that block\n", label);
        int size;
        if (!read_u8(file, &size) || !skip_gif_bytes(file, size))
            return false;
    }
    skip_gif_sub_blocks(file);
    return true;
}

// An image beyond the counted frames: parsed past, its data skipped.
image_result skip_surplus_image(FILE *file, const gif_id *id, parse_state *state)
{
    reset_gce(&state->gce);
    int code_size;
    if (id->local_palette_flag && !skip_gif_bytes(file, 3L * id->palette_size))
        return IMAGE_END_OF_FILE;
    if (!read_u8(file, &code_size))
        return IMAGE_END_OF_FILE;
    skip_gif_sub_blocks(file);
    return IMAGE_DONE;
}

// Palette slot of the image being read; reads its local table when it has
// one. A local table with no slot left is read past and the image keeps the
// global table (or none). False at end of file.
bool choose_frame_palette(FILE *file, const gif_id *id, parse_state *state, gif_frame *frame)
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
    if (state->slot >= state->anim->num_palettes)
        return skip_gif_bytes(file, 3L * id->palette_size);
    uint8_t *rgb = state->anim->palettes + size_t(state->slot) * GIF_PALETTE_BYTES;
    if (!read_colour_table(file, rgb, id->palette_size))
        return false;
    frame->pal = state->slot++;
    return true;
}

// Fills the image's pixels from index `from` on (in row order) with what
// lies under them: the canvas where the two overlap, the fill elsewhere.
void fill_from_canvas(BITMAP *image, const gif_id *id, const parse_state *state, int overlap_w,
                      int overlap_h, size_t from)
{
    size_t w = size_t(image->w);
    if (w == 0)
        return;
    for (size_t y = from / w; y < size_t(image->h); ++y) {
        size_t x = y == from / w ? from % w : 0;
        uint8_t *row = image->line[y];
        if (state->canvas && y < size_t(overlap_h) && x < size_t(overlap_w)) {
            const uint8_t *under = state->canvas->line[id->y + y] + id->x;
            std::memcpy(row + x, under + x, size_t(overlap_w) - x);
            x = size_t(overlap_w);
        }
        std::memset(row + x, state->fill, w - x);
    }
}

// Puts the image on the canvas where the two overlap, then applies its
// disposal: 2 clears the overlap to the fill, 3 leaves the canvas as it was
// (the image was drawn into its own bitmap, never onto the canvas). Nothing
// reads the canvas after the last counted image, and an image disposed of
// by 2 over a canvas that is the fill alone leaves it so: the canvas is made
// only when an image must stay on it. Fails only when it cannot be made.
image_result leave_image_on_canvas(const gif_id *id, parse_state *state, BITMAP *image,
                                   int overlap_w, int overlap_h)
{
    int disposal = state->gce.disposal;
    bool last = state->frame + 1 >= state->anim->num_frames;
    if (last || overlap_w <= 0 || overlap_h <= 0 || disposal == 3 ||
        (!state->canvas && disposal == 2))
        return IMAGE_DONE;
    if (!state->canvas) {
        if (!take_load_bytes(state, count_bitmap_bytes(state->canvas_w, state->canvas_h)))
            return IMAGE_FAILED;
        state->canvas = create_checked_bitmap(8, state->canvas_w, state->canvas_h);
        if (!state->canvas)
            return IMAGE_FAILED;
        clear_to_color(state->canvas, state->fill);
    }
    // Both are 8-bit memory bitmaps: plain rows.
    for (int y = 0; y < overlap_h; ++y) {
        uint8_t *row = state->canvas->line[id->y + y] + id->x;
        if (disposal == 2)
            std::memset(row, state->fill, size_t(overlap_w));
        else
            std::memcpy(row, image->line[y], size_t(overlap_w));
    }
    return IMAGE_DONE;
}

// Draws one image over the canvas and keeps its rectangle in the frame.
// The image is decoded straight into the frame's own w x h bitmap, which
// holds the canvas where the two overlap and the fill elsewhere wherever the
// image leaves a pixel alone, so an image reaching past the logical screen
// keeps its rows; only the overlap goes back to the canvas, and only the
// overlap is disposed of.
image_result draw_frame_image(FILE *file, const gif_id *id, int code_size,
                              parse_state *state, gif_frame *frame)
{
    print_trace("sub_bmp = (%i, %i), w =%i, h =%i\n", id->x, id->y, id->w, id->h);
    // The frame's bitmap stays; an interlaced or transparent image is first
    // decoded into the decoder's buffer, which keeps the largest size asked.
    bool plain = !id->interlace && state->gce.trans < 0;
    long long image_bytes = count_bitmap_bytes(id->w, id->h);
    long long buffer_growth = plain ? 0 : std::max(0LL, image_bytes - state->decode_bytes);
    BITMAP *image = nullptr;
    if (take_load_bytes(state, image_bytes + buffer_growth)) {
        state->decode_bytes += buffer_growth;
        image = create_checked_bitmap(8, id->w, id->h);
    }
    if (!image) {
        printf("sub_bmp = NULL\n");
        fflush(stdout);
        return IMAGE_FAILED;
    }
    int overlap_w = id->x < state->canvas_w ? std::min<int>(id->w, state->canvas_w - id->x) : 0;
    int overlap_h = id->y < state->canvas_h ? std::min<int>(id->h, state->canvas_h - id->y) : 0;

    // A plain image's decoded pixels are all drawn: what lies under it is
    // needed only where the data runs out.
    if (!plain)
        fill_from_canvas(image, id, state, overlap_w, overlap_h, 0);
    size_t decoded = decode_gif_image(file, code_size, image, id->interlace, state->gce.trans,
                                      state->decoder);
    if (plain)
        fill_from_canvas(image, id, state, overlap_w, overlap_h, decoded);
    frame->bmp = image;
    state->largest_image = std::max(state->largest_image, image_bytes);
    return leave_image_on_canvas(id, state, image, overlap_w, overlap_h);
}

// One image, after the 0x2C.
image_result read_image(FILE *file, parse_state *state)
{
    print_trace("0x2C Image Descriptor\n");
    gif_id id;
    if (!read_gif_id(file, &id))
        return IMAGE_END_OF_FILE;
    print_gif_id(&id);
    if (state->frame >= state->anim->num_frames)
        return skip_surplus_image(file, &id, state);

    gif_frame *frame = &state->anim->frames[state->frame];
    int code_size;
    if (!choose_frame_palette(file, &id, state, frame) || !read_u8(file, &code_size))
        return IMAGE_END_OF_FILE;
    frame->pos.x = id.x;
    frame->pos.y = id.y;
    frame->w = id.w;
    frame->h = id.h;
    frame->trans = state->gce.trans;
    frame->delay = state->gce.delay;

    image_result result = draw_frame_image(file, &id, code_size, state, frame);
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
        anim->frames = static_cast<gif_frame *>(calloc(size_t(anim->num_frames), sizeof(gif_frame)));
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
    if (fstat(fd, &st) == 0 && st.st_size >= 0 && st.st_size <= glb_gif_load_bytes_limit)
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

// The loader's work on the file's bytes, also open as file.
gif_anim *load_gif_stream(FILE *file, const uint8_t *bytes, size_t size)
{
    gif_screen screen;
    read_gif_screen(file, &screen);
    int32_t num_frames = 0;
    int32_t num_palettes = 1;
    count_gif_frames(bytes, size, size_t(ftell(file)), &num_frames, &num_palettes);

    gif_anim *anim = static_cast<gif_anim *>(calloc(1, sizeof(gif_anim)));
    if (!anim)
        return nullptr;
    anim->num_frames = num_frames;
    anim->num_palettes = num_palettes;
    anim->w = screen.w;
    anim->h = screen.h;
    if (!allocate_anim_tables(anim)) {
        destroy_gif_anim(anim);
        return nullptr;
    }
    print_anim_sizes(anim);
    if (read_gif_blocks(file, &screen, anim, static_cast<long long>(size)) != 0) {
        destroy_gif_anim(anim);
        return nullptr;
    }
    print_frame_table(anim);
    return anim;
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
    return anim;
}

gif_anim *load_gif_memory(const uint8_t *bytes, size_t size)
{
    // The parse reads through a stream over the bytes.
    FILE *file = fmemopen(const_cast<uint8_t *>(bytes), size, "rb");
    if (!file)
        return nullptr;
    gif_anim *anim = load_gif_stream(file, bytes, size);
    fclose(file);
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

void destroy_gif_frame(gif_frame *frame)
{
    if (frame && frame->bmp) {
        destroy_bitmap(frame->bmp);
        frame->bmp = nullptr;
    }
}

void read_gif_screen(FILE *file, gif_screen *screen)
{
    memset(screen, 0, sizeof *screen);
    int flags = 0, background = 0, aspect = 0;
    if (fread(screen->signature, 1, 3, file) != 3 || fread(screen->version, 1, 3, file) != 3 ||
        !read_u16(file, &screen->w) || !read_u16(file, &screen->h) ||
        !read_u8(file, &flags) || !read_u8(file, &background) || !read_u8(file, &aspect))
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
        read_colour_table(file, &screen->palette[0][0], screen->palette_size);
}

void count_gif_frames(const uint8_t *bytes, size_t size, size_t at, int32_t *num_frames,
                      int32_t *num_palettes)
{
    // The walk a stream reader would make, reading past the end being the
    // end of the file.
    auto read_byte = [&](int *value) {
        if (at >= size)
            return false;
        *value = bytes[at++];
        return true;
    };
    int byte, label, length, packed, code_size;
    while (read_byte(&byte) && byte != 0x3B) {
        if (byte == 0x21) {
            if (!read_byte(&label) || !read_byte(&length))
                break;
            at += size_t(length);
        } else if (byte == 0x2C) {
            ++*num_frames;
            at += 8;
            if (!read_byte(&packed))
                break;
            if (packed & 0x80) {
                ++*num_palettes;
                at += size_t(3) << ((packed & 7) + 1);
            }
            if (!read_byte(&code_size))
                break;
        }
        while (read_byte(&length) && length != 0)
            at += size_t(length);
    }
}

int read_gif_blocks(FILE *file, gif_screen *screen, gif_anim *anim, long long held)
{
    if (!file || !screen || !anim)
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
    if (!glb_gif_decoder)
        glb_gif_decoder = make_gif_decoder();
    if (!glb_gif_decoder)
        return 1;
    state.decoder = glb_gif_decoder;
    reset_gce(&state.gce);

    image_result result = IMAGE_DONE;
    int byte;
    while (result == IMAGE_DONE && (byte = getc_unlocked(file)) != EOF && byte != 0x3B) {
        if (byte == 0x21 && !read_extension(file, &state.gce))
            break;
        if (byte == 0x2C)
            result = read_image(file, &state);
    }
    if (state.canvas)
        destroy_bitmap(state.canvas);
    // Small files come one after another (fuzzing, the suite): their
    // decoder is kept. A large image's buffers are not held after its load.
    if (state.largest_image > GIF_KEPT_DECODER_IMAGE_BYTES) {
        free_gif_decoder(glb_gif_decoder);
        glb_gif_decoder = nullptr;
    }
    if (result == IMAGE_FAILED)
        return 1;
    // Images cut off in their descriptor never became frames.
    anim->num_frames = state.frame;
    return 0;
}

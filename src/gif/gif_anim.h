// Animated GIF reader: turns a GIF file into a gif_anim record whose frames
// hold each image's rectangle of the canvas as drawn over the animation so far.
#pragma once

#include <cstddef>
#include <cstdint>

struct BITMAP;
struct gif_load_buffers;
struct gif_lzw_result;

struct gif_frame {
    struct {
        uint16_t x, y;
    } pos;          // left and top edge in the logical screen
    uint16_t w, h;  // image size from its descriptor
    int32_t pal;    // palette slot colouring this image, -1 when it has none
    int32_t trans;  // transparent index 0..255, -1 for none
    uint16_t delay; // graphic control delay as stored, never interpreted
    // 8-bit: the part of the image's rectangle inside the logical screen
    // (w x h unless the image reaches past it), after the image was drawn.
    BITMAP *bmp;
    uint8_t disposal = 0; // graphic control disposal method 0..7 as stored, 0 without one
};

// gif_anim::loop_count of a file without a NETSCAPE2.0 loop extension.
constexpr int32_t GIF_NO_LOOP_EXTENSION = -1;

struct gif_anim {
    int32_t num_frames;   // image descriptors counted by the pre-scan
    int32_t num_palettes; // 1 + local colour tables counted by the pre-scan
    int32_t w, h;         // logical screen size
    gif_frame *frames;    // num_frames records, null when there are none
    uint8_t *palettes;    // num_palettes slots of 256 x (r, g, b)
    int32_t loop_count = GIF_NO_LOOP_EXTENSION; // NETSCAPE2.0 loop count, 0 for ever
    int32_t cut_frame = -1; // the frame whose data the file's end cut short, -1 for none
};

// Header and logical screen descriptor; lives only during a load.
struct gif_screen {
    uint8_t signature[3];
    uint8_t version[3];
    uint16_t w, h;
    uint8_t flags;
    uint8_t have_global_palette;
    uint8_t color_resolution;
    uint8_t sort_flag;
    uint8_t palette_bits;
    uint16_t palette_size;
    uint8_t background;
    uint8_t aspect_ratio;
    uint8_t palette[256][3];
};

// The reader's own process-wide values.
struct gif_reader_state {
    long long load_bytes_limit; // most bytes one load may take: file, tables, bitmaps, buffers
    gif_load_buffers *buffers;  // decoder table and buffers, kept from one load to the next
};

extern gif_reader_state glb_gif_reader; // load limit and kept buffers of every load

// What a w x h 8-bit memory bitmap costs: its pixels, the library's record
// with one line pointer per row, and the allocator's overhead on each of
// its two allocations.
long long count_gif_bitmap_bytes(long long w, long long h);

// The file's bytes being parsed, and the parse's place in them.
struct gif_cursor {
    const uint8_t *bytes;
    size_t size;
    size_t at; // next byte to read; size at the end of the file
};

// Bytes of one palette slot in gif_anim::palettes.
constexpr int GIF_PALETTE_BYTES = 768;

// Loads the whole file; null on any failure (nothing printed on failure),
// which includes a file that is not a regular one and an animation whose
// bytes, canvas, frame bitmaps and decoder buffers would pass the load's
// budget. A file whose end cuts an image's data short loads, with one
// warning line on standard error naming it and that frame.
// Needs the graphics library initialised with the colour depth set to 8.
gif_anim *load_gif_anim(const char *path);
// The same for a file's bytes already in memory.
gif_anim *load_gif_memory(const uint8_t *bytes, size_t size);
void destroy_gif_anim(gif_anim *anim);
// Frees the buffers kept from one load to the next; the next load makes
// them again.
void free_gif_reader_buffers();
void destroy_gif_frame(gif_frame *frame);

// Reads the header and logical screen descriptor; what the file lacks reads
// as zero.
void read_gif_screen(gif_cursor *cursor, gif_screen *screen);
// Adds to the two counters (callers start them at 0 and 1) what the file's
// bytes hold from the cursor on; the cursor stays.
void count_gif_frames(const gif_cursor *cursor, int32_t *num_frames, int32_t *num_palettes);
// Where the parse goes on after an image's data chain that starts at the
// cursor, given what the decoder read: after the sub-block holding the end
// code's last bit, or after the block that follows when that bit closed its
// block, as a decoder reading one block at a time stops; without the end
// code, after the chain's terminator, or at the file's end.
size_t find_gif_data_end(const gif_cursor *cursor, const gif_lzw_result &result);
// Parses the blocks after the screen into anim; 0 on success, 1 on failure.
// held: bytes of the input already in memory, counted in the load's budget.
int read_gif_blocks(gif_cursor *cursor, const gif_screen *screen, gif_anim *anim,
                    long long held = 0);

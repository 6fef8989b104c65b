// Animated GIF reader: turns a GIF file into a gif_anim record whose frames
// hold each image's rectangle of the canvas as drawn over the animation so far.
#pragma once

#include <cstdint>
#include <cstdio>

struct BITMAP;
struct gif_decoder;

struct gif_frame {
    struct {
        uint16_t x, y;
    } pos;          // left and top edge in the logical screen
    uint16_t w, h;  // image size from its descriptor
    int32_t pal;    // palette slot colouring this image, -1 when it has none
    int32_t trans;  // transparent index 0..255, -1 for none
    uint16_t delay; // graphic control delay as stored, never interpreted
    BITMAP *bmp;    // 8-bit w x h: the image's rectangle after it was drawn
};

struct gif_anim {
    int32_t num_frames;   // image descriptors counted by the pre-scan
    int32_t num_palettes; // 1 + local colour tables counted by the pre-scan
    int32_t w, h;         // logical screen size
    gif_frame *frames;    // num_frames records, null when there are none
    uint8_t *palettes;    // num_palettes slots of 256 x (r, g, b)
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

extern long long glb_gif_load_bytes_limit; // most bytes one load may take: file, canvas, frames, decoder
extern gif_decoder *glb_gif_decoder; // the decoder's buffers, kept from one load to the next

// Bytes of one palette slot in gif_anim::palettes.
constexpr int GIF_PALETTE_BYTES = 768;

// Loads the whole file; null on any failure (nothing printed on failure),
// which includes a file that is not a regular one and an animation whose
// bytes, canvas, frame bitmaps and decoder buffers would pass the load's
// budget.
// Needs the graphics library initialised with the colour depth set to 8.
gif_anim *load_gif_anim(const char *path);
// The same for a file's bytes already in memory.
gif_anim *load_gif_memory(const uint8_t *bytes, size_t size);
void destroy_gif_anim(gif_anim *anim);
void destroy_gif_frame(gif_frame *frame);

void read_gif_screen(FILE *file, gif_screen *screen);
// Adds to the two counters (callers start them at 0 and 1) what the file's
// bytes hold from offset at on.
void count_gif_frames(const uint8_t *bytes, size_t size, size_t at, int32_t *num_frames,
                      int32_t *num_palettes);
// 0 on success, 1 on failure.
// held: bytes of the input already in memory, counted in the load's budget.
int read_gif_blocks(FILE *file, gif_screen *screen, gif_anim *anim, long long held = 0);

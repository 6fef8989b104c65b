// Frame export: each frame scaled to an 8-bit file, saved by the library with
// the 6-bit palette, then patched with the exact 8-bit one. The library's
// writer takes most of the time (a call per pixel); the scaling is done on
// rows.
#include "export/export.h"

#include <allegro.h>
#include <array>
#include <cstdint>
#include <cstdio>

#include "display/screen.h"
#include "gif/checked_bitmap.h"
#include "gif/gif_anim.h"
#include "palette/tint_slots.h"

// The BMP colour table: 256 entries of blue, green, red, reserved.
constexpr long BMP_HEADER_SIZE_OFFSET = 14;
constexpr long BMP_MIN_INFO_HEADER = 40;
constexpr long BMP_TABLE_BYTES = 256 * 4;
// The PCX palette: a marker byte then 256 entries of red, green, blue.
constexpr long PCX_TABLE_BYTES = 256 * 3;
constexpr int PCX_PALETTE_MARKER = 12;

void compute_export_size(int zoom, int w, int h, int *out_w, int *out_h)
{
    long long sw = static_cast<long long>(zoom) * w / 100;
    long long sh = static_cast<long long>(zoom) * h / 100;
    *out_w = sw < 1 ? 1 : static_cast<int>(sw);
    *out_h = sh < 1 ? 1 : static_cast<int>(sh);
}

// Scales frame i alone onto save_bmp, as if drawn on the cleared canvas
// and stretched from it: directly from the frame's rows where
// draw_frame_scaled can, else through the canvas with the library.
static void scale_export_frame(const gif_frame &frame, BITMAP *save_bmp)
{
    preview_rect whole = {0, 0, save_bmp->w, save_bmp->h};
    if (draw_frame_scaled(save_bmp, whole, glb_sprite_8bpp, frame.bmp, frame.pos.x, frame.pos.y, nullptr))
        return;
    // Index 0 is skipped by the masked drawing; what reaches past the
    // canvas is clipped.
    clear_to_color(glb_sprite_8bpp, 0);
    if (frame.bmp)
        draw_sprite(glb_sprite_8bpp, frame.bmp, frame.pos.x, frame.pos.y);
    if (glb_sprite_8bpp->w > 0 && glb_sprite_8bpp->h > 0)
        stretch_blit(glb_sprite_8bpp, save_bmp, 0, 0, glb_sprite_8bpp->w, glb_sprite_8bpp->h, 0, 0,
                     save_bmp->w, save_bmp->h);
}

// Saves save_bmp and patches its palette. A file the library could not
// write is left alone: patching would recolour a stale file of the same name.
static void save_export_frame(BITMAP *save_bmp, const char *name, int pcx_flag)
{
    if (save_bitmap(name, save_bmp, display_palette) != 0) {
        printf("can't save <%s>\n", name);
        return;
    }
    if (pcx_flag)
        modify_pcx_palette(name);
    else
        modify_bmp_palette(name);
}

void save_all_frames(const gif_anim *anim, int zoom, int pcx_flag)
{
    if (!anim || !glb_sprite_8bpp)
        return;
    int w, h;
    compute_export_size(zoom, anim->w, anim->h, &w, &h);
    BITMAP *save_bmp = create_checked_bitmap(8, w, h);
    if (!save_bmp) {
        // The session goes on: the loop still saves the slot choices.
        printf("can't create save_bmp %i * %i\n", w, h);
        return;
    }
    clear_to_color(save_bmp, 0);
    const char *extension = pcx_flag ? ".pcx" : ".bmp";
    for (int32_t i = 0; i < anim->num_frames; i++) {
        char name[32];
        snprintf(name, sizeof name, "frame%03i%s", static_cast<int>(i), extension);
        scale_export_frame(anim->frames[i], save_bmp);
        save_export_frame(save_bmp, name, pcx_flag);
    }
    destroy_bitmap(save_bmp);
}

// Length of an open file, or -1.
static long measure_file(FILE *file)
{
    if (fseek(file, 0, SEEK_END) != 0)
        return -1;
    return ftell(file);
}

// Offset of the BMP colour table, or -1 when the info header size read at
// offset 14 and the file's length leave no room for the whole table.
static long find_bmp_table(FILE *file)
{
    long length = measure_file(file);
    uint8_t size_bytes[4];
    if (length < 0 || fseek(file, BMP_HEADER_SIZE_OFFSET, SEEK_SET) != 0 ||
        fread(size_bytes, 1, 4, file) != 4)
        return -1;
    uint32_t size = size_bytes[0] | size_bytes[1] << 8 | size_bytes[2] << 16 |
                    static_cast<uint32_t>(size_bytes[3]) << 24;
    // A smaller header (the 12-byte core form) has 3-byte table entries.
    if (size < BMP_MIN_INFO_HEADER)
        return -1;
    long long table = BMP_HEADER_SIZE_OFFSET + static_cast<long long>(size);
    if (table + BMP_TABLE_BYTES > length)
        return -1;
    return static_cast<long>(table);
}

// Rewrites the colour table that find locates with bytes, warning in the
// routine's name when the file cannot be opened, has no room for the table,
// or cannot be written. A file without a sound table is left alone.
static void patch_palette_table(const char *file, const char *routine, long (*find)(FILE *),
                                const uint8_t *bytes, size_t count)
{
    FILE *f = fopen(file, "rb+");
    if (!f) {
        printf("%s warning : can't open <%s>\n", routine, file);
        return;
    }
    long table = find(f);
    if (table < 0) {
        printf("%s warning : bad header in <%s>\n", routine, file);
        fclose(f);
        return;
    }
    // A seek is required between the reads of find and the write.
    bool written = fseek(f, table, SEEK_SET) == 0 && fwrite(bytes, 1, count, f) == count;
    if (fclose(f) != 0 || !written)
        printf("%s warning : can't write <%s>\n", routine, file);
}

void modify_bmp_palette(const char *file)
{
    std::array<uint8_t, BMP_TABLE_BYTES> bytes;
    for (int k = 0; k < 256; k++) {
        bytes[4 * k] = working_palette[k][2];
        bytes[4 * k + 1] = working_palette[k][1];
        bytes[4 * k + 2] = working_palette[k][0];
        bytes[4 * k + 3] = 0;
    }
    patch_palette_table(file, "modify_bmp_palette()", find_bmp_table, bytes.data(), bytes.size());
}

// Offset of the PCX palette, or -1 when the file is too short or lacks the
// marker byte in front of it.
static long find_pcx_table(FILE *file)
{
    long length = measure_file(file);
    if (length < PCX_TABLE_BYTES + 1 || fseek(file, length - PCX_TABLE_BYTES - 1, SEEK_SET) != 0)
        return -1;
    if (fgetc(file) != PCX_PALETTE_MARKER)
        return -1;
    return length - PCX_TABLE_BYTES;
}

void modify_pcx_palette(const char *file)
{
    patch_palette_table(file, "modify_pcx_palette()", find_pcx_table, &working_palette[0][0],
                        PCX_TABLE_BYTES);
}

// The PCX coder: an 8-bit bitmap as the library's PCX writer lays it out,
// and the patch that puts the exact 8-bit palette into such a file.
#include <algorithm>
#include <allegro.h>
#include <cstring>

#include "export/export.h"
#include "export/writers.h"
#include "palette/tint_slots.h"

// The PCX palette: a marker byte then 256 entries of red, green, blue.
constexpr long PCX_TABLE_BYTES = 256 * 3;
constexpr int PCX_PALETTE_MARKER = 12;
// The longest run one count byte holds.
constexpr int PCX_MAX_RUN = 63;

// The run rule, for the run that starts at row[x]: the pixels equal to its
// first, at most 63 of them. A count byte (0xC0 | length) comes first when
// the run is longer than one or its value could be read as a count (0xC0
// and up), then the value. Returns where the next run starts. The count
// byte is stored either way and the value over it when it is not needed: a
// branch there would guess wrong on random pixels.
static int code_pcx_run(const uint8_t *row, int x, int w, uint8_t *&out)
{
    int length = 1;
    while (x + length < w && length < PCX_MAX_RUN && row[x + length] == row[x])
        length++;
    int counted = length > 1 || row[x] >= 0xC0;
    out[0] = uint8_t(0xC0 | length);
    out[counted] = row[x];
    out += counted + 1;
    return x + length;
}

uint8_t *code_pcx_row_plainly(const uint8_t *row, int w, uint8_t *out)
{
    int x = 0;
    while (x < w)
        x = code_pcx_run(row, x, w, out);
    return out;
}

// From each run start the vector coders take what they can (random pixels
// are mostly short runs, which they code many at a time); a run they leave
// (a long one, or one near the row's end) goes by the rule. Each coder reads
// one pixel past its block, so it is not called within that of the end.
uint8_t *code_pcx_row(const uint8_t *row, int w, uint8_t *out, simd_tier tier)
{
    int x = 0;
    while (x < w) {
#ifdef __x86_64__
        int to = x;
        if (tier >= SIMD_AVX512 && x + 65 <= w)
            to = compress_pcx_runs(row, x, w, out);
        if (to == x && tier >= SIMD_SSSE3 && x + 9 <= w)
            to = shuffle_pcx_runs(row, x, w, out);
        if (to > x) {
            x = to;
            continue;
        }
#else
        (void)tier;
#endif
        x = code_pcx_run(row, x, w, out);
    }
    return out;
}

// Appends v as two little-endian bytes.
static void put_le16(std::vector<uint8_t> &out, int v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

// Puts the red, green and blue of count entries of pal, scaled up from 6
// bits, at out; returns the end.
static uint8_t *put_scaled_palette(uint8_t *out, const RGB *pal, int count)
{
    for (int c = 0; c < count; c++) {
        *out++ = uint8_t(_rgb_scale_6[pal[c].r]);
        *out++ = uint8_t(_rgb_scale_6[pal[c].g]);
        *out++ = uint8_t(_rgb_scale_6[pal[c].b]);
    }
    return out;
}

// The 128-byte header with the first 16 palette entries, each row coded on
// its own, then the marker and the whole palette, both palettes scaled up
// from 6 bits; then the exact palette over the last. out is kept at least
// as long as the longest file so far, so the room for the rows is not
// zero-filled again for every frame.
size_t encode_pcx_file(BITMAP *bmp, std::vector<uint8_t> &out)
{
    std::vector<uint8_t> head = {10, 5, 1, 8}; // maker, version, run-length coding, 8 bits
    // Corners, then 320 x 200 dots per inch.
    for (int v : {0, 0, bmp->w - 1, bmp->h - 1, 320, 200})
        put_le16(head, v);
    head.resize(head.size() + 16 * 3);
    put_scaled_palette(head.data() + head.size() - 16 * 3, display_palette, 16);
    head.push_back(0); // reserved
    head.push_back(1); // one plane
    // Bytes per row, a colour palette, the screen size.
    for (int v : {bmp->w, 1, bmp->w, bmp->h})
        put_le16(head, v);
    head.resize(128, 0);
    // Two bytes a pixel at most, room for the coders' stores past the end,
    // then the marker and the palette.
    size_t longest = head.size() + 2 * size_t(bmp->w) * size_t(bmp->h) + 1 + 1 + PCX_TABLE_BYTES;
    if (out.size() < longest)
        out.resize(longest);
    uint8_t *end = std::copy(head.begin(), head.end(), out.data());
    uint8_t *last = end;
    for (int y = 0; y < bmp->h; y++) {
        // A zoomed frame repeats rows: a row like the one before has its code.
        uint8_t *start = end;
        if (y > 0 && std::memcmp(bmp->line[y], bmp->line[y - 1], size_t(bmp->w)) == 0) {
            std::memcpy(end, last, size_t(start - last));
            end += start - last;
        } else {
            end = code_pcx_row(bmp->line[y], bmp->w, end, glb_simd_tier);
        }
        last = start;
    }
    *end++ = PCX_PALETTE_MARKER;
    std::memcpy(end, working_palette, PCX_TABLE_BYTES);
    end += PCX_TABLE_BYTES;
    return size_t(end - out.data());
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

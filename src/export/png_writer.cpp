// Indexed PNG out through libspng: its failures come back as codes, so
// nothing jumps across the program's frames, and it codes row by row,
// which lets a sprite sheet be written a band of frames at a time.
#include "export/png_writer.h"

#include <allegro.h>
#include <spng.h>

#include <cstring>

#include "export/writers.h"
#include "palette/tint_slots.h"

// The encoder's output appended to the caller's buffer.
static int append_png_bytes(spng_ctx *, void *user, void *data, size_t length)
{
    std::vector<uint8_t> *bytes = static_cast<std::vector<uint8_t> *>(user);
    const uint8_t *from = static_cast<const uint8_t *>(data);
    bytes->insert(bytes->end(), from, from + length);
    return 0;
}

// Header, table and transparency for the encoder.
static bool describe_png(spng_ctx *ctx, int w, int h, const uint8_t (*palette)[3])
{
    spng_ihdr header = {};
    header.width = uint32_t(w);
    header.height = uint32_t(h);
    header.bit_depth = 8;
    header.color_type = SPNG_COLOR_TYPE_INDEXED;
    spng_plte table = {};
    table.n_entries = 256;
    for (int c = 0; c < 256; c++) {
        table.entries[c].red = palette[c][0];
        table.entries[c].green = palette[c][1];
        table.entries[c].blue = palette[c][2];
    }
    // One alpha entry: index 0 clear, every later index opaque.
    spng_trns alpha = {};
    alpha.n_type3_entries = 1;
    alpha.type3_alpha[0] = 0;
    if (spng_set_ihdr(ctx, &header) != 0 || spng_set_plte(ctx, &table) != 0)
        return false;
    if (spng_set_trns(ctx, &alpha) != 0)
        return false;
    // Filters rarely pay on indices (a third more bytes on the samples);
    // without them coding is quicker, and the strongest level keeps the
    // files as small as other writers' at little cost (zlib's largest
    // memory level saves some 165 bytes more on a 640 x 480 frame of noise).
    if (spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, 9) != 0)
        return false;
    if (spng_set_option(ctx, SPNG_IMG_MEM_LEVEL, 9) != 0)
        return false;
    return spng_set_option(ctx, SPNG_FILTER_CHOICE, SPNG_DISABLE_FILTERING) == 0;
}

bool begin_png_encoding(png_encoding &png, int w, int h, const uint8_t (*palette)[3],
                        std::vector<uint8_t> &bytes)
{
    png.bytes = &bytes;
    png.w = w;
    png.h = h;
    png.rows_left = h;
    png.failed = true;
    png.ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    if (!png.ctx || w < 1 || h < 1)
        return false;
    if (spng_set_png_stream(png.ctx, append_png_bytes, &bytes) != 0)
        return false;
    if (!describe_png(png.ctx, w, h, palette))
        return false;
    int flags = SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE;
    png.failed = spng_encode_image(png.ctx, nullptr, 0, SPNG_FMT_PNG, flags) != 0;
    return !png.failed;
}

bool add_png_row(png_encoding &png, const uint8_t *row)
{
    if (!png.ctx || png.failed)
        return false;
    // A row past the height spoils the file.
    png.failed = png.rows_left == 0;
    if (png.failed)
        return false;
    png.rows_left--;
    // The last row ends the image and finalizes the file.
    int result = spng_encode_row(png.ctx, row, size_t(png.w));
    png.failed = result != 0 && !(result == SPNG_EOI && png.rows_left == 0);
    return !png.failed;
}

bool finish_png_encoding(png_encoding &png)
{
    bool whole = png.ctx && !png.failed && png.rows_left == 0;
    spng_ctx_free(png.ctx);
    png.ctx = nullptr;
    return whole;
}

bool encode_indexed_png(const uint8_t *const *rows, int w, int h, const uint8_t (*palette)[3],
                        std::vector<uint8_t> &bytes)
{
    png_encoding png;
    bool ok = begin_png_encoding(png, w, h, palette, bytes);
    for (int y = 0; y < h && ok; y++)
        ok = add_png_row(png, rows[y]);
    return finish_png_encoding(png) && ok;
}

size_t encode_png_file(BITMAP *bmp, std::vector<uint8_t> &bytes)
{
    bytes.clear();
    if (!encode_indexed_png(bmp->line, bmp->w, bmp->h, working_palette, bytes))
        return 0;
    return bytes.size();
}

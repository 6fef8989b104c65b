#include "palette/gradient_image.h"

#include "common/image_size.h"
#include "common/safe_file.h"

#include <allegro.h>
#include <cstring>
#include <strings.h>
#include <vector>

// Gradients are a few dozen pixels each way; anything past this is no
// gradient bitmap, however large a header may claim it to be.
constexpr long long GRADIENT_IMAGE_MAX_SIDE = 16384;
constexpr long long GRADIENT_IMAGE_MAX_PIXELS = 1LL << 24;
constexpr size_t GRADIENT_FILE_MAX_BYTES = 4 * GRADIENT_IMAGE_MAX_PIXELS + (1 << 20);

// BMP header fields: file header, then the 40-byte info header.
constexpr size_t BMP_DATA_OFFSET = 10, BMP_INFO_SIZE = 14, BMP_WIDTH = 18, BMP_HEIGHT = 22;
constexpr size_t BMP_BIT_COUNT = 28, BMP_COMPRESSION = 30, BMP_INFO_END = 54;
constexpr uint32_t BMP_RLE8 = 1, BMP_RLE4 = 2;

static uint32_t read_le(const uint8_t *p, int bytes)
{
    uint32_t v = 0;
    for (int k = bytes - 1; k >= 0; k--)
        v = v << 8 | p[k];
    return v;
}

// The library's loader sizes its bitmaps in 32-bit arithmetic without any
// check, and a zero width with a huge height still costs one line pointer
// per row, so a lying header is refused before it gets there.
static bool check_image_size(const char *file, const std::vector<uint8_t> &bytes)
{
    long long w, h;
    return read_image_size(file, bytes.data(), bytes.size(), &w, &h) && w >= 0 && h >= 0 &&
           w <= GRADIENT_IMAGE_MAX_SIDE && h <= GRADIENT_IMAGE_MAX_SIDE &&
           w * h <= GRADIENT_IMAGE_MAX_PIXELS;
}

static bool is_bmp(const char *file)
{
    const char *dot = std::strrchr(file, '.');
    return dot && strcasecmp(dot, ".bmp") == 0;
}

// A BMP's data must start inside the file: the loader reads everything up
// to it as colour table, a byte at a time, so an offset of a gigabyte kept
// it busy for a minute. Then the runs of an RLE8 (a byte a pixel) or RLE4
// (a nibble) BMP, walked as the loader will write them, which it does
// without any bound: every run must stay inside its row, every move inside
// the image, and the end-of-bitmap mark must come before the file ends. The
// data starts at the header's data offset, which must leave room for a
// whole colour table and nothing more, so that it is where the loader
// starts too.
static bool check_bmp_layout(const std::vector<uint8_t> &bytes)
{
    // A cut header is read on as end-of-file values, which as sizes and
    // runs are as bad as any lie; the loader takes no headers but the 12-
    // and 40-byte ones.
    uint32_t info = read_le(&bytes[BMP_INFO_SIZE], 4);
    if (read_le(&bytes[BMP_DATA_OFFSET], 4) > bytes.size() ||
        (info != 12 && bytes.size() < BMP_INFO_END))
        return false;
    if (info != 40)
        return true;
    uint32_t compression = read_le(&bytes[BMP_COMPRESSION], 4);
    if (compression != BMP_RLE8 && compression != BMP_RLE4)
        return true;
    bool rle4 = compression == BMP_RLE4;
    if (read_le(&bytes[BMP_BIT_COUNT], 2) != (rle4 ? 4u : 8u))
        return false;
    // Sizes already checked: positive and small.
    long long w = read_le(&bytes[BMP_WIDTH], 4), h = read_le(&bytes[BMP_HEIGHT], 4);
    size_t pos = read_le(&bytes[BMP_DATA_OFFSET], 4);
    if (pos < BMP_INFO_END || pos > BMP_INFO_END + 256 * 4 || (pos - BMP_INFO_END) % 4 != 0)
        return false;
    long long x = 0, y = 0;
    while (pos + 2 <= bytes.size()) {
        int count = bytes[pos], code = bytes[pos + 1];
        pos += 2;
        if (count > 0) { // count pixels of one value (or two alternating nibbles)
            if (y >= h || x + count > w)
                return false;
            x += count;
        } else if (code == 0) { // end of row
            x = 0;
            if (++y > h)
                return false;
        } else if (code == 1) { // end of bitmap
            return true;
        } else if (code == 2) { // move right and down
            if (pos + 2 > bytes.size())
                return false;
            x += bytes[pos];
            y += bytes[pos + 1];
            pos += 2;
            if (x > w || y > h)
                return false;
        } else { // code pixels given one by one, padded to an even byte count
            size_t data = rle4 ? (size_t(code) + 1) / 2 : size_t(code);
            pos += data + (data & 1);
            if (y >= h || x + code > w || pos > bytes.size())
                return false;
            x += code;
        }
    }
    return false;
}

// The colour table of a paletted BMP at full 8 bits (the library's is 6):
// blue, green, red and a spare byte per entry after a 40-byte info header,
// without the spare byte after a 12-byte one; entries past the table black.
static void read_bmp_colours(const std::vector<uint8_t> &bytes, uint8_t colours[256][3])
{
    std::memset(colours, 0, 256 * 3);
    if (bytes.size() < BMP_INFO_END)
        return;
    size_t info = read_le(&bytes[BMP_INFO_SIZE], 4);
    size_t entry = info == 12 ? 3 : 4;
    size_t start = BMP_INFO_SIZE + info, end = read_le(&bytes[BMP_DATA_OFFSET], 4);
    end = end < bytes.size() ? end : bytes.size();
    for (size_t i = 0; i < 256 && start + (i + 1) * entry <= end; i++)
        for (int k = 0; k < 3; k++)
            colours[i][k] = bytes[start + i * entry + 2 - k];
}

// The bytes read once, handed to the library's loader as its file, so what
// was checked is what it reads.
struct memory_file {
    const std::vector<uint8_t> *bytes;
    size_t pos;
};

static memory_file &as_memory_file(void *userdata)
{
    return *static_cast<memory_file *>(userdata);
}

static const PACKFILE_VTABLE memory_file_vtable = {
    [](void *) { return 0; },
    [](void *u) {
        memory_file &m = as_memory_file(u);
        return m.pos < m.bytes->size() ? int((*m.bytes)[m.pos++]) : EOF;
    },
    [](int c, void *u) {
        memory_file &m = as_memory_file(u);
        return m.pos > 0 ? (--m.pos, c) : EOF;
    },
    [](void *p, long n, void *u) {
        memory_file &m = as_memory_file(u);
        size_t left = m.bytes->size() - m.pos;
        size_t count = n < 0 ? 0 : size_t(n) < left ? size_t(n) : left;
        std::memcpy(p, m.bytes->data() + m.pos, count);
        m.pos += count;
        return long(count);
    },
    [](int, void *) { return EOF; },
    [](const void *, long, void *) { return 0L; },
    [](void *u, int offset) {
        memory_file &m = as_memory_file(u);
        if (offset < 0)
            return -1;
        size_t left = m.bytes->size() - m.pos;
        m.pos += size_t(offset) < left ? size_t(offset) : left;
        return 0;
    },
    [](void *u) { return int(as_memory_file(u).pos >= as_memory_file(u).bytes->size()); },
    [](void *) { return 0; },
};

static BITMAP *load_image_bytes(const char *file, const std::vector<uint8_t> &bytes, RGB *pal)
{
    const char *dot = std::strrchr(file, '.');
    BITMAP *(*load)(PACKFILE *, RGB *) = !dot                           ? nullptr
                                         : strcasecmp(dot, ".bmp") == 0 ? load_bmp_pf
                                         : strcasecmp(dot, ".pcx") == 0 ? load_pcx_pf
                                         : strcasecmp(dot, ".tga") == 0 ? load_tga_pf
                                                                         : nullptr;
    memory_file source = {&bytes, 0};
    PACKFILE *pf = load ? pack_fopen_vtable(&memory_file_vtable, &source) : nullptr;
    if (!pf)
        return nullptr;
    // Indices stay indices: the colours are looked up at full precision.
    int conversion = get_color_conversion();
    set_color_conversion(COLORCONV_NONE);
    BITMAP *image = load(pf, pal);
    set_color_conversion(conversion);
    pack_fclose(pf);
    return image;
}

BITMAP *load_gradient_image(const char *file, uint8_t colours[256][3])
{
    std::vector<uint8_t> bytes;
    if (!read_regular_file(file, GRADIENT_FILE_MAX_BYTES, bytes) ||
        !check_image_size(file, bytes) || (is_bmp(file) && !check_bmp_layout(bytes)))
        return nullptr;
    PALETTE pal;
    std::memset(pal, 0, sizeof pal);
    BITMAP *image = load_image_bytes(file, bytes, pal);
    if (!image || bitmap_color_depth(image) != 8)
        return image;
    if (is_bmp(file)) {
        read_bmp_colours(bytes, colours);
    } else {
        for (int i = 0; i < 256; i++)
            for (int k = 0; k < 3; k++)
                colours[i][k] = uint8_t(_rgb_scale_6[(&pal[i].r)[k] & 63]);
    }
    return image;
}

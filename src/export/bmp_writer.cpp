// The BMP writer: an 8-bit bitmap as the library's BMP writer lays it out,
// and the patch that puts the exact 8-bit palette into such a file.
#include <allegro.h>
#include <array>

#include "export/export.h"
#include "export/writers.h"
#include "palette/tint_slots.h"

// The BMP colour table: 256 entries of blue, green, red, reserved, after
// the 14-byte file header and an info header of at least 40 bytes.
constexpr long BMP_HEADER_SIZE_OFFSET = 14;
constexpr long BMP_MIN_INFO_HEADER = 40;
constexpr long BMP_TABLE_BYTES = 256 * 4;

// Appends v as little-endian bytes.
static void put_le(std::vector<uint8_t> &out, uint32_t v, int bytes)
{
    for (int k = 0; k < bytes; k++)
        out.push_back(uint8_t(v >> (8 * k)));
}

// working_palette as a BMP colour table: blue, green, red, 0 per entry.
static std::array<uint8_t, BMP_TABLE_BYTES> make_bmp_table()
{
    std::array<uint8_t, BMP_TABLE_BYTES> bytes;
    for (int k = 0; k < 256; k++) {
        bytes[4 * k] = working_palette[k][2];
        bytes[4 * k + 1] = working_palette[k][1];
        bytes[4 * k + 2] = working_palette[k][0];
        bytes[4 * k + 3] = 0;
    }
    return bytes;
}

// Both headers, the exact palette as the colour table (where the library's
// writer puts the 6-bit one scaled up), then the rows from the bottom, each
// padded to four bytes.
size_t encode_bmp_file(BITMAP *bmp, std::vector<uint8_t> &out)
{
    uint32_t padding = uint32_t(3 - ((bmp->w - 1) & 3));
    uint32_t image = (uint32_t(bmp->w) + padding) * uint32_t(bmp->h);
    out.clear();
    out.reserve(14 + 40 + BMP_TABLE_BYTES + image);
    put_le(out, 0x4D42, 2); // "BM"
    put_le(out, uint32_t(14 + 40 + BMP_TABLE_BYTES) + image, 4);
    put_le(out, 0, 4);
    put_le(out, 14 + 40 + BMP_TABLE_BYTES, 4);
    for (uint32_t v : {40u, uint32_t(bmp->w), uint32_t(bmp->h)})
        put_le(out, v, 4);
    put_le(out, 1, 2); // planes
    put_le(out, 8, 2); // bits per pixel
    // No compression, the image size, 72 dpi both ways, 256 colours used and important.
    for (uint32_t v : {0u, image, 0xB12u, 0xB12u, 256u, 256u})
        put_le(out, v, 4);
    std::array<uint8_t, BMP_TABLE_BYTES> table = make_bmp_table();
    out.insert(out.end(), table.begin(), table.end());
    for (int y = bmp->h - 1; y >= 0; y--) {
        out.insert(out.end(), bmp->line[y], bmp->line[y] + bmp->w);
        out.insert(out.end(), padding, 0);
    }
    return out.size();
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

void modify_bmp_palette(const char *file)
{
    std::array<uint8_t, BMP_TABLE_BYTES> bytes = make_bmp_table();
    patch_palette_table(file, "modify_bmp_palette()", find_bmp_table, bytes.data(), bytes.size());
}

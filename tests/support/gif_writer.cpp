#include "support/gif_writer.h"

#include "fuzz/fuzz_bodies.h"

#include <map>

static void append_u16(byte_list &out, unsigned value)
{
    out.insert(out.end(), {uint8_t(value & 0xFF), uint8_t((value >> 8) & 0xFF)});
}

byte_list make_pixels(int w, int h, int colours, int seed)
{
    byte_list pixels(size_t(w) * h);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t((i * 7 / 3 + size_t(seed) + i / size_t(w)) % size_t(colours));
    return pixels;
}

// Seeded by the file position, so no two tables of a file are alike.
static void append_colour_table(byte_list &out, int bits)
{
    int seed = int(out.size());
    for (int i = 0; i < (1 << bits) && bits > 0; ++i)
        out.insert(out.end(), {uint8_t(i * 7 + seed), uint8_t(255 - i), uint8_t(seed * 31 + i * 3)});
}

byte_list make_gif_screen(unsigned w, unsigned h, int bits, int background)
{
    byte_list out = {'G', 'I', 'F', '8', '9', 'a'};
    append_u16(out, w), append_u16(out, h);
    out.insert(out.end(), {uint8_t(bits ? 0xEF + bits : 0x70), uint8_t(background), 0});
    append_colour_table(out, bits);
    return out;
}

void append_gce(byte_list &out, int disposal, int trans, int delay)
{
    append_extension(out, 0xF9, {uint8_t(disposal << 2 | (trans >= 0)), uint8_t(delay & 0xFF),
                                 uint8_t(delay >> 8), uint8_t(trans >= 0 ? trans : 0)});
}

void append_extension(byte_list &out, int label, const byte_list &first, const byte_list &more)
{
    out.insert(out.end(), {0x21, uint8_t(label), uint8_t(first.size())});
    out.insert(out.end(), first.begin(), first.end());
    append_sub_blocks(out, more);
}

void append_sub_blocks(byte_list &out, const byte_list &bytes, size_t block_size)
{
    for (size_t at = 0; at < bytes.size(); at += block_size) {
        size_t n = std::min(bytes.size() - at, block_size);
        out.push_back(uint8_t(n));
        out.insert(out.end(), bytes.begin() + long(at), bytes.begin() + long(at + n));
    }
    out.push_back(0);
}

byte_list pack_gif_codes(const std::vector<int> &codes, int min_code_size)
{
    const int clear = 1 << min_code_size;
    int width = min_code_size + 1, next_free = clear + 2, count = 0, fresh = 1;
    uint32_t bits = 0;
    byte_list out;
    for (int code : codes) {
        bits |= uint32_t(code & ((1 << width) - 1)) << count;
        for (count += width; count >= 8; count -= 8, bits >>= 8)
            out.push_back(uint8_t(bits));
        // Every code after the first (since a clear) defines an entry while
        // there is room; a full width grows up to 12.
        next_free = code == clear ? clear + 2 : next_free + (!fresh && next_free < (1 << width));
        width = code == clear ? min_code_size + 1 : width + (next_free >= (1 << width) && width < 12);
        fresh = code == clear;
    }
    if (count > 0)
        out.push_back(uint8_t(bits));
    return out;
}

byte_list encode_gif_lzw(const byte_list &pixels, int min_code_size)
{
    const int clear = 1 << min_code_size;
    std::vector<int> codes{clear};
    std::map<int, int> dict;
    int next_code = clear + 2, current = -1;
    for (uint8_t pixel : pixels) {
        if (current < 0) {
            current = pixel;
            continue;
        }
        int key = current << 8 | pixel;
        auto found = dict.find(key);
        if (found != dict.end()) {
            current = found->second;
            continue;
        }
        codes.push_back(current);
        if (next_code < 4096)
            dict[key] = next_code++;
        current = pixel;
    }
    if (current >= 0)
        codes.push_back(current);
    codes.push_back(clear + 1);
    return pack_gif_codes(codes, min_code_size);
}

void append_gif_descriptor(byte_list &out, unsigned x, unsigned y, unsigned w, unsigned h, int bits,
                           int min_code_size, bool interlace)
{
    out.push_back(0x2C);
    append_u16(out, x), append_u16(out, y), append_u16(out, w), append_u16(out, h);
    out.push_back(uint8_t((interlace ? 0x40 : 0) | (bits ? 0x7F + bits : 0)));
    append_colour_table(out, bits);
    out.push_back(uint8_t(min_code_size));
}

void append_gif_image(byte_list &out, unsigned x, unsigned y, unsigned w, unsigned h, int bits,
                      int min_code_size, const byte_list &pixels, bool interlace, size_t block_size)
{
    append_gif_descriptor(out, x, y, w, h, bits, min_code_size, interlace);
    byte_list stored = interlace ? byte_list() : pixels;
    static const unsigned starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
    for (int pass = 0; interlace && pass < 4; ++pass)
        for (unsigned row = starts[pass]; row < h; row += steps[pass])
            stored.insert(stored.end(), pixels.begin() + long(row * w), pixels.begin() + long((row + 1) * w));
    append_sub_blocks(out, encode_gif_lzw(stored, min_code_size), block_size);
}

std::string save_temp_gif(const std::string &name, const byte_list &bytes)
{
    std::string path = get_fuzz_work_dir() + "/" + name + ".gif";
    return write_fuzz_file(path, bytes.data(), bytes.size()) ? path : "";
}

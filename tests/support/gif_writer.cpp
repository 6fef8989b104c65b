#include "support/gif_writer.h"

#include <cstdio>
#include <unistd.h>
#include <unordered_map>

std::vector<gif_code> assign_gif_code_widths(const std::vector<int> &codes, int min_code_size)
{
    const int clear = 1 << min_code_size;
    const int first_free = clear + 2;
    int width = min_code_size + 1, limit = 1 << width, next_free = first_free;
    bool fresh = true;
    std::vector<gif_code> out;
    for (int code : codes) {
        out.push_back({code, width});
        if (code == clear) {
            width = min_code_size + 1;
            limit = 1 << width;
            next_free = first_free;
            fresh = true;
            continue;
        }
        if (code == clear + 1)
            continue;
        if (!fresh && next_free < limit)
            ++next_free;
        fresh = false;
        if (next_free >= limit && width < 12) {
            ++width;
            limit <<= 1;
        }
    }
    return out;
}

std::vector<gif_code> encode_gif_lzw(const std::vector<uint8_t> &pixels, int min_code_size,
                                     bool clear_when_full)
{
    const int clear = 1 << min_code_size;
    std::vector<int> codes{clear};
    std::unordered_map<int, int> dict;
    int next_code = clear + 2;
    int current = -1;
    for (uint8_t pixel : pixels) {
        if (current < 0) {
            current = pixel;
            continue;
        }
        int key = (current << 8) | pixel;
        auto found = dict.find(key);
        if (found != dict.end()) {
            current = found->second;
            continue;
        }
        codes.push_back(current);
        if (next_code < 4096)
            dict[key] = next_code++;
        if (clear_when_full && next_code == 4096) {
            codes.push_back(clear);
            dict.clear();
            next_code = clear + 2;
        }
        current = pixel;
    }
    if (current >= 0)
        codes.push_back(current);
    codes.push_back(clear + 1);
    return assign_gif_code_widths(codes, min_code_size);
}

std::vector<uint8_t> pack_gif_codes(const std::vector<gif_code> &codes)
{
    std::vector<uint8_t> out;
    uint32_t bits = 0;
    int count = 0;
    for (const gif_code &c : codes) {
        bits |= uint32_t(c.code & ((1 << c.width) - 1)) << count;
        count += c.width;
        while (count >= 8) {
            out.push_back(uint8_t(bits));
            bits >>= 8;
            count -= 8;
        }
    }
    if (count > 0)
        out.push_back(uint8_t(bits));
    return out;
}

std::vector<uint8_t> interlace_gif_rows(const std::vector<uint8_t> &pixels, int w, int h)
{
    static const int starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
    std::vector<uint8_t> out;
    for (int pass = 0; pass < 4; ++pass)
        for (int y = starts[pass]; y < h; y += steps[pass])
            out.insert(out.end(), pixels.begin() + size_t(y) * w, pixels.begin() + size_t(y + 1) * w);
    return out;
}

gif_image_spec make_gif_image(int x, int y, int w, int h, const std::vector<uint8_t> &pixels,
                              int min_code_size, bool interlace)
{
    gif_image_spec image;
    image.x = x;
    image.y = y;
    image.w = w;
    image.h = h;
    image.interlace = interlace;
    image.min_code_size = min_code_size;
    image.data = pack_gif_codes(
        encode_gif_lzw(interlace ? interlace_gif_rows(pixels, w, h) : pixels, min_code_size));
    return image;
}

static void put_u16(std::vector<uint8_t> *out, int value)
{
    out->push_back(uint8_t(value & 0xFF));
    out->push_back(uint8_t((value >> 8) & 0xFF));
}

// Packed-byte size bits for a table of 3 x 2^n bytes.
static int table_bits(size_t bytes)
{
    int bits = 1;
    while ((size_t(3) << bits) < bytes)
        ++bits;
    return bits - 1;
}

void write_gif_header(std::vector<uint8_t> *out, int w, int h,
                      const std::vector<uint8_t> &global_rgb, int background)
{
    const char *magic = "GIF89a";
    out->insert(out->end(), magic, magic + 6);
    put_u16(out, w);
    put_u16(out, h);
    out->push_back(global_rgb.empty() ? 0x70 : uint8_t(0xF0 | table_bits(global_rgb.size())));
    out->push_back(uint8_t(background));
    out->push_back(0);
    out->insert(out->end(), global_rgb.begin(), global_rgb.end());
}

void write_gif_gce(std::vector<uint8_t> *out, int disposal, bool transparent, int index,
                   int delay)
{
    write_gif_extension(out, 0xF9,
                        {uint8_t((disposal << 2) | (transparent ? 1 : 0)), uint8_t(delay & 0xFF),
                         uint8_t(delay >> 8), uint8_t(index)},
                        {});
}

void write_gif_extension(std::vector<uint8_t> *out, int label, const std::vector<uint8_t> &first,
                         const std::vector<std::vector<uint8_t>> &sub_blocks)
{
    out->push_back(0x21);
    out->push_back(uint8_t(label));
    out->push_back(uint8_t(first.size()));
    out->insert(out->end(), first.begin(), first.end());
    for (const auto &block : sub_blocks) {
        out->push_back(uint8_t(block.size()));
        out->insert(out->end(), block.begin(), block.end());
    }
    out->push_back(0);
}

void write_gif_image(std::vector<uint8_t> *out, const gif_image_spec &image)
{
    out->push_back(0x2C);
    put_u16(out, image.x);
    put_u16(out, image.y);
    put_u16(out, image.w);
    put_u16(out, image.h);
    uint8_t packed = image.interlace ? 0x40 : 0;
    if (!image.local_rgb.empty())
        packed |= uint8_t(0x80 | table_bits(image.local_rgb.size()));
    out->push_back(packed);
    out->insert(out->end(), image.local_rgb.begin(), image.local_rgb.end());
    out->push_back(uint8_t(image.min_code_size));
    for (size_t at = 0; at < image.data.size(); at += size_t(image.block_size)) {
        size_t n = std::min(image.data.size() - at, size_t(image.block_size));
        out->push_back(uint8_t(n));
        out->insert(out->end(), image.data.begin() + long(at), image.data.begin() + long(at + n));
    }
    if (image.terminate)
        out->push_back(0);
}

void write_gif_trailer(std::vector<uint8_t> *out)
{
    out->push_back(0x3B);
}

std::vector<uint8_t> make_gif_colour_table(int bits, int seed)
{
    std::vector<uint8_t> rgb;
    for (int i = 0; i < (1 << bits); ++i) {
        rgb.push_back(uint8_t(i * 7 + seed));
        rgb.push_back(uint8_t(255 - i));
        rgb.push_back(uint8_t(seed * 31 + i * 3));
    }
    return rgb;
}

std::string save_temp_gif(const std::string &name, const std::vector<uint8_t> &bytes)
{
    std::string path = "/tmp/huesmith_gif_" + std::to_string(getpid()) + "_" + name + ".gif";
    FILE *file = fopen(path.c_str(), "wb");
    if (!file)
        return path;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
    return path;
}

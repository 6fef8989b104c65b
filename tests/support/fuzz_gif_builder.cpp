#include "support/fuzz_gif_builder.h"

#include "fuzz/fuzz_bodies.h"

void append_u16(byte_list &out, unsigned value)
{
    out.push_back(uint8_t(value & 0xFF));
    out.push_back(uint8_t((value >> 8) & 0xFF));
}

void append_color_table(byte_list &out, int bits)
{
    for (int i = 0; i < (1 << bits); i++) {
        out.push_back(uint8_t(i));
        out.push_back(uint8_t(255 - i));
        out.push_back(uint8_t(i / 2));
    }
}

void append_gif_screen(byte_list &out, unsigned w, unsigned h, int global_bits,
                       int background)
{
    for (char c : std::string("GIF89a"))
        out.push_back(uint8_t(c));
    append_u16(out, w);
    append_u16(out, h);
    bool global = global_bits >= 1 && global_bits <= 8;
    out.push_back(uint8_t(global ? 0x80 | 0x70 | (global_bits - 1) : 0x70));
    out.push_back(uint8_t(background));
    out.push_back(0);
    if (global)
        append_color_table(out, global_bits);
}

void append_gce(byte_list &out, int disposal, int trans)
{
    out.insert(out.end(), {0x21, 0xF9, 0x04});
    out.push_back(uint8_t((disposal & 7) << 2 | (trans >= 0 ? 1 : 0)));
    append_u16(out, 10);
    out.push_back(uint8_t(trans >= 0 ? trans : 0));
    out.push_back(0);
}

void append_comment(byte_list &out, const std::string &text)
{
    out.insert(out.end(), {0x21, 0xFE});
    append_sub_blocks(out, byte_list(text.begin(), text.end()));
}

void append_sub_blocks(byte_list &out, const byte_list &bytes)
{
    size_t at = 0;
    while (at < bytes.size()) {
        size_t n = bytes.size() - at < 255 ? bytes.size() - at : 255;
        out.push_back(uint8_t(n));
        out.insert(out.end(), bytes.begin() + long(at), bytes.begin() + long(at + n));
        at += n;
    }
    out.push_back(0);
}

// Least significant bit first, as the decoder reads them.
static void put_code(byte_list &out, uint32_t &acc, int &bits, unsigned code, int width)
{
    acc |= uint32_t(code) << bits;
    bits += width;
    while (bits >= 8) {
        out.push_back(uint8_t(acc & 0xFF));
        acc >>= 8;
        bits -= 8;
    }
}

byte_list encode_gif_lzw(int min_code_size, const byte_list &pixels)
{
    byte_list out;
    uint32_t acc = 0;
    int bits = 0;
    const unsigned clear = 1u << min_code_size;
    const int width = min_code_size + 1;
    const unsigned limit = 1u << width;
    unsigned next_free = clear + 2;
    bool after_clear = true;
    put_code(out, acc, bits, clear, width);
    for (uint8_t pixel : pixels) {
        put_code(out, acc, bits, pixel, width);
        // The decoder adds an entry for every code but the first after a
        // clear; clearing before the table reaches the limit keeps the width.
        if (after_clear) {
            after_clear = false;
        } else if (++next_free + 1 >= limit) {
            put_code(out, acc, bits, clear, width);
            next_free = clear + 2;
            after_clear = true;
        }
    }
    put_code(out, acc, bits, clear + 1, width);
    if (bits > 0)
        out.push_back(uint8_t(acc & 0xFF));
    return out;
}

void append_gif_image(byte_list &out, unsigned x, unsigned y, unsigned w, unsigned h,
                      int local_bits, int min_code_size, const byte_list &pixels)
{
    out.push_back(0x2C);
    append_u16(out, x);
    append_u16(out, y);
    append_u16(out, w);
    append_u16(out, h);
    bool local = local_bits >= 1 && local_bits <= 8;
    out.push_back(uint8_t(local ? 0x80 | (local_bits - 1) : 0));
    if (local)
        append_color_table(out, local_bits);
    out.push_back(uint8_t(min_code_size));
    append_sub_blocks(out, encode_gif_lzw(min_code_size, pixels));
}

std::string write_hostile_file(const std::string &name, const byte_list &bytes)
{
    std::string path = get_fuzz_work_dir() + "/" + name;
    write_fuzz_file(path, bytes.data(), bytes.size());
    return path;
}

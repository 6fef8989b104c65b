// Writing GIF files byte by byte, for the data generator and the tests, which
// also write broken ones (never for the program itself, which only reads).
#pragma once

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <vector>

using gif_rgb = std::array<uint8_t, 3>;
using byte_list = std::vector<uint8_t>;

inline void append_gif_u16(byte_list &out, unsigned value)
{
    out.insert(out.end(), {uint8_t(value & 0xFF), uint8_t((value >> 8) & 0xFF)});
}

// Bits of a table of 2^bits entries (0 for none); true for no other size.
inline int count_gif_table_bits(const std::vector<gif_rgb> &table)
{
    int bits = 0;
    while (size_t(1) << bits < table.size())
        ++bits;
    return bits;
}

// "GIF89a" and the logical screen with a global table (none when empty).
inline byte_list make_gif_screen(unsigned w, unsigned h, const std::vector<gif_rgb> &table,
                                 int background)
{
    byte_list out = {'G', 'I', 'F', '8', '9', 'a'};
    append_gif_u16(out, w);
    append_gif_u16(out, h);
    int bits = count_gif_table_bits(table);
    out.insert(out.end(), {uint8_t(bits ? 0xEF + bits : 0x70), uint8_t(background), 0});
    for (const gif_rgb &c : table)
        out.insert(out.end(), c.begin(), c.end());
    return out;
}

// Bytes cut into sub-blocks of at most block_size, then the terminator.
inline void append_sub_blocks(byte_list &out, const byte_list &bytes, size_t block_size = 255)
{
    for (size_t at = 0; at < bytes.size(); at += block_size) {
        size_t n = std::min(bytes.size() - at, block_size);
        out.push_back(uint8_t(n));
        out.insert(out.end(), bytes.begin() + long(at), bytes.begin() + long(at + n));
    }
    out.push_back(0);
}

// An extension: its first block, then the sub-blocks of more.
inline void append_extension(byte_list &out, int label, const byte_list &first,
                             const byte_list &more = {})
{
    out.insert(out.end(), {0x21, uint8_t(label), uint8_t(first.size())});
    out.insert(out.end(), first.begin(), first.end());
    append_sub_blocks(out, more);
}

// Graphic control extension; trans -1 clears the transparency flag.
inline void append_gce(byte_list &out, int disposal, int trans, int delay = 0)
{
    append_extension(out, 0xF9, {uint8_t(disposal << 2 | (trans >= 0)), uint8_t(delay & 0xFF),
                                 uint8_t(delay >> 8), uint8_t(trans >= 0 ? trans : 0)});
}

// Codes packed least significant bit first, each at the width a decoder
// reads it at: every code but the first after a clear defines an entry
// while there is room, and a full width grows, up to 12 bits.
inline byte_list pack_gif_codes(const std::vector<int> &codes, int min_code_size)
{
    const int clear = 1 << min_code_size;
    int width = min_code_size + 1;
    int next_free = clear + 2;
    bool fresh = true; // no code since the clear
    int count = 0;     // bits waiting in bits
    uint32_t bits = 0;
    byte_list out;
    for (int code : codes) {
        bits |= uint32_t(code & ((1 << width) - 1)) << count;
        count += width;
        while (count >= 8) {
            out.push_back(uint8_t(bits));
            bits >>= 8;
            count -= 8;
        }
        if (code == clear) {
            next_free = clear + 2;
            width = min_code_size + 1;
        } else {
            if (!fresh && next_free < (1 << width))
                next_free++;
            if (next_free >= (1 << width) && width < 12)
                width++;
        }
        fresh = code == clear;
    }
    if (count > 0)
        out.push_back(uint8_t(bits));
    return out;
}

// Dictionary encoder: clear first, end last, and no clear when the table is
// full (12-bit codes go on without new entries, as decoders allow).
inline byte_list encode_gif_lzw(const byte_list &pixels, int min_code_size)
{
    const int clear = 1 << min_code_size;
    std::vector<int> codes{clear};
    std::map<int, int> dict;
    int next_code = clear + 2, current = -1;
    for (uint8_t pixel : pixels) {
        auto found = current < 0 ? dict.end() : dict.find(current << 8 | pixel);
        if (current >= 0 && found == dict.end()) {
            codes.push_back(current);
            if (next_code < 4096)
                dict[current << 8 | pixel] = next_code++;
        }
        current = found != dict.end() ? found->second : pixel;
    }
    if (current >= 0)
        codes.push_back(current);
    codes.push_back(clear + 1);
    return pack_gif_codes(codes, min_code_size);
}

// Row order in which an image's rows are stored: the four interlace passes,
// or top-down.
inline std::vector<int> list_gif_row_order(int h, bool interlace)
{
    std::vector<int> rows;
    static const int start[4] = {0, 4, 2, 1};
    static const int step[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < (interlace ? 4 : 1); pass++)
        for (int y = interlace ? start[pass] : 0; y < h; y += interlace ? step[pass] : 1)
            rows.push_back(y);
    return rows;
}

// Image descriptor, local table (none when empty) and code size byte.
inline void append_gif_descriptor(byte_list &out, unsigned x, unsigned y, unsigned w, unsigned h,
                                  const std::vector<gif_rgb> &local, int min_code_size,
                                  bool interlace = false)
{
    out.push_back(0x2C);
    append_gif_u16(out, x);
    append_gif_u16(out, y);
    append_gif_u16(out, w);
    append_gif_u16(out, h);
    int bits = count_gif_table_bits(local);
    out.push_back(uint8_t((interlace ? 0x40 : 0) | (bits ? 0x7F + bits : 0)));
    for (const gif_rgb &c : local)
        out.insert(out.end(), c.begin(), c.end());
    out.push_back(uint8_t(min_code_size));
}

// Descriptor and the pixels, given in display order (fewer than w x h are
// taken as they are), encoded.
inline void append_gif_image(byte_list &out, unsigned x, unsigned y, unsigned w, unsigned h,
                             const std::vector<gif_rgb> &local, int min_code_size,
                             const byte_list &pixels, bool interlace = false,
                             size_t block_size = 255)
{
    append_gif_descriptor(out, x, y, w, h, local, min_code_size, interlace);
    byte_list stored = interlace ? byte_list() : pixels;
    for (int row : interlace ? list_gif_row_order(int(h), true) : std::vector<int>())
        stored.insert(stored.end(), pixels.begin() + long(row * w),
                      pixels.begin() + long((row + 1) * w));
    append_sub_blocks(out, encode_gif_lzw(stored, min_code_size), block_size);
}

struct gif_out_frame {
    int x, y, w, h;                   // rectangle in the logical screen
    std::vector<uint8_t> pixels;      // w * h colour indices, rows top-down
    int delay;                        // hundredths of a second
    bool interlace;                   // store rows in the four-pass order
    std::vector<gif_rgb> local_table; // empty: the frame uses the global table
};

// Writes a looping animation, each frame left in place; false on any failure
// (the file may then be incomplete).
inline bool write_gif_file(const char *path, int w, int h, const std::vector<gif_rgb> &global_table,
                           const std::vector<gif_out_frame> &frames)
{
    byte_list gif = make_gif_screen(unsigned(w), unsigned(h), global_table, 0);
    append_extension(gif, 0xFF, {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'}, {1, 0, 0});
    for (const gif_out_frame &f : frames) {
        const std::vector<gif_rgb> &table = f.local_table.empty() ? global_table : f.local_table;
        append_gce(gif, 1, -1, f.delay);
        append_gif_image(gif, unsigned(f.x), unsigned(f.y), unsigned(f.w), unsigned(f.h),
                         f.local_table, std::max(2, count_gif_table_bits(table)), f.pixels,
                         f.interlace);
    }
    gif.push_back(0x3B);
    FILE *file = fopen(path, "wb");
    bool ok = file && fwrite(gif.data(), 1, gif.size(), file) == gif.size();
    return file && fclose(file) == 0 && ok;
}

// A giflib colour map from a table whose size is a power of two, 2 .. 256;
// null otherwise (for the benchmarks, which write with giflib's encoder).
inline ColorMapObject *make_gif_color_map(const std::vector<gif_rgb> &table)
{
    std::vector<GifColorType> colors(table.size());
    for (size_t i = 0; i < table.size(); i++)
        colors[i] = {table[i][0], table[i][1], table[i][2]};
    return GifMakeMapObject(static_cast<int>(table.size()), colors.data());
}

// Frames of an animation drawn as full w x h canvases: the first frame whole,
// each later one only the rectangle that differs from the canvas before it
// (a single pixel when nothing changed).
inline std::vector<gif_out_frame> crop_gif_frames(const std::vector<std::vector<uint8_t>> &canvases,
                                                  int w, int h, int delay)
{
    std::vector<gif_out_frame> frames;
    for (size_t i = 0; i < canvases.size(); i++) {
        int x0 = 0;
        int y0 = 0;
        int x1 = w - 1;
        int y1 = h - 1;
        if (i > 0) {
            // An empty box, grown to every pixel that changed.
            x0 = w;
            y0 = h;
            x1 = -1;
            y1 = -1;
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++) {
                    size_t at = static_cast<size_t>(y) * w + x;
                    if (canvases[i][at] == canvases[i - 1][at])
                        continue;
                    x0 = x < x0 ? x : x0;
                    x1 = x > x1 ? x : x1;
                    y0 = y < y0 ? y : y0;
                    y1 = y > y1 ? y : y1;
                }
            if (x1 < 0)
                x0 = x1 = y0 = y1 = 0;
        }
        gif_out_frame frame{x0, y0, x1 - x0 + 1, y1 - y0 + 1, {}, delay, false, {}};
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++)
                frame.pixels.push_back(canvases[i][static_cast<size_t>(y) * w + x]);
        frames.push_back(frame);
    }
    return frames;
}

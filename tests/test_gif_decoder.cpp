// The LZW decoder against the plain one in tests/support on valid, corrupt
// and cut streams, and every kept fuzz input through its target's body.
#include "support/checks.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>

namespace {

// Random numbers below n.
struct picker {
    std::mt19937 rng;
    int pick(int n) { return int(rng() % unsigned(n)); }
};

// Pixels a valid stream encodes. Kind 0: short runs and noise; kind 1: one
// index with rare specks, whose strings grow past 255; kind 2: one change of
// index near the end, where whole-word copies no longer fit; kind 5: noise.
byte_list make_stream_pixels(picker &p, int kind, int count, int colours, int seed)
{
    byte_list pixels;
    for (int i = 0; i < count; i++) {
        int value = 0;
        if (kind == 0)
            value = p.pick(3) > 0 ? i / 17 : p.pick(256);
        if (kind == 1)
            value = p.pick(20000) == 0 ? 0 : 1;
        if (kind == 2)
            value = i >= 30 + seed / 4 ? 1 : 0;
        if (kind == 5)
            value = p.pick(256);
        pixels.push_back(uint8_t(value % colours));
    }
    return pixels;
}

// Codes up to the next free one, now and then a clear code or a wild code
// anywhere in 0..4095, then mostly an end code.
byte_list make_corrupt_codes(picker &p, int code_size)
{
    const int clear = 1 << code_size;
    std::vector<int> codes = {clear};
    int next = clear + 2;
    int wild = p.pick(40);
    for (int n = p.pick(6000); n > 0; n--) {
        int roll = p.pick(1000);
        int code = p.pick(std::min(next, 4095) + 1);
        if (roll < wild)
            code = p.pick(4096);
        else if (roll < wild + 3)
            code = clear;
        codes.push_back(code);
        if (code == clear)
            next = clear + 2;
        else if (next < 4096)
            next++;
    }
    codes.push_back(p.pick(4) > 0 ? clear + 1 : clear);
    return pack_gif_codes(codes, code_size);
}

// Kinds 0..2 valid streams (at times of more or fewer pixels than kept),
// 3 corrupt codes, 4 random bytes; each in sub-blocks of any size, mostly
// with a terminator and bytes of what follows, at times cut anywhere.
// Kind 5: noise filling the decoder's window more than once, in blocks of
// 1 or 2 bytes, so that an end code spans blocks read before a refill.
TEST(GifDecoder, EveryKindOfStreamMatchesThePlainDecoder)
{
    picker p{std::mt19937(7)};
    const int counts[] = {400, 40, 240, 1200, 300, 16};
    for (int kind = 0; kind < 6; kind++) {
        for (int i = 0; i < counts[kind]; i++) {
            int size = kind < 3 ? 2 + p.pick(7) : p.pick(12);
            if (kind == 0 && i < 12)
                size = i;
            int w = p.pick(60) + 1;
            int h = p.pick(40) + 1;
            if (kind == 1) {
                w = 255;
                h = 255;
            }
            if (kind == 2) {
                w = 30 + i / 4 + (1 << i % 4);
                h = 1 + i % 2;
            }
            if (kind == 5) {
                size = 8;
                w = 200;
                h = 120 + i;
            }
            byte_list data;
            if (kind < 3 || kind == 5) {
                int count = w * h;
                if (kind == 0 && p.pick(4) == 0)
                    count += p.pick(50) - 4;
                int colours = 1 << std::min(size, 8);
                data = encode_gif_lzw(make_stream_pixels(p, kind, count, colours, i), size);
            }
            if (kind == 3)
                data = make_corrupt_codes(p, size);
            for (int n = kind == 4 ? p.pick(600) : 0; n > 0; n--)
                data.push_back(uint8_t(p.rng()));
            int flags = kind == 2 ? 1 : p.pick(4);
            byte_list input = {uint8_t(size), uint8_t(w), uint8_t(h), uint8_t(flags), 0};
            size_t block_size = kind == 5 ? 1 + p.pick(2) : 1 + p.pick(255);
            append_sub_blocks(input, data, block_size);
            if (p.pick(8) == 0)
                input.pop_back(); // no terminator
            for (int n = p.pick(6); n > 0; n--)
                input.push_back(uint8_t(p.rng()));
            if (kind >= 3 && p.pick(7) == 0)
                input.resize(size_t(5 + p.pick(int(input.size()) - 4)));
            std::string where = "kind " + std::to_string(kind) + ", case " + std::to_string(i);
            ASSERT_EQ(run_lzw_body(input.data(), input.size()), "") << where;
        }
    }
}

byte_list read_file_bytes(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return byte_list((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The kept inputs, the suite's files (written by other encoders), and a
// bitmap header of 12 x 116 at 24 bits with 12 bytes of pixels.
TEST(GifDecoder, EveryKeptFuzzInputPassesItsTargetsChecks)
{
    byte_list lying = {'B', 'M', 66, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0,
                       12,  0,   0,  0, 116, 0, 0, 0, 1, 0, 24};
    lying.resize(54);
    lying.resize(66, 9);
    EXPECT_EQ(run_palette_body(lying.data(), lying.size()), "");
    std::string kept = std::string(HUESMITH_SOURCE_DIR) + "/fuzz/regressions/";
    struct target {
        std::string dir;
        std::string (*body)(const uint8_t *, size_t);
    };
    const target targets[] = {
        {kept + "gif", run_gif_body},
        {GIF_SUITE_DIR, run_gif_body},
        {kept + "palette", run_palette_body},
        {kept + "lzw", run_lzw_body},
    };
    for (const target &t : targets) {
        for (const auto &entry : std::filesystem::directory_iterator(t.dir)) {
            if (!entry.is_regular_file())
                continue; // the suite's expected frames
            byte_list bytes = read_file_bytes(entry.path());
            EXPECT_EQ(t.body(bytes.data(), bytes.size()), "") << entry.path();
        }
    }
}

} // namespace

// The LZW decoder against the plain one in tests/support on valid and cut
// streams, and every kept fuzz input (corrupt ones) through its target's body.
#include "support/checks.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>

namespace {

std::mt19937 rng(7);

// A random number below n.
int pick(int n)
{
    return int(rng() % unsigned(n));
}

// Pixels a valid stream encodes. Kind 0: short runs and noise; kind 1: one
// index with rare specks, whose strings grow past 255; kind 2: one change of
// index near the end, where whole-word copies no longer fit; kind 3: noise.
byte_list make_stream_pixels(int kind, int count, int colours, int seed)
{
    byte_list pixels;
    for (int i = 0; i < count; i++) {
        int value = pick(256);
        if (kind == 0 && pick(3) > 0)
            value = i / 17;
        if (kind == 1)
            value = pick(20000) == 0 ? 0 : 1;
        if (kind == 2)
            value = i >= 30 + seed / 4 ? 1 : 0;
        pixels.push_back(uint8_t(value % colours));
    }
    return pixels;
}

// Kinds 0..2 in sub-blocks of any size, of kind 0 at times more or fewer
// pixels than kept. Kind 3: noise filling the string table and the
// decoder's window more than once, in blocks of 1 or 2 bytes, so that an end
// code spans blocks read before a refill. Mostly with a terminator and bytes
// of what follows, at times cut anywhere.
TEST(GifDecoder, EveryKindOfStreamMatchesThePlainDecoder)
{
    const int counts[] = {400, 40, 240, 16};
    for (int kind = 0; kind < 4; kind++) {
        for (int i = 0; i < counts[kind]; i++) {
            int size = 2 + pick(7);
            if (kind == 0 && i < 12)
                size = i;
            int w = kind == 1 ? 255 : pick(60) + 1;
            int h = kind == 1 ? 255 : pick(40) + 1;
            if (kind == 2) {
                w = 30 + i / 4 + (1 << i % 4);
                h = 1 + i % 2;
            }
            if (kind == 3) {
                size = 8;
                w = 200;
                h = 120 + i;
            }
            int count = w * h;
            if (kind == 0 && pick(4) == 0)
                count += pick(50) - 4;
            int colours = 1 << std::min(size, 8);
            byte_list data = encode_gif_lzw(make_stream_pixels(kind, count, colours, i), size);
            int flags = kind == 2 ? 1 : pick(2);
            byte_list input = {uint8_t(size), uint8_t(w), uint8_t(h), uint8_t(flags), 0};
            append_sub_blocks(input, data, kind == 3 ? 1 + pick(2) : 1 + pick(255));
            if (pick(8) == 0)
                input.pop_back(); // no terminator
            for (int n = pick(6); n > 0; n--)
                input.push_back(uint8_t(rng()));
            if (pick(7) == 0)
                input.resize(size_t(5 + pick(int(input.size()) - 4)));
            std::string where = "kind " + std::to_string(kind) + ", case " + std::to_string(i);
            ASSERT_EQ(run_lzw_body(input.data(), input.size()), "") << where;
        }
    }
}

// The kept inputs and the suite's files (written by other encoders).
TEST(GifDecoder, EveryKeptFuzzInputPassesItsTargetsChecks)
{
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
            std::ifstream in(entry.path(), std::ios::binary);
            byte_list bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            EXPECT_EQ(t.body(bytes.data(), bytes.size()), "") << entry.path();
        }
    }
}

} // namespace

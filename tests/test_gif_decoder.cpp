// Valid, corrupt and cut streams through the LZW fuzz body, and hostile
// inputs through the fuzz targets' bodies.
#include "support/checks.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>

// Kinds: 0 valid streams of every code size, at times with more or fewer
// pixels than the target; 1 long runs filling the table; 2 a run ending just
// before the bitmap's end, where whole-word copies no longer fit; 3 codes up
// to the next free one, clears, ends and wild codes; 4 random bytes.
TEST(GifDecoder, EveryKindOfStreamMatchesThePlainDecoder)
{
    std::mt19937 rng(7);
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    const int counts[] = {400, 40, 240, 1200, 300};
    for (int kind = 0; kind < 5; kind++)
        for (int i = 0; i < counts[kind]; i++) {
            int size = kind == 0 && i < 12 ? i : kind < 3 ? 2 + pick(7) : pick(12);
            int w = kind == 1 ? 200 : kind == 2 ? 30 + i / 4 + (1 << i % 4) : pick(60) + (kind < 3);
            int h = kind == 1 ? 150 : kind == 2 ? 1 + i % 2 : pick(40) + (kind < 3), run = 30 + i / 4;
            std::vector<int> codes{1 << size};
            byte_list pixels, data;
            for (int p = 0, n = w * h + (kind == 0 && !pick(4) ? pick(50) - 4 : 0); kind < 3 && p < n; p++)
                pixels.push_back(uint8_t((kind == 2 ? p >= run : kind == 1 ? p / (1 + i * 13) + !pick(50)
                                                                : pick(3) ? p / 17 : pick(256)) % (1 << std::min(size, 8))));
            for (int n = pick(6000), next = codes[0] + 2, wild = pick(40); kind == 3 && n > 0; n--) {
                int roll = pick(1000);
                codes.push_back(roll < wild ? pick(4096) : roll < wild + 3 ? codes[0] : pick(std::min(next, 4095) + 1));
                next = codes.back() == codes[0] ? codes[0] + 2 : next + (next < 4096);
            }
            codes.push_back(codes[0] + (pick(4) > 0)); // mostly an end code
            for (int n = pick(600); kind == 4 && n > 0; n--)
                data.push_back(uint8_t(rng()));
            data = kind < 3 ? encode_gif_lzw(pixels, size) : kind == 3 ? pack_gif_codes(codes, size) : data;
            // Sub-blocks of any size, mostly a terminator, bytes of what follows
            // the image, and now and then the file's end inside.
            byte_list input = {uint8_t(size), uint8_t(w), uint8_t(h), uint8_t(kind == 2 ? 0 : pick(4)),
                               uint8_t(pick(3) ? pick(4) : pick(256))};
            append_sub_blocks(input, data, size_t(1 + pick(255)));
            for (int n = pick(8) ? 0 : -1, extra = pick(6); n < extra; n++)
                n < 0 ? input.pop_back() : input.push_back(uint8_t(rng()));
            if (kind >= 3 && !pick(7))
                input.resize(5 + pick(int(input.size()) - 4));
            ASSERT_EQ(run_lzw_body(input.data(), input.size()), "") << "kind " << kind << ", case " << i;
        }
}

// The kept inputs, the suite's files (written by other encoders) and a
// bitmap header of 12 x 116 at 24 bits with 12 bytes of pixels.
TEST(GifDecoder, EveryKeptFuzzInputPassesItsTargetsChecks)
{
    byte_list lying = {'B', 'M', 66, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 12, 0, 0, 0, 116, 0, 0, 0, 1, 0, 24};
    lying.resize(54), lying.resize(66, 9);
    EXPECT_EQ(run_palette_body(lying.data(), lying.size()), "");
    std::string kept = std::string(HUESMITH_SOURCE_DIR) + "/fuzz/regressions/";
    for (auto [dir, body] : {std::pair{kept + "gif", run_gif_body}, {GIF_SUITE_DIR, run_gif_body},
                             {kept + "palshift", run_palshift_body}, {kept + "palette", run_palette_body},
                             {kept + "lzw", run_lzw_body}})
        for (const auto &entry : std::filesystem::directory_iterator(dir)) {
            if (!entry.is_regular_file())
                continue; // the suite's expected frames
            std::ifstream in(entry.path(), std::ios::binary);
            byte_list bytes((std::istreambuf_iterator<char>(in)), {});
            EXPECT_EQ(body(bytes.data(), bytes.size()), "") << entry.path();
        }
}

// The LZW decoder against a plain bit-by-bit, stack-based decoder (through
// the LZW fuzz target's body): for valid, corrupt and cut streams, run alone,
// with buffers kept from earlier images and straight into the rows, it must
// leave the same pixels in the target and the stream at the same place.
#include "fuzz/fuzz_bodies.h"
#include "common/checked_bitmap.h"
#include "gif/gif_lzw.h"
#include "support/gif_writer.h"

#include <allegro.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

struct decoder_case {
    std::string label;
    int min_code_size;
    int w, h; // up to 255
    int interlace;
    int trans;
    byte_list data; // everything from the first sub-block's size byte on
};

void expect_same_as_reference(const decoder_case &c)
{
    byte_list input = {uint8_t(c.min_code_size), uint8_t(c.w), uint8_t(c.h),
                       uint8_t((c.interlace ? 1 : 0) | (c.trans >= 0 ? 2 : 0)), uint8_t(c.trans)};
    input.insert(input.end(), c.data.begin(), c.data.end());
    EXPECT_EQ(run_lzw_body(input.data(), input.size()), "")
        << c.label << " (code size " << c.min_code_size << ", " << c.w << " x " << c.h << ", trans " << c.trans << ")";
}

// Data cut into sub-blocks of random sizes, then (mostly) the terminator and
// bytes that belong to whatever follows the image.
byte_list split_into_blocks(const byte_list &codes, std::mt19937 &rng, bool terminate)
{
    byte_list out;
    for (size_t at = 0; at < codes.size();) {
        size_t n = std::min<size_t>(codes.size() - at, 1 + rng() % 255);
        out.push_back(uint8_t(n));
        out.insert(out.end(), codes.begin() + long(at), codes.begin() + long(at + n));
        at += n;
    }
    if (terminate)
        out.push_back(0);
    for (unsigned k = rng() % 6; k > 0; --k)
        out.push_back(uint8_t(rng()));
    return out;
}

// Codes near the next free one, with clears, ends and wild values mixed in
// as often as asked.
std::vector<int> make_code_list(std::mt19937 &rng, int min_code_size, int count, int wild_per_1000)
{
    int clear = 1 << min_code_size, next = clear + 2;
    std::vector<int> codes{clear};
    for (int i = 0; i < count; i++) {
        int roll = int(rng() % 1000);
        if (roll < wild_per_1000)
            codes.push_back(int(rng() % 4096));
        else if (roll < wild_per_1000 + 3)
            codes.push_back(clear), next = clear + 2;
        else
            codes.push_back(int(rng() % unsigned(std::min(next, 4095) + 1))), next += next < 4096;
    }
    if (rng() % 4)
        codes.push_back(clear + 1);
    return codes;
}

class GifDecoder : public ::testing::Test {
protected:
    static void SetUpTestSuite() { start_fuzz_allegro(); }
};

TEST_F(GifDecoder, ValidStreamsOfEveryCodeSize)
{
    std::mt19937 rng(7);
    for (int i = 0; i < 400; i++) {
        decoder_case c{"valid " + std::to_string(i), 0, int(1 + rng() % 60), int(1 + rng() % 40),
                       int(rng() % 2), rng() % 3 ? -1 : int(rng() % 4), {}};
        c.min_code_size = i < 12 ? i : int(2 + rng() % 7);
        int colours = 1 << std::min(c.min_code_size, 8);
        // Runs and noise, sometimes more or fewer pixels than the target holds.
        size_t count = size_t(c.w * c.h) + (rng() % 4 == 0 ? rng() % 50 : 0) - (rng() % 4 == 0 ? rng() % 5 : 0);
        byte_list pixels;
        for (size_t p = 0; p < count; p++)
            pixels.push_back(uint8_t(rng() % 3 ? (p / 17) % unsigned(colours) : rng() % unsigned(colours)));
        c.data = split_into_blocks(encode_gif_lzw(pixels, c.min_code_size), rng, rng() % 8 != 0);
        expect_same_as_reference(c);
    }
}

TEST_F(GifDecoder, LongRunsFillTheTableAndCrossEveryBlockBoundary)
{
    std::mt19937 rng(11);
    for (int i = 0; i < 40; i++) {
        decoder_case c{"runs " + std::to_string(i), int(2 + rng() % 7), 200, 150, i % 2, i % 3 ? -1 : 1, {}};
        byte_list pixels;
        for (int p = 0; p < c.w * c.h; p++)
            pixels.push_back(uint8_t((p / (1 + i * 13) + (rng() % 50 == 0)) % 4));
        c.data = split_into_blocks(encode_gif_lzw(pixels, c.min_code_size), rng, true);
        expect_same_as_reference(c);
    }
}

TEST_F(GifDecoder, RunsEndingInTheBitmapsLastBytes)
{
    // A run of one index codes strings of growing length; ending it a few
    // pixels before the bitmap's end puts a long string where whole-word
    // copies no longer fit.
    std::mt19937 rng(5);
    for (int run = 30; run < 90; run++) {
        for (int tail : {1, 3, 7, 15}) {
            decoder_case c{"run " + std::to_string(run) + " + " + std::to_string(tail), 2, run + tail, 1 + run % 2,
                           0, -1, {}};
            byte_list pixels(size_t(run), 0);
            pixels.resize(size_t(c.w * c.h), 1);
            c.data = split_into_blocks(encode_gif_lzw(pixels, c.min_code_size), rng, true);
            expect_same_as_reference(c);
        }
    }
}

TEST_F(GifDecoder, CorruptCodesStaleEntriesAndCutChains)
{
    std::mt19937 rng(3);
    for (int i = 0; i < 1500; i++) {
        decoder_case c{"corrupt " + std::to_string(i), int(rng() % 12), int(rng() % 50), int(rng() % 30),
                       int(rng() % 2), rng() % 2 ? -1 : int(rng() % 256), {}};
        byte_list codes;
        if (i % 5 == 0) {
            for (unsigned n = rng() % 600; n > 0; --n)
                codes.push_back(uint8_t(rng()));
        } else {
            int wild = i % 5 == 1 ? 0 : int(rng() % 40);
            codes = pack_gif_codes(make_code_list(rng, c.min_code_size, int(rng() % 6000), wild), c.min_code_size);
        }
        c.data = split_into_blocks(codes, rng, rng() % 4 != 0);
        if (i % 7 == 0 && !c.data.empty())
            c.data.resize(rng() % c.data.size()); // the file ends inside the chain
        expect_same_as_reference(c);
    }
}

TEST_F(GifDecoder, EndCodeClosingABlockReadsTheNextOne)
{
    // Code size 3: clear, 0, end are three 4-bit codes; a pad code makes
    // the end code close the first block exactly.
    for (bool pad : {false, true}) {
        std::vector<int> codes{8, 0};
        if (pad)
            codes.push_back(0);
        codes.push_back(9);
        byte_list packed = pack_gif_codes(codes, 3);
        decoder_case c{pad ? "end closes the block" : "end inside the block", 3, 2, 1, 0, -1, {}};
        c.data.push_back(uint8_t(packed.size()));
        c.data.insert(c.data.end(), packed.begin(), packed.end());
        c.data.insert(c.data.end(), {2, 0x21, 0x2C, 0, 0x3B});
        expect_same_as_reference(c);
        FILE *file = tmpfile();
        BITMAP *target = create_checked_bitmap(8, c.w, c.h);
        ASSERT_TRUE(file && target);
        fwrite(c.data.data(), 1, c.data.size(), file);
        rewind(file);
        gif_decoder *decoder = make_gif_decoder();
        decode_gif_image(file, c.min_code_size, target, 0, -1, decoder);
        free_gif_decoder(decoder);
        EXPECT_EQ(ftell(file), long(packed.size()) + (pad ? 4 : 1)) << c.label;
        destroy_bitmap(target);
        fclose(file);
    }
}

} // namespace

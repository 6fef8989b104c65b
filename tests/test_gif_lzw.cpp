// The LZW decoder on raw code streams: clear-code handling, transparency,
// the end of the data chain, invalid code sizes and corrupt codes.
#include "gif/gif_lzw.h"
#include "support/gif_reference.h"
#include "support/gif_writer.h"

#include <allegro.h>
#include <gtest/gtest.h>

namespace {

struct decode_result {
    std::vector<uint8_t> pixels;
    long position; // stream position after the decoder returned
};

// Runs the decoder over bytes (starting at the first sub-block's size byte)
// into a w x h bitmap filled with 99.
decode_result run_decoder(const std::vector<uint8_t> &bytes, int min_code_size, int w, int h,
                          int trans = -1)
{
    start_gif_tests();
    std::vector<uint8_t> copy = bytes;
    FILE *file = fmemopen(copy.data(), copy.size(), "rb");
    BITMAP *target = create_bitmap_ex(8, w, h);
    clear_to_color(target, 99);
    decode_gif_image(file, min_code_size, target, 0, trans);
    decode_result result{{}, ftell(file)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            result.pixels.push_back(uint8_t(getpixel(target, x, y)));
    destroy_bitmap(target);
    fclose(file);
    return result;
}

// Codes (min size 2) split into sub-blocks of block_size, then a terminator
// and a marker byte 0xEE.
std::vector<uint8_t> make_chain(const std::vector<int> &codes, int block_size = 255,
                                bool terminate = true)
{
    std::vector<uint8_t> data = pack_gif_codes(assign_gif_code_widths(codes, 2));
    std::vector<uint8_t> out;
    for (size_t at = 0; at < data.size(); at += size_t(block_size)) {
        size_t n = std::min(data.size() - at, size_t(block_size));
        out.push_back(uint8_t(n));
        out.insert(out.end(), data.begin() + long(at), data.begin() + long(at + n));
    }
    if (terminate)
        out.push_back(0);
    out.push_back(0xEE);
    return out;
}

TEST(GifLzw, ClearCodesAndTheFirstCodeAfterThem)
{
    // clear, 1, 2, end: the first index comes before the next string.
    EXPECT_EQ(run_decoder(make_chain({4, 1, 2, 5}), 2, 2, 1).pixels, (std::vector<uint8_t>{1, 2}));
    // Runs of clears act as one; an end straight after a clear writes nothing.
    EXPECT_EQ(run_decoder(make_chain({4, 3, 4, 4, 4, 2, 4, 5}), 2, 4, 1).pixels,
              (std::vector<uint8_t>{3, 2, 99, 99}));
    // A first code that is not a single index becomes 0.
    EXPECT_EQ(run_decoder(make_chain({4, 7, 1, 5}), 2, 3, 1).pixels,
              (std::vector<uint8_t>{0, 1, 99}));
    // Without a leading clear the first code is one index that defines no
    // entry: 6 is then "1 2", as an encoder that omits the clear means it.
    EXPECT_EQ(run_decoder(make_chain({1, 2, 6, 5}), 2, 4, 1).pixels,
              (std::vector<uint8_t>{1, 2, 1, 2}));
}

TEST(GifLzw, TransparentIndexAndSurplusPixels)
{
    std::vector<uint8_t> chain = make_chain({4, 1, 2, 1, 2, 3, 3, 3, 3, 3, 5});
    EXPECT_EQ(run_decoder(chain, 2, 3, 2, 2).pixels, (std::vector<uint8_t>{1, 99, 1, 99, 3, 3}));
    EXPECT_EQ(run_decoder(chain, 2, 3, 2, -1).pixels, (std::vector<uint8_t>{1, 2, 1, 2, 3, 3}));
}

TEST(GifLzw, StreamPositionAfterTheEndCode)
{
    // Codes clear, 1, 2, 3 (3 bits) and 1, end (4 bits) use 20 bits: the end code ends
    // inside the third byte and the terminator stays unread.
    std::vector<uint8_t> mid = make_chain({4, 1, 2, 3, 1, 5});
    ASSERT_EQ(mid[0], 3);
    EXPECT_EQ(run_decoder(mid, 2, 5, 1).position, 4);
    // Eight codes fill exactly three bytes: the terminator is read as well.
    std::vector<uint8_t> exact = make_chain({4, 1, 4, 1, 4, 1, 4, 5});
    ASSERT_EQ(exact[0], 3);
    EXPECT_EQ(run_decoder(exact, 2, 4, 1).position, 5);
}

TEST(GifLzw, EndOfChainBeforeTheEndCode)
{
    // A terminator cuts the stream: pixels so far stay, the stream is left
    // after the terminator, before the marker.
    std::vector<uint8_t> cut = make_chain({4, 1, 2, 3, 3, 1, 2}, 1);
    decode_result result = run_decoder(cut, 2, 8, 1);
    EXPECT_EQ(result.pixels, (std::vector<uint8_t>{1, 2, 3, 3, 1, 2, 99, 99}));
    EXPECT_EQ(cut[size_t(result.position)], 0xEE);
    // End of file inside a sub-block keeps what was decoded.
    std::vector<uint8_t> eof = make_chain({4, 1, 2, 3, 3, 1, 2, 3, 3, 3}, 255, false);
    eof.resize(eof.size() - 2); // drop the marker and the last data byte
    eof[0] = 200;               // and claim more bytes than there are
    result = run_decoder(eof, 2, 10, 1);
    EXPECT_EQ(std::vector<uint8_t>(result.pixels.begin(), result.pixels.begin() + 6),
              (std::vector<uint8_t>{1, 2, 3, 3, 1, 2}));
    EXPECT_EQ(result.pixels.back(), 99);
    // An empty chain decodes nothing.
    EXPECT_EQ(run_decoder({0, 0xEE}, 2, 2, 1).position, 1);
}

TEST(GifLzw, UnusableCodeSizesSkipTheChain)
{
    std::vector<uint8_t> chain = make_chain({4, 1, 2, 5});
    chain.insert(chain.begin(), {2, 0xFF, 0xFF}); // an extra data block
    for (int size : {12, 255, -1}) {
        decode_result result = run_decoder(chain, size, 2, 1);
        EXPECT_EQ(result.pixels, (std::vector<uint8_t>{99, 99})) << size;
        EXPECT_EQ(chain[size_t(result.position)], 0xEE) << size;
    }
}

TEST(GifLzw, CorruptCodesStayInsideTheTables)
{
    // Codes past the next free code chain prefixes into loops; every code
    // width and every byte pattern must decode without leaving the tables.
    unsigned seed = 7;
    for (int size = 0; size <= GIF_LZW_MAX_MIN_CODE_SIZE; ++size)
        for (int round = 0; round < 20; ++round) {
            std::vector<uint8_t> chain;
            for (int block = 0; block < 8; ++block) {
                chain.push_back(255);
                for (int i = 0; i < 255; ++i) {
                    seed = seed * 1103515245u + 12345u;
                    chain.push_back(uint8_t(seed >> 16));
                }
            }
            chain.push_back(0);
            chain.push_back(0xEE);
            decode_result result = run_decoder(chain, size, 61, 37);
            EXPECT_LE(size_t(result.position), chain.size() - 1);
        }
    // Zero-sized targets consume the data and write nothing.
    std::vector<uint8_t> chain = make_chain({4, 1, 2, 3, 5});
    EXPECT_EQ(chain[size_t(run_decoder(chain, 2, 0, 3).position)], 0xEE);
    EXPECT_EQ(chain[size_t(run_decoder(chain, 2, 3, 0).position)], 0xEE);
}

} // namespace

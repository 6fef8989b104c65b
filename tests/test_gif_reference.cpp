// The reader against giflib on crafted files: palettes, graphic control,
// disposal, transparency, interlace, sub-rectangles and code-stream shapes.
#include "gif/gif_anim.h"
#include "support/gif_reference.h"
#include "support/gif_writer.h"

#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> make_pixels(int w, int h, int colours, int seed)
{
    std::vector<uint8_t> pixels(size_t(w) * h);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t((i * 7 / 3 + seed + i / size_t(w)) % size_t(colours));
    return pixels;
}

// Loads the file both ways and compares; returns the reader's record.
void expect_reader_matches_giflib(const std::string &name, const std::vector<uint8_t> &bytes)
{
    start_gif_tests();
    std::string path = save_temp_gif(name, bytes);
    gif_reference ref;
    std::string error;
    ASSERT_TRUE(build_gif_reference(path, &ref, &error)) << error;
    std::string text;
    gif_anim *anim = load_gif_captured(path, &text);
    expect_anim_matches(anim, ref);
    destroy_gif_anim(anim);
    remove(path.c_str());
}

TEST(GifReference, GlobalAndLocalTablesWithEveryDisposal)
{
    std::vector<uint8_t> gif;
    write_gif_header(&gif, 40, 30, make_gif_colour_table(4, 1), 5);
    write_gif_image(&gif, make_gif_image(0, 0, 40, 30, make_pixels(40, 30, 16, 0), 4));
    write_gif_gce(&gif, 2, true, 3, 10); // cleared to background after drawing
    gif_image_spec second = make_gif_image(5, 4, 12, 10, make_pixels(12, 10, 8, 1), 3);
    second.local_rgb = make_gif_colour_table(3, 9);
    write_gif_image(&gif, second);
    write_gif_gce(&gif, 3, true, 0, 20); // restored after drawing
    write_gif_image(&gif, make_gif_image(2, 2, 20, 20, make_pixels(20, 20, 4, 2), 2));
    write_gif_gce(&gif, 1, true, 1, 0);
    gif_image_spec fourth = make_gif_image(0, 0, 40, 30, make_pixels(40, 30, 3, 5), 2, true);
    fourth.local_rgb = make_gif_colour_table(2, 4);
    write_gif_image(&gif, fourth);
    write_gif_image(&gif, make_gif_image(30, 20, 10, 10, make_pixels(10, 10, 16, 7), 4));
    write_gif_trailer(&gif);
    expect_reader_matches_giflib("disposals", gif);
}

TEST(GifReference, NoGlobalTableUsesZeroFillAndSlotsFromZero)
{
    std::vector<uint8_t> gif;
    write_gif_header(&gif, 16, 16, {}, 7);
    write_gif_gce(&gif, 2, true, 2, 0); // transparent first image shows 0
    gif_image_spec first = make_gif_image(0, 0, 16, 16, make_pixels(16, 16, 4, 0), 2);
    first.local_rgb = make_gif_colour_table(2, 3);
    write_gif_image(&gif, first);
    write_gif_gce(&gif, 0, true, 1, 0);
    write_gif_image(&gif, make_gif_image(4, 4, 8, 8, make_pixels(8, 8, 4, 3), 2)); // no table
    gif_image_spec third = make_gif_image(1, 1, 5, 5, make_pixels(5, 5, 2, 1), 2);
    third.local_rgb = make_gif_colour_table(1, 6);
    write_gif_image(&gif, third);
    write_gif_trailer(&gif);
    expect_reader_matches_giflib("no_global", gif);
}

TEST(GifReference, GraphicControlAppliesToNextImageOnlyAndLastOneWins)
{
    std::vector<uint8_t> gif;
    write_gif_header(&gif, 10, 10, make_gif_colour_table(2, 0), 1);
    write_gif_gce(&gif, 2, true, 0, 99);
    write_gif_extension(&gif, 0xFE, {'h', 'i'}, {{'x', 'y', 'z'}, {1, 2}});
    write_gif_gce(&gif, 3, true, 2, 7); // replaces the first
    write_gif_image(&gif, make_gif_image(0, 0, 10, 10, make_pixels(10, 10, 4, 0), 2));
    write_gif_extension(&gif, 0xFF, {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'},
                        {{1, 0, 0}});
    write_gif_image(&gif, make_gif_image(2, 2, 6, 6, make_pixels(6, 6, 4, 1), 2)); // no GCE
    write_gif_gce(&gif, 2, false, 3, 4); // flag 0: index ignored
    write_gif_image(&gif, make_gif_image(0, 0, 10, 10, make_pixels(10, 10, 4, 2), 2));
    write_gif_image(&gif, make_gif_image(0, 0, 3, 3, make_pixels(3, 3, 4, 3), 2));
    write_gif_trailer(&gif);
    expect_reader_matches_giflib("gce_rules", gif);
}

TEST(GifReference, InterlacedHeightsAndSmallBlocks)
{
    std::vector<uint8_t> gif;
    write_gif_header(&gif, 12, 20, make_gif_colour_table(8, 2), 0);
    for (int h : {1, 2, 5, 10, 17}) {
        gif_image_spec image = make_gif_image(1, 2, 9, h, make_pixels(9, h, 200, h), 8, true);
        image.block_size = 1 + h; // codes run across many sub-blocks
        write_gif_image(&gif, image);
    }
    write_gif_trailer(&gif);
    expect_reader_matches_giflib("interlace", gif);
}

TEST(GifReference, ImagesReachingPastTheScreen)
{
    std::vector<uint8_t> gif;
    write_gif_header(&gif, 20, 10, make_gif_colour_table(3, 1), 6);
    write_gif_image(&gif, make_gif_image(0, 0, 20, 10, make_pixels(20, 10, 8, 0), 3));
    write_gif_gce(&gif, 2, true, 4, 0);
    write_gif_image(&gif, make_gif_image(15, 6, 9, 7, make_pixels(9, 7, 8, 1), 3));
    write_gif_gce(&gif, 3, true, 5, 0);
    write_gif_image(&gif, make_gif_image(25, 0, 4, 4, make_pixels(4, 4, 8, 2), 3));
    write_gif_gce(&gif, 0, true, 1, 0);
    write_gif_image(&gif, make_gif_image(10, 3, 30, 12, make_pixels(30, 12, 8, 3), 3));
    write_gif_trailer(&gif);
    expect_reader_matches_giflib("past_screen", gif);
}

TEST(GifReference, CodeStreamShapes)
{
    // Runs of clear codes mid-stream, a table filled to 4096 codes without
    // a clear, and an encoder that clears when full, in one file.
    std::vector<uint8_t> gif;
    write_gif_header(&gif, 128, 128, make_gif_colour_table(8, 3), 0);

    std::vector<int> raw{256, 256, 1, 2, 258, 256, 256, 256, 7, 7, 259, 9, 257};
    gif_image_spec clears;
    clears.w = 3;
    clears.h = 3;
    clears.data = pack_gif_codes(assign_gif_code_widths(raw, 8));
    write_gif_image(&gif, clears);

    std::vector<uint8_t> noisy(128 * 128);
    unsigned seed = 12345;
    for (uint8_t &p : noisy) {
        seed = seed * 1103515245u + 12345u;
        p = uint8_t((seed >> 16) & 0x3F);
    }
    gif_image_spec full;
    full.w = full.h = 128;
    full.data = pack_gif_codes(encode_gif_lzw(noisy, 8, false));
    write_gif_image(&gif, full);
    write_gif_image(&gif, make_gif_image(0, 0, 128, 128, noisy, 8));
    write_gif_trailer(&gif);
    expect_reader_matches_giflib("code_shapes", gif);
}

TEST(GifReference, SmallMinimumCodeSizes)
{
    std::vector<uint8_t> gif;
    write_gif_header(&gif, 24, 8, make_gif_colour_table(1, 3), 0);
    write_gif_image(&gif, make_gif_image(0, 0, 24, 8, make_pixels(24, 8, 2, 0), 1));
    write_gif_image(&gif, make_gif_image(0, 0, 24, 8, make_pixels(24, 8, 2, 1), 2));
    write_gif_trailer(&gif);
    expect_reader_matches_giflib("small_codes", gif);
}

} // namespace

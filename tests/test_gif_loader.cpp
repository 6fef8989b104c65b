// The loader's trace text and its behaviour on malformed files: huge
// screens, surplus images and tables, truncation, bad code sizes, empty
// images and files without frames.
#include "gif/address_text.h"
#include "gif/gif_anim.h"
#include "support/gif_reference.h"
#include "support/gif_writer.h"

#include <allegro.h>
#include <gtest/gtest.h>

namespace {

gif_anim *load_bytes(const std::string &name, const std::vector<uint8_t> &bytes,
                     std::string *text = nullptr)
{
    start_gif_tests();
    std::string path = save_temp_gif(name, bytes);
    std::string ignored;
    gif_anim *anim = load_gif_captured(path, text ? text : &ignored);
    remove(path.c_str());
    return anim;
}

std::vector<uint8_t> solid(int w, int h, uint8_t value)
{
    return std::vector<uint8_t>(size_t(w) * h, value);
}

TEST(GifLoader, ExactTraceOfASmallFile)
{
    std::vector<uint8_t> gif;
    write_gif_header(&gif, 3, 2, make_gif_colour_table(1, 0), 1);
    write_gif_extension(&gif, 0xFE, {'o', 'k'}, {});
    write_gif_gce(&gif, 0, true, 1, 25);
    write_gif_image(&gif, make_gif_image(0, 0, 3, 2, {0, 1, 0, 1, 0, 1}, 2));
    gif_image_spec second = make_gif_image(1, 1, 2, 1, {1, 0}, 2, true);
    second.local_rgb = make_gif_colour_table(2, 5);
    write_gif_image(&gif, second);
    write_gif_trailer(&gif);
    std::string text;
    gif_anim *anim = load_bytes("trace", gif, &text);
    ASSERT_NE(anim, nullptr);
    std::string descriptor_lines[2] = {
        "   gif_id.local_palette_flag  = 0\n   gif_id.interlace           = 0\n"
        "   gif_id.sort_flag           = 0\n   gif_id.palette_size        = 2\n"
        "   sz                         = 2\n",
        "   gif_id.local_palette_flag  = 1\n   gif_id.interlace           = 1\n"
        "   gif_id.sort_flag           = 0\n   gif_id.palette_size        = 4\n"
        "   sz                         = 4\n"};
    std::string expected =
        "num_frames   = 2\nnum_palettes = 2\ntotal size   = 24 + 48 + 1536 = 1608\n"
        "\n\n0x21 Extension Block\n   ???? 0xFE Skip that block\n"
        "\n\n0x21 Extension Block\n   0xF9 Graphic Control extension\n"
        "0x2C Image Descriptor\n" + descriptor_lines[0] +
        "   g->have_global_palette    = 1\n   gif_id.local_palette_flag = 0\n"
        "sub_bmp = (0, 0), w =3, h =2\n"
        "0x2C Image Descriptor\n" + descriptor_lines[1] +
        "   g->have_global_palette    = 1\n   gif_id.local_palette_flag = 1\n"
        "   reading local palette, size = 4\n"
        "sub_bmp = (1, 1), w =2, h =1\n"
        "\nframe   0\n   .pos   =   0,   0\n   .w, h  =   3,   2\n   .pal   = 0\n"
        "   .trans = 1\n   .delay = 25\n   .bmp   = 0x" + format_address(anim->frames[0].bmp) +
        "\n\nframe   1\n   .pos   =   1,   1\n   .w, h  =   2,   1\n   .pal   = 1\n"
        "   .trans = -1\n   .delay = 0\n   .bmp   = 0x" + format_address(anim->frames[1].bmp) +
        "\n";
    EXPECT_EQ(text, expected);
    EXPECT_EQ(format_address(anim->frames[0].bmp).size(), 2 * sizeof(void *));
    destroy_gif_anim(anim);
}

TEST(GifLoader, UnloadableFilesGiveNull)
{
    start_gif_tests();
    EXPECT_EQ(load_gif_anim("/nonexistent/none.gif"), nullptr);
    // A canvas whose byte size overflows the library's sizes.
    std::vector<uint8_t> gif;
    write_gif_header(&gif, 65535, 65535, make_gif_colour_table(1, 0), 0);
    write_gif_image(&gif, make_gif_image(0, 0, 1, 1, {1}, 2));
    write_gif_trailer(&gif);
    EXPECT_EQ(load_bytes("huge_screen", gif), nullptr);
    // An image too large for a bitmap fails with its own line.
    gif.clear();
    write_gif_header(&gif, 4, 4, make_gif_colour_table(1, 0), 0);
    write_gif_image(&gif, make_gif_image(0, 0, 65535, 65535, {1}, 2));
    std::string text;
    EXPECT_EQ(load_bytes("huge_image", gif, &text), nullptr);
    EXPECT_NE(text.find("sub_bmp = NULL\n"), std::string::npos);
}

TEST(GifLoader, FilesWithoutFramesOrWithEmptyImages)
{
    std::vector<uint8_t> gif;
    write_gif_header(&gif, 8, 8, {}, 0);
    write_gif_extension(&gif, 0xFF, {'x'}, {{1, 2, 3}});
    write_gif_trailer(&gif);
    std::string text;
    gif_anim *anim = load_bytes("no_frames", gif, &text);
    ASSERT_NE(anim, nullptr);
    EXPECT_EQ(anim->num_frames, 0);
    EXPECT_EQ(anim->frames, nullptr);
    EXPECT_EQ(anim->num_palettes, 1);
    EXPECT_EQ(text.find("\nframe"), std::string::npos);
    destroy_gif_anim(anim);

    gif.clear();
    write_gif_header(&gif, 6, 6, make_gif_colour_table(2, 0), 3);
    write_gif_image(&gif, make_gif_image(1, 1, 0, 4, {}, 2));
    write_gif_image(&gif, make_gif_image(1, 1, 5, 0, {}, 2));
    write_gif_image(&gif, make_gif_image(0, 0, 2, 2, {1, 2, 1, 2}, 2));
    write_gif_trailer(&gif);
    anim = load_bytes("empty_images", gif);
    ASSERT_NE(anim, nullptr);
    ASSERT_EQ(anim->num_frames, 3);
    EXPECT_EQ(anim->frames[0].bmp->w, 0);
    EXPECT_EQ(anim->frames[1].bmp->h, 0);
    EXPECT_EQ(read_frame_pixels(anim, 2), (std::vector<uint8_t>{1, 2, 1, 2}));
    destroy_gif_anim(anim);
}

TEST(GifLoader, SurplusImagesAndTablesAreIgnored)
{
    // A stray byte makes the pre-scan take the next bytes as a sub-block
    // chain, hiding two images with local tables from the count; the parser
    // meets all four images but fills only the two counted frame records and
    // the one counted palette slot.
    std::vector<uint8_t> hidden;
    for (int i = 0; i < 2; ++i) {
        gif_image_spec image = make_gif_image(0, 0, 2, 2, solid(2, 2, uint8_t(i + 1)), 2);
        image.local_rgb = make_gif_colour_table(2, 10 + i);
        write_gif_image(&hidden, image);
    }
    ASSERT_TRUE(hidden.size() < 256 && hidden.size() != 0x21 && hidden.size() != 0x2C &&
                hidden.size() != 0x3B);
    std::vector<uint8_t> gif;
    write_gif_header(&gif, 4, 4, {}, 0);
    gif.push_back(0x99);
    gif.push_back(uint8_t(hidden.size()));
    gif.insert(gif.end(), hidden.begin(), hidden.end());
    gif.push_back(0);
    write_gif_image(&gif, make_gif_image(0, 0, 4, 4, solid(4, 4, 3), 2));
    write_gif_image(&gif, make_gif_image(0, 0, 4, 4, solid(4, 4, 3), 2));
    write_gif_trailer(&gif);
    gif_anim *anim = load_bytes("surplus", gif);
    ASSERT_NE(anim, nullptr);
    ASSERT_EQ(anim->num_frames, 2);
    EXPECT_EQ(anim->num_palettes, 1);
    EXPECT_EQ(anim->frames[0].pal, 0);
    EXPECT_EQ(anim->frames[1].pal, -1);
    EXPECT_EQ(read_frame_pixels(anim, 1), solid(2, 2, 2));
    EXPECT_EQ(std::vector<uint8_t>(anim->palettes, anim->palettes + 12),
              std::vector<uint8_t>(make_gif_colour_table(2, 10)));
    destroy_gif_anim(anim);
}

TEST(GifLoader, TruncatedFilesKeepWhatWasRead)
{
    std::vector<uint8_t> pixels(20 * 20);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t((i * 5 + i / 7) % 8);
    std::vector<uint8_t> gif;
    write_gif_header(&gif, 20, 20, make_gif_colour_table(4, 0), 12);
    write_gif_image(&gif, make_gif_image(0, 0, 20, 20, pixels, 4));
    size_t whole = gif.size();
    // Cut inside the image data: a prefix decodes, the rest shows background.
    gif.resize(whole - 60);
    gif_anim *anim = load_bytes("cut_data", gif);
    ASSERT_NE(anim, nullptr);
    ASSERT_EQ(anim->num_frames, 1);
    std::vector<uint8_t> got = read_frame_pixels(anim, 0);
    size_t decoded = 0;
    while (decoded < got.size() && got[decoded] == pixels[decoded])
        ++decoded;
    EXPECT_GT(decoded, 20u);
    EXPECT_LT(decoded, got.size());
    EXPECT_EQ(std::vector<uint8_t>(got.begin() + long(decoded), got.end()),
              solid(1, int(got.size() - decoded), 12));
    destroy_gif_anim(anim);
    // Cut inside a second image's descriptor: that image never becomes a frame.
    gif.resize(whole);
    gif.insert(gif.end(), {0x2C, 0, 0, 0});
    anim = load_bytes("cut_descriptor", gif);
    ASSERT_NE(anim, nullptr);
    EXPECT_EQ(anim->num_frames, 1);
    destroy_gif_anim(anim);
}

TEST(GifLoader, UnusableCodeSizesLeaveTheImageUndecoded)
{
    std::vector<uint8_t> gif;
    write_gif_header(&gif, 4, 4, make_gif_colour_table(2, 0), 2);
    for (int size : {12, 255}) {
        gif_image_spec bad = make_gif_image(0, 0, 4, 4, solid(4, 4, 1), 2);
        bad.min_code_size = size;
        write_gif_image(&gif, bad);
    }
    gif_image_spec zero = make_gif_image(0, 0, 4, 4, solid(4, 4, 1), 2);
    zero.min_code_size = 0; // decoded as size-0 codes: anything but a crash
    write_gif_image(&gif, zero);
    write_gif_image(&gif, make_gif_image(0, 0, 4, 4, solid(4, 4, 3), 2));
    write_gif_trailer(&gif);
    gif_anim *anim = load_bytes("code_sizes", gif);
    ASSERT_NE(anim, nullptr);
    ASSERT_EQ(anim->num_frames, 4);
    EXPECT_EQ(read_frame_pixels(anim, 0), solid(4, 4, 2));
    EXPECT_EQ(read_frame_pixels(anim, 1), solid(4, 4, 2));
    EXPECT_EQ(read_frame_pixels(anim, 3), solid(4, 4, 3));
    destroy_gif_anim(anim);
}

TEST(GifLoader, RandomBytesAfterAHeaderNeverCrash)
{
    unsigned seed = 99;
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> gif;
        write_gif_header(&gif, 1 + round % 40, 1 + round % 30, make_gif_colour_table(3, 0), 0);
        int length = 20 + round * 5;
        for (int i = 0; i < length; ++i) {
            seed = seed * 1103515245u + 12345u;
            int r = int(seed >> 16) & 0xFF;
            // Small values keep image sizes small; structure bytes appear often.
            int byte = r % 8;
            if (i % 11 == 0)
                byte = 0x2C;
            else if (i % 13 == 0)
                byte = 0x21;
            gif.push_back(uint8_t(byte));
        }
        gif_anim *anim = load_bytes("random", gif);
        if (anim) {
            for (int i = 0; i < anim->num_frames; ++i)
                EXPECT_NE(anim->frames[i].bmp, nullptr);
        }
        destroy_gif_anim(anim);
    }
}

} // namespace

// The reader against giflib on crafted files, and on the sample suite against
// its expected PNG frames.
#include "gif/gif_anim.h"
#include "support/gif_reference.h"

#include <allegro.h>
#include <gtest/gtest.h>
#include <png.h>

namespace {

// The bytes, with a trailer, through both readers.
void expect_reader_matches_giflib(const std::string &name, byte_list bytes)
{
    bytes.push_back(0x3B);
    gif_reference ref;
    ASSERT_TRUE(build_gif_reference(save_temp_gif(name, bytes), &ref)) << name;
    gif_anim *anim = load_gif_captured(save_temp_gif(name, bytes));
    expect_anim_matches(anim, ref);
    destroy_gif_anim(anim);
}

TEST(GifReference, EveryDisposalSequenceMatchesGiflib)
{
    // Four images, the later ones transparent in places, so that each frame
    // shows what every earlier image and disposal left on the canvas: the
    // first image only, or the fill, whatever the order of disposals.
    for (int sequence = 0; sequence < 64; sequence++) {
        byte_list gif = make_gif_screen(12, 10, 2, 3);
        append_gce(gif, sequence % 4, -1);
        append_gif_image(gif, 2, 1, 8, 6, 0, 2, make_pixels(8, 6, 4, 0));
        append_gce(gif, sequence / 4 % 4, 3);
        append_gif_image(gif, 0, 0, 12, 10, 0, 2, make_pixels(12, 10, 4, 1));
        append_gce(gif, sequence / 16, 2);
        append_gif_image(gif, 4, 3, 6, 5, 0, 2, make_pixels(6, 5, 4, 2));
        append_gce(gif, 0, 1);
        append_gif_image(gif, 0, 0, 12, 10, 0, 2, make_pixels(12, 10, 4, 3));
        expect_reader_matches_giflib("disposals " + std::to_string(sequence), gif);
    }
}

TEST(GifReference, CraftedFilesMatchGiflib)
{
    // Global and local tables, disposal 0-3, control blocks that apply to
    // the next image only (the last before it wins, flag 0 ignores the
    // index), skipped comment and application blocks, interlaced images of
    // several heights in small sub-blocks, and images past the screen.
    byte_list gif = make_gif_screen(40, 30, 4, 5);
    append_gif_image(gif, 0, 0, 40, 30, 0, 4, make_pixels(40, 30, 16, 0));
    append_gce(gif, 2, 3, 10);
    append_gif_image(gif, 5, 4, 12, 10, 3, 3, make_pixels(12, 10, 8, 1));
    append_gce(gif, 1, 2, 99);
    append_extension(gif, 0xFE, {'h', 'i'}, {'x', 'y', 'z'});
    append_gce(gif, 3, 0, 20);
    append_gif_image(gif, 2, 2, 20, 20, 0, 2, make_pixels(20, 20, 4, 2));
    append_extension(gif, 0xFF, {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'}, {1, 0, 0});
    append_gif_image(gif, 3, 1, 9, 6, 0, 4, make_pixels(9, 6, 16, 3));
    append_gce(gif, 2, -1, 4);
    for (int h : {1, 2, 5, 10, 17})
        append_gif_image(gif, 1, 2, 9, h, 2, 2, make_pixels(9, h, 4, h), true, size_t(1 + h));
    append_gce(gif, 2, 4, 0);
    append_gif_image(gif, 35, 26, 9, 7, 0, 4, make_pixels(9, 7, 8, 1));
    append_gce(gif, 3, 5, 0);
    append_gif_image(gif, 45, 0, 4, 4, 0, 4, make_pixels(4, 4, 8, 2));
    append_gce(gif, 0, 1, 0);
    append_gif_image(gif, 10, 3, 40, 32, 0, 4, make_pixels(40, 32, 8, 3));
    expect_reader_matches_giflib("tables", gif);

    // pal -1 without a local table, local tables from slot 0, the last slot
    // zero, transparent pixels and disposal 2 showing index 0; runs of clear
    // codes, a table filled to 4096 codes without a clear, code sizes 1, 2.
    byte_list noisy(128 * 128);
    gif = make_gif_screen(128, 128, 0, 7);
    append_gce(gif, 2, 2);
    append_gif_image(gif, 0, 0, 16, 16, 2, 2, make_pixels(16, 16, 4, 0));
    append_gce(gif, 0, 1);
    append_gif_image(gif, 4, 4, 8, 8, 0, 2, make_pixels(8, 8, 4, 3));
    append_gif_image(gif, 1, 1, 5, 5, 1, 2, make_pixels(5, 5, 2, 1));
    append_gif_descriptor(gif, 0, 0, 3, 3, 0, 8);
    append_sub_blocks(gif, pack_gif_codes({256, 256, 1, 2, 258, 256, 256, 256, 7, 7, 259, 9, 257}, 8));
    unsigned seed = 12345;
    for (uint8_t &p : noisy)
        p = uint8_t(((seed = seed * 1103515245u + 12345u) >> 16) & 0x3F);
    append_gif_image(gif, 0, 0, 128, 128, 0, 8, noisy);
    append_gif_image(gif, 0, 0, 24, 8, 0, 1, make_pixels(24, 8, 2, 0));
    append_gif_image(gif, 0, 0, 24, 8, 0, 2, make_pixels(24, 8, 4, 1));
    expect_reader_matches_giflib("no_global", gif);
}

// Suite frames composited on a running canvas of the frame bitmaps: the
// pixels a frame changed, coloured through its slot, match the expected
// PNG where that is opaque.
class GifSuite : public testing::TestWithParam<const char *> {};

TEST_P(GifSuite, FramesMatchTheExpectedPngs)
{
    std::string name = GetParam(), dir = GIF_SUITE_DIR;
    gif_anim *anim = load_gif_captured(dir + "/" + name + ".gif");
    ASSERT_NE(anim, nullptr);
    bool single = name.rfind("static", 0) == 0;
    ASSERT_EQ(anim->num_frames, single ? 1 : 4);
    std::vector<int> canvas(size_t(anim->w) * anim->h, -1);
    int compared = 0;
    for (int i = 0; i < anim->num_frames; ++i) {
        const gif_frame &f = anim->frames[i];
        ASSERT_GE(f.pal, 0);
        std::vector<bool> changed(canvas.size(), false);
        for (int y = 0; y < f.h && f.pos.y + y < anim->h; ++y)
            for (int x = 0, at = (f.pos.y + y) * anim->w + f.pos.x; x < f.w && f.pos.x + x < anim->w; ++x, ++at) {
                changed[size_t(at)] = canvas[size_t(at)] != f.bmp->line[y][x];
                canvas[size_t(at)] = f.bmp->line[y][x];
            }
        std::string png_path = dir + "/frames/" + name + (single ? "" : "-" + std::to_string(i)) + ".png";
        png_image png{};
        png.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_file(&png, png_path.c_str())) << png_path;
        png.format = PNG_FORMAT_RGBA;
        ASSERT_EQ(std::make_pair(int(png.width), int(png.height)), std::make_pair(anim->w, anim->h));
        byte_list rgba(PNG_IMAGE_SIZE(png));
        ASSERT_TRUE(png_image_finish_read(&png, nullptr, rgba.data(), 0, nullptr));
        int wrong = 0;
        for (size_t p = 0; p < canvas.size(); ++p) {
            const uint8_t *rgb = anim->palettes + size_t(f.pal) * GIF_PALETTE_BYTES + std::max(canvas[p], 0) * 3;
            bool checked = changed[p] && rgba[p * 4 + 3] == 255;
            compared += checked;
            wrong += checked && !std::equal(rgb, rgb + 3, &rgba[p * 4]);
        }
        EXPECT_EQ(wrong, 0) << png_path;
    }
    EXPECT_GT(compared, 0);
    destroy_gif_anim(anim);
}

INSTANTIATE_TEST_SUITE_P(
    All, GifSuite,
    testing::Values("animated_loop", "animated_loop_interlaced", "animated_loop_variable_delay",
                    "animated_noloop", "animated_transparent_firstframerestoreprev_loop",
                    "animated_transparent_frame_norestore_loop",
                    "animated_transparent_frame_restorebackground_loop",
                    "animated_transparent_frame_restoreprev_loop", "animated_transparent_loop",
                    "animated_transparent_loop_frames_out_of_bounds",
                    "animated_transparent_restoreprev_loop", "static_nontransparent",
                    "static_transparent"));

} // namespace

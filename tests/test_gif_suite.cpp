// The reader on the sample GIF suite: frames composited as the viewer puts
// them on a running canvas match the expected PNG frames on opaque pixels.
#include "gif/gif_anim.h"
#include "support/gif_reference.h"

#include <allegro.h>
#include <cstdio>
#include <gtest/gtest.h>
#include <png.h>

namespace {

struct rgba_image {
    int w = 0, h = 0;
    std::vector<uint8_t> rgba;
};

bool read_png(const std::string &path, rgba_image *image)
{
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str()))
        return false;
    png.format = PNG_FORMAT_RGBA;
    image->w = int(png.width);
    image->h = int(png.height);
    image->rgba.assign(PNG_IMAGE_SIZE(png), 0);
    return png_image_finish_read(&png, nullptr, image->rgba.data(), 0, nullptr) != 0;
}

void check_suite_file(const std::string &name, const std::vector<std::string> &pngs)
{
    start_gif_tests();
    std::string text;
    gif_anim *anim = load_gif_captured(std::string(GIF_SUITE_DIR) + "/" + name + ".gif", &text);
    ASSERT_NE(anim, nullptr);
    ASSERT_EQ(anim->num_frames, int(pngs.size()));
    int total_compared = 0;
    // Running canvas of the frame bitmaps as placed. A frame's bitmap also
    // holds what earlier frames left in its rectangle, in their own tables'
    // indices; only the pixels a frame changed are its own, so only those
    // are coloured through its slot and compared.
    std::vector<int> index_canvas(size_t(anim->w) * anim->h, -1);
    for (int i = 0; i < anim->num_frames; ++i) {
        const gif_frame &frame = anim->frames[i];
        ASSERT_GE(frame.pal, 0);
        std::vector<bool> changed(index_canvas.size(), false);
        for (int y = 0; y < frame.h; ++y)
            for (int x = 0; x < frame.w; ++x) {
                int cx = frame.pos.x + x, cy = frame.pos.y + y;
                if (cx >= anim->w || cy >= anim->h)
                    continue;
                size_t at = size_t(cy) * anim->w + cx;
                int index = getpixel(frame.bmp, x, y);
                changed[at] = index_canvas[at] != index;
                index_canvas[at] = index;
            }
        rgba_image png;
        ASSERT_TRUE(read_png(std::string(GIF_SUITE_DIR) + "/frames/" + pngs[size_t(i)], &png));
        ASSERT_EQ(png.w, anim->w);
        ASSERT_EQ(png.h, anim->h);
        int compared = 0, wrong = 0;
        // Outside the frame's rectangle the expected frame also shows the
        // disposal of earlier frames, which no frame bitmap holds.
        for (size_t p = 0; p < size_t(png.w) * png.h; ++p) {
            if (!changed[p] || png.rgba[p * 4 + 3] != 255)
                continue;
            ++compared;
            const uint8_t *rgb = anim->palettes + size_t(frame.pal) * GIF_PALETTE_BYTES +
                                 index_canvas[p] * 3;
            for (int c = 0; c < 3; ++c)
                wrong += rgb[c] != png.rgba[p * 4 + c];
        }
        total_compared += compared;
        EXPECT_EQ(wrong, 0) << pngs[size_t(i)];
    }
    EXPECT_GT(total_compared, 0);
    destroy_gif_anim(anim);
}

class GifSuite : public testing::TestWithParam<const char *> {};

TEST_P(GifSuite, FramesMatchTheExpectedPngs)
{
    std::string name = GetParam();
    std::vector<std::string> pngs;
    if (name.rfind("static", 0) == 0)
        pngs.push_back(name + ".png");
    else
        for (int i = 0; i < 4; ++i)
            pngs.push_back(name + "-" + std::to_string(i) + ".png");
    check_suite_file(name, pngs);
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

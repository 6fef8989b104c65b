// Whole screens composed from the reader's frames, against giflib's decode
// drawn by the GIF rules, and the test for frames drawn over earlier ones.
#include "gif/gif_anim.h"
#include "gif/gif_compose.h"
#include "support/checks.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

// giflib's frames drawn one over another: the screen starts as the
// background index, transparent pixels leave it, and after each frame its
// disposal clears its rectangle (2) or puts back what was there (3).
std::vector<byte_list> compose_with_giflib(const char *path)
{
    int error = 0;
    GifFileType *file = DGifOpenFileName(path, &error);
    std::vector<byte_list> screens;
    if (!file || DGifSlurp(file) != GIF_OK)
        return screens;
    int w = file->SWidth;
    int h = file->SHeight;
    uint8_t background = uint8_t(file->SBackGroundColor);
    byte_list screen(size_t(w) * size_t(h), background);
    for (int i = 0; i < file->ImageCount; i++) {
        const SavedImage &image = file->SavedImages[i];
        const GifImageDesc &desc = image.ImageDesc;
        GraphicsControlBlock control = {DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
        DGifSavedExtensionToGCB(file, i, &control);
        byte_list before = screen;
        byte_list cleared = screen;
        // What lies past the screen's edges is cut.
        for (int y = desc.Top; y < desc.Top + desc.Height && y < h; y++)
            for (int x = desc.Left; x < desc.Left + desc.Width && x < w; x++) {
                uint8_t p = image.RasterBits[(y - desc.Top) * desc.Width + x - desc.Left];
                size_t at = size_t(y) * size_t(w) + size_t(x);
                if (p != control.TransparentColor)
                    screen[at] = p;
                cleared[at] = background;
            }
        screens.push_back(screen);
        if (control.DisposalMode == DISPOSE_PREVIOUS)
            screen = before;
        if (control.DisposalMode == DISPOSE_BACKGROUND)
            screen = cleared;
    }
    DGifCloseFile(file, &error);
    return screens;
}

void write_file(const char *path, const byte_list &bytes)
{
    FILE *file = fopen(path, "wb");
    ASSERT_NE(file, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

// The program's reader on a file, its trace dropped.
gif_anim *load_quietly(const char *path)
{
    FILE *file = fopen(path, "rb");
    byte_list bytes;
    for (int c = file ? fgetc(file) : EOF; c != EOF; c = fgetc(file))
        bytes.push_back(uint8_t(c));
    if (file)
        fclose(file);
    return load_gif_bytes(bytes);
}

// The composed record: every frame the whole screen at (0, 0), each what
// giflib's decode shows, delays kept.
void check_whole_frames(const char *path)
{
    std::vector<byte_list> expected = compose_with_giflib(path);
    gif_anim *anim = load_quietly(path);
    ASSERT_NE(anim, nullptr);
    gif_anim *whole = coalesce_gif_anim(anim);
    ASSERT_NE(whole, nullptr);
    ASSERT_EQ(whole->num_frames, int(expected.size()));
    for (int i = 0; i < whole->num_frames; i++) {
        const gif_frame &frame = whole->frames[i];
        EXPECT_EQ(frame.pos.x, 0);
        EXPECT_EQ(frame.pos.y, 0);
        EXPECT_EQ(frame.w, anim->w);
        EXPECT_EQ(frame.h, anim->h);
        EXPECT_EQ(frame.delay, anim->frames[i].delay);
        EXPECT_EQ(read_frame_pixels(whole, i), expected[size_t(i)]) << "frame " << i;
    }
    destroy_gif_anim(whole);
    destroy_gif_anim(anim);
}

struct ComposeTest : ::testing::Test {
    char dir[29] = "/tmp/huesmith_compose_XXXXXX";
    void SetUp() override
    {
        ASSERT_NE(mkdtemp(dir), nullptr);
        ASSERT_EQ(chdir(dir), 0);
    }
    void TearDown() override
    {
        std::string remove = std::string("rm -rf ") + dir;
        EXPECT_EQ(std::system(remove.c_str()), 0);
    }
};

// An optimised GIF as PIL saves one: partial frames, disposals 1 and 2,
// index 0 transparent.
TEST_F(ComposeTest, OptimisedGifFromPilGivesTheFramesAViewerShows)
{
    std::string make = std::string("/usr/bin/python3 ") + HUESMITH_SOURCE_DIR +
                       "/tests/support/make_optimised_gif.py optimised.gif";
    ASSERT_EQ(std::system(make.c_str()), 0);
    check_whole_frames("optimised.gif");
    gif_anim *anim = load_quietly("optimised.gif");
    ASSERT_NE(anim, nullptr);
    EXPECT_TRUE(detect_partial_frames(anim));
    destroy_gif_anim(anim);
}

// Disposal 3 between two others, a frame reaching past the screen, and a
// transparent pixel over each kind of screen.
TEST_F(ComposeTest, RestoreToPreviousAndFramesPastTheEdge)
{
    std::vector<gif_rgb> table = test_colours(2);
    for (int first = 0; first < 4; first++) {
        SCOPED_TRACE(testing::Message() << "first disposal " << first);
        byte_list gif = make_gif_screen(4, 3, table, 0);
        append_gce(gif, first, -1, 5);
        append_gif_image(gif, 0, 0, 4, 3, {}, 2, {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3});
        append_gce(gif, 3, 0, 6);
        append_gif_image(gif, 1, 1, 2, 2, {}, 2, {0, 3, 3, 0});
        append_gce(gif, 1, 0, 7);
        append_gif_image(gif, 2, 0, 4, 2, {}, 2, {2, 0, 2, 0, 0, 1, 0, 1});
        append_gif_image(gif, 0, 2, 1, 1, {}, 2, {3});
        gif.push_back(0x3B);
        write_file("restore.gif", gif);
        check_whole_frames("restore.gif");
    }
}

// Frames that stand alone are not taken for an optimised GIF: whole
// screens, and cels cleared after they show. A cel over one left in place
// is, even when the cel lies inside that one.
TEST_F(ComposeTest, PartialFramesAreThoseDrawnOverEarlierContent)
{
    std::vector<gif_rgb> table = test_colours(2);
    struct sequence {
        int disposal; // of the first frame
        byte_list first;
        int x, w; // the second frame's rectangle, a row
        bool partial;
    };
    const sequence cases[] = {
        {1, {1, 2, 3, 1}, 0, 4, false}, {2, {1, 2, 3, 1}, 1, 2, false},
        {3, {1, 2, 3, 1}, 0, 1, false}, {1, {0, 2, 3, 0}, 1, 2, false},
        {1, {0, 0, 0, 1}, 1, 2, true},  {0, {1, 0, 0, 0}, 1, 3, true},
    };
    for (const sequence &c : cases) {
        SCOPED_TRACE(testing::Message() << c.disposal << " then " << c.x << " + " << c.w);
        byte_list gif = make_gif_screen(4, 1, table, 0);
        append_gce(gif, c.disposal, -1);
        append_gif_image(gif, 0, 0, 4, 1, {}, 2, c.first);
        append_gif_image(gif, unsigned(c.x), 0, unsigned(c.w), 1, {}, 2, byte_list(size_t(c.w), 2));
        gif_anim *anim = load_gif_bytes(gif);
        ASSERT_NE(anim, nullptr);
        EXPECT_EQ(detect_partial_frames(anim), c.partial);
        destroy_gif_anim(anim);
    }
}

TEST(GifDelay, ZeroAndOneShowForATenthOfASecond)
{
    EXPECT_EQ(compute_gif_delay_ms(0), 100);
    EXPECT_EQ(compute_gif_delay_ms(1), 100);
    EXPECT_EQ(compute_gif_delay_ms(2), 20);
    EXPECT_EQ(compute_gif_delay_ms(65535), 655350);
}

} // namespace

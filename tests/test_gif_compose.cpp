// Whole screens composed from the reader's frames, against giflib's decode
// drawn by the GIF rules (which files draw over earlier frames: the hint's test).
#include "gif/gif_anim.h"
#include "gif/gif_compose.h"
#include "support/checks.h"
#include "support/shell.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

namespace {

// giflib's frames drawn one over another: the screen starts as the
// background index, transparent pixels leave it, and after each frame its
// disposal clears its rectangle (2) or puts back what was there (3). What
// lies past the screen's edges is cut.
std::vector<byte_list> compose_with_giflib(const byte_list &bytes)
{
    GifFileType *file = slurp_gif_bytes(bytes);
    std::vector<byte_list> screens;
    if (!file)
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
    DGifCloseFile(file, nullptr);
    return screens;
}

// The composed record: every frame the whole screen at (0, 0) as giflib's
// decode shows it, delays kept.
void check_whole_frames(const byte_list &bytes)
{
    std::vector<byte_list> expected = compose_with_giflib(bytes);
    gif_anim *anim = load_gif_bytes(bytes);
    gif_anim *whole = anim ? coalesce_gif_anim(anim) : nullptr;
    EXPECT_NE(whole, nullptr);
    if (!whole)
        return;
    EXPECT_EQ(whole->num_frames, int(expected.size()));
    for (int i = 0; i < whole->num_frames && i < int(expected.size()); i++) {
        const gif_frame &frame = whole->frames[i];
        EXPECT_EQ(frame.pos.x, 0);
        EXPECT_EQ(frame.pos.y, 0);
        EXPECT_EQ(frame.delay, anim->frames[i].delay);
        EXPECT_EQ(read_frame_pixels(whole, i), expected[size_t(i)]) << "frame " << i;
    }
    destroy_gif_anim(whole);
    destroy_gif_anim(anim);
}

// An optimised GIF as PIL saves one: partial frames, disposals 1 and 2,
// index 0 transparent.
TEST(Compose, OptimisedGifFromPilGivesTheFramesAViewerShows)
{
    std::string make = "/usr/bin/python3 " HUESMITH_SOURCE_DIR "/tests/support/";
    shell_run run = run_shell("/tmp", make + "make_optimised_gif.py /dev/stdout");
    ASSERT_EQ(run.status, 0);
    check_whole_frames(byte_list(run.output.begin(), run.output.end()));
}

// Disposal 3 between two others, a frame reaching past the screen, and
// transparent pixels over cleared and restored screens.
TEST(Compose, RestoreToPreviousAndFramesPastTheEdge)
{
    byte_list gif = make_gif_screen(4, 3, test_colours(2), 0);
    append_gce(gif, 2, -1, 5);
    append_gif_image(gif, 0, 0, 4, 3, {}, 2, {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3});
    append_gce(gif, 3, 0, 6);
    append_gif_image(gif, 1, 1, 2, 2, {}, 2, {0, 3, 3, 0});
    append_gce(gif, 1, 0, 7);
    append_gif_image(gif, 2, 0, 4, 2, {}, 2, {2, 0, 2, 0, 0, 1, 0, 1});
    append_gif_image(gif, 0, 2, 1, 1, {}, 2, {3});
    gif.push_back(0x3B);
    check_whole_frames(gif);
}

} // namespace

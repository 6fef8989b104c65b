// Screen composition: preview geometry, masking, clipping and the text lines.
#include <allegro.h>
#include <gtest/gtest.h>
#include <string>

#include "display/screen.h"
#include "gif/gif_anim.h"
#include "palette/data_set.h"
#include "palette/global_palette.h"
#include "palette/tint_slots.h"
#include "support/screen_fixture.h"

namespace {

// Indices 1..3 come straight from glb_palette in the bg2 composition, so
// their screen colours are known whether or not the panel rebuilds them.
const uint8_t colours[4][3] = {{170, 170, 170}, {200, 40, 12}, {16, 220, 64}, {36, 80, 252}};

class ComposeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        start_screen_allegro();
        glb_slot = 0;
        glb_frame = 0;
        for (int32_t &row : palshift_bg2)
            row = 0;
        for (int i = 0; i < 4; i++) {
            for (int c = 0; c < 3; c++) {
                glb_palette[i][c] = colours[i][c];
                working_palette[i][c] = colours[i][c];
            }
            display_palette[i].r = colours[i][0] >> 2;
            display_palette[i].g = colours[i][1] >> 2;
            display_palette[i].b = colours[i][2] >> 2;
        }
    }
    void TearDown() override
    {
        destroy_screen_bitmaps();
        if (anim)
            free_screen_anim(anim);
    }
    // A w x h animation with one full-screen frame of index fill.
    BITMAP *compose_single(int w, int h, int zoom, int fill)
    {
        create_screen_bitmaps(w, h);
        anim = make_screen_anim(w, h, 1);
        BITMAP *bmp = add_screen_frame(anim, 0, 0, 0, w, h, fill);
        glb_zoom = zoom;
        return bmp;
    }
    static int screen_colour(int index)
    {
        return makecol32(_rgb_scale_6[colours[index][0] >> 2], _rgb_scale_6[colours[index][1] >> 2],
                         _rgb_scale_6[colours[index][2] >> 2]);
    }
    static int at(int x, int y) { return getpixel(glb_buffer, x, y); }
    // Count of non-black pixels in a rectangle of glb_buffer.
    static int count_lit(int x0, int y0, int x1, int y1)
    {
        int lit = 0;
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++)
                lit += (getpixel(glb_buffer, x, y) & 0xFFFFFF) != 0;
        return lit;
    }
    gif_anim *anim = nullptr;
};

TEST(PreviewRect, CentresWithTruncatingDivision)
{
    preview_rect exact = compute_preview_rect(300, 450, 100);
    EXPECT_EQ(exact.x, 0);
    EXPECT_EQ(exact.y, 0);
    EXPECT_EQ(exact.w, 300);
    EXPECT_EQ(exact.h, 450);
    EXPECT_EQ(compute_preview_rect(303, 10, 100).x, -1);
    EXPECT_EQ(compute_preview_rect(51, 10, 100).x, 124);
    preview_rect tiny = compute_preview_rect(5, 9, 10);
    EXPECT_EQ(tiny.w, 0);
    EXPECT_EQ(tiny.h, 0);
    preview_rect huge = compute_preview_rect(65535, 65535, 1000);
    EXPECT_EQ(huge.w, 655350);
    EXPECT_EQ(huge.x, (300 - 655350) / 2);
}

TEST_F(ComposeTest, ExactFitFillsPreview)
{
    compose_single(300, 450, 100, 1);
    compose_screen(anim, bg2);
    EXPECT_EQ(at(0, 0), screen_colour(1));
    EXPECT_EQ(at(299, 449), screen_colour(1));
    EXPECT_EQ(count_lit(300, 0, 330, 7), 0);
}

TEST_F(ComposeTest, OddOverflowCutsOneColumnLeftTwoRight)
{
    BITMAP *bmp = compose_single(303, 10, 100, 1);
    putpixel(bmp, 0, 3, 2);
    putpixel(bmp, 300, 3, 3);
    putpixel(bmp, 301, 3, 2);
    putpixel(bmp, 302, 3, 2);
    compose_screen(anim, bg2);
    int y = (450 - 10) / 2 + 3;
    for (int x = 0; x < 299; x++)
        ASSERT_EQ(at(x, y), screen_colour(1)) << x;
    EXPECT_EQ(at(299, y), screen_colour(3));
}

TEST_F(ComposeTest, NarrowImageIsCentredOnBlack)
{
    compose_single(51, 10, 100, 2);
    compose_screen(anim, bg2);
    EXPECT_EQ(count_lit(0, 0, 123, 449), 0);
    EXPECT_EQ(count_lit(175, 0, 299, 449), 0);
    EXPECT_EQ(at(124, 220), screen_colour(2));
    EXPECT_EQ(at(174, 229), screen_colour(2));
    EXPECT_EQ(count_lit(124, 220, 174, 229), 51 * 10);
}

TEST_F(ComposeTest, ZeroScaledSizeShowsOnlyBlack)
{
    compose_single(5, 500, 10, 1);
    compose_screen(anim, bg2);
    EXPECT_EQ(count_lit(0, 0, 299, 449), 0);
    destroy_screen_bitmaps();
    free_screen_anim(anim);
    compose_single(5, 5, 10, 1);
    compose_screen(anim, bg2);
    EXPECT_EQ(count_lit(0, 0, 299, 449), 0);
}

TEST_F(ComposeTest, IndexZeroAndAreaOutsideFrameShowBlack)
{
    create_screen_bitmaps(10, 10);
    anim = make_screen_anim(10, 10, 2);
    add_screen_frame(anim, 0, 0, 0, 10, 10, 3);
    BITMAP *bmp = add_screen_frame(anim, 1, 5, 5, 5, 5, 1);
    putpixel(bmp, 2, 2, 0);
    glb_zoom = 100;
    glb_frame = 1;
    compose_screen(anim, bg2);
    // Preview origin of a 10 x 10 screen at 100 %: (145, 220).
    EXPECT_EQ(count_lit(145, 220, 149, 229), 0);
    EXPECT_EQ(at(150, 225), screen_colour(1));
    EXPECT_EQ(at(152, 227), makecol32(0, 0, 0));
    EXPECT_EQ(count_lit(150, 225, 154, 229), 24);
}

TEST_F(ComposeTest, OversizeImageStaysInsidePreview)
{
    compose_single(300, 450, 1000, 1);
    clear_to_color(glb_cmap, makecol32(0, 255, 0));
    compose_screen(anim, bg2);
    EXPECT_EQ(at(0, 0), screen_colour(1));
    EXPECT_EQ(at(299, 449), screen_colour(1));
    EXPECT_EQ(count_lit(0, 450, 49, 489), 0);
    EXPECT_EQ(count_lit(300, 0, 330, 7), 0);
    EXPECT_EQ(count_lit(0, 568, 299, 599), 0);
    // The strip lands at (725, 15), nothing above or to its left.
    EXPECT_EQ(at(725, 15), makecol32(0, 255, 0));
    EXPECT_EQ(at(788, 594), makecol32(0, 255, 0));
    EXPECT_EQ(count_lit(725, 0, 799, 13), 0);
    EXPECT_EQ(count_lit(725, 595, 799, 599), 0);
}

TEST_F(ComposeTest, StatusLinesAtTheirPlaces)
{
    compose_single(20, 20, 100, 1);
    glb_frame = 0;
    glb_zoom = 250;
    compose_screen(anim, bg2);
    EXPECT_GT(count_lit(50, 450, 299, 457), 0);
    EXPECT_GT(count_lit(50, 460, 299, 467), 0);
    EXPECT_EQ(count_lit(0, 450, 49, 489), 0);
    EXPECT_EQ(count_lit(0, 468, 299, 489), 0);
    EXPECT_EQ(count_lit(0, 528, 299, 539), 0);
    EXPECT_EQ(count_lit(0, 548, 299, 559), 0);

    // Byte-exact texts: the same lines drawn by hand match pixel for pixel.
    BITMAP *expected = create_bitmap_ex(32, BUFFER_W, BUFFER_H);
    clear_to_color(expected, 0);
    int white = makecol32(255, 255, 255);
    const struct {
        int x, y;
        const char *text;
    } lines[] = {{50, 450, "Frame : 0"},
                 {50, 460, "Zoom  : 250%"},
                 {10, 490, "Up, Down           : Tint selection"},
                 {10, 500, "Left, Right        : Colormap on Tint"},
                 {10, 510, "Page Up, Page Down : Frame"},
                 {10, 520, "+, -               : Zoom in, out"},
                 {10, 540, "S                  : Save into .bmp"},
                 {10, 560, "Esc                : Quit"}};
    for (const auto &line : lines)
        textout_ex(expected, font, line.text, line.x, line.y, white, -1);
    for (int y = 450; y < BUFFER_H; y++)
        for (int x = 0; x < 300; x++)
            ASSERT_EQ(getpixel(glb_buffer, x, y), getpixel(expected, x, y)) << x << "," << y;
    destroy_bitmap(expected);
}

} // namespace

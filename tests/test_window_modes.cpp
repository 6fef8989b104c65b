// The preview's modes as their keys set them (one slot marked, backgrounds;
// Tab's untinted one is seen in the window's tests), unused slots dimmed in
// the panel, and Esc pressed with S.
#include "support/screen_fixture.h"

using WindowModesTest = screen_test;

// The screen colour the preview gives an 8-bit colour: through 6 bits.
static int make_preview_colour(const uint8_t *rgb)
{
    return makecol(_rgb_scale_6[rgb[0] >> 2], _rgb_scale_6[rgb[1] >> 2], _rgb_scale_6[rgb[2] >> 2]);
}

// Gradients of distinct colours, none black.
static void fill_gradients()
{
    for (int r = 0; r < GRADIENT_TABLE_ROWS; r++)
        for (int c = 0; c < GRADIENT_TABLE_COLUMNS; c++) {
            gradient_table[r][c][0] = uint8_t(2 * r + 1);
            gradient_table[r][c][1] = uint8_t(7 * c + 3);
            gradient_table[r][c][2] = 50;
        }
}

// A pass with the keys as set, then the screen composed after it.
static void pass_and_compose(gif_anim *anim)
{
    handle_keys(anim, bg2);
    compose_screen(anim, bg2, ".bmp");
}

// A 10 x 10 frame at zoom 100, shown at (145, 220): entry 4 (slot A1) at
// (1, 1), black entry 2 at (2, 2), entry 40 (slot A4) at (3, 3), the rest
// transparent. H held marks the selected slot's pixels; B steps the
// background from black to grey, a checkerboard and black again.
TEST_F(WindowModesTest, PreviewModesRecolourThePreview)
{
    make_anim(10, 10, 1);
    BITMAP *frame = add_frame(0, 0, 0, 10, 10, 0);
    putpixel(frame, 1, 1, 4);
    putpixel(frame, 2, 2, 2);
    putpixel(frame, 3, 3, 40);
    std::fill_n(glb_palette[2], 3, 0);
    fill_gradients();
    palshift_bg2[0] = 30;
    palshift_bg2[3] = 60;
    compose_screen(&anim, bg2, ".bmp");
    BITMAP *plain = create_checked_bitmap(32, BUFFER_W, BUFFER_H);
    blit(glb_buffer, plain, 0, 0, 0, 0, BUFFER_W, BUFFER_H);
    int tinted_a1 = make_preview_colour(working_palette[4]);
    int tinted_a4 = make_preview_colour(working_palette[40]);
    EXPECT_EQ(getpixel(glb_buffer, 146, 221), tinted_a1);
    EXPECT_EQ(getpixel(glb_buffer, 147, 222), 0);

    // H: the selected slot's pixels in magenta or green, the others tinted.
    set_key(KEY_H, true);
    pass_and_compose(&anim);
    int marked = getpixel(glb_buffer, 146, 221);
    EXPECT_TRUE(marked == makecol(255, 0, 255) || marked == makecol(0, 255, 0)) << marked;
    EXPECT_EQ(getpixel(glb_buffer, 148, 223), tinted_a4);

    // B: grey behind the transparent pixels and around the frame; black
    // stays (nearly) black.
    set_key(KEY_H, false);
    tap_key(KEY_B);
    pass_and_compose(&anim);
    int grey = makecol(128, 128, 128);
    EXPECT_EQ(getpixel(glb_buffer, 149, 224), grey);
    EXPECT_EQ(getpixel(glb_buffer, 299, 449), grey);
    EXPECT_EQ(getpixel(glb_buffer, 147, 222), makecol(0, 0, 8));
    EXPECT_EQ(getpixel(glb_buffer, 146, 221), tinted_a1);
    EXPECT_EQ(getpixel(glb_buffer, 0, 450), 0);
    tap_key(KEY_B);
    pass_and_compose(&anim);
    int dark = makecol(102, 102, 102);
    int light = makecol(153, 153, 153);
    EXPECT_EQ(getpixel(glb_buffer, 7, 7), dark);
    EXPECT_EQ(getpixel(glb_buffer, 8, 7), light);
    EXPECT_EQ(getpixel(glb_buffer, 8, 8), dark);

    // Back to black: as at first, pixel for pixel.
    tap_key(KEY_B);
    pass_and_compose(&anim);
    for (int y = 0; y < BUFFER_H; y++)
        ASSERT_EQ(memcmp(plain->line[y], glb_buffer->line[y], 4 * BUFFER_W), 0) << "row " << y;
    destroy_bitmap(plain);
}

// Counts pixels of colour in the rectangle from (x0, y0) to (x1, y1).
static int count_pixels(int x0, int y0, int x1, int y1, int colour)
{
    int count = 0;
    for (int y = y0; y <= y1; y++)
        for (int x = x0; x <= x1; x++)
            count += getpixel(glb_buffer, x, y) == colour;
    return count;
}

TEST_F(WindowModesTest, UnusedSlotsAreDimmedAndUsedOnesDrawnAsEver)
{
    make_anim(4, 4, 1);
    fill_gradients();
    draw_gradient_strip(bg2);
    palshift_bg2[3] = 20;
    glb_slot = 5;
    compose_screen(&anim, bg2, ".bmp");
    BITMAP *plain = create_checked_bitmap(32, BUFFER_W, BUFFER_H);
    blit(glb_buffer, plain, 0, 0, 0, 0, BUFFER_W, BUFFER_H);
    // A4 (line y 75) and the selected A6 (line y 115) unused.
    glb_view.used_slots.assign(BG2_SLOTS, true);
    glb_view.used_slots[3] = false;
    glb_view.used_slots[5] = false;
    glb_view.screen_dirty = true;
    compose_screen(&anim, bg2, ".bmp");
    for (int y = 0; y < BUFFER_H; y++) {
        bool dimmed = (y >= 68 && y <= 86) || (y >= 108 && y <= 126);
        if (!dimmed) {
            ASSERT_EQ(memcmp(plain->line[y], glb_buffer->line[y], 4 * BUFFER_W), 0) << y;
        }
    }
    int white = make_white();
    int grey = makecol(112, 112, 112);
    // Text in grey but for A6's arrow; swatches at half brightness.
    EXPECT_EQ(count_pixels(300, 75, 459, 82, white), 0);
    EXPECT_GT(count_pixels(300, 75, 459, 82, grey), 20);
    EXPECT_GT(count_pixels(300, 115, 323, 122, white), 5);
    EXPECT_EQ(count_pixels(324, 115, 459, 122, white), 0);
    const uint8_t *rgb = gradient_table[20][0];
    EXPECT_EQ(getpixel(glb_buffer, 460, 75), makecol(rgb[0] / 2, rgb[1] / 2, rgb[2] / 2));
    destroy_bitmap(plain);
}

// Esc and S in one pass: the export runs whole, then the loop ends.
TEST_F(WindowModesTest, EscPressedWithSEndsTheRunAfterTheWholeExport)
{
    make_anim(6, 4, 3);
    for (int i = 0; i < 3; i++)
        add_frame(i, 0, 0, 6, 4, i + 1);
    set_key(KEY_ESC, true);
    set_key(KEY_S, true);
    testing::internal::CaptureStdout();
    handle_keys(&anim, bg2);
    std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(output, format_export_summary(3, glb_export_options.dir) + "\n");
    EXPECT_EQ(glb_status.note, format_export_summary(3, glb_export_options.dir));
    EXPECT_EQ(read_bytes("last_palshift.bin").size(), 144u);
    EXPECT_TRUE(take_quit_press());
    EXPECT_FALSE(take_quit_press());
}

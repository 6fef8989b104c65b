// The screen image against the library's drawing.
#include "support/screen_fixture.h"

using ScreenTest = screen_test;

// A frame's logical screen and its one frame's place and size.
struct frame_case { int w, h, fx, fy, fw, fh; };

// Noise in the gradient table, the slots' rows and the frame's pixels
// (one in five transparent).
static void fill_with_noise(std::mt19937 &rng, gif_frame &frame)
{
    std::generate_n(gradient_table[0][0], sizeof gradient_table, std::ref(rng));
    for (int32_t &row : palshift_bg2)
        row = int32_t(rng() % 116);
    for (int32_t &row : palshift_pst)
        row = int32_t(rng() % 79);
    for (int y = 0; frame.bmp && y < frame.h; y++)
        for (int x = 0; x < frame.w; x++)
            frame.bmp->line[y][x] = rng() % 5 ? uint8_t(rng()) : 0;
}

// Frames past the screen, outside it, without a bitmap or out of range
// (zoom 999 shows frame 1 of 1); both data sets and both extensions in the
// help. At 8 bits colours come from the palette the pass before set: the
// library's pass goes first.
TEST_F(ScreenTest, RowDrawingMatchesTheLibraryAtEveryDepthAndZoom)
{
    const frame_case cases[] = {
        {640, 480, 0, 0, 640, 480}, {300, 450, 0, 0, 300, 450}, {37, 23, 5, 3, 40, 30},
        {13, 61, 20, 70, 5, 5},     {1, 1, 0, 0, 1, 1},         {301, 7, 100, 2, 150, 3},
        {303, 11, 0, 0, 303, 11},   {90, 200, 0, 0, 0, 0}};
    const int zooms[] = {1, 9, 33, 50, 99, 100, 101, 149, 250, 333, 999, 1000};
    std::mt19937 rng(3);
    for (int depth : {32, 16, 15, 24, 8})
        for (const frame_case &c : cases) {
            make_anim(c.w, c.h, 1, depth);
            if (c.fw > 0)
                add_frame(0, c.fx, c.fy, c.fw, c.fh, 0);
            fill_with_noise(rng, frames[0]);
            for (int zoom : zooms) {
                SCOPED_TRACE(testing::Message() << "depth " << depth << ", " << c.w << " x "
                                                << c.h << " at " << zoom);
                const data_set &set = zoom % 3 ? bg2 : pst;
                const char *extension = zoom % 2 ? ".bmp" : ".pcx";
                glb_frame = zoom == 999 ? 1 : 0;
                glb_zoom = zoom;
                glb_slot = zoom % (set.last_slot + 1);
                glb_view.screen_dirty = true;
                uint8_t pal[256][3];
                compose_screen_by_library(anim, set, pal, extension);
                draw_gradient_strip(set);
                for (int y = 0; y < BUFFER_H; y++)
                    std::generate_n(glb_buffer->line[y], BUFFER_W * ((depth + 7) / 8),
                                    std::ref(rng));
                // The preview is drawn from the rows: the canvas stays as it was.
                clear_to_color(glb_sprite, 5);
                compose_screen(&anim, set, extension);
                ASSERT_EQ(5, getpixel(glb_sprite, glb_sprite->w - 1, glb_sprite->h - 1));
                expect_library_image(anim, set, extension);
            }
        }
}

// A 10 x 10 frame at zoom 100 lands at (145, 220): entry 4 (slot A1) at
// (1, 1), the rest transparent. H held marks the selected slot's pixels;
// B gives the preview a grey background. Unused slot A4 (text line y 75)
// is written in grey with swatches at half brightness.
TEST_F(ScreenTest, HMarksTheSlotBGreysTheBackgroundAndUnusedSlotsDim)
{
    make_anim(10, 10, 1);
    BITMAP *frame = add_frame(0, 0, 0, 10, 10, 0);
    putpixel(frame, 1, 1, 4);
    glb_view.used_slots.assign(BG2_SLOTS, true);
    glb_view.used_slots[3] = false;
    palshift_bg2[3] = 5;
    gradient_table[5][0][0] = 200;
    gradient_table[5][0][1] = 100;
    gradient_table[5][0][2] = 50;
    compose_screen(&anim, bg2, ".bmp");
    EXPECT_EQ(getpixel(glb_buffer, SWATCH_X, 75), makecol(100, 50, 25));

    set_key(KEY_H, true);
    handle_keys(&anim, bg2);
    compose_screen(&anim, bg2, ".bmp");
    int marked = getpixel(glb_buffer, 146, 221);
    EXPECT_TRUE(marked == makecol(255, 0, 255) || marked == makecol(0, 255, 0)) << marked;

    set_key(KEY_H, false);
    set_key(KEY_B, true);
    set_key(KEY_B, false);
    handle_keys(&anim, bg2);
    compose_screen(&anim, bg2, ".bmp");
    EXPECT_EQ(getpixel(glb_buffer, 149, 224), makecol(128, 128, 128));
    EXPECT_EQ(getpixel(glb_buffer, 299, 449), makecol(128, 128, 128));
}

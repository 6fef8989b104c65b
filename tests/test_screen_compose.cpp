// The screen image against the library's drawing; one key pass and the screen after it.
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

// The view before and after one pass with keys down; every row of both
// tables starts at row, and frames is the animation's frame count.
struct view { int32_t slot, row, frame, zoom; };

struct key_case {
    std::vector<int> keys;
    bool use_pst;
    int frames;
    view before, after;
};

static bool is_same_view(const view &a, const view &b)
{
    return a.slot == b.slot && a.row == b.row && a.frame == b.frame && a.zoom == b.zoom;
}

const key_case key_cases[] = {
    {{KEY_UP}, false, 5, {0, 0, 0, 100}, {0, 0, 0, 100}},
    {{KEY_DOWN}, false, 5, {27, 0, 0, 100}, {27, 0, 0, 100}},
    {{KEY_UP, KEY_DOWN}, false, 5, {3, 0, 0, 100}, {3, 0, 0, 100}},
    {{KEY_DOWN, KEY_RIGHT}, false, 5, {0, 0, 0, 100}, {1, 1, 0, 100}},
    {{KEY_DOWN}, true, 5, {2, 0, 0, 100}, {3, 0, 0, 100}},
    {{KEY_UP}, false, 5, {5, 9, 0, 100}, {4, 9, 0, 100}},
    {{KEY_RIGHT}, false, 5, {9, 115, 0, 100}, {9, 115, 0, 100}},
    {{KEY_RIGHT}, true, 5, {7, 78, 0, 100}, {7, 78, 0, 100}},
    // A row outside the table only moves towards it.
    {{KEY_LEFT, KEY_RIGHT}, false, 5, {7, -3, 0, 100}, {7, -2, 0, 100}},
    {{KEY_LEFT, KEY_RIGHT}, false, 5, {7, 200, 0, 100}, {7, 199, 0, 100}},
    {{KEY_LEFT, KEY_RIGHT}, true, 5, {2, 0, 0, 100}, {2, 1, 0, 100}},
    {{KEY_LEFT}, false, 5, {4, 50, 0, 100}, {4, 49, 0, 100}},
    // Frames wrap at both ends.
    {{KEY_PGUP}, false, 5, {0, 0, 0, 100}, {0, 0, 4, 100}},
    {{KEY_PGDN}, false, 5, {0, 0, 4, 100}, {0, 0, 0, 100}},
    {{KEY_PGUP, KEY_PGDN}, false, 1, {0, 0, 0, 100}, {0, 0, 0, 100}},
    // Zoom steps of 10, or 1 with Shift; its bounds hold without a key too.
    {{KEY_MINUS}, false, 5, {0, 0, 0, 10}, {0, 0, 0, 10}},
    {{KEY_MINUS_PAD}, true, 5, {0, 0, 0, 15}, {0, 0, 0, 10}},
    {{KEY_MINUS, KEY_RSHIFT}, false, 5, {0, 0, 0, 2}, {0, 0, 0, 1}},
    {{}, false, 5, {0, 0, 0, 3}, {0, 0, 0, 10}},
    {{KEY_EQUALS}, false, 5, {0, 0, 0, 995}, {0, 0, 0, 1000}},
    {{KEY_PLUS_PAD, KEY_LSHIFT}, false, 5, {0, 0, 0, 995}, {0, 0, 0, 996}},
    // Home snaps to the nearest hundred, or steps a whole hundred up to 1000
    // and then back to 100.
    {{KEY_EQUALS, KEY_HOME}, false, 5, {0, 0, 0, 1000}, {0, 0, 0, 1000}},
    {{KEY_HOME}, false, 5, {0, 0, 0, 150}, {0, 0, 0, 200}},
    {{KEY_HOME}, false, 5, {0, 0, 0, 149}, {0, 0, 0, 100}},
    {{KEY_HOME}, false, 5, {0, 0, 0, 40}, {0, 0, 0, 10}},
    {{KEY_HOME, KEY_LSHIFT}, false, 5, {0, 0, 0, 40}, {0, 0, 0, 1}},
    {{KEY_HOME}, false, 5, {0, 0, 0, 990}, {0, 0, 0, 1000}},
    {{KEY_HOME}, false, 5, {0, 0, 0, 100}, {0, 0, 0, 200}},
    {{KEY_HOME}, false, 5, {0, 0, 0, 1000}, {0, 0, 0, 100}},
};

// A pass that changes nothing draws nothing: (0, 0) keeps a colour no pass
// draws. One that changes the view draws the library's image.
TEST_F(ScreenTest, OneKeyPassMovesStateWithinBoundsAndMarksTheScreen)
{
    for (const key_case &c : key_cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - key_cases);
        const data_set &set = c.use_pst ? pst : bg2;
        make_anim(4, 4, c.frames);
        draw_gradient_strip(set);
        std::fill_n(palshift_bg2, BG2_SLOTS, c.before.row);
        std::fill_n(palshift_pst, PST_SLOTS, c.before.row);
        glb_slot = c.before.slot;
        glb_frame = c.before.frame;
        glb_zoom = c.before.zoom;
        compose_screen(&anim, set, ".bmp");
        putpixel(glb_buffer, 0, 0, 1);
        for (int k : c.keys)
            set_key(k, true);
        handle_keys(&anim, set);
        EXPECT_EQ(glb_slot, c.after.slot);
        EXPECT_EQ(active_palshift(set)[c.after.slot], c.after.row);
        EXPECT_EQ(glb_frame, c.after.frame);
        EXPECT_EQ(glb_zoom, c.after.zoom);
        compose_screen(&anim, set, ".bmp");
        bool row_in_table = c.before.row >= 0 && c.before.row <= 115;
        if (is_same_view(c.before, c.after))
            EXPECT_EQ(1, getpixel(glb_buffer, 0, 0));
        else if (row_in_table)
            expect_library_image(anim, set);
    }
}

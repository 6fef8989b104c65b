// The screen image against the library's drawing; one key pass and the screen after it.
#include "support/screen_fixture.h"

using ScreenTest = screen_test;

// Frames past the screen, outside it, without a bitmap or out of range (zoom 999). At 8 bits
// colours come from the palette the pass before set: the library's pass goes first.
TEST_F(ScreenTest, RowDrawingMatchesTheLibraryAtEveryDepthAndZoom)
{
    const struct { int w, h, fx, fy, fw, fh; } cases[] = {
        {640, 480, 0, 0, 640, 480}, {300, 450, 0, 0, 300, 450}, {37, 23, 5, 3, 40, 30}, {13, 61, 20, 70, 5, 5},
        {1, 1, 0, 0, 1, 1}, {301, 7, 100, 2, 150, 3}, {303, 11, 0, 0, 303, 11}, {90, 200, 0, 0, 0, 0}};
    std::mt19937 rng(3);
    for (int depth : {32, 16, 15, 24, 8})
        for (const auto &c : cases) {
            make_anim(c.w, c.h, 1, depth);
            std::generate_n(gradient_table[0][0], sizeof gradient_table, std::ref(rng));
            std::generate_n(palshift_bg2, BG2_SLOTS, [&] { return rng() % 116; });
            std::generate_n(palshift_pst, PST_SLOTS, [&] { return rng() % 79; });
            for (int y = 0, made = c.fw && add_frame(0, c.fx, c.fy, c.fw, c.fh, 0); made && y < c.fh; y++)
                std::generate_n(frames[0].bmp->line[y], c.fw, [&] { return rng() % 5 ? rng() : 0; });
            for (int zoom : {1, 9, 33, 50, 99, 100, 101, 149, 250, 333, 999, 1000}) {
                SCOPED_TRACE(testing::Message() << "depth " << depth << ", " << c.w << " x " << c.h << " at " << zoom);
                const data_set &set = zoom % 3 ? bg2 : pst;
                std::tie(glb_frame, glb_zoom, glb_slot, glb_screen_dirty) = std::make_tuple(zoom == 999, zoom, zoom % (set.last_slot + 1), true);
                uint8_t pal[256][3];
                compose_screen_by_library(anim, set, pal);
                draw_cmaps(set.gradient_columns, set.gradient_rows, set.swatch_step);
                for (int y = 0; y < BUFFER_H; y++)
                    std::generate_n(glb_buffer->line[y], BUFFER_W * ((depth + 7) / 8), std::ref(rng));
                clear_to_color(glb_sprite, 5);
                compose_screen(&anim, set);
                ASSERT_EQ(5, getpixel(glb_sprite, glb_sprite->w - 1, glb_sprite->h - 1));
                expect_library_image(anim, set);
            }
        }
}

// Every row of both tables starts at row; frames is the count.
struct key_case {
    std::vector<int> keys;
    int32_t use_pst, slot, row, frame, frames, zoom, slot_after, row_after, frame_after, zoom_after;
};

const key_case key_cases[] = {
    {{KEY_UP}, 0, 0, 0, 0, 5, 100, 0, 0, 0, 100}, {{KEY_DOWN}, 0, 27, 0, 0, 5, 100, 27, 0, 0, 100},
    {{KEY_UP, KEY_DOWN}, 0, 3, 0, 0, 5, 100, 3, 0, 0, 100}, {{KEY_DOWN, KEY_RIGHT}, 0, 0, 0, 0, 5, 100, 1, 1, 0, 100},
    {{KEY_DOWN}, 1, 2, 0, 0, 5, 100, 3, 0, 0, 100}, {{KEY_UP}, 0, 5, 9, 0, 5, 100, 4, 9, 0, 100},
    {{KEY_RIGHT}, 0, 9, 115, 0, 5, 100, 9, 115, 0, 100}, {{KEY_RIGHT}, 1, 7, 78, 0, 5, 100, 7, 78, 0, 100},
    {{KEY_LEFT, KEY_RIGHT}, 0, 7, -3, 0, 5, 100, 7, -2, 0, 100}, {{KEY_LEFT, KEY_RIGHT}, 0, 7, 200, 0, 5, 100, 7, 199, 0, 100},
    {{KEY_LEFT, KEY_RIGHT}, 1, 2, 0, 0, 5, 100, 2, 1, 0, 100}, {{KEY_LEFT}, 0, 4, 50, 0, 5, 100, 4, 49, 0, 100},
    {{KEY_PGUP}, 0, 0, 0, 0, 5, 100, 0, 0, 4, 100}, {{KEY_PGDN}, 0, 0, 0, 4, 5, 100, 0, 0, 0, 100},
    {{KEY_PGUP, KEY_PGDN}, 0, 0, 0, 0, 1, 100, 0, 0, 0, 100},
    // Zoom steps of 10, or 1 with Shift; its bounds hold without a key too.
    {{KEY_MINUS}, 0, 0, 0, 0, 5, 10, 0, 0, 0, 10}, {{KEY_MINUS_PAD}, 1, 0, 0, 0, 5, 15, 0, 0, 0, 10},
    {{KEY_MINUS, KEY_RSHIFT}, 0, 0, 0, 0, 5, 2, 0, 0, 0, 1}, {{}, 0, 0, 0, 0, 5, 3, 0, 0, 0, 10},
    {{KEY_EQUALS}, 0, 0, 0, 0, 5, 995, 0, 0, 0, 1000}, {{KEY_PLUS_PAD, KEY_LSHIFT}, 0, 0, 0, 0, 5, 995, 0, 0, 0, 996},
    {{KEY_EQUALS, KEY_HOME}, 0, 0, 0, 0, 5, 1000, 0, 0, 0, 1000},
    {{KEY_HOME}, 0, 0, 0, 0, 5, 150, 0, 0, 0, 200}, {{KEY_HOME}, 0, 0, 0, 0, 5, 149, 0, 0, 0, 100},
    {{KEY_HOME}, 0, 0, 0, 0, 5, 40, 0, 0, 0, 10}, {{KEY_HOME, KEY_LSHIFT}, 0, 0, 0, 0, 5, 40, 0, 0, 0, 1},
    {{KEY_HOME}, 0, 0, 0, 0, 5, 990, 0, 0, 0, 1000}, {{KEY_HOME}, 0, 0, 0, 0, 5, 100, 0, 0, 0, 200},
    {{KEY_HOME}, 0, 0, 0, 0, 5, 1000, 0, 0, 0, 100},
};

// A pass that changes nothing draws nothing: (0, 0) keeps a colour no pass draws.
TEST_F(ScreenTest, OneKeyPassMovesStateWithinBoundsAndMarksTheScreen)
{
    for (const key_case &c : key_cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - key_cases);
        const data_set &set = c.use_pst ? pst : bg2;
        make_anim(4, 4, c.frames);
        draw_cmaps(set.gradient_columns, set.gradient_rows, set.swatch_step);
        std::fill_n(palshift_bg2, BG2_SLOTS, c.row), std::fill_n(palshift_pst, PST_SLOTS, c.row);
        std::tie(glb_slot, glb_frame, glb_zoom) = std::make_tuple(c.slot, c.frame, c.zoom);
        compose_screen(&anim, set);
        putpixel(glb_buffer, 0, 0, 1);
        for (int k : c.keys)
            key[k] = 1;
        handle_keys(&anim, set);
        EXPECT_EQ(std::make_tuple(glb_slot, active_palshift(set)[c.slot_after], glb_frame, glb_zoom),
                  std::make_tuple(c.slot_after, c.row_after, c.frame_after, c.zoom_after));
        EXPECT_EQ(glb_test_releases, std::vector<int>(std::count(c.keys.begin(), c.keys.end(), KEY_HOME), KEY_HOME));
        compose_screen(&anim, set);
        if (std::tie(c.slot, c.row, c.frame, c.zoom) == std::tie(c.slot_after, c.row_after, c.frame_after, c.zoom_after))
            EXPECT_EQ(1, getpixel(glb_buffer, 0, 0));
        else if (c.row >= 0 && c.row <= 115)
            expect_library_image(anim, set);
    }
}

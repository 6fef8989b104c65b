// One pass of key handling: order, bounds, wrap-around, pauses and the
// release wait of Home.
#include <numeric>

#include "support/screen_fixture.h"

// Every palshift entry of both tables starts at row; frames is the count.
struct key_case {
    std::vector<int> keys;
    int32_t use_pst, slot, row, frame, frames, zoom, slot_after, row_after, frame_after, zoom_after;
    std::vector<unsigned int> pauses;
};

const key_case key_cases[] = {
    // Slots: refused keys take no pause; Up and Down together go 3 -> 2 -> 3.
    {{KEY_UP}, 0, 0, 0, 0, 5, 100, 0, 0, 0, 100, {}}, {{KEY_DOWN}, 0, 27, 0, 0, 5, 100, 27, 0, 0, 100, {}},
    {{KEY_UP, KEY_DOWN}, 0, 3, 0, 0, 5, 100, 3, 0, 0, 100, {75, 75}},
    {{KEY_DOWN, KEY_RIGHT}, 0, 0, 0, 0, 5, 100, 1, 1, 0, 100, {75, 75}},
    // Rows: top of each table, Left refused at 0; out of range moves towards
    // the range only.
    {{KEY_RIGHT}, 0, 9, 115, 0, 5, 100, 9, 115, 0, 100, {}}, {{KEY_RIGHT}, 1, 7, 78, 0, 5, 100, 7, 78, 0, 100, {}},
    {{KEY_LEFT, KEY_RIGHT}, 0, 7, -3, 0, 5, 100, 7, -2, 0, 100, {75}},
    {{KEY_LEFT, KEY_RIGHT}, 0, 7, 200, 0, 5, 100, 7, 199, 0, 100, {75}},
    {{KEY_LEFT, KEY_RIGHT}, 1, 2, 0, 0, 5, 100, 2, 1, 0, 100, {75}},
    // Frames wrap both ways; a single frame stays put but still pauses.
    {{KEY_PGUP}, 0, 0, 0, 0, 5, 100, 0, 0, 4, 100, {75}}, {{KEY_PGDN}, 0, 0, 0, 4, 5, 100, 0, 0, 0, 100, {75}},
    {{KEY_PGUP, KEY_PGDN}, 0, 0, 0, 0, 1, 100, 0, 0, 0, 100, {75, 75}},
    // Zoom steps of 10, or 1 with Shift; bounds hold on every pass, with no zoom key too.
    {{KEY_MINUS}, 0, 0, 0, 0, 5, 10, 0, 0, 0, 10, {33}}, {{KEY_MINUS_PAD}, 0, 0, 0, 0, 5, 15, 0, 0, 0, 10, {33}},
    {{KEY_MINUS, KEY_RSHIFT}, 0, 0, 0, 0, 5, 2, 0, 0, 0, 1, {33}}, {{}, 0, 0, 0, 0, 5, 3, 0, 0, 0, 10, {}},
    {{KEY_EQUALS}, 0, 0, 0, 0, 5, 995, 0, 0, 0, 1000, {33}},
    {{KEY_PLUS_PAD, KEY_LSHIFT}, 0, 0, 0, 0, 5, 995, 0, 0, 0, 996, {33}},
    {{KEY_EQUALS, KEY_HOME}, 0, 0, 0, 0, 5, 1000, 0, 0, 0, 1000, {33}},
    // Home: nearest hundred, halves up; whole hundreds step on, 1000 wraps.
    {{KEY_HOME}, 0, 0, 0, 0, 5, 150, 0, 0, 0, 200, {}}, {{KEY_HOME}, 0, 0, 0, 0, 5, 149, 0, 0, 0, 100, {}},
    {{KEY_HOME}, 0, 0, 0, 0, 5, 40, 0, 0, 0, 10, {}}, {{KEY_HOME, KEY_LSHIFT}, 0, 0, 0, 0, 5, 40, 0, 0, 0, 1, {}},
    {{KEY_HOME}, 0, 0, 0, 0, 5, 990, 0, 0, 0, 1000, {}}, {{KEY_HOME}, 0, 0, 0, 0, 5, 100, 0, 0, 0, 200, {}},
    {{KEY_HOME}, 0, 0, 0, 0, 5, 900, 0, 0, 0, 1000, {}}, {{KEY_HOME}, 0, 0, 0, 0, 5, 1000, 0, 0, 0, 100, {}},
};

using KeysTest = screen_test;

TEST_F(KeysTest, OnePassMovesStateWithinBoundsAndPauses)
{
    for (const key_case &c : key_cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - key_cases);
        make_anim(4, 4, c.frames);
        for (int k : c.keys)
            key[k] = 1;
        std::fill(palshift_bg2, palshift_bg2 + BG2_SLOTS, c.row);
        std::fill(palshift_pst, palshift_pst + PST_SLOTS, c.row);
        std::tie(glb_slot, glb_frame, glb_zoom) = std::make_tuple(c.slot, c.frame, c.zoom);
        handle_keys(&anim, c.use_pst ? pst : bg2);
        EXPECT_EQ(std::make_tuple(glb_slot, (c.use_pst ? palshift_pst : palshift_bg2)[c.slot_after], glb_frame, glb_zoom),
                  std::make_tuple(c.slot_after, c.row_after, c.frame_after, c.zoom_after));
        EXPECT_EQ(glb_test_pauses, c.pauses);
        EXPECT_EQ(glb_test_releases, std::vector<int>(std::count(c.keys.begin(), c.keys.end(), KEY_HOME), KEY_HOME));
        // No other entry of either table moved.
        EXPECT_EQ(std::accumulate(palshift_bg2, palshift_bg2 + BG2_SLOTS, 0) +
                      std::accumulate(palshift_pst, palshift_pst + PST_SLOTS, 0),
                  (BG2_SLOTS + PST_SLOTS - 1) * c.row + c.row_after);
    }
}

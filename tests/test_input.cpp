// Keys, playback and undo over a simulated clock; the mouse's hit tests.
#include "support/screen_fixture.h"

using InputTest = screen_test;

// A time in milliseconds and the frame shown from then on.
using frame_change = std::pair<int, int32_t>;

// A pass at every tick of the clock (10 ms) for ms, key k down in the first
// hold ms; the time and the frame at every change of the frame.
static std::vector<frame_change> run_passes(gif_anim *anim, int k, int hold, int ms)
{
    std::vector<frame_change> changes;
    for (int t = 0; t < ms; t += 10) {
        int32_t frame = glb_frame;
        set_key(k, t < hold);
        handle_keys(anim, bg2);
        if (glb_frame != frame)
            changes.emplace_back(10 * glb_status.clock, glb_frame);
        glb_status.clock = glb_status.clock + 1;
    }
    return changes;
}

// How far the slot, its row, the frame and the zoom (in steps of 10) moved
// from slot 13, row 50, frame 25 and zoom 500.
static int count_steps()
{
    int steps = std::abs(glb_slot - 13);
    steps += std::abs(palshift_bg2[13] - 50);
    steps += std::abs(glb_frame - 25);
    steps += std::abs(glb_zoom - 500) / 10;
    return steps;
}

TEST_F(InputTest, ATapActsOnceAndAHeldKeyRepeatsAfterItsDelay)
{
    // Two presses each of a select key and a zoom key: held up to 300 ms a
    // key acts once; held 310 ms, it acts again at 300 ms; held 600 ms, then
    // also at the tick 75 ms (zoom keys 33 ms) after each act: at 380, 460
    // and 540 ms (zoom keys 340, 380, ... 580 ms).
    const struct { int hold, select_steps, zoom_steps; } holds[] = {
        {20, 1, 1}, {300, 1, 1}, {310, 2, 2}, {600, 5, 9}};
    const int keys[] = {KEY_RIGHT, KEY_EQUALS};
    for (const auto &h : holds)
        for (int k : keys) {
            make_anim(4, 4, 50);
            glb_slot = 13;
            palshift_bg2[13] = 50;
            glb_frame = 25;
            glb_zoom = 500;
            run_passes(&anim, k, h.hold, h.hold + 100);
            run_passes(&anim, k, h.hold, h.hold + 100);
            int steps = glb_zoom != 500 ? h.zoom_steps : h.select_steps;
            EXPECT_EQ(count_steps(), 2 * steps) << "key " << k << " held " << h.hold;
        }
}

// The view before and after one pass with keys down; every row of both
// tables starts at row.
struct view { int32_t slot, row, frame, zoom; };

struct key_case {
    std::vector<int> keys;
    bool use_pst;
    view before, after;
};

const key_case key_cases[] = {
    {{KEY_UP}, false, {0, 0, 0, 100}, {0, 0, 0, 100}},
    {{KEY_DOWN}, true, {7, 0, 0, 100}, {7, 0, 0, 100}},
    {{KEY_DOWN, KEY_RIGHT}, false, {0, 0, 0, 100}, {1, 1, 0, 100}},
    {{KEY_RIGHT}, true, {7, 78, 0, 100}, {7, 78, 0, 100}},
    // A row outside the table only moves towards it.
    {{KEY_LEFT, KEY_RIGHT}, false, {7, -3, 0, 100}, {7, -2, 0, 100}},
    {{KEY_LEFT, KEY_RIGHT}, false, {7, 200, 0, 100}, {7, 199, 0, 100}},
    // Frames wrap at both ends.
    {{KEY_PGUP}, false, {0, 0, 0, 100}, {0, 0, 4, 100}},
    {{KEY_PGDN}, false, {0, 0, 4, 100}, {0, 0, 0, 100}},
    // Zoom steps of 10, or 1 with Shift; its bounds hold without a key too.
    {{KEY_MINUS_PAD}, false, {0, 0, 0, 15}, {0, 0, 0, 10}},
    {{KEY_MINUS, KEY_RSHIFT}, false, {0, 0, 0, 2}, {0, 0, 0, 1}},
    {{}, false, {0, 0, 0, 3}, {0, 0, 0, 10}},
    {{KEY_PLUS_PAD}, false, {0, 0, 0, 995}, {0, 0, 0, 1000}},
    // Home snaps to the nearest hundred, or steps a whole hundred up to 1000
    // and then back to 100; with Shift it goes to 1.
    {{KEY_HOME}, false, {0, 0, 0, 150}, {0, 0, 0, 200}},
    {{KEY_HOME}, false, {0, 0, 0, 149}, {0, 0, 0, 100}},
    {{KEY_HOME, KEY_LSHIFT}, false, {0, 0, 0, 40}, {0, 0, 0, 1}},
    {{KEY_HOME}, false, {0, 0, 0, 100}, {0, 0, 0, 200}},
    {{KEY_HOME}, false, {0, 0, 0, 1000}, {0, 0, 0, 100}},
};

// One pass with the keys down moves the slot, the row, the frame and the
// zoom one step, within their bounds.
TEST_F(InputTest, OneKeyPassMovesStateWithinBounds)
{
    for (const key_case &c : key_cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - key_cases);
        const data_set &set = c.use_pst ? pst : bg2;
        make_anim(4, 4, 5);
        std::fill_n(palshift_bg2, BG2_SLOTS, c.before.row);
        std::fill_n(palshift_pst, PST_SLOTS, c.before.row);
        glb_slot = c.before.slot;
        glb_frame = c.before.frame;
        glb_zoom = c.before.zoom;
        for (int k : c.keys)
            set_key(k, true);
        handle_keys(&anim, set);
        EXPECT_EQ(glb_slot, c.after.slot);
        EXPECT_EQ(active_palshift(set)[c.after.slot], c.after.row);
        EXPECT_EQ(glb_frame, c.after.frame);
        EXPECT_EQ(glb_zoom, c.after.zoom);
    }
}

TEST_F(InputTest, SpacePlaysTheFramesAtTheirDelaysAndPageKeysStopIt)
{
    make_anim(4, 4, 5);
    const uint16_t delays[] = {5, 0, 20, 1, 3}; // shown 50, 100, 200, 100 and 30 ms
    for (int i = 0; i < 5; i++)
        frames[i].delay = delays[i];
    using changes = std::vector<frame_change>;
    changes played = {{50, 1}, {150, 2}, {350, 3}, {450, 4}, {480, 0}, {530, 1}, {630, 2}};
    EXPECT_EQ(run_passes(&anim, KEY_SPACE, 20, 700), played);
    // Page Down stops playback and steps; Space, held, plays on from there,
    // and tapped stops it.
    changes stepped = {{700, 3}};
    EXPECT_EQ(run_passes(&anim, KEY_PGDN, 20, 500), stepped);
    changes played_on = {{1300, 4}, {1330, 0}, {1380, 1}, {1480, 2}, {1680, 3}, {1780, 4}};
    EXPECT_EQ(run_passes(&anim, KEY_SPACE, 600, 610), played_on);
    EXPECT_EQ(run_passes(&anim, KEY_SPACE, 20, 500), changes{});
}

// Ctrl+Z takes a row change back and selects its slot, Ctrl+Y and
// Ctrl+Shift+Z bring it again; Z and Y alone do nothing. Each step: a key
// tapped with Ctrl and Shift as given, then the slot and slot 0's row.
TEST_F(InputTest, CtrlZTakesARowBackAndCtrlYOrCtrlShiftZBringsItAgain)
{
    make_anim(4, 4, 1);
    const struct { int key; bool ctrl, shift; int32_t slot, row; } steps[] = {
        {KEY_RIGHT, false, false, 0, 1}, {KEY_DOWN, false, false, 1, 1},
        {KEY_Z, false, false, 1, 1},     {KEY_Z, true, false, 0, 0},
        {KEY_Y, false, false, 0, 0},     {KEY_Y, true, false, 0, 1},
        {KEY_Z, true, false, 0, 0},      {KEY_Z, true, true, 0, 1}};
    for (const auto &s : steps) {
        set_key(KEY_LCONTROL, s.ctrl);
        set_key(KEY_RSHIFT, s.shift);
        set_key(s.key, true);
        set_key(s.key, false);
        handle_keys(&anim, bg2);
        EXPECT_EQ(glb_slot, s.slot) << "step " << &s - steps;
        EXPECT_EQ(palshift_bg2[0], s.row) << "step " << &s - steps;
    }
}

// Every slot line and strip row at its edges. Slot lines: a group's first
// and last slot, the first one's text y (lines 20 apart, swatches from 7
// above to 11 below), the swatches' right end; the text starts at x 300.
// Strip rows: bands 5 high from y 15, x from 725 to the strip's last x; the
// last band runs to the strip's bottom.
TEST(HitTest, SlotLinesAndStripRowsEndAtTheirEdges)
{
    const struct { const data_set *set; int first, last, y, right; } groups[] = {
        {&bg2, 0, 6, 15, 698}, {&bg2, 7, 27, 175, 618},
        {&pst, 0, 3, 15, 698}, {&pst, 4, 7, 115, 682}};
    for (const auto &g : groups)
        for (int s = g.first; s <= g.last; s++) {
            SCOPED_TRACE(testing::Message() << "slot " << s);
            int top = g.y + 20 * (s - g.first) - 7;
            int bottom = top + 18;
            for (int y : {top, bottom}) {
                EXPECT_EQ(find_slot_at(*g.set, 299, y), -1);
                EXPECT_EQ(find_slot_at(*g.set, 300, y), s);
                EXPECT_EQ(find_slot_at(*g.set, g.right, y), s);
                EXPECT_EQ(find_slot_at(*g.set, g.right + 1, y), -1);
            }
            EXPECT_EQ(find_slot_at(*g.set, 400, top - 1), -1);
            EXPECT_EQ(find_slot_at(*g.set, 400, bottom + 1), -1);
        }
    const struct { const data_set *set; int rows, right, bottom; } strips[] = {
        {&bg2, 116, 785, 594}, {&pst, 79, 788, 410}};
    for (const auto &st : strips) {
        for (int r = 0; r < st.rows; r++) {
            SCOPED_TRACE(testing::Message() << "row " << r);
            int top = 15 + 5 * r;
            int bottom = r == st.rows - 1 ? st.bottom : top + 4;
            for (int y : {top, bottom}) {
                EXPECT_EQ(find_strip_row_at(*st.set, 724, y), -1);
                EXPECT_EQ(find_strip_row_at(*st.set, 725, y), r);
                EXPECT_EQ(find_strip_row_at(*st.set, st.right, y), r);
                EXPECT_EQ(find_strip_row_at(*st.set, st.right + 1, y), -1);
            }
        }
        EXPECT_EQ(find_strip_row_at(*st.set, 750, 14), -1);
        EXPECT_EQ(find_strip_row_at(*st.set, 750, st.bottom + 1), -1);
    }
}

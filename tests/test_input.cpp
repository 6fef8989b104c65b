// Keys, playback, clicks and release waits over a simulated clock; the mouse's hit tests.
#include "support/screen_fixture.h"

using InputTest = screen_test;

// A pass at every tick of the clock (10 ms) for ms, key k down in the first
// hold ms; the time and the frame at every change of the frame.
static std::vector<std::pair<int, int32_t>> run_passes(gif_anim *anim, int k, int hold, int ms)
{
    std::vector<std::pair<int, int32_t>> changes;
    for (int t = 0; t < ms; t += 10, glb_clock = glb_clock + 1) {
        int32_t frame = glb_frame;
        key[k] = t < hold;
        handle_keys(anim, bg2);
        if (glb_frame != frame)
            changes.emplace_back(10 * glb_clock, glb_frame);
    }
    return changes;
}

TEST_F(InputTest, ATapActsOnceAndAHeldKeyRepeatsAfterItsDelay)
{
    // Two presses each: taps up to 250 ms act once; held 600 ms, a key acts at 0
    // and 300 ms, then at the tick 75 ms (zoom keys 33 ms) after each act.
    const struct { int hold, select_steps, zoom_steps; } holds[] = {
        {20, 1, 1}, {50, 1, 1}, {80, 1, 1}, {130, 1, 1}, {160, 1, 1}, {250, 1, 1}, {600, 5, 9}};
    for (int k : {KEY_UP, KEY_DOWN, KEY_LEFT, KEY_RIGHT, KEY_PGUP, KEY_PGDN, KEY_MINUS, KEY_EQUALS, KEY_MINUS_PAD, KEY_PLUS_PAD})
        for (const auto &h : holds) {
            make_anim(4, 4, 50);
            std::tie(glb_slot, palshift_bg2[13], glb_frame, glb_zoom) = std::make_tuple(13, 50, 25, 500);
            for (int press = 0; press < 2; press++)
                run_passes(&anim, k, h.hold, h.hold + 100);
            int steps = abs(glb_slot - 13) + abs(palshift_bg2[13] - 50) + abs(glb_frame - 25) + abs(glb_zoom - 500) / 10;
            EXPECT_EQ(steps, 2 * (glb_zoom != 500 ? h.zoom_steps : h.select_steps)) << "key " << k << " held " << h.hold;
        }
}

TEST_F(InputTest, SpacePlaysTheFramesAtTheirDelaysAndPageKeysStopIt)
{
    make_anim(4, 4, 5);
    const uint16_t delays[] = {5, 0, 20, 1, 3}; // shown 50, 100, 200, 100 and 30 ms
    for (int i = 0; i < 5; i++)
        frames[i].delay = delays[i];
    using changes = std::vector<std::pair<int, int32_t>>;
    EXPECT_EQ(run_passes(&anim, KEY_SPACE, 20, 700),
              (changes{{50, 1}, {150, 2}, {350, 3}, {450, 4}, {480, 0}, {530, 1}, {630, 2}}));
    // Page Down stops playback and steps; Space, held, plays on from there,
    // and tapped stops it.
    EXPECT_EQ(run_passes(&anim, KEY_PGDN, 20, 500), (changes{{700, 3}}));
    EXPECT_EQ(run_passes(&anim, KEY_SPACE, 600, 610),
              (changes{{1300, 4}, {1330, 0}, {1380, 1}, {1480, 2}, {1680, 3}, {1780, 4}}));
    EXPECT_EQ(run_passes(&anim, KEY_SPACE, 20, 500), changes{});
}

TEST_F(InputTest, ClicksSelectOnPressAndTheWheelZooms)
{
    make_anim(4, 4, 1);
    // A press on B1's line selects it; held onto row 40 of the strip, the
    // button does nothing more; pressed there anew, it gives B1 the row.
    const struct { int x, y, button, wheel, slot, row, zoom; } steps[] = {
        {300, 168, 1, 0, 7, 0, 100}, {725, 215, 1, -3, 7, 0, 70}, {725, 215, 0, -1, 7, 0, 90}, {725, 215, 1, -1, 7, 40, 90}};
    for (const auto &s : steps) {
        mouse_x = s.x, mouse_y = s.y, mouse_b = s.button, mouse_z = s.wheel;
        handle_keys(&anim, bg2);
        EXPECT_EQ(std::make_tuple(glb_slot, palshift_bg2[7], glb_zoom), std::make_tuple(s.slot, s.row, s.zoom));
    }
}

TEST_F(InputTest, ReleaseWaitRestsBetweenChecks)
{
    make_anim(4, 4, 1);
    glb_wait_release = wait_key_release;
    glb_pause = [](unsigned int ms) { glb_test_pauses.push_back(ms), key[KEY_HOME] = glb_test_pauses.size() < 3; };
    key[KEY_HOME] = 1;
    handle_keys(&anim, bg2);
    EXPECT_EQ(glb_test_pauses, std::vector<unsigned int>(3, 5));
}

// Every slot line and strip row at its edges, from the panel's and the
// strip's geometry: slot groups (first and last slot, the first one's text
// y, the swatches' right end), strips (rows, last x and y).
TEST(HitTest, SlotLinesAndStripRowsEndAtTheirEdges)
{
    const struct { const data_set *set; int first, last, y, right; } groups[] = {
        {&bg2, 0, 6, 15, 698}, {&bg2, 7, 27, 175, 618}, {&pst, 0, 3, 15, 698}, {&pst, 4, 7, 115, 682}};
    for (const auto &g : groups)
        for (int s = g.first; s <= g.last; s++) {
            int top = g.y + 20 * (s - g.first) - 7, bottom = top + 18;
            for (int y : {top, bottom})
                EXPECT_EQ(std::make_tuple(find_slot_at(*g.set, 299, y), find_slot_at(*g.set, 300, y),
                                          find_slot_at(*g.set, g.right, y), find_slot_at(*g.set, g.right + 1, y)),
                          std::make_tuple(-1, s, s, -1)) << "slot " << s << " y " << y;
            EXPECT_EQ(find_slot_at(*g.set, 400, top - 1) + find_slot_at(*g.set, 400, bottom + 1), -2) << s;
        }
    const struct { const data_set *set; int rows, right, bottom; } strips[] = {{&bg2, 116, 785, 594}, {&pst, 79, 788, 410}};
    for (const auto &st : strips) {
        for (int r = 0; r < st.rows; r++)
            for (int y : {15 + 5 * r, r == st.rows - 1 ? st.bottom : 19 + 5 * r})
                EXPECT_EQ(std::make_tuple(find_strip_row_at(*st.set, 724, y), find_strip_row_at(*st.set, 725, y),
                                          find_strip_row_at(*st.set, st.right, y), find_strip_row_at(*st.set, st.right + 1, y)),
                          std::make_tuple(-1, r, r, -1)) << "row " << r << " y " << y;
        EXPECT_EQ(find_strip_row_at(*st.set, 750, 14) + find_strip_row_at(*st.set, 750, st.bottom + 1), -2);
    }
}

// Presses logged as the callbacks report them, taken by passes over a
// simulated clock: a press let go between two passes acts once, the
// keyboard's own repeat is no press, and a held key repeats by the loop's
// timing.
#include <allegro.h>
#include <gtest/gtest.h>

#include <vector>

#include "app/press_log.h"

constexpr int RELEASE = 0x80;

// What the keyboard callback reports at a time (ms).
struct key_event {
    int ms;
    int scancode;
};

// A pass every 10 ms from 0 to end_ms; the events of each millisecond are
// logged before a pass at that millisecond. The times of the passes at
// which key k acts.
static std::vector<int> run_passes(const std::vector<key_event> &events, int k,
                                   int64_t repeat_ms, int end_ms)
{
    press_log log{};
    key_track track{};
    std::vector<int> acts;
    size_t next = 0;
    for (int now = 0; now <= end_ms; now++) {
        while (next < events.size() && events[next].ms == now) {
            note_key_event(log, events[next].scancode);
            next++;
        }
        if (now % 10 == 0 && take_key_action(track, log, k, now, repeat_ms))
            acts.push_back(now);
    }
    return acts;
}

TEST(PressLog, ATapBetweenTwoPassesActsOnceAndTwoTapsTwice)
{
    std::vector<key_event> tap = {{3, KEY_UP}, {8, KEY_UP | RELEASE}};
    EXPECT_EQ(run_passes(tap, KEY_UP, 75, 100), std::vector<int>{10});
    std::vector<key_event> two_taps = {
        {2, KEY_UP}, {4, KEY_UP | RELEASE}, {6, KEY_UP}, {8, KEY_UP | RELEASE}};
    EXPECT_EQ(run_passes(two_taps, KEY_UP, 75, 100), (std::vector<int>{10, 20}));
    // Seen down by one pass and let go before the next: once.
    std::vector<key_event> short_hold = {{5, KEY_UP}, {25, KEY_UP | RELEASE}};
    EXPECT_EQ(run_passes(short_hold, KEY_UP, 75, 100), std::vector<int>{10});
    // Another key's presses are not this one's.
    EXPECT_EQ(run_passes(tap, KEY_DOWN, 75, 100), std::vector<int>{});
}

TEST(PressLog, AHeldKeyRepeatsByTheLoopsTimingNotTheKeyboards)
{
    // Down from 3 ms to 703 ms, the keyboard repeating the press every 30 ms
    // after 500 ms: the key acts at the first pass, 300 ms later, then at
    // the first pass 75 ms after each act.
    std::vector<key_event> held = {{3, KEY_RIGHT}};
    for (int ms = 503; ms < 700; ms += 30)
        held.push_back({ms, KEY_RIGHT});
    held.push_back({703, KEY_RIGHT | RELEASE});
    std::vector<int> expected = {10, 310, 390, 470, 550, 630};
    EXPECT_EQ(run_passes(held, KEY_RIGHT, 75, 1000), expected);
    // A key that acts once a press does so however long it is held.
    EXPECT_EQ(run_passes(held, KEY_RIGHT, NO_REPEAT_MS, 1000), std::vector<int>{10});
    // Pressed again while a repeat was due: the new press acts at once and
    // its own delay starts then.
    std::vector<key_event> again = {
        {3, KEY_RIGHT}, {350, KEY_RIGHT | RELEASE}, {352, KEY_RIGHT}, {800, KEY_RIGHT | RELEASE}};
    std::vector<int> twice = {10, 310, 360, 660, 740};
    EXPECT_EQ(run_passes(again, KEY_RIGHT, 75, 1000), twice);
}

TEST(PressLog, EachPressKeepsTheModifiersThatStoodAtIt)
{
    press_log log{};
    note_key_event(log, KEY_LCONTROL);
    note_key_event(log, KEY_Z);
    note_key_event(log, KEY_Z | RELEASE);
    note_key_event(log, KEY_LCONTROL | RELEASE);
    EXPECT_EQ(read_press_mods(log, KEY_Z), PRESS_CTRL);
    EXPECT_FALSE(is_key_held(log, KEY_Z));
    note_key_event(log, KEY_RSHIFT);
    note_key_event(log, KEY_RCONTROL);
    note_key_event(log, KEY_Z);
    EXPECT_EQ(read_press_mods(log, KEY_Z), PRESS_CTRL | PRESS_SHIFT);
    EXPECT_TRUE(is_key_held(log, KEY_Z));
    note_key_event(log, KEY_Y);
    EXPECT_EQ(read_press_mods(log, KEY_Y), PRESS_CTRL | PRESS_SHIFT);
    note_key_event(log, KEY_Z | RELEASE);
    note_key_event(log, KEY_RSHIFT | RELEASE);
    note_key_event(log, KEY_RCONTROL | RELEASE);
    note_key_event(log, KEY_Z);
    EXPECT_EQ(read_press_mods(log, KEY_Z), 0);
    // Both Z presses and the one of Y count; cleared, nothing is left.
    key_track z_track{};
    EXPECT_TRUE(take_key_action(z_track, log, KEY_Z, 0, 75));
    EXPECT_TRUE(take_key_action(z_track, log, KEY_Z, 10, 75));
    EXPECT_TRUE(take_key_action(z_track, log, KEY_Z, 20, 75));
    EXPECT_FALSE(take_key_action(z_track, log, KEY_Z, 30, 75));
    clear_press_log(log);
    EXPECT_FALSE(is_key_held(log, KEY_Z));
    key_track y_track{};
    EXPECT_FALSE(take_key_action(y_track, log, KEY_Y, 40, 75));
}

TEST(PressLog, EveryClickActsOnceAtThePointOfItsPress)
{
    press_log log{};
    button_track track{};
    int x = -1;
    int y = -1;
    // Two clicks between passes, the pointer moved off after the first.
    note_button_event(log, MOUSE_FLAG_LEFT_DOWN, 350, 175);
    note_button_event(log, MOUSE_FLAG_MOVE, 360, 180);
    note_button_event(log, MOUSE_FLAG_LEFT_UP, 360, 180);
    note_button_event(log, MOUSE_FLAG_LEFT_DOWN | MOUSE_FLAG_LEFT_UP, 750, 217);
    // A third press stays down; reported down again with another button,
    // it is no new click.
    note_button_event(log, MOUSE_FLAG_LEFT_DOWN, 10, 10);
    note_button_event(log, MOUSE_FLAG_RIGHT_DOWN | MOUSE_FLAG_LEFT_DOWN, 20, 20);
    EXPECT_TRUE(take_button_press(track, log, x, y));
    EXPECT_EQ(x, 350);
    EXPECT_EQ(y, 175);
    EXPECT_TRUE(take_button_press(track, log, x, y));
    EXPECT_EQ(x, 750);
    EXPECT_EQ(y, 217);
    EXPECT_TRUE(take_button_press(track, log, x, y));
    EXPECT_EQ(x, 10);
    EXPECT_FALSE(take_button_press(track, log, x, y));
    EXPECT_EQ(x, 10);
}

TEST(PressLog, OfMoreClicksThanItKeepsTheNewestAreTaken)
{
    press_log log{};
    button_track track{};
    for (int i = 0; i < PRESS_POINTS + 4; i++) {
        note_button_event(log, MOUSE_FLAG_LEFT_DOWN, i, 100 + i);
        note_button_event(log, MOUSE_FLAG_LEFT_UP, i, 100 + i);
    }
    std::vector<int> xs;
    int x = 0;
    int y = 0;
    while (take_button_press(track, log, x, y))
        xs.push_back(x);
    ASSERT_EQ(xs.size(), size_t(PRESS_POINTS));
    EXPECT_EQ(xs.front(), 4);
    EXPECT_EQ(xs.back(), PRESS_POINTS + 3);
    EXPECT_EQ(y, 100 + PRESS_POINTS + 3);
}

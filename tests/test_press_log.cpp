// Presses logged as the callbacks report them, taken by passes over a
// simulated clock: a press let go between two passes acts once, and so does
// a click, at the point of its press. Held keys: test_input.
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

TEST(PressLog, EveryTapBetweenTwoPassesActsOnce)
{
    // Two taps between two passes: one act a pass. Seen down by one pass
    // and let go before the next: once. Another key's taps are not its own.
    std::vector<key_event> taps = {
        {2, KEY_UP}, {4, KEY_UP | RELEASE}, {6, KEY_UP}, {8, KEY_UP | RELEASE}};
    EXPECT_EQ(run_passes(taps, KEY_UP, 75, 100), (std::vector<int>{10, 20}));
    std::vector<key_event> short_hold = {{5, KEY_UP}, {25, KEY_UP | RELEASE}};
    EXPECT_EQ(run_passes(short_hold, KEY_UP, 75, 100), std::vector<int>{10});
    EXPECT_EQ(run_passes(taps, KEY_DOWN, 75, 100), std::vector<int>{});
}

TEST(PressLog, EveryClickActsOnceAtThePointOfItsPress)
{
    press_log log{};
    button_track track{};
    int x = -1;
    int y = -1;
    // Two clicks between passes, the pointer moved off after the first; a
    // third press, reported down again with another button, is one click.
    note_button_event(log, MOUSE_FLAG_LEFT_DOWN, 350, 175);
    note_button_event(log, MOUSE_FLAG_LEFT_UP, 360, 180);
    note_button_event(log, MOUSE_FLAG_LEFT_DOWN | MOUSE_FLAG_LEFT_UP, 750, 217);
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
}

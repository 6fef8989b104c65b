// One pass of key handling: order, bounds, pauses and the release waits.
#include <allegro.h>
#include <gtest/gtest.h>
#include <chrono>
#include <thread>
#include <vector>

#include "app/app.h"
#include "display/screen.h"
#include "gif/gif_anim.h"
#include "palette/data_set.h"
#include "palette/tint_slots.h"
#include "support/screen_fixture.h"

namespace {

// The defaults, captured before any test swaps in its recorders.
void (*const original_pause)(unsigned int) = glb_pause;
void (*const original_wait_release)(int) = glb_wait_release;

std::vector<unsigned int> pauses;
std::vector<int> released;

void record_pause(unsigned int ms) { pauses.push_back(ms); }

// Stands in for the keyboard handler: the key goes up as soon as it is waited on.
void release_key(int scancode)
{
    released.push_back(scancode);
    key[scancode] = 0;
}

class KeysTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        start_screen_allegro();
        release_screen_keys();
        pauses.clear();
        released.clear();
        glb_pause = record_pause;
        glb_wait_release = release_key;
        glb_slot = 0;
        glb_frame = 0;
        glb_zoom = 100;
        for (int32_t &row : palshift_bg2)
            row = 0;
        for (int32_t &row : palshift_pst)
            row = 0;
        anim = make_screen_anim(10, 10, 5);
    }
    void TearDown() override
    {
        free_screen_anim(anim);
        release_screen_keys();
        glb_pause = original_pause;
        glb_wait_release = original_wait_release;
    }
    // Runs one pass with the given keys held and returns the zoom left.
    int32_t zoom_after(int32_t zoom, std::initializer_list<int> held)
    {
        glb_zoom = zoom;
        release_screen_keys();
        for (int k : held)
            key[k] = 1;
        handle_keys(anim, bg2);
        return glb_zoom;
    }
    gif_anim *anim = nullptr;
};

TEST(SnapZoom, RoundsToHundredsAndCyclesWholeHundreds)
{
    EXPECT_EQ(snap_zoom(150), 200);
    EXPECT_EQ(snap_zoom(149), 100);
    EXPECT_EQ(snap_zoom(40), 0);
    EXPECT_EQ(snap_zoom(990), 1000);
    EXPECT_EQ(snap_zoom(1010), 1000);
    EXPECT_EQ(snap_zoom(100), 200);
    EXPECT_EQ(snap_zoom(900), 1000);
    EXPECT_EQ(snap_zoom(1000), 100);
    EXPECT_EQ(snap_zoom(1), 0);
}

TEST_F(KeysTest, HomeSnapsThenBoundsAndWaitsForRelease)
{
    EXPECT_EQ(zoom_after(40, {KEY_HOME}), 10);
    EXPECT_EQ(zoom_after(40, {KEY_HOME, KEY_LSHIFT}), 1);
    EXPECT_EQ(zoom_after(1000, {KEY_HOME}), 100);
    EXPECT_EQ(released, (std::vector<int>{KEY_HOME, KEY_HOME, KEY_HOME}));
    EXPECT_TRUE(pauses.empty());
    // Plus then Home at the top: 1010 snaps back down to 1000.
    EXPECT_EQ(zoom_after(1000, {KEY_EQUALS, KEY_HOME}), 1000);
}

TEST_F(KeysTest, ZoomStepsAndBounds)
{
    EXPECT_EQ(zoom_after(10, {KEY_MINUS}), 10);
    EXPECT_EQ(pauses, std::vector<unsigned int>{33});
    EXPECT_EQ(zoom_after(15, {KEY_MINUS}), 10);
    EXPECT_EQ(zoom_after(15, {KEY_MINUS_PAD}), 10);
    EXPECT_EQ(zoom_after(2, {KEY_MINUS, KEY_RSHIFT}), 1);
    EXPECT_EQ(zoom_after(1, {KEY_MINUS, KEY_LSHIFT}), 1);
    // Shift let go below 10: the next pass raises the zoom with no zoom key.
    EXPECT_EQ(zoom_after(3, {}), 10);
    EXPECT_EQ(zoom_after(995, {KEY_EQUALS}), 1000);
    EXPECT_EQ(zoom_after(995, {KEY_PLUS_PAD, KEY_LSHIFT}), 996);
    EXPECT_EQ(zoom_after(100, {KEY_EQUALS, KEY_MINUS}), 100);
    EXPECT_EQ(pauses.size(), 9u);
}

TEST_F(KeysTest, FramesWrapAndAlwaysPause)
{
    key[KEY_PGUP] = 1;
    handle_keys(anim, bg2);
    EXPECT_EQ(glb_frame, 4);
    release_screen_keys();
    key[KEY_PGDN] = 1;
    handle_keys(anim, bg2);
    EXPECT_EQ(glb_frame, 0);
    glb_frame = 2;
    handle_keys(anim, bg2);
    EXPECT_EQ(glb_frame, 3);

    anim->num_frames = 1;
    glb_frame = 0;
    key[KEY_PGUP] = 1;
    handle_keys(anim, bg2);
    EXPECT_EQ(glb_frame, 0);
    EXPECT_EQ(pauses, (std::vector<unsigned int>{75, 75, 75, 75, 75}));
}

TEST_F(KeysTest, SlotBoundsAndOrder)
{
    key[KEY_UP] = 1;
    handle_keys(anim, bg2);
    EXPECT_EQ(glb_slot, 0);
    EXPECT_TRUE(pauses.empty());

    release_screen_keys();
    key[KEY_DOWN] = 1;
    glb_slot = bg2.last_slot;
    handle_keys(anim, bg2);
    EXPECT_EQ(glb_slot, 27);
    glb_slot = pst.last_slot;
    handle_keys(anim, pst);
    EXPECT_EQ(glb_slot, 7);
    EXPECT_TRUE(pauses.empty());

    // Up then Down in one pass: 3 -> 2 -> 3, a pause for each.
    key[KEY_UP] = 1;
    glb_slot = 3;
    handle_keys(anim, bg2);
    EXPECT_EQ(glb_slot, 3);
    EXPECT_EQ(pauses, (std::vector<unsigned int>{75, 75}));
}

TEST_F(KeysTest, RowBoundsMoveTowardsRangeOnly)
{
    glb_slot = 9;
    key[KEY_RIGHT] = 1;
    palshift_bg2[9] = 115;
    handle_keys(anim, bg2);
    EXPECT_EQ(palshift_bg2[9], 115);
    palshift_pst[7] = 78;
    glb_slot = 7;
    handle_keys(anim, pst);
    EXPECT_EQ(palshift_pst[7], 78);
    EXPECT_TRUE(pauses.empty());

    // Below the range Right raises and Left refuses; above it the reverse.
    palshift_bg2[7] = -3;
    handle_keys(anim, bg2);
    EXPECT_EQ(palshift_bg2[7], -2);
    release_screen_keys();
    key[KEY_LEFT] = 1;
    handle_keys(anim, bg2);
    EXPECT_EQ(palshift_bg2[7], -2);
    palshift_bg2[7] = 200;
    handle_keys(anim, bg2);
    EXPECT_EQ(palshift_bg2[7], 199);
    key[KEY_RIGHT] = 1;
    handle_keys(anim, bg2);
    EXPECT_EQ(palshift_bg2[7], 198);
    EXPECT_EQ(pauses.size(), 3u);

    // Left at 0 then Right: only Right acts. The other table is untouched.
    palshift_bg2[7] = 0;
    handle_keys(anim, bg2);
    EXPECT_EQ(palshift_bg2[7], 1);
    EXPECT_EQ(palshift_pst[7], 78);
}

TEST_F(KeysTest, DownThenRightActsOnTheNewSlot)
{
    key[KEY_DOWN] = 1;
    key[KEY_RIGHT] = 1;
    handle_keys(anim, bg2);
    EXPECT_EQ(glb_slot, 1);
    EXPECT_EQ(palshift_bg2[0], 0);
    EXPECT_EQ(palshift_bg2[1], 1);
}

TEST_F(KeysTest, SaveKeyWaitsForReleaseAfterExport)
{
    // No canvas: the export returns at once; the wait still comes last.
    enter_screen_scratch_dir();
    glb_sprite_8bpp = nullptr;
    key[KEY_S] = 1;
    handle_keys(anim, bg2);
    leave_screen_scratch_dir();
    EXPECT_EQ(released, std::vector<int>{KEY_S});
    EXPECT_EQ(key[KEY_S], 0);
}

TEST(WaitKeyRelease, DefaultSpinsUntilTheHandlerLetsGo)
{
    EXPECT_EQ(original_pause, rest);
    EXPECT_EQ(original_wait_release, wait_key_release);
    key[KEY_HOME] = 1;
    std::thread handler([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        key[KEY_HOME] = 0;
    });
    wait_key_release(KEY_HOME);
    handler.join();
    EXPECT_EQ(key[KEY_HOME], 0);
}

} // namespace

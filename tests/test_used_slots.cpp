// Which palette entries the frames' pixels hold, and which slots' ranges
// hold any of them.
#include "support/screen_fixture.h"

#include "palette/used_slots.h"

using UsedSlotsTest = screen_test;

TEST_F(UsedSlotsTest, EntriesOfEveryFrameCountToTheirSlots)
{
    make_anim(8, 8, 3);
    BITMAP *first = add_frame(0, 0, 0, 4, 4, 0);
    BITMAP *second = add_frame(1, 2, 2, 3, 2, 0);
    // The frame's last pixel, and pixels of a later frame.
    putpixel(first, 3, 3, 27);
    putpixel(second, 0, 0, 255);
    putpixel(second, 2, 1, 40);
    // A frame without a bitmap adds nothing.
    frames[2].bmp = nullptr;
    std::array<bool, 256> used = find_used_entries(anim);
    for (int e = 0; e < 256; e++) {
        bool expected = e == 0 || e == 27 || e == 40 || e == 255;
        EXPECT_EQ(used[e], expected) << "entry " << e;
    }
    // 27 ends the second range and 40 starts the fourth; 28..39 is unused.
    std::vector<entry_range> ranges = {{4, 12}, {16, 12}, {28, 12}, {40, 8}, {248, 8}, {300, 8}};
    std::vector<bool> expected = {false, true, false, true, true, false};
    EXPECT_EQ(find_used_slots(used, ranges), expected);
}

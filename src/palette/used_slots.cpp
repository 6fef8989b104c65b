#include "palette/used_slots.h"

#include <allegro.h>

#include "gif/gif_anim.h"
#include "palette/data_set.h"
#include "palette/tint_slots.h"

std::array<bool, 256> find_used_entries(const gif_anim &anim)
{
    std::array<bool, 256> used{};
    for (int32_t i = 0; anim.frames && i < anim.num_frames; i++) {
        BITMAP *bmp = anim.frames[i].bmp;
        if (!bmp || bitmap_color_depth(bmp) != 8)
            continue;
        for (int y = 0; y < bmp->h; y++) {
            const uint8_t *row = bmp->line[y];
            for (int x = 0; x < bmp->w; x++)
                used[row[x]] = true;
        }
    }
    return used;
}

std::vector<bool> find_used_slots(const std::array<bool, 256> &used,
                                  const std::vector<entry_range> &ranges)
{
    std::vector<bool> slots(ranges.size(), false);
    for (size_t s = 0; s < ranges.size(); s++) {
        for (int e = ranges[s].first; e < ranges[s].first + ranges[s].count; e++) {
            if (e >= 0 && e < 256 && used[size_t(e)])
                slots[s] = true;
        }
    }
    return slots;
}

std::vector<bool> find_used_slots(const gif_anim &anim, const data_set &set)
{
    std::vector<entry_range> ranges;
    for (int s = 0; s <= set.last_slot; s++)
        ranges.push_back({find_slot_first_entry(set, s), count_slot_colours(set, s)});
    return find_used_slots(find_used_entries(anim), ranges);
}

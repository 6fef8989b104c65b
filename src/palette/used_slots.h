// Which tint slots the animation's pixels use: a slot none of whose palette
// entries any frame holds tints nothing.
#pragma once

#include <array>
#include <vector>

struct gif_anim;
struct data_set;

// A slot's palette entries: first .. first + count - 1.
struct entry_range {
    int first;
    int count;
};

// Per palette entry, whether a pixel of any frame's bitmap holds it. Run
// after the remap, when the pixels are entries of the global palette.
std::array<bool, 256> find_used_entries(const gif_anim &anim);

// Per range, in order, whether any of its entries is used.
std::vector<bool> find_used_slots(const std::array<bool, 256> &used,
                                  const std::vector<entry_range> &ranges);
// Per slot of the data set, whether a pixel of any frame uses its entries.
std::vector<bool> find_used_slots(const gif_anim &anim, const data_set &set);

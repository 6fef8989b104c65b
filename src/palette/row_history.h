// The history of gradient row changes: what Ctrl+Z takes back and Ctrl+Y
// brings again, over any slot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Changes kept before the oldest is forgotten.
constexpr size_t ROW_HISTORY_LIMIT = 1000;

// One slot's row going from before to after.
struct row_change {
    int32_t slot;
    int32_t before;
    int32_t after;
};

struct row_history {
    std::vector<row_change> done;   // oldest first: what undo takes back, from the end
    std::vector<row_change> undone; // what redo brings again, from the end
    size_t limit = ROW_HISTORY_LIMIT;
};

// Notes every slot whose row differs between before and after (the slots'
// rows ahead of an input pass and behind it), in slot order. Any change
// drops what redo could bring back; past the limit the oldest goes.
void record_row_changes(row_history &history, const int32_t *before, const int32_t *after,
                        int32_t slots);

// Gives the last change's slot its row from before the change; the slot, or
// -1 (rows untouched) when there is nothing to take back or the slot is not
// below slots.
int32_t undo_row_change(row_history &history, int32_t *rows, int32_t slots);
// Gives the last undone change's slot its row from after the change again;
// the slot, or -1 as undo.
int32_t redo_row_change(row_history &history, int32_t *rows, int32_t slots);

#include "palette/row_history.h"

void record_row_changes(row_history &history, const int32_t *before, const int32_t *after,
                        int32_t slots)
{
    for (int32_t s = 0; s < slots; s++) {
        if (before[s] == after[s])
            continue;
        history.undone.clear();
        history.done.push_back({s, before[s], after[s]});
        if (history.done.size() > history.limit)
            history.done.erase(history.done.begin());
    }
}

// Takes the last change of from, sets its slot's row to before or after it,
// and puts it on to.
static int32_t move_row_change(std::vector<row_change> &from, std::vector<row_change> &to,
                               bool use_after, int32_t *rows, int32_t slots)
{
    if (from.empty())
        return -1;
    row_change change = from.back();
    if (change.slot < 0 || change.slot >= slots)
        return -1;
    from.pop_back();
    rows[change.slot] = use_after ? change.after : change.before;
    to.push_back(change);
    return change.slot;
}

int32_t undo_row_change(row_history &history, int32_t *rows, int32_t slots)
{
    return move_row_change(history.done, history.undone, false, rows, slots);
}

int32_t redo_row_change(row_history &history, int32_t *rows, int32_t slots)
{
    return move_row_change(history.undone, history.done, true, rows, slots);
}

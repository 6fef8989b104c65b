// The row history: undo and redo across slots, its limit, and redo dropped
// by a new change.
#include <gtest/gtest.h>

#include <vector>

#include "palette/row_history.h"

using rows_t = std::vector<int32_t>;

// Gives slot the row value as an input pass would, noting the pass's change.
static void change_row(row_history &history, rows_t &rows, int32_t slot, int32_t value)
{
    rows_t before = rows;
    rows[slot] = value;
    record_row_changes(history, before.data(), rows.data(), int32_t(rows.size()));
}

TEST(RowHistory, UndoAndRedoWalkBackAndForthAcrossSlots)
{
    row_history history;
    rows_t rows(4, 0);
    change_row(history, rows, 1, 5);
    change_row(history, rows, 3, 7);
    change_row(history, rows, 1, 6);
    // A pass that changed nothing is no change.
    change_row(history, rows, 2, 0);
    EXPECT_EQ(undo_row_change(history, rows.data(), 4), 1);
    EXPECT_EQ(rows, (rows_t{0, 5, 0, 7}));
    EXPECT_EQ(undo_row_change(history, rows.data(), 4), 3);
    EXPECT_EQ(rows, (rows_t{0, 5, 0, 0}));
    EXPECT_EQ(redo_row_change(history, rows.data(), 4), 3);
    EXPECT_EQ(rows, (rows_t{0, 5, 0, 7}));
    EXPECT_EQ(undo_row_change(history, rows.data(), 4), 3);
    EXPECT_EQ(undo_row_change(history, rows.data(), 4), 1);
    EXPECT_EQ(rows, (rows_t{0, 0, 0, 0}));
    // Nothing left to take back: the rows stay.
    EXPECT_EQ(undo_row_change(history, rows.data(), 4), -1);
    EXPECT_EQ(rows, (rows_t{0, 0, 0, 0}));
    EXPECT_EQ(redo_row_change(history, rows.data(), 4), 1);
    EXPECT_EQ(redo_row_change(history, rows.data(), 4), 3);
    EXPECT_EQ(redo_row_change(history, rows.data(), 4), 1);
    EXPECT_EQ(rows, (rows_t{0, 6, 0, 7}));
    EXPECT_EQ(redo_row_change(history, rows.data(), 4), -1);
    EXPECT_EQ(rows, (rows_t{0, 6, 0, 7}));
}

TEST(RowHistory, ANewChangeDropsWhatRedoWouldBringBack)
{
    row_history history;
    rows_t rows(3, 0);
    change_row(history, rows, 0, 1);
    change_row(history, rows, 0, 2);
    EXPECT_EQ(undo_row_change(history, rows.data(), 3), 0);
    change_row(history, rows, 2, 9);
    EXPECT_EQ(redo_row_change(history, rows.data(), 3), -1);
    EXPECT_EQ(rows, (rows_t{1, 0, 9}));
    EXPECT_EQ(undo_row_change(history, rows.data(), 3), 2);
    EXPECT_EQ(undo_row_change(history, rows.data(), 3), 0);
    EXPECT_EQ(rows, (rows_t{0, 0, 0}));
}

TEST(RowHistory, KeepsTheNewestChangesUpToItsLimit)
{
    // The default keeps at least a hundred changes.
    row_history history;
    rows_t rows(2, 0);
    for (int32_t value = 1; value <= 150; value++)
        change_row(history, rows, value % 2, value);
    int undone = 0;
    while (undo_row_change(history, rows.data(), 2) >= 0)
        undone++;
    EXPECT_EQ(undone, 150);
    EXPECT_EQ(rows, (rows_t{0, 0}));
    // Past a limit of three, the oldest changes go.
    row_history short_history;
    short_history.limit = 3;
    for (int32_t value = 1; value <= 5; value++)
        change_row(short_history, rows, 0, value);
    EXPECT_EQ(undo_row_change(short_history, rows.data(), 2), 0);
    EXPECT_EQ(undo_row_change(short_history, rows.data(), 2), 0);
    EXPECT_EQ(undo_row_change(short_history, rows.data(), 2), 0);
    EXPECT_EQ(rows[0], 2);
    EXPECT_EQ(undo_row_change(short_history, rows.data(), 2), -1);
    EXPECT_EQ(rows[0], 2);
}

TEST(RowHistory, AChangeOfASlotPastTheTableIsLeftAlone)
{
    row_history history;
    rows_t rows(8, 0);
    change_row(history, rows, 7, 4);
    // Undone over a table of four slots, it touches nothing and stays.
    EXPECT_EQ(undo_row_change(history, rows.data(), 4), -1);
    EXPECT_EQ(rows[7], 4);
    EXPECT_EQ(undo_row_change(history, rows.data(), 8), 7);
    EXPECT_EQ(rows[7], 0);
}

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

TEST(RowHistory, UndoAndRedoWalkAcrossSlotsAndANewChangeDropsTheRedo)
{
    row_history history;
    rows_t rows(4, 0);
    change_row(history, rows, 1, 5);
    change_row(history, rows, 3, 7);
    change_row(history, rows, 1, 6);
    // A pass that changed nothing is no change.
    change_row(history, rows, 2, 0);
    EXPECT_EQ(undo_row_change(history, rows.data(), 4), 1);
    EXPECT_EQ(undo_row_change(history, rows.data(), 4), 3);
    EXPECT_EQ(rows, (rows_t{0, 5, 0, 0}));
    EXPECT_EQ(redo_row_change(history, rows.data(), 4), 3);
    EXPECT_EQ(rows, (rows_t{0, 5, 0, 7}));
    // Undone past the first change: nothing more, the rows stay.
    EXPECT_EQ(undo_row_change(history, rows.data(), 4), 3);
    EXPECT_EQ(undo_row_change(history, rows.data(), 4), 1);
    EXPECT_EQ(undo_row_change(history, rows.data(), 4), -1);
    EXPECT_EQ(rows, (rows_t{0, 0, 0, 0}));
    EXPECT_EQ(redo_row_change(history, rows.data(), 4), 1);
    // A new change: the two undone ones are gone.
    change_row(history, rows, 2, 9);
    EXPECT_EQ(redo_row_change(history, rows.data(), 4), -1);
    EXPECT_EQ(undo_row_change(history, rows.data(), 4), 2);
    EXPECT_EQ(rows, (rows_t{0, 5, 0, 0}));
    // A slot past the table is left alone, and its change stays.
    change_row(history, rows, 3, 4);
    EXPECT_EQ(undo_row_change(history, rows.data(), 3), -1);
    EXPECT_EQ(undo_row_change(history, rows.data(), 4), 3);
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
    history.limit = 3;
    for (int32_t value = 1; value <= 5; value++)
        change_row(history, rows, 0, value);
    while (undo_row_change(history, rows.data(), 2) >= 0)
        undone++;
    EXPECT_EQ(undone, 153);
    EXPECT_EQ(rows[0], 2);
}

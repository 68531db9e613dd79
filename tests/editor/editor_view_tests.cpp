// The editor's view on a windowless grid: pane arithmetic, the cursor clamp
// and scrolling, the title, selection and status rows as cells.
#include <gtest/gtest.h>

#include <cstdlib>

#include "editor_test_support.h"

namespace {

std::string numbered(int count) {
    std::string text;
    for (int i = 1; i <= count; ++i) text += "line " + std::to_string(i) + "\n";
    return text;
}

}  // namespace

TEST(PaneLayout, one_pane_takes_every_row_between_title_and_help) {
    const PaneLayout layout = compute_pane_layout(32, 1, 1, 1.0);
    EXPECT_FALSE(layout.split);
    EXPECT_EQ(layout.top[0], 1);
    EXPECT_EQ(layout.height[0], 30);
    EXPECT_EQ(layout.height[1], 0);
    EXPECT_EQ(layout.divider_row, -1);
}

TEST(PaneLayout, split_panes_share_the_rows_around_a_divider) {
    const PaneLayout layout = compute_pane_layout(32, 1, 1, 0.5);
    EXPECT_TRUE(layout.split);
    EXPECT_EQ(layout.split_offset, 14);
    EXPECT_EQ(layout.height[0], 14);
    EXPECT_EQ(layout.divider_row, 15);
    EXPECT_EQ(layout.top[1], 16);
    EXPECT_EQ(layout.height[1], 15);
}

TEST(CursorView, vertical_moves_remember_the_wanted_column) {
    GridEditor grid;
    grid.load(std::string(30, 'a') + "\nabcde\n" + std::string(30, 'b') + "\n");
    CellEditor& editor = *grid.editor;
    grid.put_cursor(0, 20);
    editor.ensure_cursor_visible(false, -1);
    editor.cursor_line = 1;
    editor.ensure_cursor_visible(true, -1);
    EXPECT_EQ(editor.cursor_col, 5);
    editor.cursor_line = 2;
    editor.ensure_cursor_visible(true, -1);
    EXPECT_EQ(editor.cursor_col, 20);
    editor.cursor_col = 3;
    editor.ensure_cursor_visible(false, -1);
    EXPECT_EQ(editor.wanted_col, -1) << "a horizontal move forgets the column";
}

TEST(CursorView, reaching_cols_minus_three_scrolls_right_by_one_in_both_panes) {
    GridEditor grid(12, 20);
    grid.load(std::string(40, 'x') + "\n" + std::string(40, 'y') + "\n");
    CellEditor& editor = *grid.editor;
    editor.split = 0.5;
    grid.put_cursor(0, 16);
    editor.ensure_cursor_visible(false, -1);
    EXPECT_EQ(editor.hscroll, 0);
    editor.cursor_col = 17;
    editor.ensure_cursor_visible(false, -1);
    EXPECT_EQ(editor.hscroll, 1);
    EXPECT_EQ(grid.screen.cursor_col, 16);
    const PaneLayout layout = editor.pane_layout();
    grid.editor->draw(-1);
    EXPECT_EQ(grid.row(layout.top[0] + 1).substr(0, 3), "yyy");
    EXPECT_EQ(grid.row(layout.top[1] + 1).substr(0, 3), "yyy");
    editor.cursor_col = 0;
    editor.ensure_cursor_visible(false, -1);
    EXPECT_EQ(editor.hscroll, 0);
}

TEST(CursorView, cursor_below_the_pane_scrolls_it_and_place_sets_the_line_position) {
    GridEditor grid(12, 40);  // a pane of 10 rows
    grid.load(numbered(100));
    CellEditor& editor = *grid.editor;
    grid.put_cursor(50, 0);
    editor.ensure_cursor_visible(false, -1);
    EXPECT_EQ(editor.pane_scroll[0], 41);
    EXPECT_EQ(grid.row(10), "line 51");
    editor.ensure_cursor_visible(false, 0.5);
    EXPECT_EQ(editor.pane_scroll[0], 45);
    editor.cursor_line = 3;
    editor.ensure_cursor_visible(false, -1);
    EXPECT_EQ(editor.pane_scroll[0], 3);
    EXPECT_EQ(grid.screen.cursor_row, 1);
}

TEST(CursorView, status_shows_position_range_mode_and_modified_mark) {
    GridEditor grid(32, 60);  // a pane of 30 rows
    grid.load(numbered(100));
    EXPECT_NE(grid.message_row().find("Line 1/100 [1-31] Col 1 [INS]"), std::string::npos) << grid.message_row();
    grid.editor->insert_character('z');
    EXPECT_NE(grid.message_row().find("Col 2 [INS]*"), std::string::npos) << grid.message_row();
    ASSERT_EQ(grid.editor->save(), 0);
    grid.editor->ensure_cursor_visible(false, -1);
    EXPECT_EQ(grid.message_row().find('*'), std::string::npos) << grid.message_row();
}

TEST(CursorView, long_paths_show_their_end_in_the_title) {
    GridEditor grid(6, 20);
    grid.editor->file_path.set("C:\\very\\long\\folder\\name\\settings.txt");
    grid.editor->draw(-1);
    EXPECT_EQ(grid.row(0), "...me\\settings.txt");
    EXPECT_EQ(grid.attr(0, 0), ATTR_TITLE);
    EXPECT_EQ(grid.attr(0, 19), ATTR_TITLE_FILL);
}

TEST(Selection, selected_text_is_drawn_with_the_selection_attribute) {
    GridEditor grid;
    grid.load("abcdef\n\nxyz\n");
    grid.select(0, 2, 2, 1);
    grid.editor->draw(-1);
    EXPECT_EQ(grid.attr(1, 1), ATTR_TEXT);
    EXPECT_EQ(grid.attr(1, 2), ATTR_SELECTED);
    EXPECT_EQ(grid.attr(1, 5), ATTR_SELECTED);
    EXPECT_EQ(grid.attr(1, 6), ATTR_TEXT) << "cells past the text are not highlighted";
    EXPECT_EQ(grid.attr(2, 0), ATTR_SELECTED) << "an empty selected line shows one cell";
    EXPECT_EQ(grid.attr(3, 0), ATTR_SELECTED);
    EXPECT_EQ(grid.attr(3, 1), ATTR_TEXT);
    EXPECT_EQ(grid.message_row().substr(0, 9), "SELECTING");
}

TEST(Selection, select_line_selects_a_whole_line_or_goes_to_the_end) {
    GridEditor grid;
    grid.load("one\ntwo\n");
    grid.editor->select_line(1);
    EXPECT_EQ(grid.editor->selecting, 1);
    EXPECT_EQ(grid.editor->sel_col, 3);
    EXPECT_EQ(grid.editor->cursor_col, 0);
    EXPECT_EQ(grid.attr(2, 2), ATTR_SELECTED);
    grid.editor->selecting = 0;
    grid.editor->select_line(2);
    EXPECT_EQ(grid.editor->selecting, 0);
    EXPECT_EQ(grid.editor->cursor_line, 1);
    EXPECT_EQ(grid.editor->cursor_col, 3);
}

TEST(Messages, a_message_shows_on_the_help_row_until_the_next_key) {
    GridEditor grid;
    grid.load("text\n");
    grid.editor->show_message("Hello there");
    EXPECT_EQ(grid.editor->state, 1);
    EXPECT_EQ(grid.message_row().substr(0, 11), "Hello there");
    EXPECT_EQ(grid.attr(grid.screen.rows - 1, 0), ATTR_MESSAGE);
    grid.editor->on_key('k');
    EXPECT_EQ(grid.editor->state, 0);
    EXPECT_EQ(grid.message_row().substr(0, 6), "Ctrl+(");
    EXPECT_EQ(grid.document(), (Lines{"ktext"})) << "the key that removes the message also acts";
}

TEST(TinyGrid, a_one_cell_grid_survives_editing_and_drawing) {
    GridEditor grid(1, 1);
    grid.load("abc\ndef\n");
    grid.editor->insert_character('x');
    grid.editor->enter_key(false);
    grid.editor->select_all();
    grid.editor->show_message("Pasted");
    grid.editor->undo();
    EXPECT_EQ(grid.document(), (Lines{"xabc", "def"}));
}

TEST(StatusLine, a_pane_narrower_than_help_and_status_cuts_the_help_before_a_blank) {
    GridEditor grid(12, 45);
    grid.load("one\ntwo\nthree\nfour\n");
    EXPECT_EQ(grid.message_row(), "Ctrl+(Pane Find/R Line 1/4 [1-4] Col 1 [INS]");
    EXPECT_EQ(grid.attr(grid.screen.rows - 1, 17), ATTR_HELP);
    grid.editor->select_all();
    EXPECT_EQ(grid.message_row(), "SELECTING  ESC:ca Line 1/4 [1-4] Col 1 [INS]");
}

TEST(StatusLine, a_shorter_status_blanks_the_longer_one_and_a_grid_without_cells_is_left_alone) {
    GridEditor grid(12, 60);
    grid.load(numbered(10) + std::string(120, 'x') + "\n");
    grid.put_cursor(10, 109);
    grid.editor->ensure_cursor_visible(false, -1);
    EXPECT_EQ(grid.message_row(), "Ctrl+(Pane Find/Replace )   Line 11/11 [2-11] Col 110 [INS]");
    grid.put_cursor(0, 0);
    grid.editor->ensure_cursor_visible(false, -1);
    EXPECT_EQ(grid.message_row(), "Ctrl+(Pane Find/Replace )      Line 1/11 [1-11] Col 1 [INS]");

    grid.put_cursor(10, 109);
    grid.editor->ensure_cursor_visible(false, -1);  // a long status again
    std::free(grid.screen.cells);  // as a failed allocation leaves the grid
    grid.screen.cells = nullptr;
    grid.put_cursor(0, 0);
    // Drawn on another thread, so that a drawing loop that never ends fails
    // the test instead of stopping the run.
    const HANDLE thread = CreateThread(
        nullptr, 0,
        [](void* editor) -> DWORD {
            static_cast<CellEditor*>(editor)->ensure_cursor_visible(false, -1);
            static_cast<CellEditor*>(editor)->draw(-1);
            return 0;
        },
        grid.editor.get(), 0, nullptr);
    ASSERT_NE(thread, nullptr);
    const bool finished = WaitForSingleObject(thread, 5000) == WAIT_OBJECT_0;
    if (!finished) TerminateThread(thread, 1);
    CloseHandle(thread);
    EXPECT_TRUE(finished) << "the status line was drawn and the editor went on";
}

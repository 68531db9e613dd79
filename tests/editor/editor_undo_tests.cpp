// The undo history: one step per command, the messages, redo, thinning and
// the sharing of unchanged lines between snapshots.
#include <gtest/gtest.h>

#include "editor_test_support.h"

TEST(Undo, three_typed_characters_undo_one_at_a_time_then_cannot) {
    GridEditor grid;
    grid.load("x\n");
    for (char c : {'a', 'b', 'c'}) grid.editor->insert_character(static_cast<uint32_t>(c));
    EXPECT_EQ(grid.document(), (Lines{"abcx"}));
    grid.editor->undo();
    EXPECT_EQ(grid.document(), (Lines{"abx"}));
    EXPECT_NE(grid.message_row().find("Undid action - 2 items in undo buffer"), std::string::npos);
    grid.editor->undo();
    grid.editor->undo();
    EXPECT_EQ(grid.document(), (Lines{"x"}));
    EXPECT_FALSE(grid.editor->modified());
    grid.editor->undo();
    EXPECT_EQ(grid.message_row().substr(0, 10), "Can't Undo");
    EXPECT_EQ(grid.document(), (Lines{"x"}));
}

TEST(Undo, redo_replays_and_a_new_edit_discards_it) {
    GridEditor grid;
    grid.load("x\n");
    grid.editor->insert_character('a');
    grid.editor->insert_character('b');
    grid.editor->undo();
    grid.editor->undo();
    grid.editor->redo();
    EXPECT_EQ(grid.document(), (Lines{"ax"}));
    EXPECT_NE(grid.message_row().find("Redid action - 1 items in redo buffer"), std::string::npos);
    EXPECT_EQ(grid.editor->cursor_col, 1) << "redo restores the cursor after the edit";
    grid.editor->insert_character('z');
    grid.editor->redo();
    EXPECT_EQ(grid.message_row().substr(0, 10), "Can't Redo");
    EXPECT_EQ(grid.document(), (Lines{"azx"}));
}

TEST(Undo, undo_restores_the_cursor_where_the_edit_began) {
    GridEditor grid;
    grid.load("abc\ndef\n");
    grid.put_cursor(1, 2);
    grid.editor->enter_key(false);
    grid.editor->undo();
    EXPECT_EQ(grid.editor->cursor_line, 1);
    EXPECT_EQ(grid.editor->cursor_col, 2);
}

TEST(Undo, commands_that_change_nothing_record_nothing) {
    GridEditor grid;
    grid.load("abc\n");
    grid.put_cursor(0, 0);
    grid.editor->backspace_key();
    grid.put_cursor(0, 3);
    grid.editor->delete_key();
    grid.editor->tab_key(true);
    grid.select(0, 1, 0, 1);
    grid.editor->delete_key();
    EXPECT_EQ(grid.editor->undo_history.size(), 1u);
    EXPECT_FALSE(grid.editor->modified());
}

TEST(Undo, snapshots_share_unchanged_lines) {
    GridEditor grid;
    std::string text;
    for (int i = 0; i < 1000; ++i) text += "line " + std::to_string(i) + "\n";
    grid.load(text);
    grid.put_cursor(500, 0);
    grid.editor->insert_character('#');
    grid.put_cursor(10, 0);
    grid.editor->enter_key(false);  // shifts every later line by one
    const auto& history = grid.editor->undo_history;
    ASSERT_EQ(history.size(), 3u);
    int shared = 0;
    for (size_t i = 0; i < 1000; ++i) shared += history[0]->lines[i] == history[1]->lines[i];
    EXPECT_EQ(shared, 999);
    EXPECT_EQ(history[1]->lines[600], history[2]->lines[601]) << "found one line away";
    EXPECT_EQ(history[0]->lines[600]->refs, 3);
}

TEST(UndoThinning, history_is_bounded_and_still_reaches_the_saved_state) {
    GridEditor grid;
    grid.load("base\n");
    for (int i = 0; i < 501; ++i) grid.editor->insert_character('a' + i % 26);
    EXPECT_LE(grid.editor->undo_history.size(), 500u);
    EXPECT_EQ(grid.editor->undo_pos, static_cast<int32_t>(grid.editor->undo_history.size()) - 1);
    while (grid.editor->undo_pos > 0) grid.editor->undo();
    EXPECT_EQ(grid.document(), (Lines{"base"}));
    EXPECT_FALSE(grid.editor->modified());
}

TEST(UndoThinning, a_saved_state_in_the_thinned_part_is_kept) {
    GridEditor grid;
    grid.load("\n");
    for (int i = 0; i < 40; ++i) grid.editor->insert_character('s');
    ASSERT_EQ(grid.editor->save(), 0);
    for (int i = 0; i < 480; ++i) grid.editor->insert_character('t');
    ASSERT_GE(grid.editor->saved_pos, 0);
    int undos = 0;
    while (grid.editor->modified() && grid.editor->undo_pos > 0 && undos < 600) {
        grid.editor->undo();
        ++undos;
    }
    EXPECT_FALSE(grid.editor->modified());
    EXPECT_EQ(grid.document(), (Lines{std::string(40, 's')}));
}

TEST(UndoThinning, thinning_removes_every_second_old_step) {
    GridEditor grid;
    grid.load("\n");
    grid.editor->undo_limit = 10;
    for (int i = 0; i < 10; ++i) grid.editor->insert_character('a');
    ASSERT_EQ(grid.editor->undo_history.size(), 11u);
    grid.editor->insert_character('b');  // 11 > 10: thin before appending
    // Of the 11 steps, 1, 3 and 5 go; then the new one is appended.
    EXPECT_EQ(grid.editor->undo_history.size(), 9u);
    EXPECT_EQ(grid.editor->undo_pos, 8);
    EXPECT_EQ(grid.editor->undo_history[1]->lines[0]->length, 2u);
    EXPECT_EQ(grid.editor->undo_history[2]->lines[0]->length, 4u);
    grid.editor->undo();
    EXPECT_EQ(grid.document(), (Lines{std::string(10, 'a')}));
}

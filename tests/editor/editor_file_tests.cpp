// Loading and saving the editor's document: line ends, the byte-order mark,
// the indentation survey, over-long lines, and a save that never leaves a
// damaged file behind.
#include <gtest/gtest.h>

#include "editor_test_support.h"
#include "io/io_faults.h"

namespace {

class FileRoundTrip : public ::testing::Test {
protected:
    GridEditor grid;
    CellEditor& editor() { return *grid.editor; }
};

}  // namespace

TEST_F(FileRoundTrip, crlf_file_loads_as_lines_and_saves_with_a_final_crlf) {
    grid.load("a\r\nb\r\nc");
    EXPECT_EQ(grid.document(), (Lines{"a", "b", "c"}));
    EXPECT_EQ(editor().crlf, 1);
    ASSERT_EQ(editor().save(), 0);
    EXPECT_EQ(grid.saved_bytes(), "a\r\nb\r\nc\r\n");
}

TEST_F(FileRoundTrip, one_crlf_among_ten_lf_lines_saves_as_lf) {
    std::string text = "x\r\n";
    for (int i = 0; i < 10; ++i) text += "y\n";
    grid.load(text);
    EXPECT_EQ(editor().crlf, 0);
    EXPECT_EQ(grid.document().front(), "x");
    ASSERT_EQ(editor().save(), 0);
    EXPECT_EQ(grid.saved_bytes().find('\r'), std::string::npos);
}

TEST_F(FileRoundTrip, final_line_feed_gives_no_empty_line_and_empty_file_no_lines) {
    grid.load("one\ntwo\n");
    EXPECT_EQ(grid.document(), (Lines{"one", "two"}));
    grid.load("one\n\n");
    EXPECT_EQ(grid.document(), (Lines{"one", ""}));
    grid.load("");
    EXPECT_TRUE(grid.document().empty());
    EXPECT_FALSE(editor().modified());
}

TEST_F(FileRoundTrip, byte_order_mark_is_dropped_and_not_written_back) {
    grid.load("\xEF\xBB\xBFkey\n");
    EXPECT_EQ(grid.document(), (Lines{"key"}));
    ASSERT_EQ(editor().save(), 0);
    EXPECT_EQ(grid.saved_bytes(), "key\n");
    grid.load("\xEF\xBB\xBF");
    EXPECT_TRUE(grid.document().empty());
}

TEST_F(FileRoundTrip, tab_indented_file_shows_five_spaces_and_saves_tabs) {
    grid.load("\tone\n\t\ttwo\nthree\n");
    EXPECT_EQ(editor().tab_width, 5);
    EXPECT_EQ(editor().save_tab_width, 5);
    EXPECT_EQ(grid.document(), (Lines{"     one", "          two", "three"}));
    ASSERT_EQ(editor().save(), 0);
    EXPECT_EQ(grid.saved_bytes(), "\tone\n\t\ttwo\nthree\n");
}

TEST_F(FileRoundTrip, spaces_after_tabs_widen_the_step_and_still_round_trip) {
    grid.load("\tx\n      y\n\t   z\n");
    EXPECT_EQ(editor().tab_width, 7);
    ASSERT_EQ(editor().save(), 0);
    EXPECT_EQ(grid.saved_bytes(), "\tx\n      y\n\t   z\n");
}

TEST_F(FileRoundTrip, eight_spaces_after_a_tab_turn_the_survey_off) {
    grid.load("\ta\n\t        b\n");
    EXPECT_EQ(editor().tab_width, 2);
    EXPECT_EQ(editor().save_tab_width, 0);
    EXPECT_EQ(grid.document(), (Lines{"  a", "          b"}));
    ASSERT_EQ(editor().save(), 0);
    EXPECT_EQ(grid.saved_bytes(), "  a\n          b\n");
}

TEST_F(FileRoundTrip, a_tab_after_spaces_turns_the_survey_off) {
    grid.load("\ta\n  \tb\n");
    EXPECT_EQ(editor().save_tab_width, 0);
    EXPECT_EQ(grid.document()[1], "    b");
}

TEST_F(FileRoundTrip, zero_bytes_and_stray_bytes_survive_a_round_trip) {
    const std::string text = std::string("a\0b\n", 4) + "\xFF\xC0 x\n";
    grid.load(text);
    ASSERT_EQ(grid.document().size(), 2u);
    EXPECT_EQ(grid.document()[0], std::string("a\0b", 3));
    ASSERT_EQ(editor().save(), 0);
    EXPECT_EQ(grid.saved_bytes(), text);
}

TEST_F(FileRoundTrip, lines_over_the_limit_are_cut_into_two_without_loss) {
    const size_t length = LOAD_LINE_LIMIT + 5000;
    grid.load(std::string(length, 'q') + "\nend\n");
    const Lines lines = grid.document();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_GT(lines[0].size(), LOAD_LINE_LIMIT);
    EXPECT_EQ(lines[0].size() + lines[1].size(), length);
    EXPECT_EQ(lines[2], "end");
}

TEST_F(FileRoundTrip, missing_file_starts_empty_or_is_created_from_initial_text) {
    const String missing = concat(grid.folder.path().c_str(), "missing.txt");
    EXPECT_EQ(editor().open_file(missing.c_str(), nullptr), 1);
    EXPECT_TRUE(grid.document().empty());
    EXPECT_FALSE(editor().modified());

    editor().clear_document();
    const String created = concat(grid.folder.path().c_str(), "created.txt");
    EXPECT_EQ(editor().open_file(created.c_str(), "// defaults\n{}\n"), 0);
    EXPECT_EQ(grid.document(), (Lines{"// defaults", "{}"}));
    EXPECT_EQ(grid.folder.read("created.txt"), "// defaults\n{}\n");
}

TEST_F(FileRoundTrip, reload_reads_the_file_again_with_or_without_history) {
    grid.load("first\n");
    grid.put_cursor(0, 5);
    editor().insert_character('!');
    grid.folder.write("doc.txt", "second\n");
    ASSERT_EQ(editor().reload(false), 0);
    EXPECT_EQ(grid.document(), (Lines{"second"}));
    EXPECT_FALSE(editor().modified());
    editor().undo();
    EXPECT_EQ(grid.document(), (Lines{"first!"})) << "the edit before the reload can be undone";
    ASSERT_EQ(editor().reload(true), 0);
    EXPECT_EQ(editor().undo_history.size(), 1u);
}

TEST(SaveSafety, failed_write_keeps_the_original_and_reports_failure) {
    GridEditor grid;
    grid.load("precious\ncontent\n");
    grid.put_cursor(0, 0);
    grid.editor->insert_character('X');
    io_faults.disk_full_after = 4;
    EXPECT_EQ(grid.editor->save(), 1);
    reset_io_faults();
    EXPECT_EQ(grid.saved_bytes(), "precious\ncontent\n");
    EXPECT_TRUE(grid.editor->modified());
    EXPECT_FALSE(grid.folder.exists("doc.txt.velmora-save")) << "no temporary file is left behind";

    io_faults.fail_write_at = 1;
    EXPECT_EQ(grid.editor->save(), 1);
    reset_io_faults();
    EXPECT_EQ(grid.saved_bytes(), "precious\ncontent\n");

    EXPECT_EQ(grid.editor->save(), 0);
    EXPECT_EQ(grid.saved_bytes(), "Xprecious\ncontent\n");
    EXPECT_FALSE(grid.editor->modified());
}

TEST(SaveSafety, a_read_only_target_is_not_replaced) {
    GridEditor grid;
    grid.load("keep\n");
    grid.editor->insert_character('Y');
    ASSERT_TRUE(SetFileAttributesA(grid.path.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(grid.editor->save(), 1);
    SetFileAttributesA(grid.path.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(grid.saved_bytes(), "keep\n");
    EXPECT_TRUE(grid.editor->modified());
}

TEST(SaveSafety, a_file_in_a_missing_folder_fails_without_side_effects) {
    GridEditor grid;
    grid.editor->file_path.set(concat(grid.folder.path().c_str(), "no-such-folder\\doc.txt").c_str());
    grid.editor->start_empty();
    EXPECT_EQ(grid.editor->save(), 1);
}

TEST(SaveSafety, non_ascii_paths_save_through_the_wide_route) {
    GridEditor grid;
    const String path = concat(grid.folder.path().c_str(), "r\xC3\xA9glages.txt");
    grid.folder.write("r\xC3\xA9glages.txt", "v\n");
    ASSERT_EQ(grid.editor->open_file(path.c_str(), nullptr), 0);
    grid.editor->insert_character('w');
    ASSERT_EQ(grid.editor->save(), 0);
    EXPECT_EQ(grid.folder.read("r\xC3\xA9glages.txt"), "wv\n");
}

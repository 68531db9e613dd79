// Searching on a windowless grid: the six matching rules, find next and
// previous with wrap-around, replace all, the shortened display of long
// search texts, the go-to text and the three prompts driven by key codes.
#include <gtest/gtest.h>

#include <string>

#include "editor_test_support.h"

struct MatchCase {
    const char* name;
    int mode;
    const char* text;
    const char* line;
    int32_t start;
    bool backward;
    int32_t offset;  // -1: no match
    int32_t length;
};

const MatchCase MATCH_CASES[] = {
    {"substring_ignores_case", 0, "ABC", "xx abc", 0, false, 3, 3},
    {"SubString_keeps_case", 1, "ABC", "xx abc", 0, false, -1, 0},
    {"SubString_finds_the_same_case", 1, "abc", "xx abc", 0, false, 3, 3},
    {"substring_starts_at_the_given_offset", 0, "ab", "ab ab", 1, false, 3, 2},
    {"substring_backward_takes_the_last_at_or_before_start", 0, "ab", "ab ab ab", 5, true, 3, 2},
    {"substring_backward_from_past_the_end", 0, "ab", "ab ab", 99, true, 3, 2},
    {"wordmatch_not_inside_concat", 2, "cat", "concat", 0, false, -1, 0},
    {"wordmatch_not_before_a_digit", 2, "cat", "cat2", 0, false, -1, 0},
    {"wordmatch_before_a_hyphen", 2, "cat", "cat-dog", 0, false, 0, 3},
    {"wordmatch_underscore_is_a_boundary", 2, "cat", "cat_x", 0, false, 0, 3},
    {"wordmatch_bytes_from_0x80_are_boundaries", 2, "cat", "\xC3\xA9" "cat", 0, false, 2, 3},
    {"wordmatch_skips_an_inner_hit_for_a_later_word", 2, "cat", "concat cat", 0, false, 7, 3},
    {"WordMatch_keeps_case", 3, "Cat", "cat dog", 0, false, -1, 0},
    {"tokenmatch_any_white_space_between_tokens", 4, "a  =  b", "x a = b", 0, false, 2, 5},
    {"tokenmatch_match_spans_the_line_spacing", 4, "a = b", "a   =\tb", 0, false, 0, 7},
    {"tokenmatch_tokens_compare_whole", 4, "a = b", "a = b;", 0, false, -1, 0},
    {"tokenmatch_dotted_token_inside_a_path", 4, "b.c", "a.b.c", 0, false, 2, 3},
    {"tokenmatch_b_alone_is_not_found_inside_a_dotted_token", 4, "b", "a.b.c", 0, false, -1, 0},
    {"tokenmatch_a_cut_token_still_compares_whole", 4, "a", "a.b.c", 0, false, -1, 0},
    {"tokenmatch_dotted_text_from_the_line_start", 4, "a.b", "a.b", 0, false, 0, 3},
    {"tokenmatch_leading_dot_starts_a_candidate", 4, ".c", "a.b.c", 0, false, 3, 2},
    {"tokenmatch_backward_takes_the_last_candidate", 4, "x", "x x x", 3, true, 2, 1},
    {"TokenMatch_keeps_case", 5, "A", "a", 0, false, -1, 0},
    {"tokenmatch_blank_text_matches_nothing", 4, "   ", "a b", 0, false, -1, 0},
};

class MatchRules : public ::testing::TestWithParam<MatchCase> {};

namespace {

std::string document_text(int count) {
    std::string text;
    for (int i = 1; i <= count; ++i) text += "line " + std::to_string(i) + "\n";
    return text;
}

}  // namespace

TEST_P(MatchRules, find_in_line_follows_the_mode) {
    const MatchCase& c = GetParam();
    GridEditor grid;
    editor_shared.search_mode = c.mode;
    int32_t length = -7;
    EXPECT_EQ(grid.editor->find_in_line(c.text, c.line, c.start, c.backward, &length), c.offset);
    EXPECT_EQ(length, c.length);
}

INSTANTIATE_TEST_SUITE_P(SearchModes, MatchRules, ::testing::ValuesIn(MATCH_CASES),
                         [](const ::testing::TestParamInfo<MatchCase>& info) { return std::string(info.param.name); });

// Find next and previous.

TEST(FindNext, finds_the_next_match_after_the_cursor_and_selects_it) {
    GridEditor grid(12, 100);
    grid.load("alpha\nbeta alpha\n");
    grid.editor->find_text.set("alpha");
    grid.editor->find_next(false, false);
    CellEditor& editor = *grid.editor;
    EXPECT_EQ(editor.cursor_line, 1);
    EXPECT_EQ(editor.cursor_col, 5);
    EXPECT_EQ(editor.selecting, 1);
    EXPECT_EQ(editor.anchor_col, 5);
    EXPECT_EQ(editor.sel_col, 10);
    EXPECT_EQ(grid.message_row(), "Found @ Line 2 Col 6 'alpha' (Shift+)F3|Ctrl+G:(prev)next");
    EXPECT_EQ(editor.state, 1);
}

TEST(FindNext, the_only_match_before_the_cursor_is_found_on_the_second_visit_wrapped) {
    GridEditor grid(12, 100);
    grid.load("find me\nother\n");
    grid.put_cursor(0, 5);
    grid.editor->find_text.set("find");
    grid.editor->find_next(false, false);
    EXPECT_EQ(grid.editor->cursor_line, 0);
    EXPECT_EQ(grid.editor->cursor_col, 0);
    EXPECT_EQ(grid.message_row(), "Found @ Line 1 Col 1 (wrapped) 'find' (Shift+)F3|Ctrl+G:(prev)next");
}

TEST(FindNext, backward_from_the_first_match_wraps_to_the_last) {
    GridEditor grid(12, 100);
    grid.load("x\na x\nx b\nnothing\n");
    grid.editor->find_text.set("x");
    grid.editor->find_next(false, false);  // from (0, 0) the next is on line 2
    EXPECT_EQ(grid.editor->cursor_line, 1);
    grid.put_cursor(0, 0);
    grid.editor->find_next(true, false);
    EXPECT_EQ(grid.editor->cursor_line, 2);
    EXPECT_EQ(grid.editor->cursor_col, 0);
    EXPECT_NE(grid.message_row().find("Line 3 Col 1 (wrapped) 'x'"), std::string::npos) << grid.message_row();
    grid.editor->find_next(true, false);
    EXPECT_EQ(grid.editor->cursor_line, 1);
    EXPECT_EQ(grid.editor->cursor_col, 2);
    EXPECT_EQ(grid.message_row().find("wrapped"), std::string::npos) << grid.message_row();
}

TEST(FindNext, from_after_the_last_line_finds_the_first_match) {
    GridEditor grid(12, 100);
    grid.load("one\ntwo\n");
    grid.put_cursor(2, 0);
    grid.editor->find_text.set("o");
    grid.editor->find_next(false, false);
    EXPECT_EQ(grid.editor->cursor_line, 0);
    EXPECT_EQ(grid.editor->cursor_col, 0);
    grid.put_cursor(2, 0);
    grid.editor->find_next(true, false);
    EXPECT_EQ(grid.editor->cursor_line, 1);
    EXPECT_EQ(grid.editor->cursor_col, 2);
}

TEST(FindNext, no_match_leaves_the_cursor_and_names_the_mode) {
    GridEditor grid(12, 100);
    grid.load("concat\n");
    editor_shared.search_mode = 2;
    grid.put_cursor(0, 2);
    grid.editor->find_text.set("cat");
    grid.editor->find_next(false, false);
    EXPECT_EQ(grid.message_row(), "wordmatch 'cat' not found");
    EXPECT_EQ(grid.editor->cursor_col, 2);
    EXPECT_EQ(grid.editor->selecting, 0);
}

TEST(FindNext, an_empty_find_text_searches_nothing_and_says_nothing) {
    GridEditor grid(12, 100);
    grid.load("text\n");
    grid.editor->find_next(false, false);
    grid.editor->find_next(false, true);
    EXPECT_EQ(grid.editor->state, 0);
    EXPECT_EQ(grid.message_row().substr(0, 6), "Ctrl+(");
    EXPECT_FALSE(grid.editor->modified());
}

TEST(FindNext, a_match_far_right_scrolls_to_show_text_after_it) {
    GridEditor grid(12, 40);
    grid.load(std::string(60, '-') + "needle" + std::string(40, '-') + "\n");
    grid.editor->find_text.set("needle");
    grid.editor->find_next(false, false);
    EXPECT_EQ(grid.editor->cursor_col, 60);
    // The view was scrolled for column 66 + 40 / 4 = 76, then kept.
    EXPECT_EQ(grid.editor->hscroll, 76 - 37 + 1);
}

// Replace all.

TEST(ReplaceAll, replacing_a_by_aa_in_aaa_ends_with_six_a) {
    GridEditor grid(12, 100);
    grid.load("aaa\n");
    grid.editor->find_text.set("a");
    grid.editor->replace_text.set("aa");
    grid.editor->find_next(false, true);
    EXPECT_EQ(grid.document(), (Lines{"aaaaaa"}));
    EXPECT_EQ(grid.message_row(), "Replaced 3 instances on 1 line");
}

TEST(ReplaceAll, counts_lines_moves_columns_and_undoes_in_one_step) {
    GridEditor grid(12, 100);
    grid.load("cat cat\ndog\ncat\n");
    CellEditor& editor = *grid.editor;
    editor.find_text.set("cat");
    editor.replace_text.set("x");
    grid.select(2, 3, 0, 6);  // cursor and moving end inside the second "cat"
    editor.find_next(false, true);
    EXPECT_EQ(grid.document(), (Lines{"x x", "dog", "x"}));
    EXPECT_EQ(grid.message_row(), "Replaced 3 instances on 2 lines");
    EXPECT_EQ(editor.cursor_col, 2) << "a column inside a match goes to its start";
    EXPECT_EQ(editor.sel_col, 2);
    EXPECT_EQ(editor.anchor_col, 1) << "a column after a match moves by the change in length";
    editor.undo();
    EXPECT_EQ(grid.document(), (Lines{"cat cat", "dog", "cat"}));
    EXPECT_FALSE(editor.modified());
}

TEST(ReplaceAll, a_single_instance_is_named_in_the_singular) {
    GridEditor grid(12, 100);
    grid.load("one \xE2\x82\xAC two\n");
    grid.editor->find_text.set("\xE2\x82\xAC");
    grid.editor->replace_text.set("EUR");
    grid.put_cursor(0, 6);
    grid.editor->find_next(false, true);
    EXPECT_EQ(grid.document(), (Lines{"one EUR two"}));
    EXPECT_EQ(grid.editor->cursor_col, 8) << "columns count characters, not bytes";
    EXPECT_EQ(grid.message_row(), "Replaced 1 instance on 1 line");
}

TEST(ReplaceAll, nothing_found_leaves_the_document_unmodified) {
    GridEditor grid(12, 100);
    grid.load("abc\n");
    grid.editor->find_text.set("zzz");
    grid.editor->find_next(false, true);
    EXPECT_FALSE(grid.editor->modified());
    EXPECT_EQ(grid.editor->undo_pos, 0);
    EXPECT_EQ(grid.editor->state, 0);
    editor_shared.search_mode = 4;
    grid.editor->find_text.set("  ");  // blanks only: no tokens, so no match of zero bytes
    grid.editor->find_next(false, true);
    EXPECT_EQ(grid.document(), (Lines{"abc"}));
}

TEST(ReplaceAll, token_mode_replaces_differently_spaced_text) {
    GridEditor grid(12, 100);
    grid.load("x  =   1; y = 2\n");
    editor_shared.search_mode = 4;
    grid.editor->find_text.set("x = 1;");
    grid.editor->replace_text.set("x = 3;");
    grid.editor->find_next(false, true);
    EXPECT_EQ(grid.document(), (Lines{"x = 3; y = 2"}));
}

// Shortened display.

TEST(ShortenForDisplay, sixty_bytes_show_as_25_dots_and_the_last_21) {
    std::string text;
    for (int i = 0; i < 60; ++i) text += static_cast<char>('A' + i % 26);
    const String shown = shorten_for_display(text.c_str());
    EXPECT_EQ(std::string(shown.c_str()), text.substr(0, 25) + "..." + text.substr(39));
}

TEST(ShortenForDisplay, up_to_41_bytes_show_whole_and_42_without_repeating_bytes) {
    const std::string whole(41, 'w');
    EXPECT_EQ(std::string(shorten_for_display(whole.c_str()).c_str()), whole);
    std::string text;
    for (int i = 0; i < 42; ++i) text += static_cast<char>('a' + i % 26);
    EXPECT_EQ(std::string(shorten_for_display(text.c_str()).c_str()), text.substr(0, 25) + "..." + text.substr(25));
}

TEST(ShortenForDisplay, cuts_only_between_characters) {
    std::string euros;
    for (int i = 0; i < 10; ++i) euros += "\xE2\x82\xAC";
    const std::string text = std::string(24, 'a') + "\xC3\xA9" + std::string(10, 'b') + euros;  // 66 bytes
    const String shown = shorten_for_display(text.c_str());
    // Head: 26 bytes (the 2-byte character is whole); tail: 6 whole
    // characters, 18 bytes, as 7 would pass the 46 bytes.
    EXPECT_EQ(std::string(shown.c_str()), std::string(24, 'a') + "\xC3\xA9..." + euros.substr(12));
}

// The go-to text.

struct GotoCase {
    const char* name;
    const char* text;
    int32_t cursor;
    bool valid;
    int32_t target;
};

const GotoCase GOTO_CASES[] = {
    {"plus_counts_down_from_the_cursor", "+3", 2, true, 5},
    {"minus_with_blanks_counts_up", " -\t 2", 5, true, 3},
    {"a_bare_number_counts_from_one", "4", 9, true, 3},
    {"beyond_the_end_is_after_the_last_line", "+100", 2, true, 10},
    {"a_huge_number_does_not_overflow", "99999999999999999999", 0, true, 10},
    {"above_the_start_is_line_zero", "-100", 5, true, 0},
    {"trailing_text_is_ignored", "+ 3x", 2, true, 5},
    {"zero_is_no_line", "0", 2, false, 0},
    {"minus_zero_is_no_line", "-0", 2, false, 0},
    {"letters_are_no_line", "abc", 2, false, 0},
    {"empty_is_no_line", "", 2, false, 0},
};

class GotoText : public ::testing::TestWithParam<GotoCase> {};

TEST_P(GotoText, gives_the_line_within_the_document) {
    const GotoCase& c = GetParam();
    int32_t target = -1;
    ASSERT_EQ(goto_target(c.text, c.cursor, 10, &target), c.valid);
    if (c.valid) {
        EXPECT_EQ(target, c.target);
    }
}

INSTANTIATE_TEST_SUITE_P(GotoLine, GotoText, ::testing::ValuesIn(GOTO_CASES),
                         [](const ::testing::TestParamInfo<GotoCase>& info) { return std::string(info.param.name); });

// Prompts, driven by key codes.

namespace {

void keys(CellEditor& editor, const std::string& text) {
    for (unsigned char c : text) editor.on_key(c);
}

}  // namespace

TEST(Prompts, find_prompt_hint_depends_on_the_width) {
    for (const auto& [cols, label] : {std::pair<int, std::string>{80, "Find substring (Up/Down:mode Ctrl+R:replace ESC:cancel): "},
                                      {71, "Find substring (Up/Down:mode Ctrl+R:replace ESC:cancel): "},
                                      {70, "Find substring(U/D:mode Ctrl+R:repl): "},
                                      {41, "Find substring(U/D:mode Ctrl+R:repl): "},
                                      {40, "Find substring: "}}) {
        GridEditor grid(12, cols);
        grid.load("text\n");
        grid.editor->on_key(6);
        EXPECT_EQ(grid.editor->state, 2);
        EXPECT_EQ(grid.message_row() + " ", label.substr(0, static_cast<size_t>(cols))) << cols << " columns";
        EXPECT_EQ(grid.attr(11, 0), ATTR_MESSAGE);
        EXPECT_EQ(grid.screen.cursor_col, static_cast<int32_t>(label.size())) << "the caret follows the label";
    }
}

TEST(Prompts, typing_after_opening_replaces_the_old_text_backspace_edits_it) {
    GridEditor grid(12, 80);
    grid.load("abc abd\n");
    CellEditor& editor = *grid.editor;
    editor.find_text.set("old");
    editor.on_key(6);
    keys(editor, "ab");
    EXPECT_STREQ(editor.find_text.c_str(), "ab");
    editor.on_key(KEY_ESCAPE);
    EXPECT_EQ(editor.state, 0);
    EXPECT_EQ(grid.message_row().substr(0, 6), "Ctrl+(") << "the prompt row is gone";
    editor.on_key(6);
    editor.on_key(KEY_BACKSPACE);
    keys(editor, "d");
    EXPECT_STREQ(editor.find_text.c_str(), "ad");
    editor.on_key(KEY_BACKSPACE);
    editor.on_key(KEY_BACKSPACE);
    editor.on_key(KEY_BACKSPACE);
    keys(editor, "bd");
    EXPECT_NE(grid.message_row().find(": bd"), std::string::npos) << grid.message_row();
    editor.on_key(KEY_ENTER);
    EXPECT_EQ(editor.cursor_col, 5) << "Enter searches";
    EXPECT_EQ(grid.message_row().substr(0, 20), "Found @ Line 1 Col 6");
}

TEST(Prompts, backspace_removes_a_whole_character) {
    GridEditor grid(12, 80);
    grid.load("x\n");
    grid.editor->on_key(6);
    grid.editor->on_key(0x20AC);
    grid.editor->on_key('a');
    grid.editor->on_key(0xE9);
    grid.editor->on_key(KEY_BACKSPACE);
    EXPECT_STREQ(grid.editor->find_text.c_str(), "\xE2\x82\xAC" "a");
    grid.editor->on_key(KEY_BACKSPACE);
    grid.editor->on_key(KEY_BACKSPACE);
    EXPECT_STREQ(grid.editor->find_text.c_str(), "");
}

TEST(Prompts, up_and_down_cycle_the_mode_shown_in_the_label) {
    GridEditor grid(12, 80);
    grid.load("x\n");
    grid.editor->on_key(6);
    grid.editor->on_key(KEY_UP);
    EXPECT_EQ(editor_shared.search_mode, 5);
    EXPECT_EQ(grid.message_row().substr(0, 15), "Find TokenMatch");
    grid.editor->on_key(KEY_DOWN);
    grid.editor->on_key(KEY_DOWN);
    EXPECT_EQ(editor_shared.search_mode, 1);
    EXPECT_EQ(grid.message_row().substr(0, 14), "Find SubString");
    grid.editor->on_key(KEY_PAGE_DOWN);
    grid.editor->on_key(KEY_F1);
    EXPECT_EQ(grid.editor->state, 2) << "other navigation and function keys do nothing";
}

TEST(Prompts, ctrl_r_switches_to_replace_and_enter_replaces_all) {
    GridEditor grid(12, 80);
    grid.load("one two one\n");
    CellEditor& editor = *grid.editor;
    editor.on_key(6);
    keys(editor, "one");
    editor.on_key(18);
    EXPECT_EQ(editor.state, 3);
    EXPECT_EQ(grid.message_row(), "Replace all (substring) 'one':");
    keys(editor, "1");
    editor.on_key(KEY_ENTER);
    EXPECT_EQ(grid.document(), (Lines{"1 two 1"}));
    EXPECT_EQ(grid.message_row(), "Replaced 2 instances on 1 line");
    editor.on_key(KEY_ESCAPE);
    editor.on_key(18);
    EXPECT_EQ(editor.state, 3) << "the find text is kept, so Ctrl+R opens the replace prompt";
    editor.on_key(6);
    EXPECT_EQ(editor.state, 2) << "Ctrl+F switches back";
    editor.on_key(6);
    EXPECT_EQ(editor.state, 0) << "and closes its own prompt";
}

TEST(Prompts, ctrl_r_without_a_find_text_asks_for_ctrl_f) {
    GridEditor grid(12, 80);
    grid.load("x\n");
    grid.editor->on_key(18);
    EXPECT_EQ(grid.message_row(), USE_FIND_FIRST_MESSAGE);
    EXPECT_EQ(grid.editor->state, 1);
    grid.editor->on_key(6);
    grid.editor->on_key(18);
    EXPECT_EQ(grid.editor->state, 0) << "in the find prompt with an empty text Ctrl+R closes it";
}

TEST(Prompts, a_one_line_selection_becomes_the_find_text) {
    GridEditor grid(12, 80);
    grid.load("pick this word\nand this\n");
    grid.select(0, 5, 0, 9);
    grid.editor->on_key(6);
    EXPECT_STREQ(grid.editor->find_text.c_str(), "this");
    grid.editor->on_key(KEY_ENTER);
    EXPECT_EQ(grid.editor->cursor_line, 1);
    EXPECT_EQ(grid.editor->cursor_col, 4);
    grid.select(0, 0, 1, 2);
    grid.editor->on_key(KEY_ESCAPE);
    grid.select(0, 0, 1, 2);
    grid.editor->on_key(6);
    EXPECT_STREQ(grid.editor->find_text.c_str(), "this") << "a selection over two lines is not taken";
}

TEST(Prompts, ctrl_g_and_f3_repeat_the_search_or_open_the_prompt) {
    GridEditor grid(12, 80);
    grid.load("ab ab ab\n");
    grid.editor->on_key(7);
    EXPECT_EQ(grid.editor->state, 2) << "no find text yet: Ctrl+G opens the find prompt";
    keys(*grid.editor, "ab");
    grid.editor->on_key(KEY_ENTER);
    EXPECT_EQ(grid.editor->cursor_col, 3);
    grid.editor->on_key(7);
    EXPECT_EQ(grid.editor->cursor_col, 6);
    grid.editor->on_key(KEY_F1 + 2);
    EXPECT_EQ(grid.editor->cursor_col, 0);
}

TEST(Prompts, go_to_prompt_moves_to_the_end_of_the_line_or_nowhere) {
    GridEditor grid(12, 80);
    grid.load(document_text(8));
    CellEditor& editor = *grid.editor;
    grid.put_cursor(1, 2);
    editor.on_key(10);
    EXPECT_EQ(editor.state, 4);
    EXPECT_EQ(grid.message_row(), "Go to line (ESC:cancel):");
    keys(editor, "+3");
    EXPECT_STREQ(editor_shared.goto_text.c_str(), "+3");
    editor.on_key(KEY_ENTER);
    EXPECT_EQ(editor.cursor_line, 4);
    EXPECT_EQ(editor.cursor_col, 6) << "at the end of 'line 5'";
    editor.on_key(10);
    EXPECT_STREQ(editor_shared.goto_text.c_str(), "") << "opening empties the go-to text";
    keys(editor, "abc");
    editor.on_key(KEY_ENTER);
    EXPECT_EQ(editor.cursor_line, 4);
    editor.on_key(10);
    keys(editor, "0");
    editor.on_key(KEY_ENTER);
    EXPECT_EQ(editor.cursor_line, 4);
    editor.on_key(10);
    keys(editor, "500");
    editor.on_key(KEY_ENTER);
    EXPECT_EQ(editor.cursor_line, 8) << "beyond the end: after the last line";
    EXPECT_EQ(editor.cursor_col, 0);
    editor.on_key(10);
    keys(editor, "2");
    editor.on_key(10);
    EXPECT_EQ(editor.state, 0) << "Ctrl+J cancels the go-to prompt";
    EXPECT_EQ(editor.cursor_line, 8);
}

// The editing commands on a windowless grid, and a random-operation test
// against a plain model of lines.
#include <gtest/gtest.h>

#include <random>

#include "editor/cell_text.h"
#include "editor_test_support.h"

TEST(Typing, characters_are_inserted_at_the_cursor_and_create_missing_lines) {
    GridEditor grid;
    grid.load("ac\n");
    grid.put_cursor(0, 1);
    grid.editor->insert_character('b');
    grid.editor->insert_character(0x20AC);
    EXPECT_EQ(grid.document(), (Lines{"ab\xE2\x82\xAC" "c"}));
    EXPECT_EQ(grid.editor->cursor_col, 3);
    grid.put_cursor(1, 0);
    grid.editor->insert_character('z');
    EXPECT_EQ(grid.document(), (Lines{"ab\xE2\x82\xAC" "c", "z"}));
}

TEST(Typing, overwrite_mode_replaces_characters) {
    GridEditor grid;
    grid.load("abcd\n");
    editor_shared.overwrite = true;
    grid.put_cursor(0, 1);
    grid.editor->insert_character('X');
    grid.editor->tab_key(false);  // two spaces over "cd"... one step of 2 from column 2
    EXPECT_EQ(grid.document(), (Lines{"aX  "}));
}

TEST(Typing, typing_replaces_the_selection) {
    GridEditor grid;
    grid.load("hello world\nnext\n");
    grid.select(0, 6, 1, 2);
    grid.editor->insert_character('W');
    EXPECT_EQ(grid.document(), (Lines{"hello Wxt"}));
    EXPECT_EQ(grid.editor->selecting, 0);
}

TEST(TabKey, tab_inserts_spaces_to_the_next_step) {
    GridEditor grid;
    grid.load("ab\n");
    grid.put_cursor(0, 1);
    grid.editor->tab_key(false);
    EXPECT_EQ(grid.document(), (Lines{"a b"}));
    grid.editor->tab_key(false);
    EXPECT_EQ(grid.document(), (Lines{"a   b"}));
    EXPECT_EQ(grid.editor->cursor_col, 4);
}

TEST(TabKey, shift_tab_removes_spaces_before_the_cursor_or_from_the_indentation) {
    GridEditor grid;
    grid.load("x     y\n     z\n");
    grid.put_cursor(0, 6);
    grid.editor->tab_key(true);
    EXPECT_EQ(grid.document()[0], "x   y") << "at most one step of spaces before the cursor";
    grid.put_cursor(1, 5);
    grid.editor->tab_key(true);
    EXPECT_EQ(grid.document()[1], "    z") << "an odd indentation loses the remainder";
    EXPECT_EQ(grid.editor->cursor_col, 4);
    grid.editor->tab_key(true);
    EXPECT_EQ(grid.document()[1], "  z");
    grid.put_cursor(0, 0);
    grid.editor->tab_key(true);
    EXPECT_EQ(grid.document()[0], "x   y");
}

TEST(TabKey, tab_and_shift_tab_indent_and_outdent_selected_lines) {
    GridEditor grid;
    grid.load("a\n b\n\nc\nd\n");
    grid.select(0, 1, 3, 0);
    grid.editor->tab_key(false);
    EXPECT_EQ(grid.document(), (Lines{"  a", "   b", "  ", "c", "d"})) << "an end at column 0 leaves that line";
    EXPECT_EQ(grid.editor->anchor_col, 0);
    grid.editor->tab_key(true);
    EXPECT_EQ(grid.document(), (Lines{"a", " b", "", "c", "d"}));
    grid.editor->tab_key(true);
    EXPECT_EQ(grid.document(), (Lines{"a", "b", "", "c", "d"}));
}

TEST(EnterKey, enter_splits_with_the_indentation_of_the_line) {
    GridEditor grid;
    grid.load("    foo bar\n");
    grid.put_cursor(0, 7);
    grid.editor->enter_key(false);
    EXPECT_EQ(grid.document(), (Lines{"    foo", "    bar"}));
    EXPECT_EQ(grid.editor->cursor_line, 1);
    EXPECT_EQ(grid.editor->cursor_col, 4);
}

TEST(EnterKey, ctrl_enter_opens_an_indented_line_below) {
    GridEditor grid;
    grid.load("  keep whole\n");
    grid.put_cursor(0, 5);
    grid.editor->enter_key(true);
    EXPECT_EQ(grid.document(), (Lines{"  keep whole", "  "}));
    EXPECT_EQ(grid.editor->cursor_col, 2);
}

TEST(EnterKey, overwrite_enter_moves_to_the_next_line_or_adds_one) {
    GridEditor grid;
    grid.load("  a\nbcdef\n");
    editor_shared.overwrite = true;
    grid.put_cursor(0, 3);
    grid.editor->enter_key(false);
    EXPECT_EQ(grid.document(), (Lines{"  a", "bcdef"}));
    EXPECT_EQ(grid.editor->cursor_line, 1);
    EXPECT_EQ(grid.editor->cursor_col, 2);
    EXPECT_EQ(grid.editor->undo_pos, 0) << "a move records nothing";
    grid.editor->enter_key(false);
    EXPECT_EQ(grid.document().size(), 3u);
}

TEST(BackspaceKey, removes_one_indentation_step_or_one_character) {
    GridEditor grid;
    grid.load("        x\n        x\n");
    grid.put_cursor(0, 4);
    grid.editor->backspace_key();
    EXPECT_EQ(grid.document()[0], "      x");
    grid.put_cursor(1, 3);
    grid.editor->backspace_key();
    EXPECT_EQ(grid.document()[1], "       x");
}

TEST(BackspaceKey, at_column_zero_joins_with_the_line_above) {
    GridEditor grid;
    grid.load("abc\ndef\n   \nghi\n");
    grid.put_cursor(1, 0);
    grid.editor->backspace_key();
    EXPECT_EQ(grid.document(), (Lines{"abcdef", "   ", "ghi"}));
    EXPECT_EQ(grid.editor->cursor_col, 3);
    grid.put_cursor(1, 0);
    grid.editor->backspace_key();
    EXPECT_EQ(grid.document(), (Lines{"abcdef", "ghi"})) << "a blank line's spaces are not carried up";
    grid.put_cursor(0, 0);
    grid.editor->backspace_key();
    EXPECT_EQ(grid.document(), (Lines{"abcdef", "ghi"}));
}

TEST(DeleteKey, at_the_end_of_a_line_joins_with_one_separator) {
    GridEditor grid;
    grid.load("abc\n    def\n");
    grid.put_cursor(0, 3);
    grid.editor->delete_key();
    EXPECT_EQ(grid.document(), (Lines{"abc def"}));
    grid.put_cursor(0, 7);
    grid.editor->delete_key();
    EXPECT_EQ(grid.document(), (Lines{"abc def"}));
    grid.put_cursor(0, 1);
    grid.editor->delete_key();
    EXPECT_EQ(grid.document(), (Lines{"ac def"}));
}

TEST(DeleteKey, removes_a_selection_across_lines) {
    GridEditor grid;
    grid.load("one\ntwo\nthree\n");
    grid.select(2, 2, 0, 1);
    grid.editor->delete_key();
    EXPECT_EQ(grid.document(), (Lines{"oree"}));
    EXPECT_EQ(grid.editor->cursor_line, 0);
    EXPECT_EQ(grid.editor->cursor_col, 1);
    grid.load("one\ntwo\n");
    grid.editor->select_all();
    grid.editor->delete_key();
    EXPECT_EQ(grid.document(), (Lines{""}));
}

TEST(Duplicate, duplicates_the_line_or_the_selection) {
    GridEditor grid;
    grid.load("abc\nxyz\n");
    grid.put_cursor(0, 1);
    grid.editor->duplicate();
    EXPECT_EQ(grid.document(), (Lines{"abc", "abc", "xyz"}));
    EXPECT_EQ(grid.editor->cursor_line, 0);
    EXPECT_NE(grid.message_row().find("Duplicated line"), std::string::npos);
    grid.select(2, 0, 2, 2);
    grid.editor->duplicate();
    EXPECT_EQ(grid.document(), (Lines{"abc", "abc", "xyxyz"}));
    EXPECT_EQ(grid.editor->cursor_col, 2);
}

TEST(InsertLines, pasted_block_is_re_indented_to_the_cursor_line) {
    GridEditor grid;
    grid.load("    abcdef\n");
    grid.put_cursor(0, 6);
    grid.editor->insert_lines({"  a", "    b", ""});
    EXPECT_EQ(grid.document(), (Lines{"    aba", "      b", "    cdef"}));
    EXPECT_EQ(grid.editor->cursor_line, 2);
    EXPECT_EQ(grid.editor->cursor_col, 4);
}

TEST(InsertLines, at_column_zero_the_block_keeps_its_indentation) {
    GridEditor grid;
    grid.load("tail\n");
    grid.put_cursor(0, 0);
    grid.editor->insert_lines({"  a", "b"});
    EXPECT_EQ(grid.document(), (Lines{"  a", "btail"}));
}

// A copied block keeps its lines' indentation relative to the shallowest
// line, and a tab-indented file copies as tabs.
TEST(CopyText, a_block_keeps_its_relative_indentation) {
    const struct {
        const char* what;
        const char* file;
        int from_line, from_col, to_line, to_col;
        const char* copied;
    } cases[] = {
        {"a block starting inside a line", "  a b\n  c\n", 0, 4, 1, 3, "  b\r\n  c"},
        {"a shallower later line keeps the block as selected", "    a b\n c\n", 0, 6, 1, 2, "b\r\n c"},
        {"whole lines of a tab-indented file", "\tone\n\t\ttwo\n", 0, 0, 1, 13, "\tone\r\n\t\ttwo"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        GridEditor grid;
        grid.load(c.file);
        grid.select(c.from_line, c.from_col, c.to_line, c.to_col);
        EXPECT_STREQ(grid.editor->selection_clipboard_text().c_str(), c.copied);
    }
}

TEST(SelectionCommands, select_all_and_cancel_leave_the_cursor_alone) {
    GridEditor grid;
    grid.load("ab\ncde\n");
    grid.put_cursor(1, 1);
    grid.editor->select_all();
    EXPECT_EQ(grid.editor->sel_line, 1);
    EXPECT_EQ(grid.editor->sel_col, 3);
    EXPECT_EQ(grid.editor->cursor_col, 1);
    grid.editor->cancel_selection();
    EXPECT_EQ(grid.editor->selecting, 0);
    EXPECT_EQ(grid.attr(2, 1), ATTR_TEXT);
}

// Random typing, deleting, splitting, joining, selection deletes and block
// inserts, with undo and redo, against a vector of lines held as code points.
TEST(RandomEditing, document_matches_a_plain_model_through_edits_undo_and_redo) {
    using Model = std::vector<std::u32string>;
    const std::u32string alphabet = U"abcxyz.\u00e9\u20ac";
    auto utf8 = [](const std::u32string& line) {
        std::string out;
        char bytes[4];
        for (char32_t c : line) out.append(bytes, encode_utf8(c, bytes));
        return out;
    };
    auto as_lines = [&](const Model& model) {
        Lines out;
        for (const auto& line : model) out.push_back(utf8(line));
        return out;
    };

    GridEditor grid(10, 30);
    grid.load("start\n");
    grid.editor->undo_limit = 100000;
    CellEditor& editor = *grid.editor;
    Model model = {U"start"};
    std::vector<Model> history = {model};
    size_t position = 0;
    std::mt19937 random(20240607);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };

    for (int step = 0; step < 3000; ++step) {
        const int32_t n = static_cast<int32_t>(model.size());
        const int32_t line = editor.cursor_line;
        const int32_t col = editor.cursor_col;
        const Model before = model;
        const int action = pick(100);
        bool block_insert = false;  // committed even when it changes nothing
        if (action < 30) {
            const char32_t c = alphabet[static_cast<size_t>(pick(static_cast<int>(alphabet.size())))];
            editor.insert_character(c);
            if (line == n) model.push_back(U"");
            model[static_cast<size_t>(line)].insert(static_cast<size_t>(col), 1, c);
        } else if (action < 42) {
            editor.backspace_key();
            if (col > 0) {
                model[line].erase(static_cast<size_t>(col - 1), 1);
            } else if (line > 0 && line < n) {
                model[line - 1] += model[line];
                model.erase(model.begin() + line);
            }
        } else if (action < 52) {
            editor.delete_key();
            if (line < n && static_cast<size_t>(col) < model[line].size()) {
                model[line].erase(static_cast<size_t>(col), 1);
            } else if (line + 1 < n) {
                model[line] += model[line + 1];
                model.erase(model.begin() + line + 1);
            }
        } else if (action < 60) {
            editor.enter_key(false);
            if (line == n) model.push_back(U"");
            const std::u32string tail = model[line].substr(static_cast<size_t>(col));
            model[line].erase(static_cast<size_t>(col));
            model.insert(model.begin() + line + 1, tail);
        } else if (action < 66 && n > 0) {
            int32_t a_line = pick(n), b_line = pick(n);
            int32_t a_col = pick(static_cast<int>(model[a_line].size()) + 1);
            int32_t b_col = pick(static_cast<int>(model[b_line].size()) + 1);
            grid.select(a_line, a_col, b_line, b_col);
            editor.delete_key();
            if (b_line < a_line || (b_line == a_line && b_col < a_col)) {
                std::swap(a_line, b_line);
                std::swap(a_col, b_col);
            }
            model[a_line] = model[a_line].substr(0, static_cast<size_t>(a_col)) +
                            model[b_line].substr(static_cast<size_t>(b_col));
            model.erase(model.begin() + a_line + 1, model.begin() + b_line + 1);
        } else if (action < 71) {
            block_insert = true;
            std::vector<String> block;
            Model pieces;
            for (int i = pick(3); i >= 0; --i) {
                std::u32string piece;
                for (int k = pick(4); k > 0; --k) piece += alphabet[static_cast<size_t>(pick(7))];
                pieces.push_back(piece);
                block.emplace_back(utf8(piece).c_str());
            }
            editor.begin_edit();
            editor.insert_lines(block);
            editor.commit_edit();
            std::u32string tail;
            size_t at = static_cast<size_t>(line);
            if (line == n) {
                model.insert(model.begin() + line, pieces[0]);
            } else {
                tail = model[at].substr(static_cast<size_t>(col));
                model[at] = model[at].substr(0, static_cast<size_t>(col)) + pieces[0];
            }
            for (size_t i = 1; i < pieces.size(); ++i) model.insert(model.begin() + static_cast<long>(++at), pieces[i]);
            model[at] += tail;
        } else if (action < 85) {
            grid.put_cursor(pick(n + 1), pick(12));
            editor.ensure_cursor_visible(false, -1);
            continue;
        } else if (action < 94) {
            editor.undo();
            if (position > 0) model = history[--position];
            ASSERT_EQ(grid.document(), as_lines(model)) << "undo at step " << step;
            continue;
        } else {
            editor.redo();
            if (position + 1 < history.size()) model = history[++position];
            ASSERT_EQ(grid.document(), as_lines(model)) << "redo at step " << step;
            continue;
        }
        if (model != before || block_insert) {
            history.resize(position + 1);
            history.push_back(model);
            ++position;
        }
        ASSERT_EQ(grid.document(), as_lines(model)) << "action " << action << " at step " << step;
        ASSERT_EQ(editor.undo_pos, static_cast<int32_t>(position)) << "action " << action << " at step " << step;
        ASSERT_LE(editor.cursor_line, editor.line_count());
    }
}

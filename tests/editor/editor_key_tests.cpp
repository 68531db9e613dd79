// The key bindings: cursor movement on a windowless grid, the selection
// rules of the navigation keys, the pane commands and the status line they
// move, and real keys typed into a cell window with Shift and Ctrl held.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "cell_host.h"
#include "editor_test_support.h"

namespace {

std::string numbered_lines(int count) {
    std::string text;
    for (int i = 1; i <= count; ++i) text += "line " + std::to_string(i) + "\n";
    return text;
}

struct Position {
    int32_t line;
    int32_t col;
    bool operator==(const Position& other) const { return line == other.line && col == other.col; }
};

std::ostream& operator<<(std::ostream& out, const Position& p) { return out << "(" << p.line << ", " << p.col << ")"; }

Position cursor_of(const CellEditor& editor) { return Position{editor.cursor_line, editor.cursor_col}; }

}  // namespace

TEST(CursorMoves, right_and_left_cross_line_ends_up_to_after_the_last_line) {
    GridEditor grid;
    grid.load("ab\nc\n");
    CellEditor& editor = *grid.editor;
    grid.put_cursor(0, 2);
    editor.move_cursor(KEY_RIGHT, false);
    EXPECT_EQ(cursor_of(editor), (Position{1, 0}));
    editor.move_cursor(KEY_RIGHT, false);
    editor.move_cursor(KEY_RIGHT, false);
    EXPECT_EQ(cursor_of(editor), (Position{2, 0})) << "the position after the last line";
    editor.move_cursor(KEY_RIGHT, false);
    EXPECT_EQ(cursor_of(editor), (Position{2, 0}));
    editor.move_cursor(KEY_LEFT, false);
    EXPECT_EQ(cursor_of(editor), (Position{1, 1}));
    grid.put_cursor(0, 0);
    editor.move_cursor(KEY_LEFT, false);
    EXPECT_EQ(cursor_of(editor), (Position{0, 0}));
}

TEST(CursorMoves, ctrl_right_and_ctrl_left_skip_runs_of_one_class) {
    GridEditor grid;
    grid.load("foo_bar1;  x+=\xC3\xA9;y\nnext\n");
    CellEditor& editor = *grid.editor;
    std::vector<int32_t> stops;
    for (int i = 0; i < 7; ++i) {
        editor.move_cursor(KEY_RIGHT, true);
        stops.push_back(editor.cursor_line * 100 + editor.cursor_col);
    }
    // Word, ";" with the blanks after it, "x", the other characters with the
    // non-ASCII one, ";", "y", then the next line.
    EXPECT_EQ(stops, (std::vector<int32_t>{8, 11, 12, 15, 16, 17, 100}));
    editor.move_cursor(KEY_LEFT, true);
    stops.clear();
    for (int i = 0; i < 6; ++i) {
        editor.move_cursor(KEY_LEFT, true);
        stops.push_back(editor.cursor_col);
    }
    EXPECT_EQ(stops, (std::vector<int32_t>{16, 15, 12, 11, 8, 0}));
}

TEST(CursorMoves, home_toggles_between_the_indentation_and_column_zero) {
    GridEditor grid;
    grid.load("    text\n    \n");
    CellEditor& editor = *grid.editor;
    grid.put_cursor(0, 6);
    editor.wanted_col = 9;
    editor.move_cursor(KEY_HOME, false);
    EXPECT_EQ(editor.cursor_col, 4);
    EXPECT_EQ(editor.wanted_col, -1);
    editor.move_cursor(KEY_HOME, false);
    EXPECT_EQ(editor.cursor_col, 0);
    editor.move_cursor(KEY_HOME, false);
    EXPECT_EQ(editor.cursor_col, 4);
    grid.put_cursor(1, 3);
    editor.move_cursor(KEY_HOME, false);
    EXPECT_EQ(editor.cursor_col, 0) << "a line of blanks only has column 0";
}

TEST(CursorMoves, page_down_and_up_move_a_pane_height_keeping_a_line_of_context) {
    GridEditor grid(12, 40);  // a pane of 10 rows
    grid.load(numbered_lines(100));
    CellEditor& editor = *grid.editor;
    editor.move_cursor(KEY_PAGE_DOWN, false);
    EXPECT_EQ(editor.cursor_line, 9) << "first to the pane's last line";
    EXPECT_EQ(editor.pane_scroll[0], 0);
    editor.move_cursor(KEY_PAGE_DOWN, false);
    EXPECT_EQ(editor.pane_scroll[0], 8);
    EXPECT_EQ(editor.cursor_line, 17);
    EXPECT_EQ(grid.row(1), "line 9") << "the view was redrawn";
    editor.move_cursor(KEY_PAGE_UP, false);
    EXPECT_EQ(editor.cursor_line, 8) << "first to the pane's first line";
    editor.move_cursor(KEY_PAGE_UP, false);
    EXPECT_EQ(editor.cursor_line, 0);
    EXPECT_EQ(editor.pane_scroll[0], 0);
    grid.put_cursor(95, 0);
    editor.ensure_cursor_visible(false, -1);
    editor.move_cursor(KEY_PAGE_DOWN, false);
    editor.move_cursor(KEY_PAGE_DOWN, false);
    EXPECT_EQ(editor.cursor_line, 99) << "kept within the last line";
}

TEST(CursorMoves, page_down_in_panes_of_one_or_two_rows_still_moves_down) {
    for (int32_t rows : {3, 4}) {
        GridEditor grid(rows, 40);
        grid.load(numbered_lines(10));
        CellEditor& editor = *grid.editor;
        int32_t previous = editor.cursor_line;
        for (int i = 0; i < 3; ++i) {
            editor.move_cursor(KEY_PAGE_DOWN, false);
            EXPECT_GT(editor.cursor_line, previous) << rows - 2 << "-row pane, press " << i;
            previous = editor.cursor_line;
        }
    }
}

TEST(CursorMoves, ctrl_down_and_up_scroll_and_keep_the_cursor_in_view) {
    GridEditor grid(12, 40);  // a pane of 10 rows
    grid.load(numbered_lines(20));
    CellEditor& editor = *grid.editor;
    editor.move_cursor(KEY_DOWN, true);
    EXPECT_EQ(editor.pane_scroll[0], 1);
    EXPECT_EQ(editor.cursor_line, 1) << "pushed down with the pane's first line";
    for (int i = 0; i < 20; ++i) editor.move_cursor(KEY_DOWN, true);
    EXPECT_EQ(editor.pane_scroll[0], 13) << "the scroll stops at line count - height + 3";
    grid.put_cursor(19, 0);
    editor.pane_scroll[0] = 10;
    editor.move_cursor(KEY_UP, true);
    EXPECT_EQ(editor.pane_scroll[0], 9);
    EXPECT_EQ(editor.cursor_line, 18) << "pulled up with the pane's last line";
    EXPECT_EQ(grid.row(1), "line 10");
}

TEST(NavigationSelection, an_arrow_without_shift_ends_the_selection_at_its_start_or_end) {
    GridEditor grid;
    grid.load("abcdefgh\nijkl\n");
    CellEditor& editor = *grid.editor;
    grid.select(0, 2, 0, 5);
    editor.on_key(KEY_LEFT);
    EXPECT_EQ(editor.selecting, 0);
    EXPECT_EQ(cursor_of(editor), (Position{0, 2})) << "on the start, without moving further";
    editor.on_key(KEY_LEFT);
    EXPECT_EQ(editor.cursor_col, 1);
    grid.select(0, 6, 1, 1);
    grid.put_cursor(0, 6);
    editor.on_key(KEY_DOWN);
    EXPECT_EQ(cursor_of(editor), (Position{1, 1})) << "Down goes to the end";
    grid.select(0, 1, 0, 3);
    grid.put_cursor(1, 2);
    editor.on_key(KEY_RIGHT);
    EXPECT_EQ(cursor_of(editor), (Position{1, 3})) << "a cursor outside moves as usual";
    grid.select(0, 1, 0, 3);
    editor.on_key(KEY_HOME);
    EXPECT_EQ(editor.selecting, 0);
    EXPECT_EQ(cursor_of(editor), (Position{0, 0}));
}

TEST(KeyTable, unbound_control_codes_and_function_keys_change_nothing) {
    GridEditor grid;
    grid.load("text\n");
    CellEditor& editor = *grid.editor;
    for (int code : {2, 5, 14, 17, 19, 20, 21, 23, 29, KEY_F1, KEY_F12, KEY_F1 + 4}) {
        EXPECT_EQ(editor.on_key(code), 0) << code;
    }
    EXPECT_EQ(grid.document(), (Lines{"text"}));
    EXPECT_EQ(editor.undo_pos, 0);
    editor.on_key(11);
    EXPECT_EQ(grid.document(), (Lines{"\x0btext"})) << "Ctrl+K counts as white space and is typed";
}

TEST(Panes, ctrl_p_splits_and_the_status_moves_to_the_divider) {
    GridEditor grid(32, 80);  // 30 text rows: 14, the divider, 15
    grid.load(numbered_lines(100));
    CellEditor& editor = *grid.editor;
    editor.on_key(16);
    const PaneLayout layout = editor.pane_layout();
    ASSERT_TRUE(layout.split);
    EXPECT_EQ(layout.divider_row, 15);
    EXPECT_EQ(grid.row(15).substr(grid.row(15).find_first_not_of(' ')), "Upper pane: Line 1/100 [1-15] Col 1 [INS]");
    EXPECT_EQ(grid.attr(15, 0), ATTR_HELP);
    EXPECT_EQ(grid.message_row(), "Ctrl+(Otherpane noPanes Find/Replace )");
    EXPECT_EQ(grid.attr(31, 6), ATTR_HELP_KEY) << "the O is highlighted";
    EXPECT_EQ(grid.row(16), "line 1") << "the lower pane starts where the upper one was";
    editor.on_key(15);
    EXPECT_EQ(editor.active_pane, 1);
    EXPECT_NE(grid.row(15).find("Lower pane: Line 1/100 [1-16]"), std::string::npos) << grid.row(15);
    editor.pane_scroll[1] = 40;
    editor.on_key(16);
    EXPECT_FALSE(editor.pane_layout().split);
    EXPECT_EQ(editor.active_pane, 0);
    EXPECT_EQ(editor.pane_scroll[0], 40) << "one pane again, showing what the active lower pane showed";
    EXPECT_EQ(grid.row(1), "line 41");
    EXPECT_EQ(grid.message_row().substr(0, 11), "Ctrl+(Pane ");
    EXPECT_NE(grid.message_row().find("Line 1/100 [41-71]"), std::string::npos) << grid.message_row();
}

TEST(Panes, ctrl_o_splits_first_and_keeps_the_cursor_in_the_active_panes_view) {
    GridEditor grid(32, 80);
    grid.load(numbered_lines(100));
    CellEditor& editor = *grid.editor;
    editor.on_key(15);
    EXPECT_TRUE(editor.pane_layout().split);
    EXPECT_EQ(editor.active_pane, 1);
    editor.pane_scroll[1] = 50;
    editor.on_key(15);
    editor.on_key(15);
    EXPECT_EQ(editor.active_pane, 1);
    EXPECT_EQ(editor.cursor_line, 50) << "moved to the first visible line of the lower pane";
    EXPECT_EQ(grid.screen.cursor_row, 16);
    editor.on_key(15);
    EXPECT_EQ(editor.cursor_line, 13) << "moved to the last visible line of the upper pane";
    EXPECT_EQ(editor.pane_scroll[1], 50) << "the other pane keeps its view";
}

// Real keys typed into a cell window, with the modifiers held down.

TEST(KeysInWindow, shift_right_three_times_selects_three_characters_and_left_ends_there) {
    CellHost host(480, 320);
    host.load("keys.txt", "abcdefgh\n");
    host.editor->cursor_col = 2;
    {
        HeldKeys shift{VK_SHIFT};
        host.key_down(VK_RIGHT);
        host.key_down(VK_RIGHT);
        host.key_down(VK_RIGHT);
    }
    CellEditor& editor = *host.editor;
    EXPECT_EQ(editor.selecting, 1);
    EXPECT_EQ(editor.anchor_col, 2);
    EXPECT_EQ(editor.sel_col, 5);
    EXPECT_STREQ(editor.selection_clipboard_text().c_str(), "cde");
    EXPECT_EQ(host.row_text(host.screen.rows - 1).substr(0, 9), "SELECTING");
    host.key_down(VK_LEFT);
    EXPECT_EQ(editor.selecting, 0);
    EXPECT_EQ(editor.cursor_col, 2);
}

TEST(KeysInWindow, chords_typed_while_the_thread_is_busy_keep_their_modifiers) {
    CellHost host(480, 320);
    host.load("busy.txt", "abcdefgh ijk\n");
    host.editor->cursor_col = 2;
    SetForegroundWindow(host.host);
    SetFocus(host.control);
    ASSERT_EQ(GetFocus(), host.control);
    // Shift+Right, then Ctrl+Shift+Right, pressed and released before the
    // thread takes a single message, as during a stall.
    std::vector<INPUT> events;
    for (const auto& [key, up] : std::vector<std::pair<WORD, bool>>{{VK_SHIFT, false},
                                                                    {VK_RIGHT, false},
                                                                    {VK_RIGHT, true},
                                                                    {VK_CONTROL, false},
                                                                    {VK_RIGHT, false},
                                                                    {VK_RIGHT, true},
                                                                    {VK_CONTROL, true},
                                                                    {VK_SHIFT, true}}) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        events.push_back(input);
    }
    SendInput(static_cast<UINT>(events.size()), events.data(), sizeof(INPUT));
    Sleep(100);
    ASSERT_GE(GetAsyncKeyState(VK_SHIFT), 0) << "every key is up before the first message is read";
    CellHost::pump();
    host.tick();
    EXPECT_EQ(host.editor->selecting, 1);
    EXPECT_STREQ(host.editor->selection_clipboard_text().c_str(), "cdefgh ") << "Shift+Right, then a word more";
}

TEST(KeysInWindow, ctrl_p_and_ctrl_o_typed_split_and_switch_panes) {
    CellHost host(480, 320);
    host.load("panes.txt", numbered_lines(50));
    {
        HeldKeys ctrl{VK_CONTROL};
        host.key_down('P');
        host.key_down('O');
    }
    const PaneLayout layout = host.editor->pane_layout();
    ASSERT_TRUE(layout.split);
    EXPECT_NE(host.row_text(layout.divider_row).find("Lower pane: "), std::string::npos);
}

TEST(KeysInWindow, ctrl_bracket_ends_the_tick_and_the_next_key_waits) {
    CellHost host(480, 320);
    host.load("tick.txt", "text\n");
    {
        HeldKeys ctrl{VK_CONTROL};
        SendMessageW(host.control, WM_KEYDOWN, VK_OEM_4, 1);
        SendMessageW(host.control, WM_CHAR, 'x', 1);
        host.tick();
        EXPECT_EQ(host.screen.key_count, 1) << "Ctrl+[ ended the tick before the x";
        SendMessageW(host.control, WM_KEYDOWN, 'W', 1);
        host.tick();
    }
    EXPECT_STREQ(host.editor->line_text(0).c_str(), "xtext") << "Ctrl+W does nothing in the editor";
}

TEST(KeysInWindow, ctrl_right_moves_by_words_and_shift_f3_finds_backward) {
    CellHost host(640, 320);
    host.load("words.txt", "alpha beta; gamma beta\n");
    {
        HeldKeys ctrl{VK_CONTROL};
        host.key_down(VK_RIGHT);
        host.key_down(VK_RIGHT);
    }
    EXPECT_EQ(host.editor->cursor_col, 10);
    host.editor->find_text.set("beta");
    {
        HeldKeys shift{VK_SHIFT};
        host.key_down(VK_F3);
    }
    EXPECT_EQ(host.editor->cursor_col, 6);
    host.key_down(VK_F3);
    EXPECT_EQ(host.editor->cursor_col, 18);
}

// Every key of the table typed into a cell window: the key message goes
// through the window's translation and the key ring, the modifiers are
// held for real, and the editor acts on the next tick.

constexpr int SHIFT = 1;
constexpr int CTRL = 2;

struct TypedKey {
    const char* name;
    int32_t line, col;
    bool select_all_first;
    WPARAM key;
    int modifiers;
    const char* document;  // lines joined by '\n'; null: unchanged
    int32_t cursor_line, cursor_col;  // -1: not checked
    int selecting;                    // -1: not checked
    int state;
    const char* message;  // shown on the last row; null: not checked
};

const char TEXT[] = "alpha beta\n  gamma";

const TypedKey TYPED_KEYS[] = {
    {"down_goes_to_the_next_line", 0, 3, false, VK_DOWN, 0, nullptr, 1, 3, 0, 0, nullptr},
    {"up_on_the_first_line_stays", 0, 3, false, VK_UP, 0, nullptr, 0, 3, 0, 0, nullptr},
    {"right_goes_one_column", 0, 3, false, VK_RIGHT, 0, nullptr, 0, 4, 0, 0, nullptr},
    {"ctrl_left_goes_to_the_word_start", 0, 8, false, VK_LEFT, CTRL, nullptr, 0, 6, 0, 0, nullptr},
    {"home_goes_to_the_indentation", 1, 6, false, VK_HOME, 0, nullptr, 1, 2, 0, 0, nullptr},
    {"ctrl_home_goes_to_the_start", 1, 4, false, VK_HOME, CTRL, nullptr, 0, 0, 0, 0, nullptr},
    {"end_goes_to_the_line_end", 0, 0, false, VK_END, 0, nullptr, 0, 10, 0, 0, nullptr},
    {"ctrl_end_goes_to_the_document_end", 0, 0, false, VK_END, CTRL, nullptr, 1, 7, 0, 0, nullptr},
    {"insert_toggles_overwrite", 0, 0, false, VK_INSERT, 0, nullptr, 0, 0, 0, 0, "[OVR]"},

    {"shift_end_selects_to_the_line_end", 0, 6, false, VK_END, SHIFT, nullptr, 0, 10, 1, 0, "SELECTING"},
    {"page_down_goes_to_the_last_line", 0, 0, false, VK_NEXT, 0, nullptr, 1, 0, 0, 0, nullptr},
    {"page_up_goes_to_the_first_line", 1, 0, false, VK_PRIOR, 0, nullptr, 0, 0, 0, 0, nullptr},
    {"delete_removes_the_character", 0, 0, false, VK_DELETE, 0, "lpha beta\n  gamma", 0, 0, 0, 0, nullptr},
    {"backspace_joins_the_lines", 1, 0, false, VK_BACK, 0, "alpha beta  gamma", 0, 10, 0, 0, nullptr},
    {"tab_indents", 0, 0, false, VK_TAB, 0, "  alpha beta\n  gamma", 0, 2, 0, 0, nullptr},
    {"shift_tab_outdents", 1, 2, false, VK_TAB, SHIFT, "alpha beta\ngamma", 1, 0, 0, 0, nullptr},
    {"tab_indents_the_selection", 0, 0, true, VK_TAB, 0, "  alpha beta\n    gamma", -1, -1, 1, 0, nullptr},
    {"enter_splits_the_line", 0, 5, false, VK_RETURN, 0, "alpha\nbeta\n  gamma", 1, 0, 0, 0, nullptr},
    {"ctrl_enter_opens_a_line_below", 0, 2, false, VK_RETURN, CTRL, "alpha beta\n\n  gamma", 1, 0, 0, 0, nullptr},
    {"ctrl_a_selects_everything", 1, 1, false, 'A', CTRL, nullptr, 1, 1, 1, 0, "SELECTING"},
    {"ctrl_keypad_1_selects_everything_too", 1, 1, false, VK_NUMPAD1, CTRL, nullptr, 1, 1, 1, 0, nullptr},
    {"escape_ends_the_selection", 0, 0, true, VK_ESCAPE, 0, nullptr, 0, 0, 0, 0, "Ctrl+("},
    {"ctrl_c_copies_the_selection", 0, 0, true, 'C', CTRL, nullptr, -1, -1, 1, 1, "Copied 19 bytes"},
    {"ctrl_c_without_a_selection_does_nothing", 0, 0, false, 'C', CTRL, nullptr, 0, 0, 0, 0, "Ctrl+("},
    {"ctrl_x_cuts_the_selection", 0, 0, true, 'X', CTRL, "", 0, 0, 0, 1, "Cut 19 bytes"},
    {"ctrl_d_duplicates_the_line", 1, 0, false, 'D', CTRL, "alpha beta\n  gamma\n  gamma", 1, 0, 0, 1,
     "Duplicated line"},
    {"ctrl_z_at_the_loaded_state_cannot_undo", 0, 0, false, 'Z', CTRL, nullptr, 0, 0, 0, 1, "Can't Undo"},
    {"ctrl_shift_z_redoes", 0, 0, false, 'Z', CTRL | SHIFT, nullptr, 0, 0, 0, 1, "Can't Redo"},
    {"ctrl_y_redoes", 0, 0, false, 'Y', CTRL, nullptr, 0, 0, 0, 1, "Can't Redo"},
    {"ctrl_f_opens_the_find_prompt", 0, 0, false, 'F', CTRL, nullptr, 0, 0, 0, 2, "Find substring"},
    {"ctrl_g_without_a_find_text_opens_it_too", 0, 0, false, 'G', CTRL, nullptr, 0, 0, 0, 2, "Find substring"},
    {"f3_without_a_find_text_opens_it_too", 0, 0, false, VK_F3, 0, nullptr, 0, 0, 0, 2, "Find substring"},
    {"ctrl_r_without_a_find_text_asks_for_ctrl_f", 0, 0, false, 'R', CTRL, nullptr, 0, 0, 0, 1, "Use Ctrl+F"},
    {"ctrl_j_opens_the_go_to_prompt", 0, 0, false, 'J', CTRL, nullptr, 0, 0, 0, 4, "Go to line"},
    {"ctrl_l_redraws", 1, 3, false, 'L', CTRL, nullptr, 1, 3, 0, 0, "Ctrl+("},
    {"ctrl_w_is_left_to_the_host", 0, 0, false, 'W', CTRL, nullptr, 0, 0, 0, 0, nullptr},
    {"insert_with_shift_does_nothing", 0, 0, false, VK_INSERT, SHIFT, nullptr, 0, 0, 0, 0, nullptr},
};

class KeyTableInWindow : public ::testing::TestWithParam<TypedKey> {};

namespace {

std::string joined_document(const CellEditor& editor) {
    std::string text;
    for (int32_t i = 0; i < editor.line_count(); ++i) {
        if (i) text += '\n';
        text += editor.line_text(i).c_str();
    }
    return text;
}

}  // namespace

TEST_P(KeyTableInWindow, the_typed_key_runs_its_command) {
    const TypedKey& c = GetParam();
    CellHost host(480, 320);
    host.load("table.txt", std::string(TEXT) + "\n");
    CellEditor& editor = *host.editor;
    editor.cursor_line = c.line;
    editor.cursor_col = c.col;
    editor.ensure_cursor_visible(false, -1);
    if (c.select_all_first) editor.select_all();
    {
        std::vector<WORD> held;
        if (c.modifiers & CTRL) held.push_back(VK_CONTROL);
        if (c.modifiers & SHIFT) held.push_back(VK_SHIFT);
        HeldKeys keys(held);
        host.key_down(c.key);
    }
    EXPECT_EQ(joined_document(editor), c.document ? c.document : TEXT);
    if (c.cursor_line >= 0) {
        EXPECT_EQ(editor.cursor_line, c.cursor_line);
        EXPECT_EQ(editor.cursor_col, c.cursor_col);
    }
    if (c.selecting >= 0) {
        EXPECT_EQ(editor.selecting, c.selecting);
    }
    EXPECT_EQ(editor.state, c.state);
    if (c.message) {
        const std::string row = host.row_text(host.screen.rows - 1);
        EXPECT_NE(row.find(c.message), std::string::npos) << row;
    }
}

INSTANTIATE_TEST_SUITE_P(KeyBindings, KeyTableInWindow, ::testing::ValuesIn(TYPED_KEYS),
                         [](const ::testing::TestParamInfo<TypedKey>& info) { return std::string(info.param.name); });

TEST(KeysInWindow, ctrl_v_and_shift_insert_paste_the_first_clipboard_line_into_a_prompt) {
    CellHost host(640, 320);
    host.load("paste.txt", "text\n");
    const std::wstring clip = L"first\r\nsecond";
    ASSERT_TRUE(OpenClipboard(host.control));
    EmptyClipboard();
    const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, (clip.size() + 1) * sizeof(wchar_t));
    std::memcpy(GlobalLock(block), clip.c_str(), (clip.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(block);
    SetClipboardData(CF_UNICODETEXT, block);
    CloseClipboard();
    host.editor->find_text.set("old");
    {
        HeldKeys ctrl{VK_CONTROL};
        host.key_down('F');
        host.key_down('V');
    }
    EXPECT_STREQ(host.editor->find_text.c_str(), "first") << "the shown text is replaced";
    {
        HeldKeys shift{VK_SHIFT};
        host.key_down(VK_INSERT);
    }
    EXPECT_STREQ(host.editor->find_text.c_str(), "firstfirst");
    EXPECT_STREQ(host.editor->line_text(0).c_str(), "text") << "the document is untouched";
}

// The editor in a real cell window: typing through window messages, undo,
// copy, cut and paste through the Windows clipboard, and a screenshot of a
// host showing a loaded file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cell_host.h"
#include "clipboard.h"

namespace {

std::string line(const CellHost& host, int index) { return host.editor->line_text(index).c_str(); }

}  // namespace

TEST(EditorWindow, typed_keys_reach_the_document_and_ctrl_z_undoes_them) {
    CellHost host(480, 320);
    host.load("typed.txt", "hello\n");
    host.type(L"abc");
    EXPECT_EQ(line(host, 0), "abchello");
    EXPECT_EQ(host.row_text(1), "abchello");
    BYTE state[256] = {};
    GetKeyboardState(state);
    state[VK_CONTROL] = 0x80;
    SetKeyboardState(state);
    SendMessageW(host.control, WM_KEYDOWN, 'Z', 1);
    SendMessageW(host.control, WM_KEYDOWN, 'Z', 1);
    state[VK_CONTROL] = 0;
    SetKeyboardState(state);
    host.tick();
    EXPECT_EQ(line(host, 0), "ahello");
    host.key_down(VK_BACK);
    EXPECT_EQ(line(host, 0), "hello") << "the key after a message both clears it and acts";
    host.key_down(VK_RETURN);
    host.key_down(VK_TAB);
    EXPECT_EQ(host.editor->line_count(), 2);
    EXPECT_EQ(line(host, 1), "  hello");
}

TEST(EditorClipboard, copy_puts_the_selection_on_the_clipboard_as_utf16_with_crlf) {
    CellHost host(480, 320);
    host.load("copy.txt", "  a b\n  c\n");
    host.editor->selecting = 1;
    host.editor->anchor_line = 0;
    host.editor->anchor_col = 4;
    host.editor->sel_line = 1;
    host.editor->sel_col = 3;
    host.editor->copy_to_clipboard(false);
    EXPECT_EQ(clipboard_text(host.control), L"  b\r\n  c");
    EXPECT_EQ(host.row_text(host.screen.rows - 1).substr(0, 14), "Copied 8 bytes");
    EXPECT_EQ(host.editor->selecting, 1) << "copy keeps the selection";
}

TEST(EditorClipboard, characters_beyond_the_basic_plane_are_copied_whole) {
    CellHost host(480, 320);
    host.load("emoji.txt", "a\xF0\x9F\x98\x80\xE2\x82\xAC" "b\n");
    host.editor->select_all();
    host.editor->copy_to_clipboard(false);
    EXPECT_EQ(clipboard_text(host.control), std::wstring(L"a\xD83D\xDE00\x20AC" L"b"));
}

TEST(EditorClipboard, cut_removes_the_text_and_undo_brings_it_back) {
    CellHost host(480, 320);
    host.load("cut.txt", "keep this\nand that\n");
    host.editor->selecting = 1;
    host.editor->anchor_line = 0;
    host.editor->anchor_col = 5;
    host.editor->sel_line = 1;
    host.editor->sel_col = 4;
    host.editor->copy_to_clipboard(true);
    EXPECT_EQ(clipboard_text(host.control), L"this\r\nand ");
    EXPECT_EQ(host.editor->line_count(), 1);
    EXPECT_EQ(line(host, 0), "keep that");
    EXPECT_EQ(host.row_text(host.screen.rows - 1).substr(0, 12), "Cut 10 bytes");
    host.editor->undo();
    EXPECT_EQ(line(host, 1), "and that");
}

TEST(EditorClipboard, paste_inserts_lines_and_undo_redo_move_the_cursor_around_it) {
    CellHost host(480, 320);
    host.load("paste.txt", "    abcdef\n");
    ASSERT_TRUE(set_clipboard_text(L"  a\r\n    b\r\n", host.control));
    host.editor->cursor_col = 6;
    host.editor->paste();
    EXPECT_EQ(line(host, 0), "    aba");
    EXPECT_EQ(line(host, 1), "      b");
    EXPECT_EQ(line(host, 2), "    cdef");
    EXPECT_EQ(host.row_text(host.screen.rows - 1).substr(0, 6), "Pasted");
    host.editor->undo();
    EXPECT_EQ(host.editor->line_count(), 1);
    EXPECT_EQ(host.editor->cursor_line, 0);
    EXPECT_EQ(host.editor->cursor_col, 6) << "undo returns to where the paste began";
    host.editor->redo();
    EXPECT_EQ(host.editor->cursor_line, 2);
    EXPECT_EQ(host.editor->cursor_col, 4) << "redo returns to the end of the pasted text";
}

TEST(EditorClipboard, paste_expands_tabs_and_accepts_every_line_break) {
    CellHost host(480, 320);
    host.load("breaks.txt", "\n");
    ASSERT_TRUE(set_clipboard_text(L"x\ty\rz\nw", host.control));
    host.editor->paste();
    EXPECT_EQ(host.editor->line_count(), 3);
    EXPECT_EQ(line(host, 0), "x  y");
    EXPECT_EQ(line(host, 1), "z");
    EXPECT_EQ(line(host, 2), "w");
}

TEST(EditorClipboard, ansi_text_is_taken_when_there_is_no_unicode_text) {
    CellHost host(480, 320);
    host.load("ansi.txt", "\n");
    ASSERT_TRUE(set_clipboard(host.control, CF_TEXT, "plain", 6));
    host.editor->paste();
    EXPECT_EQ(line(host, 0), "plain");
}

TEST(EditorClipboard, empty_clipboard_and_empty_selection_only_show_messages) {
    CellHost host(480, 320);
    host.load("empty.txt", "text\n");
    empty_clipboard(host.control);
    host.editor->paste();
    EXPECT_EQ(host.row_text(host.screen.rows - 1).substr(0, 15), "Clipboard empty");
    host.editor->selecting = 1;
    host.editor->anchor_col = host.editor->sel_col = 2;
    host.editor->copy_to_clipboard(false);
    EXPECT_EQ(host.row_text(host.screen.rows - 1).substr(0, 12), "No selection");
    EXPECT_EQ(line(host, 0), "text");
    EXPECT_FALSE(host.editor->modified());
}

TEST(EditorScreenshot, host_shows_title_text_selection_scroll_bar_and_caret) {
    CellHost host(640, 400);
    std::string text = "// Velmora preferences\n{\n  \"zstd_compression_level\": 3,\n  \"zstd_enable_checksum\": true,\n";
    for (int i = 0; i < 60; ++i) text += "  \"key_" + std::to_string(i) + "\": " + std::to_string(i * 7) + ",\n";
    text += "}\n";
    host.load("preferences.txt", text);
    host.editor->cursor_line = 2;
    host.editor->cursor_col = 29;
    host.editor->ensure_cursor_visible(false, -1);
    host.type(L"0");  // typed through the window: 3 becomes 30
    host.editor->selecting = 1;
    host.editor->anchor_line = 3;
    host.editor->anchor_col = 2;
    host.editor->sel_line = 4;
    host.editor->sel_col = 9;
    host.editor->cursor_line = 4;
    host.editor->cursor_col = 9;
    host.editor->draw(-1);
    host.editor->ensure_cursor_visible(false, -1);
    host.capture();
    const std::string path = build_folder() + "editor-screenshot.png";
    ASSERT_TRUE(host.write_png(path.c_str())) << path;
    EXPECT_EQ(host.pixel(host.width - 3, host.cell_y(1) + 1), 0x606060u) << "scroll-bar thumb at the top";
    EXPECT_NE(host.row_text(0).find("preferences.txt"), std::string::npos);
    EXPECT_NE(host.row_text(3).find(": 30,"), std::string::npos);
    EXPECT_NE(host.row_text(host.screen.rows - 1).find("Line 5/65"), std::string::npos);
}

TEST(EditorReopen, a_document_loaded_after_clearing_starts_as_at_the_first_opening) {
    CellHost host(480, 320);
    std::string text;
    for (int i = 0; i < 40; ++i) text += (i == 1 ? "short" : std::string(90, 'a' + i % 26)) + "\n";
    host.load("used.txt", text);
    CellEditor& editor = *host.editor;
    editor.on_key(KEY_END);  // far right: the view scrolls sideways
    {
        HeldKeys shift{VK_SHIFT};
        host.key_down(VK_DOWN);  // a selection onto a short line, whose column is remembered
    }
    editor.on_key(16);  // Ctrl+P: two panes
    editor.on_key(15);  // Ctrl+O: the lower one active
    host.capture();     // painted, with a scroll bar in each pane
    host.mouse_at_cell(WM_LBUTTONDOWN, editor.pane_layout().top[1], host.screen.cols - 1);  // grabs its thumb
    editor.on_key(6);  // Ctrl+F: the find prompt
    ASSERT_GT(editor.hscroll, 0);
    ASSERT_GE(editor.wanted_col, 0);
    ASSERT_EQ(editor.active_pane, 1);
    ASSERT_EQ(editor.drag_mode, 2);
    ASSERT_EQ(editor.selecting, 1);
    ASSERT_EQ(editor.state, PROMPT_FIND);

    editor.clear_document();  // the host closes
    host.load("used.txt", text);  // and opens again
    EXPECT_EQ(editor.state, 0) << "no prompt";
    EXPECT_EQ(editor.selecting, 0);
    EXPECT_EQ(editor.wanted_col, -1);
    EXPECT_EQ(editor.hscroll, 0);
    EXPECT_FALSE(editor.pane_layout().split);
    EXPECT_EQ(editor.active_pane, 0);
    EXPECT_EQ(editor.drag_mode, 0);
    EXPECT_EQ(host.row_text(host.screen.rows - 1).substr(0, 10), "Ctrl+(Pane");
    host.type(L"x");
    EXPECT_EQ(line(host, 0), "x" + std::string(90, 'a')) << "typing goes into the document";
    EXPECT_EQ(host.row_text(1).substr(0, 3), "xaa");
}

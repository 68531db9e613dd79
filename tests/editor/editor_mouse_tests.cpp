// The mouse in a real cell window: mouse messages sent to the control place
// the cursor, select (Shift-click, double-click, drags with auto-scroll),
// open links, page and drag the scroll bars, move the divider between two
// panes and scroll with the wheel. Ends with a screenshot of a split editor
// with the find prompt open.
#include <gtest/gtest.h>

#include <string>

#include "cell_host.h"

namespace {

std::string numbered_lines(int count) {
    std::string text;
    for (int i = 1; i <= count; ++i) text += "line " + std::to_string(i) + "\n";
    return text;
}

std::string opened_link;
int links_opened = 0;

void record_link(HWND, const char* link) {
    opened_link = link;
    ++links_opened;
}

// Watches links for one test instead of starting a browser.
struct LinkWatch {
    LinkWatch() {
        opened_link.clear();
        links_opened = 0;
        editor_shared.open_link = record_link;
    }
    ~LinkWatch() { editor_shared.open_link = nullptr; }
};

class ContextEditor : public CellEditor {
public:
    using CellEditor::CellEditor;
    void on_context_click(HWND window) override {
        ++context_clicks;
        context_window = window;
    }
    int context_clicks = 0;
    HWND context_window = nullptr;
};

// The host window at another place on the screen for one test.
struct HostMoved {
    HostMoved(HWND host, int x, int y) : host(host) { SetWindowPos(host, nullptr, x, y, 0, 0, SWP_NOZORDER | SWP_NOSIZE); }
    ~HostMoved() { SetWindowPos(host, nullptr, 0, 0, 0, 0, SWP_NOZORDER | SWP_NOSIZE); }
    HWND host;
};

}  // namespace

TEST(MouseClicks, a_click_places_the_cursor_within_the_text_and_closes_prompts) {
    CellHost host(480, 320);
    host.load("click.txt", "short\nlonger line\n");
    CellEditor& editor = *host.editor;
    host.mouse_at_cell(WM_LBUTTONDOWN, 2, 3);
    host.mouse_at_cell(WM_LBUTTONUP, 2, 3);
    EXPECT_EQ(editor.cursor_line, 1);
    EXPECT_EQ(editor.cursor_col, 3);
    EXPECT_EQ(host.screen.cursor_row, 2);
    EXPECT_EQ(host.screen.cursor_col, 3) << "the caret is on the clicked cell";
    host.mouse_at_cell(WM_LBUTTONDOWN, 1, 30);
    host.mouse_at_cell(WM_LBUTTONUP, 1, 30);
    EXPECT_EQ(editor.cursor_line, 0);
    EXPECT_EQ(editor.cursor_col, 5) << "past the end of a line: its end";
    host.mouse_at_cell(WM_LBUTTONDOWN, 12, 2);
    host.mouse_at_cell(WM_LBUTTONUP, 12, 2);
    EXPECT_EQ(editor.cursor_line, 1) << "below the text: the last line";
    EXPECT_EQ(editor.cursor_col, 2);
    editor.on_key(6);
    ASSERT_EQ(editor.state, 2);
    host.mouse_at_cell(WM_LBUTTONDOWN, 1, 1);
    host.mouse_at_cell(WM_LBUTTONUP, 1, 1);
    EXPECT_EQ(editor.state, 0);
    EXPECT_EQ(host.row_text(host.screen.rows - 1).substr(0, 6), "Ctrl+(") << "the prompt row is gone";
    EXPECT_EQ(GetCapture(), nullptr) << "the button's release ends the capture";
}

TEST(MouseClicks, shift_click_selects_from_the_old_position) {
    CellHost host(480, 320);
    host.load("shift.txt", "abcdef\nghijkl\n");
    CellEditor& editor = *host.editor;
    editor.cursor_col = 1;
    host.mouse_at_cell(WM_LBUTTONDOWN, 2, 4, MK_SHIFT);
    host.mouse_at_cell(WM_LBUTTONUP, 2, 4);
    EXPECT_EQ(editor.selecting, 1);
    EXPECT_EQ(editor.anchor_line, 0);
    EXPECT_EQ(editor.anchor_col, 1);
    EXPECT_EQ(editor.sel_line, 1);
    EXPECT_EQ(editor.sel_col, 4);
    host.mouse_at_cell(WM_LBUTTONDOWN, 1, 3, MK_SHIFT);
    host.mouse_at_cell(WM_LBUTTONUP, 1, 3);
    EXPECT_EQ(editor.anchor_col, 1) << "a second Shift-click keeps the anchor";
    EXPECT_EQ(editor.sel_line, 0);
    EXPECT_EQ(editor.sel_col, 3);
    host.mouse_at_cell(WM_LBUTTONDOWN, 2, 0);
    host.mouse_at_cell(WM_LBUTTONUP, 2, 0);
    EXPECT_EQ(editor.selecting, 0) << "a plain click ends the selection";
}

TEST(MouseClicks, double_click_selects_the_word_under_the_mouse) {
    CellHost host(480, 320);
    host.load("word.txt", "call my_func2(x);\n");
    CellEditor& editor = *host.editor;
    EXPECT_EQ(host.mouse_at_cell(WM_LBUTTONDBLCLK, 1, 8), 0);
    EXPECT_EQ(editor.selecting, 1);
    EXPECT_EQ(editor.anchor_col, 5);
    EXPECT_EQ(editor.sel_col, 13);
    EXPECT_EQ(editor.cursor_col, 13);
    EXPECT_STREQ(editor.selection_clipboard_text().c_str(), "my_func2");
    host.mouse_at_cell(WM_LBUTTONDOWN, 1, 30);
    host.mouse_at_cell(WM_LBUTTONUP, 1, 30);
    host.mouse_at_cell(WM_LBUTTONDBLCLK, 1, 30);
    EXPECT_EQ(editor.selecting, 0) << "past the end of the line there is no word";
}

TEST(MouseClicks, double_click_on_a_link_in_parentheses_opens_it_without_the_parenthesis) {
    CellHost host(640, 320);
    host.load("link.txt", "see (http://example.com/a_b) now\n");
    LinkWatch watch;
    EXPECT_EQ(host.mouse_at_cell(WM_LBUTTONDBLCLK, 1, 10), 1);
    EXPECT_EQ(opened_link, "http://example.com/a_b");
    EXPECT_EQ(host.editor->selecting, 0);
    EXPECT_EQ(host.mouse_at_cell(WM_LBUTTONDBLCLK, 1, 27), 0) << "the ')' is no part of the link";
    EXPECT_EQ(links_opened, 1);
    EXPECT_EQ(host.editor->selecting, 1) << "a word is selected instead";
}

TEST(MouseClicks, a_link_directly_after_a_letter_or_too_short_is_no_link) {
    CellHost host(640, 320);
    host.load("nolink.txt", "xhttp://example.com/\nhttp://ab\n\"http://a.b/c\"\n");
    LinkWatch watch;
    EXPECT_EQ(host.mouse_at_cell(WM_LBUTTONDBLCLK, 1, 5), 0);
    EXPECT_EQ(host.mouse_at_cell(WM_LBUTTONDBLCLK, 2, 3), 0);
    EXPECT_EQ(links_opened, 0);
    EXPECT_EQ(host.mouse_at_cell(WM_LBUTTONDBLCLK, 3, 4), 1);
    EXPECT_EQ(opened_link, "http://a.b/c") << "a quote ends a link too";
}

TEST(MouseClicks, a_right_click_places_the_cursor_and_asks_for_the_context_menu) {
    CellHost host(480, 320, false);
    auto* editor = new ContextEditor(&host.screen);
    host.editor.reset(editor);
    host.load("context.txt", "abc\ndef\n");
    editor->selecting = 1;
    editor->anchor_col = 0;
    editor->sel_col = 2;
    host.mouse_at_cell(WM_RBUTTONDOWN, 2, 1);
    EXPECT_EQ(editor->context_clicks, 1);
    EXPECT_EQ(editor->context_window, host.control);
    EXPECT_EQ(editor->cursor_line, 1);
    EXPECT_EQ(editor->cursor_col, 1);
    EXPECT_EQ(editor->selecting, 1) << "only a left press ends the selection";
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST(MouseDrag, a_text_drag_selects_from_the_press_and_leaves_the_cursor_there) {
    CellHost host(480, 320);
    host.load("drag.txt", "abcdef\nghijkl\n");
    CellEditor& editor = *host.editor;
    host.mouse_at_cell(WM_LBUTTONDOWN, 1, 2);
    host.mouse(WM_MOUSEMOVE, host.cell_x(2) + 1, host.cell_y(1) + 1);
    EXPECT_EQ(editor.selecting, 0) << "still over the pressed cell";
    host.mouse_at_cell(WM_MOUSEMOVE, 2, 5);
    host.mouse_at_cell(WM_LBUTTONUP, 2, 5);
    EXPECT_EQ(editor.selecting, 1);
    EXPECT_EQ(editor.anchor_col, 2);
    EXPECT_EQ(editor.sel_line, 1);
    EXPECT_EQ(editor.sel_col, 5);
    EXPECT_EQ(editor.cursor_line, 0);
    EXPECT_EQ(editor.cursor_col, 2);
    EXPECT_STREQ(editor.selection_clipboard_text().c_str(), "cdef\r\nghijk");
    host.mouse_at_cell(WM_MOUSEMOVE, 1, 0);
    EXPECT_EQ(editor.sel_col, 5) << "without the capture a move does nothing";
}

TEST(MouseDrag, dragging_past_the_pane_scrolls_one_line_per_move) {
    CellHost host(480, 320);
    host.load("scroll.txt", numbered_lines(100));
    CellEditor& editor = *host.editor;
    const int below = host.screen.rows * host.screen.cell_height + 5;
    host.mouse_at_cell(WM_LBUTTONDOWN, 1, 1);
    host.mouse(WM_MOUSEMOVE, 20, below);
    host.mouse(WM_MOUSEMOVE, 21, below);
    EXPECT_EQ(editor.pane_scroll[0], 2);
    EXPECT_EQ(editor.sel_line, editor.pane_layout().height[0] + 2);
    host.mouse(WM_MOUSEMOVE, 2, -5);
    EXPECT_EQ(editor.pane_scroll[0], 1) << "above the window it scrolls back up";
    host.mouse(WM_MOUSEMOVE, 3, -5);
    host.mouse(WM_MOUSEMOVE, 2, -5);
    host.mouse(WM_LBUTTONUP, 2, -5);
    EXPECT_EQ(editor.pane_scroll[0], 0);
    EXPECT_EQ(editor.sel_line, 0);
    EXPECT_EQ(editor.sel_col, 0);
}

TEST(MouseDrag, dragging_past_the_right_edge_scrolls_sideways_over_long_lines) {
    CellHost host(480, 320);
    host.load("wide.txt", std::string(200, 'w') + "\nshort\n");
    CellEditor& editor = *host.editor;
    host.mouse_at_cell(WM_LBUTTONDOWN, 1, 1);
    const int right = host.width + 3 * host.screen.cell_width;
    host.mouse(WM_MOUSEMOVE, right, host.cell_y(1) + 2);
    host.mouse(WM_MOUSEMOVE, right + 1, host.cell_y(1) + 2);
    EXPECT_EQ(editor.hscroll, 2);
    host.mouse(WM_MOUSEMOVE, -3, host.cell_y(1) + 2);
    host.mouse(WM_LBUTTONUP, -3, host.cell_y(1) + 2);
    EXPECT_EQ(editor.hscroll, 1);
    EXPECT_EQ(editor.sel_col, 1) << "column -1 seen from the old scroll of 2";
}

TEST(ScrollBar, clicks_page_the_pane_and_the_thumb_drags_it) {
    CellHost host(480, 320);
    host.load("bar.txt", numbered_lines(100));
    host.capture();  // paints, which places the bar and its thumb
    CellEditor& editor = *host.editor;
    const int32_t height = editor.pane_layout().height[0];
    ASSERT_GT(host.screen.bar_width[0], 0);
    const int bar_x = host.width - 2;
    const int top = host.cell_y(1);
    const int thumb = host.screen.thumb_size[0];
    host.mouse(WM_LBUTTONDOWN, bar_x, top + thumb + 4);
    host.mouse(WM_LBUTTONUP, bar_x, top + thumb + 4);
    EXPECT_EQ(editor.pane_scroll[0], height) << "below the thumb: one page down";
    EXPECT_EQ(host.row_text(1), "line " + std::to_string(height + 1));
    host.capture();
    host.mouse(WM_LBUTTONDOWN, bar_x, top + 1);
    host.mouse(WM_LBUTTONUP, bar_x, top + 1);
    EXPECT_EQ(editor.pane_scroll[0], 0) << "above the thumb: one page up";
    EXPECT_EQ(editor.cursor_line, 0) << "paging moves the view, not the cursor";
    host.capture();
    editor.on_key(6);  // a find prompt, which the press on the thumb closes
    host.mouse(WM_LBUTTONDOWN, bar_x, top + 2);
    EXPECT_EQ(editor.drag_mode, 1);
    EXPECT_EQ(editor.drag_offset, 2);
    EXPECT_EQ(editor.state, 0);
    EXPECT_EQ(host.row_text(host.screen.rows - 1).substr(0, 6), "Ctrl+(") << "no dead prompt left on the row";
    const int track = height * host.screen.cell_height;
    host.mouse(WM_MOUSEMOVE, bar_x, top + 2 + (track - thumb) / 2);
    EXPECT_NEAR(editor.pane_scroll[0], (100 - height) / 2, 1);
    host.mouse(WM_MOUSEMOVE, bar_x, top + 2 + track);
    EXPECT_EQ(editor.pane_scroll[0], 100 - height + 4) << "kept within 4 lines past the end";
    host.mouse(WM_LBUTTONUP, bar_x, top + 2 + track);
    EXPECT_EQ(editor.drag_mode, 0);
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST(Divider, split_offsets_survive_the_round_trip_through_the_fraction) {
    for (int32_t total = 3; total < 400; ++total) {
        for (int32_t offset = 1; offset < total - 1; ++offset) {
            const double split = static_cast<double>(offset) / (total - 1);
            ASSERT_EQ(compute_pane_layout(total + 2, 1, 1, split).split_offset, offset) << offset << " of " << total;
        }
    }
}

TEST(Divider, dragging_moves_it_and_the_top_unsplits_keeping_the_lower_view) {
    CellHost host(480, 320);
    host.load("divider.txt", numbered_lines(100));
    CellEditor& editor = *host.editor;
    editor.on_key(16);
    editor.pane_scroll[1] = 30;
    editor.draw(-1);
    editor.on_key(6);  // a find prompt, which the press on the divider closes
    const int32_t divider = editor.pane_layout().divider_row;
    host.mouse_at_cell(WM_LBUTTONDOWN, divider, 3);
    EXPECT_EQ(editor.drag_mode, 3);
    EXPECT_EQ(editor.state, 0);
    EXPECT_EQ(host.row_text(host.screen.rows - 1).substr(0, 6), "Ctrl+(") << "no dead prompt left on the row";
    host.mouse_at_cell(WM_MOUSEMOVE, 5, 3);
    EXPECT_EQ(editor.pane_layout().split_offset, 4);
    EXPECT_NE(host.row_text(5).find("Upper pane: "), std::string::npos) << "the status follows the divider";
    EXPECT_EQ(host.row_text(6), "line 31");
    host.mouse_at_cell(WM_MOUSEMOVE, 1, 3);
    host.mouse_at_cell(WM_LBUTTONUP, 1, 3);
    EXPECT_FALSE(editor.pane_layout().split);
    EXPECT_EQ(editor.pane_scroll[0], 30);
    EXPECT_EQ(host.row_text(1), "line 31");
    EXPECT_NE(host.row_text(host.screen.rows - 1).find("Line 1/100"), std::string::npos);
}

TEST(Divider, dragging_to_the_bottom_unsplits_keeping_the_upper_view) {
    CellHost host(480, 320);
    host.load("bottom.txt", numbered_lines(100));
    CellEditor& editor = *host.editor;
    editor.pane_scroll[0] = 12;
    editor.on_key(16);
    editor.pane_scroll[1] = 60;
    editor.active_pane = 1;
    const int32_t divider = editor.pane_layout().divider_row;
    host.mouse_at_cell(WM_LBUTTONDOWN, divider, 0);
    host.mouse_at_cell(WM_MOUSEMOVE, host.screen.rows - 1, 0);
    host.mouse_at_cell(WM_LBUTTONUP, host.screen.rows - 1, 0);
    EXPECT_FALSE(editor.pane_layout().split);
    EXPECT_EQ(editor.active_pane, 0);
    EXPECT_EQ(editor.pane_scroll[0], 12);
}

TEST(Wheel, a_notch_scrolls_six_lines_and_at_most_four_past_the_end) {
    CellHost host(480, 320);
    host.load("wheel.txt", numbered_lines(100));
    CellEditor& editor = *host.editor;
    const int32_t height = editor.pane_layout().height[0];
    host.wheel(-120, 20, host.cell_y(3));
    EXPECT_EQ(editor.pane_scroll[0], 6);
    EXPECT_EQ(host.row_text(1), "line 7");
    EXPECT_NE(host.row_text(host.screen.rows - 1).find("Line 1/100 [7-"), std::string::npos)
        << "the cursor left the view: only the status is drawn";
    EXPECT_EQ(editor.cursor_line, 0);
    for (int i = 0; i < 30; ++i) host.wheel(-120, 20, host.cell_y(3));
    EXPECT_EQ(editor.pane_scroll[0], 100 - height + 4);
    host.wheel(240, 20, host.cell_y(3));
    EXPECT_EQ(editor.pane_scroll[0], 100 - height + 4 - 12);
    host.wheel(-60, 20, host.cell_y(0));
    EXPECT_EQ(editor.pane_scroll[0], 100 - height + 4 - 9) << "half a notch, over the title row: the active pane";
}

TEST(Wheel, scrolls_the_pane_under_the_mouse_wherever_the_window_is) {
    CellHost host(480, 320);
    host.load("panes.txt", numbered_lines(100));
    CellEditor& editor = *host.editor;
    editor.on_key(16);
    HostMoved moved(host.host, 37, 150);
    const PaneLayout layout = editor.pane_layout();
    host.wheel(-120, 20, host.cell_y(layout.top[1] + 1));
    EXPECT_EQ(editor.pane_scroll[1], 6);
    EXPECT_EQ(editor.pane_scroll[0], 0);
    EXPECT_EQ(editor.active_pane, 0) << "the wheel does not change the active pane";
    host.wheel(-120, 20, host.cell_y(layout.top[0]));
    EXPECT_EQ(editor.pane_scroll[0], 6);
}

TEST(Wheel, an_open_prompt_stays_on_the_last_row) {
    CellHost host(640, 320);
    host.load("prompt.txt", numbered_lines(100));
    host.editor->on_key(6);
    host.wheel(-120, 20, host.cell_y(3));
    EXPECT_EQ(host.row_text(host.screen.rows - 1).substr(0, 14), "Find substring");
    EXPECT_EQ(host.editor->state, 2);
}

TEST(EditorScreenshot, split_editor_with_the_find_prompt_open) {
    CellHost host(720, 440);
    std::string text = "// Velmora preferences (see http://velmora.example.org/)\n{\n";
    for (int i = 0; i < 80; ++i) {
        text += "  \"zstd_option_" + std::to_string(i) + "\": " + std::to_string(i % 20) + ",\n";
    }
    text += "}\n";
    host.load("preferences.txt", text);
    CellEditor& editor = *host.editor;
    editor.on_key(16);  // split
    host.wheel(-120 * 6, 20, host.cell_y(editor.pane_layout().top[1] + 1));
    editor.on_key(6);
    for (char c : std::string("zstd_option_4")) SendMessageW(host.control, WM_CHAR, static_cast<WPARAM>(c), 1);
    while (host.screen.key_count) host.tick();
    SendMessageW(host.control, WM_KEYDOWN, VK_RETURN, 1);
    host.tick();
    ASSERT_EQ(editor.cursor_line, 6);
    editor.on_key(6);  // open the prompt again over the found match
    host.capture();
    const std::string path = build_folder() + "editor-split-find.png";
    ASSERT_TRUE(host.write_png(path.c_str())) << path;
    const int32_t last = host.screen.rows - 1;
    ASSERT_GE(host.screen.cols, 71);
    EXPECT_EQ(host.row_text(last), "Find substring (Up/Down:mode Ctrl+R:replace ESC:cancel): zstd_option_4");
    const PaneLayout layout = editor.pane_layout();
    EXPECT_NE(host.row_text(layout.divider_row).find("Upper pane: Line 7/83"), std::string::npos);
    EXPECT_EQ(host.pixel(host.cell_x(1) + 1, host.cell_y(last) + 1), 0xC0C000u) << "prompt background";
    EXPECT_EQ(host.pixel(host.cell_x(4) + 1, host.cell_y(layout.divider_row) + 1), 0xC00000u) << "divider";
    EXPECT_EQ(host.pixel(host.cell_x(3) + 1, host.cell_y(7) + 1), 0xC0C000u) << "the selected match";
    EXPECT_EQ(host.row_text(layout.top[1]).substr(0, 17), "  \"zstd_option_34") << "the lower pane's own view";
}

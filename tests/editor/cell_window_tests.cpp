// The character-cell window for real: controls of the class
// "VelmoraCellWindow" in a host window on the X display, fed with real
// messages and read back from their painted pixels.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>

#include "cell_host.h"

namespace {

constexpr COLORREF TEXT_FOREGROUND = 0xC0C0C0;
constexpr COLORREF TEXT_BACKGROUND = 0x000000;
constexpr COLORREF SELECTION_BACKGROUND = 0xC0C000;
constexpr COLORREF TITLE_BACKGROUND = 0x0000C0;
constexpr COLORREF HELP_BACKGROUND = 0xC00000;
constexpr COLORREF MESSAGE_BACKGROUND = 0xC0C000;
constexpr COLORREF SCROLL_TRACK = 0x808080;
constexpr COLORREF SCROLL_THUMB = 0x606060;

std::string numbered_lines(int count) {
    std::string text;
    for (int i = 1; i <= count; ++i) text += "line " + std::to_string(i) + "\n";
    return text;
}

// An editor that records the keys it is handed.
class KeyRecorder : public CellEditor {
public:
    using CellEditor::CellEditor;
    int on_key(int code) override {
        keys.push_back(code);
        return 0;
    }
    std::vector<int> keys;
};

}  // namespace

TEST(CellWindow, grid_follows_the_client_size_and_font_metrics) {
    CellHost host(400, 300);
    ASSERT_GT(host.screen.cell_width, 0);
    ASSERT_GT(host.screen.cell_height, 0);
    EXPECT_EQ(host.screen.cols, 400 / host.screen.cell_width);
    EXPECT_EQ(host.screen.rows, 300 / host.screen.cell_height);
    EXPECT_EQ(reinterpret_cast<CellScreen*>(GetWindowLongPtrW(host.control, GWLP_USERDATA)), &host.screen);
}

TEST(CellWindow, a_window_smaller_than_one_cell_still_has_one_cell) {
    CellHost host(3, 2);
    EXPECT_EQ(host.screen.rows, 1);
    EXPECT_EQ(host.screen.cols, 1);
    host.load("tiny.txt", "abc\ndef\n");
    host.type(L"xy");
    host.key_down(VK_RETURN);
    host.capture();
    EXPECT_EQ(host.editor->lines.size(), 3u);
}

TEST(CellWindow, keys_beyond_sixty_four_drop_the_oldest_and_ticks_take_sixteen) {
    CellHost host(400, 300, false);
    KeyRecorder recorder(&host.screen);
    for (int i = 0; i < 65; ++i) SendMessageW(host.control, WM_CHAR, 0x100 + i, 1);
    EXPECT_EQ(host.screen.key_count, 64);
    host_tick(&recorder);
    ASSERT_EQ(recorder.keys.size(), 16u);
    EXPECT_EQ(recorder.keys.front(), 0x101) << "the first of 65 keys is lost";
    while (host.screen.key_count) host_tick(&recorder);
    EXPECT_EQ(recorder.keys.size(), 64u);
    EXPECT_EQ(recorder.keys.back(), 0x100 + 64);
}

TEST(CellWindow, ctrl_letters_queue_control_codes_and_no_character) {
    CellHost host(400, 300, false);
    KeyRecorder recorder(&host.screen);
    BYTE state[256] = {};
    GetKeyboardState(state);
    state[VK_CONTROL] = 0x80;
    SetKeyboardState(state);
    SendMessageW(host.control, WM_KEYDOWN, 'A', 1);
    SendMessageW(host.control, WM_CHAR, 1, 1);  // what TranslateMessage makes of Ctrl+A
    state[VK_MENU] = 0x80;
    SetKeyboardState(state);
    SendMessageW(host.control, WM_KEYDOWN, 'B', 1);  // Ctrl+Alt+B: nothing
    SendMessageW(host.control, WM_CHAR, 0x20AC, 1);  // an AltGr character
    state[VK_CONTROL] = 0;
    state[VK_MENU] = 0;
    SetKeyboardState(state);
    host_tick(&recorder);
    EXPECT_EQ(recorder.keys, (std::vector<int>{1, 0x20AC}));
}

TEST(CellWindow, surrogate_pairs_arrive_as_one_key) {
    CellHost host(400, 300, false);
    KeyRecorder recorder(&host.screen);
    SendMessageW(host.control, WM_CHAR, 0xD83D, 1);
    SendMessageW(host.control, WM_CHAR, 0xDE00, 1);
    host_tick(&recorder);
    EXPECT_EQ(recorder.keys, (std::vector<int>{0x1F600}));
}

TEST(CellWindow, a_tick_stops_when_the_editor_is_destroyed) {
    CellHost host(400, 300, false);
    struct SelfDestroying : CellEditor {
        using CellEditor::CellEditor;
        int on_key(int) override {
            ++*count;
            delete this;
            return 0;
        }
        int* count;
    };
    int handled = 0;
    auto* editor = new SelfDestroying(&host.screen);
    editor->count = &handled;
    SendMessageW(host.control, WM_CHAR, 'a', 1);
    SendMessageW(host.control, WM_CHAR, 'b', 1);
    host_tick(editor);
    EXPECT_EQ(handled, 1);
    attach_window(&host.screen, host.control);  // so the host's clean-up finds a bound screen
}

TEST(CellWindow, resizing_redraws_through_the_handler_or_queues_a_redraw) {
    CellHost host(400, 300);
    host.load("a.txt", "hello\n");
    SetWindowPos(host.control, nullptr, 0, 0, 200, 150, SWP_NOZORDER | SWP_NOMOVE);
    EXPECT_EQ(host.screen.cols, 200 / host.screen.cell_width);
    EXPECT_EQ(host.row_text(1).substr(0, 5), "hello") << "the handler redrew the new grid at once";

    CellHost bare(400, 300, false);
    SetWindowPos(bare.control, nullptr, 0, 0, 200, 150, SWP_NOZORDER | SWP_NOMOVE);
    EXPECT_EQ(next_key(&bare.screen), KEY_REDRAW);
    EXPECT_EQ(next_key(&bare.screen), KEY_NONE);
}

TEST(CellWindow, unfocused_caret_is_steady_and_focused_caret_blinks) {
    CellHost host(400, 300);
    SetFocus(nullptr);
    for (int i = 0; i < 6; ++i) {
        SendMessageW(host.control, WM_TIMER, CELL_BLINK_TIMER_ID, 0);
        EXPECT_NE(host.screen.blink_phase, 0);
    }
    SetForegroundWindow(host.host);
    SetFocus(host.control);
    if (GetFocus() != host.control) GTEST_SKIP() << "the display gives no focus";
    int shown = 0;
    for (int i = 0; i < 6; ++i) {
        SendMessageW(host.control, WM_TIMER, CELL_BLINK_TIMER_ID, 0);
        shown += host.screen.blink_phase != 0;
    }
    EXPECT_EQ(shown, 4) << "two ticks of three";
}

TEST(CellPainting, caret_is_a_bar_in_the_text_colour) {
    CellHost host(400, 300);
    host.load("caret.txt", "abc\n");
    host.editor->cursor_col = 1;
    host.editor->ensure_cursor_visible(false, -1);
    host.capture();
    const int y = host.cell_y(1) + host.screen.cell_height / 2;
    EXPECT_EQ(host.pixel(host.cell_x(1), y), TEXT_FOREGROUND);
    EXPECT_EQ(host.pixel(host.cell_x(1) + 1, y), TEXT_FOREGROUND);
    EXPECT_EQ(host.pixel(host.cell_x(4) + 1, y), TEXT_BACKGROUND) << "no bar where the caret is not";
}

TEST(CellPainting, selection_title_help_and_message_rows_have_their_colours_to_the_edge) {
    CellHost host(405, 300);  // not a whole number of cells wide
    host.load("colours.txt", "a b c\n");
    host.editor->select_all();
    host.capture();
    const int mid = host.screen.cell_height / 2;
    EXPECT_EQ(host.pixel(host.cell_x(1) + 2, host.cell_y(1) + mid), SELECTION_BACKGROUND);
    EXPECT_EQ(host.pixel(host.cell_x(8) + 2, host.cell_y(1) + mid), TEXT_BACKGROUND) << "past the text";
    EXPECT_EQ(host.pixel(host.width - 4, 2), TITLE_BACKGROUND);
    const int help_y = host.cell_y(host.screen.rows - 1) + mid;
    EXPECT_EQ(host.pixel(host.cell_x(30) + 2, help_y), HELP_BACKGROUND);
    EXPECT_EQ(host.pixel(host.width - 1, help_y), HELP_BACKGROUND);
    host.editor->show_message("Saved");
    host.capture();
    EXPECT_EQ(host.pixel(host.cell_x(30) + 2, help_y), MESSAGE_BACKGROUND);
    EXPECT_EQ(host.pixel(host.width - 1, help_y), MESSAGE_BACKGROUND) << "past the last cell too";
}

TEST(CellPainting, scroll_bar_shows_the_thumb_at_the_view_position) {
    CellHost host(400, 300);
    host.load("long.txt", numbered_lines(200));
    host.capture();
    const int bar_x = host.cell_x(host.screen.cols - host.screen.bar_width[0]) + 2;
    const int top = host.cell_y(1);
    ASSERT_GT(host.screen.bar_width[0], 0);
    EXPECT_EQ(host.pixel(bar_x, top + 1), SCROLL_THUMB);
    EXPECT_EQ(host.pixel(bar_x, top + host.screen.thumb_size[0] + 2), SCROLL_TRACK);

    host.editor->cursor_line = 199;
    host.editor->ensure_cursor_visible(false, -1);
    host.capture();
    const int pane_bottom = host.cell_y(host.screen.rows - 1);
    EXPECT_EQ(host.pixel(bar_x, pane_bottom - 2), SCROLL_THUMB) << "scrolled to the end";
    EXPECT_EQ(host.pixel(bar_x, top + 1), SCROLL_TRACK);
}

TEST(CellPainting, short_documents_have_no_bar_and_a_margin_column) {
    CellHost host(400, 300);
    host.load("short.txt", std::string(80, 'x') + "\n");
    host.capture();
    EXPECT_EQ(host.screen.bar_width[0], 0);
    const int y = host.cell_y(1) + host.screen.cell_height / 2;
    EXPECT_EQ(host.pixel(host.cell_x(host.screen.cols - 1) + 1, y), TEXT_BACKGROUND)
        << "the last column is margin";
}

// Every pixel of a repainted window comes from the editor's palette: a
// window painted over a colour the editor never uses keeps none of it, in
// the text rows, the title row and the help and status rows alike. Fonts
// whose average width (the cell width) is wider than their glyphs used to
// leave a column of every drawn cell unpainted.

namespace {

constexpr COLORREF NEVER_PAINTED = RGB(255, 0, 255);

struct Leftovers {
    int title = 0, text = 0, status = 0, elsewhere = 0;
    int total() const { return title + text + status + elsewhere; }
};

std::ostream& operator<<(std::ostream& out, const Leftovers& l) {
    return out << "title " << l.title << ", text " << l.text << ", help/status " << l.status << ", elsewhere "
               << l.elsewhere;
}

// Covers the control with the colour, repaints all of it and counts the
// pixels of that colour left in each band of rows.
Leftovers repaint_over_unused_colour(CellHost& host) {
    const HDC dc = GetDC(host.control);
    const HBRUSH brush = CreateSolidBrush(NEVER_PAINTED);
    const RECT all = {0, 0, host.width, host.height};
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    ReleaseDC(host.control, dc);
    InvalidateRect(host.control, nullptr, FALSE);
    host.capture();
    Leftovers left;
    const int ch = host.screen.cell_height;
    for (int y = 0; y < host.height; ++y) {
        const int row = y / ch;
        int& band = row == 0 ? left.title
                    : row == host.screen.rows - 1 || row == host.editor->pane_layout().divider_row ? left.status
                    : row < host.screen.rows ? left.text
                                             : left.elsewhere;
        for (int x = 0; x < host.width; ++x) band += host.pixel(x, y) == NEVER_PAINTED;
    }
    return left;
}

// The advance of a glyph and the average width of the font on the screen.
std::pair<int, int> advance_and_average(const CellScreen& screen) {
    const HDC dc = GetDC(screen.window);
    const HGDIOBJ old = SelectObject(dc, screen.font);
    INT advance = 0;
    GetCharWidth32W(dc, 'x', 'x', &advance);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(screen.window, dc);
    return {advance, metrics.tmAveCharWidth};
}

std::string face_of(const CellScreen& screen) {
    const HDC dc = GetDC(screen.window);
    const HGDIOBJ old = SelectObject(dc, screen.font);
    char face[LF_FACESIZE] = {};
    GetTextFaceA(dc, LF_FACESIZE, face);
    SelectObject(dc, old);
    ReleaseDC(screen.window, dc);
    return face;
}

void expect_whole_cells_painted(CellHost& host, const char* screenshot) {
    std::string text;
    for (int i = 0; i < 200; ++i) text += "{\"line_" + std::to_string(i) + "\": \"" + std::string(90, 'W') + "\"},\n";
    host.load("a-file-with-a-long-name-for-the-title-row.txt", text);
    host.editor->cursor_line = 3;
    host.editor->cursor_col = 5;
    host.editor->ensure_cursor_visible(false, -1);
    {
        HeldKeys shift{VK_SHIFT};
        host.key_down(VK_DOWN);
    }
    ASSERT_EQ(host.editor->selecting, 1);
    const Leftovers one_pane = repaint_over_unused_colour(host);
    ASSERT_TRUE(host.write_png((build_folder() + screenshot).c_str()));
    EXPECT_EQ(one_pane.total(), 0) << one_pane;

    host.key_down(VK_ESCAPE);
    {
        HeldKeys ctrl{VK_CONTROL};
        host.key_down('P');
    }
    ASSERT_TRUE(host.editor->pane_layout().split);
    const Leftovers two_panes = repaint_over_unused_colour(host);
    EXPECT_EQ(two_panes.total(), 0) << "split: " << two_panes;
}

}  // namespace

TEST(CellPainting, the_programs_font_paints_every_pixel_of_every_cell) {
    CellHost host(517, 333);
    std::printf("font %s: cell %d x %d, glyph advance %d\n", face_of(host.screen).c_str(), host.screen.cell_width,
                host.screen.cell_height, advance_and_average(host.screen).first);
    expect_whole_cells_painted(host, "editor-paint-program-font.png");
}

TEST(CellPainting, a_font_with_glyphs_narrower_than_its_average_width_paints_every_pixel) {
    CellHost host(517, 333);
    host.use_font(L"Noto Sans Mono");  // installed with the toolchain, as on most desktops
    ASSERT_EQ(face_of(host.screen), "Noto Sans Mono");
    const auto [advance, average] = advance_and_average(host.screen);
    ASSERT_LT(advance, average) << "a font whose glyphs do not fill the cell";
    ASSERT_EQ(host.screen.cell_width, average);
    expect_whole_cells_painted(host, "editor-paint-narrow-glyphs.png");
}

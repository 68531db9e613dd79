// The editor's mouse operation: clicks place the cursor (Shift-click
// selects, a double-click selects a word or opens an "http://" link), the
// scroll bars page and drag, the divider between two panes drags (and
// unsplits at either end), a text drag selects with auto-scroll, and the
// wheel scrolls the pane under the mouse.
//
// User-interface thread only. Cell coordinates come from the message's
// client position; the wheel's screen position is turned into the client's.
#include <windowsx.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "editor/cell_editor.h"
#include "editor/cell_text.h"
#include "io/platform.h"

#include "io/banned.h"

namespace {

constexpr char LINK_PREFIX[] = "http://";
constexpr size_t LINK_PREFIX_BYTES = sizeof(LINK_PREFIX) - 1;
constexpr size_t LINK_MAX_BYTES = 511;
constexpr size_t LINK_MIN_BYTES = 10;
constexpr int32_t WIDE_LINE_MARGIN = 8;

bool ends_link(char c) { return c == ' ' || c == '"' || c == '\'' || c == ')'; }

bool is_word_character(uint32_t code) { return code < 0x80 && (std::isalnum(static_cast<int>(code)) || code == '_'); }

// Rounds toward minus infinity, so that a pointer left of or above the
// window (during a drag) is in column or row -1, not 0.
int32_t cell_index(int32_t pixels, int32_t cell) { return pixels >= 0 ? pixels / cell : -((cell - 1 - pixels) / cell); }

// The pane that shows a grid row, or -1 for the title, divider and help rows.
int pane_at_row(const PaneLayout& layout, int32_t row) {
    const int panes = layout.split ? 2 : 1;
    for (int pane = 0; pane < panes; ++pane) {
        if (row >= layout.top[pane] && row < layout.top[pane] + layout.height[pane]) return pane;
    }
    return -1;
}

void open_with_shell(HWND owner, const char* link) { shell_execute(owner, "open", link, "", SW_HIDE); }

// The cursor's cell is on screen: its line in the active pane and its column
// in the view. Only then does a mouse change bring the cursor into view, so
// that scrolling sideways during a drag is not undone at once.
bool cursor_cell_visible(const CellEditor& editor) {
    const int32_t col = editor.cursor_col - editor.hscroll;
    return editor.cursor_in_view() && col >= 0 && col < editor.screen->cols;
}

}  // namespace

bool find_link(const char* line, size_t length, int32_t col, size_t* start, size_t* end) {
    for (size_t at = 0; at + LINK_PREFIX_BYTES <= length; ++at) {
        if (std::memcmp(line + at, LINK_PREFIX, LINK_PREFIX_BYTES) != 0) continue;
        const auto before = static_cast<unsigned char>(at ? line[at - 1] : ' ');
        if (before < 0x80 && std::isalnum(before)) continue;
        size_t stop = at;
        while (stop < length && stop - at < LINK_MAX_BYTES && !ends_link(line[stop])) ++stop;
        // A link cut at its size limit ends before the character it splits.
        while (stop > at && stop < length && (static_cast<unsigned char>(line[stop]) & 0xC0) == 0x80) --stop;
        if (stop - at < LINK_MIN_BYTES) continue;
        if (col >= columns_for_bytes(line, length, at) && col < columns_for_bytes(line, length, stop)) {
            *start = at;
            *end = stop;
            return true;
        }
    }
    return false;
}

LRESULT CellEditor::on_mouse(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (!screen || screen->cell_width <= 0 || screen->cell_height <= 0) return 0;
    POINT point{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN: return mouse_press(window, message, wparam, point.x, point.y);
    case WM_MOUSEMOVE:
        if (GetCapture() == window) mouse_drag(point.x, point.y);
        return 0;
    case WM_LBUTTONUP:
        if (GetCapture() == window) ReleaseCapture();
        drag_mode = DRAG_NONE;
        drag_offset = 0;
        return 0;
    case WM_MOUSEWHEEL:
        // The wheel reports the pointer in screen coordinates.
        ScreenToClient(window, &point);
        mouse_wheel(wparam, point.x, point.y);
        return 0;
    default: return 0;
    }
}

bool CellEditor::open_link_at(HWND window, int pane, int32_t row, int32_t col) {
    const PaneLayout layout = pane_layout();
    const int32_t line = pane_scroll[pane] + row - layout.top[pane];
    if (line < 0 || line >= line_count()) return false;
    const String& text = *lines[line];
    size_t start = 0, end = 0;
    if (!find_link(text.c_str(), text.length(), col + hscroll, &start, &end)) return false;
    String link;
    link.set(text.c_str() + start, end - start);
    if (editor_shared.open_link) editor_shared.open_link(window, link.c_str());
    else open_with_shell(window, link.c_str());
    return true;
}

LRESULT CellEditor::mouse_press(HWND window, UINT message, WPARAM wparam, int32_t x, int32_t y) {
    const int32_t col = cell_index(x, screen->cell_width);
    const int32_t row = cell_index(y, screen->cell_height);
    const PaneLayout layout = pane_layout();
    const int pane = pane_at_row(layout, row);
    if (message == WM_LBUTTONDBLCLK && pane >= 0 && open_link_at(window, pane, row, col)) return 1;
    if (state != STATE_NORMAL) {
        // A press ends a prompt or a message; its row goes at once, also
        // when the press only grabs a scroll-bar thumb or the divider.
        state = STATE_NORMAL;
        draw_help_row();
        draw_status();
    }
    editor_shared.press_col = std::clamp(col, 0, screen->cols);
    editor_shared.press_row = std::clamp(row, 0, screen->rows);
    if (message == WM_LBUTTONDOWN && layout.split && row == layout.divider_row) {
        SetCapture(window);
        drag_mode = DRAG_DIVIDER;
        return 0;
    }
    const int32_t count = line_count();
    if (pane >= 0 && message != WM_RBUTTONDOWN && screen->bar_width[pane] > 0 &&
        col >= screen->cols - screen->bar_width[pane]) {
        const int32_t height = layout.height[pane];
        int32_t& scroll = pane_scroll[pane];
        const int32_t old_scroll = scroll;
        const int32_t thumb_top = layout.top[pane] * screen->cell_height + screen->thumb_pos[pane];
        if (y < thumb_top) {
            scroll = std::max(0, scroll - height);
        } else if (y >= thumb_top + screen->thumb_size[pane]) {
            scroll = std::max(scroll, std::min(scroll + height, count - height + SCROLL_PAST_END));
        } else if (message == WM_LBUTTONDOWN) {
            SetCapture(window);
            drag_mode = pane == 0 ? DRAG_TEXT_TOP : DRAG_TEXT_BOTTOM;
            drag_offset = y - thumb_top;
        }
        if (scroll != old_scroll) {
            draw(-1);
            draw_status();
            if (cursor_cell_visible(*this)) ensure_cursor_visible(false, -1);
        }
        return 0;
    }

    TextPosition old{cursor_line, cursor_col};
    if (selecting && cursor_line == sel_line && cursor_col == sel_col) old = TextPosition{anchor_line, anchor_col};
    if (message == WM_LBUTTONDOWN) selecting = 0;
    if (pane >= 0) active_pane = pane;
    const int32_t line = row + pane_scroll[active_pane] - layout.top[active_pane];
    cursor_line = std::clamp(line, 0, std::max(0, count - 1));
    const String& text = line_text(cursor_line);
    const int32_t length = column_count(text);
    cursor_col = std::clamp(col + hscroll, 0, length);
    if (message == WM_LBUTTONDOWN && (wparam & MK_SHIFT) &&
        (old.line != cursor_line || old.col != cursor_col)) {
        selecting = 1;
        anchor_line = old.line;
        anchor_col = old.col;
        sel_line = cursor_line;
        sel_col = cursor_col;
    }
    if (message == WM_LBUTTONDBLCLK && cursor_col < length) {
        std::vector<uint32_t> chars;
        for (size_t offset = 0; offset < text.length();) {
            uint32_t code;
            offset += decode_utf8_char(text.c_str() + offset, text.length() - offset, &code);
            chars.push_back(code);
        }
        int32_t first = cursor_col;
        int32_t last = cursor_col + 1;
        while (first > 0 && is_word_character(chars[first - 1])) --first;
        while (last < length && is_word_character(chars[last])) ++last;
        selecting = 1;
        anchor_line = sel_line = cursor_line;
        anchor_col = first;
        sel_col = cursor_col = last;
    }
    on_key(KEY_REDRAW);
    if (message == WM_LBUTTONDOWN) {
        SetCapture(window);
        drag_mode = DRAG_NONE;
    } else if (message == WM_RBUTTONDOWN) {
        on_context_click(window);
    }
    return 0;
}

void CellEditor::mouse_drag(int32_t x, int32_t y) {
    const int32_t col = cell_index(x, screen->cell_width);
    const int32_t row = cell_index(y, screen->cell_height);
    const PaneLayout layout = pane_layout();
    const int32_t count = line_count();
    if (drag_mode == DRAG_DIVIDER) {
        const int32_t offset = row - top_rows;
        if (offset > 0 && offset < layout.total - 1) {
            if (offset == layout.split_offset) return;
            split = static_cast<double>(offset) / (layout.total - 1);
        } else {
            if (!layout.split) return;
            if (offset <= 0) pane_scroll[0] = pane_scroll[1];
            split = 1.0;
            active_pane = 0;
        }
        draw(-1);
        draw_status();
        if (cursor_cell_visible(*this)) ensure_cursor_visible(false, -1);
        return;
    }
    if (drag_mode == DRAG_TEXT_TOP || drag_mode == DRAG_TEXT_BOTTOM) {
        const int pane = drag_mode == DRAG_TEXT_TOP ? 0 : 1;
        const int64_t height = layout.height[pane];
        const int64_t track = height * screen->cell_height;
        const int64_t thumb = screen->thumb_size[pane];
        if (track <= thumb) return;
        const int64_t moved = y - int64_t{layout.top[pane]} * screen->cell_height - drag_offset;
        const int64_t wanted = (count - height) * moved / (track - thumb);
        const auto scroll =
            static_cast<int32_t>(std::clamp<int64_t>(wanted, 0, std::max<int64_t>(0, count - height + SCROLL_PAST_END)));
        if (scroll == pane_scroll[pane]) return;
        pane_scroll[pane] = scroll;
        draw(-1);
        draw_status();
        if (cursor_cell_visible(*this)) ensure_cursor_visible(false, -1);
        return;
    }
    if (!selecting) {
        if (col == editor_shared.press_col && row == editor_shared.press_row) return;
        selecting = 1;
        anchor_line = sel_line = cursor_line;
        anchor_col = sel_col = cursor_col;
    }
    const int pane = active_pane;
    const int32_t height = layout.height[pane];
    int32_t& scroll = pane_scroll[pane];
    int32_t column = col + hscroll;
    int32_t line = row + scroll - layout.top[pane];
    if (line == sel_line && column == sel_col) return;
    if (line < scroll && scroll > 0) {
        --scroll;
    } else if (line >= scroll + height && scroll + height < count) {
        ++scroll;
    }
    if (column < hscroll && hscroll > 0) {
        --hscroll;
    } else if (column > hscroll + screen->cols) {
        int32_t longest = 0;
        for (int32_t shown = scroll; shown < scroll + height && shown < count; ++shown) {
            longest = std::max(longest, column_count(*lines[shown]));
        }
        if (longest > hscroll + screen->cols - WIDE_LINE_MARGIN) ++hscroll;
    }
    if (line > count - 1) {
        line = std::max(0, count - 1);
        column = column_count(line_text(line));
    }
    line = std::max(line, 0);
    sel_line = line;
    sel_col = std::clamp(column, 0, column_count(line_text(line)));
    draw(-1);
    if (cursor_cell_visible(*this)) ensure_cursor_visible(false, -1);
    else draw_status();
}

void CellEditor::mouse_wheel(WPARAM wparam, int32_t x, int32_t y) {
    (void)x;
    const PaneLayout layout = pane_layout();
    int pane = pane_at_row(layout, cell_index(y, screen->cell_height));
    if (pane < 0) pane = active_pane;
    const int32_t lines_moved = -(GET_WHEEL_DELTA_WPARAM(wparam) / WHEEL_DELTA_PER_LINE);
    const int32_t limit = std::max(0, line_count() - layout.height[pane] + SCROLL_PAST_END);
    pane_scroll[pane] = std::clamp(pane_scroll[pane] + lines_moved, 0, limit);
    draw(-1);
    if (cursor_cell_visible(*this)) ensure_cursor_visible(false, -1);
    else draw_status();
    draw_prompt();  // an open prompt stays on the last row
}

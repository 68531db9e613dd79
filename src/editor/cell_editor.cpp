// The editor's construction and destruction, its view (pane layout, drawing
// the document, the title, the selection, the help and status rows and
// messages), the cursor clamp and scroll rules and the host's key tick. The
// key dispatch of the editing commands is in editor_keys.cpp.
//
// User-interface thread only.
#include "editor/cell_editor.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "editor/cell_text.h"

#include "io/banned.h"

EditorShared editor_shared;

namespace {

constexpr int TICK_KEY_LIMIT = 16;
constexpr double SPLIT_MARGIN = 1e-9;
const String EMPTY_LINE;

void resize_handler(CellScreen* screen) {
    auto* editor = static_cast<CellEditor*>(screen->owner);
    if (!editor) return;
    editor->draw(-1);
    if (editor->cursor_in_view()) editor->ensure_cursor_visible(false, -1);
    editor->draw_prompt();  // an open prompt stays on the last row
}

LRESULT mouse_handler(void* owner, HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return static_cast<CellEditor*>(owner)->on_mouse(window, message, wparam, lparam);
}

void write_text(CellScreen* screen, const char* text) { add_text(screen, text, -1); }

// Writes one help item: text in attribute 2, or a highlighted letter.
void help_item(CellScreen* screen, const char* text, bool highlighted) {
    screen->attr = highlighted ? ATTR_HELP_KEY : ATTR_HELP;
    write_text(screen, text);
}

}  // namespace

Modifiers read_modifiers() {
    Modifiers modifiers;
    modifiers.shift = GetAsyncKeyState(VK_SHIFT) < 0;
    modifiers.ctrl = GetAsyncKeyState(VK_CONTROL) < 0;
    modifiers.alt = GetAsyncKeyState(VK_MENU) < 0;
    return modifiers;
}

Modifiers modifiers_of(uint8_t bits) {
    Modifiers modifiers;
    modifiers.shift = (bits & KEY_WITH_SHIFT) != 0;
    modifiers.ctrl = (bits & KEY_WITH_CTRL) != 0;
    modifiers.alt = (bits & KEY_WITH_ALT) != 0;
    return modifiers;
}

Modifiers CellEditor::key_modifiers() const { return key_in_hand_ ? key_in_hand_modifiers_ : read_modifiers(); }

PaneLayout compute_pane_layout(int32_t rows, int32_t top_rows, int32_t bottom_rows, double split) {
    PaneLayout layout{};
    layout.total = rows - top_rows - bottom_rows;
    layout.split = split > 0.0 && split < 1.0;
    // Truncated toward zero. The divider stores offset / (total - 1), and a
    // product such as 1.0 / 49 * 49 comes out just below the whole offset,
    // so a margin far below one row keeps it from losing a row.
    const double offset = (layout.total - 1) * split;
    layout.split_offset = static_cast<int32_t>(offset > 0 ? offset + SPLIT_MARGIN : offset);
    layout.top[0] = top_rows;
    layout.height[0] = layout.split ? layout.split_offset : layout.split_offset + 1;
    layout.divider_row = layout.split ? top_rows + layout.split_offset : -1;
    layout.top[1] = top_rows + layout.split_offset + 1;
    layout.height[1] = layout.split ? layout.total - layout.split_offset - 1 : 0;
    return layout;
}

CellEditor::CellEditor(CellScreen* screen) : screen(screen) {
    if (!screen) return;
    screen->owner = this;
    screen->resize_handler = resize_handler;
    screen->mouse_handler = mouse_handler;
    screen->scrollbar_cells = 1;
    fill_colour_table(screen);
    screen->attr = 0;
    screen->clear_attr = 0;
    if (screen->cells) std::memset(screen->cells, 0, sizeof(Cell) * screen->rows * screen->cols);
    move_to(screen, 0, 0, false);
    invalidate_cells(screen, 0, 0, screen->cols, screen->rows);
}

CellEditor::~CellEditor() {
    if (screen) {
        detach(screen);
        if (screen->owner == this) {
            screen->owner = nullptr;
            screen->resize_handler = nullptr;
            screen->mouse_handler = nullptr;
        }
    }
    lines.clear();
    free_history();
    for (TickGuard* guard = tick_guards; guard; guard = guard->next) guard->editor = nullptr;
    tick_guards = nullptr;
}

void host_tick(CellEditor* editor) {
    if (!editor || !editor->screen) return;
    // The guard lives in this frame; it leaves the list before the frame ends
    // (or the editor's destruction empties the list).
    TickGuard guard{editor, editor->tick_guards};
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdangling-pointer"
    editor->tick_guards = &guard;
#pragma GCC diagnostic pop
    for (int handled = 0; handled < TICK_KEY_LIMIT; ++handled) {
        const int code = next_key(editor->screen);
        if (code == KEY_NONE) break;
        editor->key_in_hand_ = true;
        editor->key_in_hand_modifiers_ = modifiers_of(editor->screen->taken_modifiers);
        const int result = editor->on_key(code);
        if (!guard.editor) return;
        editor->key_in_hand_ = false;
        if (result) break;
    }
    for (TickGuard** link = &editor->tick_guards; *link; link = &(*link)->next) {
        if (*link == &guard) {
            *link = guard.next;
            break;
        }
    }
}

// Default virtual operations.

void CellEditor::on_context_click(HWND) {}
int32_t CellEditor::line_state(int32_t) { return 0; }
void CellEditor::draw_help_extra() {}
bool CellEditor::line_changed(const String&, size_t, size_t) { return false; }
int CellEditor::document_count() { return 1; }
CellEditor* CellEditor::document_at(int index) { return index == 0 ? this : nullptr; }
bool CellEditor::create_document(const char*) { return false; }
void CellEditor::switch_document(int, bool) {}
void CellEditor::before_close() {}

const char* CellEditor::next_token(const char** cursor, const char* end, int32_t* length, int32_t* state) {
    const char* p = *cursor;
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    if (p >= end || !*p) {
        *cursor = p;
        return nullptr;
    }
    const char* start = p;
    while (p < end && *p && *p != ' ' && *p != '\t') ++p;
    *length = static_cast<int32_t>(p - start);
    if (state) *state = 0;
    *cursor = p;
    return start;
}

const String& CellEditor::line_text(int32_t line) const {
    return line >= 0 && line < line_count() ? *lines[line] : EMPTY_LINE;
}

// View.

PaneLayout CellEditor::pane_layout() const {
    return compute_pane_layout(screen ? screen->rows : 1, top_rows, bottom_rows, split);
}

void CellEditor::draw(int32_t line) {
    if (!screen) return;
    const PaneLayout layout = pane_layout();
    screen->top_rows = top_rows;
    screen->bottom_rows = bottom_rows;
    screen->pane_scroll[0] = pane_scroll[0];
    screen->pane_scroll[1] = pane_scroll[1];
    screen->split_rows = layout.split_offset;
    screen->line_count = line_count();
    screen->attr = ATTR_TEXT;
    const int panes = layout.split ? 2 : 1;
    if (line >= 0) {
        for (int pane = 0; pane < panes; ++pane) {
            const int32_t offset = line - pane_scroll[pane];
            if (offset < 0 || offset >= layout.height[pane]) continue;
            draw_line(layout.top[pane] + offset, line_text(line), line_state(line), line);
            if (selecting) draw_selection_on_row(layout.top[pane] + offset, line);
        }
        return;
    }
    full_redraw_requested_ = false;
    screen->flags |= CELL_BATCH;
    draw_title();
    for (int pane = 0; pane < panes; ++pane) {
        for (int32_t offset = 0; offset < layout.height[pane]; ++offset) {
            const int32_t row = layout.top[pane] + offset;
            const int32_t shown = pane_scroll[pane] + offset;
            if (shown < line_count()) {
                draw_line(row, *lines[shown], line_state(shown), shown);
                if (selecting) draw_selection_on_row(row, shown);
            } else {
                screen->attr = ATTR_TEXT;
                screen->clear_attr = ATTR_TEXT;
                move_to(screen, row, 0, true);
                clear_to_end_of_row(screen);
            }
        }
    }
    draw_help_row();
    screen->attr = ATTR_TEXT;
    screen->clear_attr = ATTR_TEXT;
    screen->flags &= static_cast<uint8_t>(~CELL_BATCH);
    invalidate_all(screen);
}

void CellEditor::draw_line(int32_t row, const String& text, int32_t, int32_t) {
    screen->attr = ATTR_TEXT;
    screen->clear_attr = ATTR_TEXT;
    move_to(screen, row, 0, true);
    const size_t from = bytes_for_columns(text.c_str(), text.length(), hscroll);
    add_text(screen, text.c_str() + from, static_cast<int64_t>(text.length() - from));
    clear_to_end_of_row(screen);
}

void CellEditor::draw_selection_on_row(int32_t row, int32_t line) {
    TextPosition start, end;
    if (!selection_range(&start, &end)) return;
    if (line < start.line || line > end.line) return;
    if (start.line == end.line && start.col == end.col) return;
    const String& text = line_text(line);
    const int32_t length = column_count(text);
    const int32_t cols = screen->cols;
    int32_t from = line > start.line ? 0 : start.col - hscroll;
    int32_t to = line < end.line ? cols : end.col - hscroll;
    to = std::min(to, length - hscroll);
    from = std::clamp(from, 0, cols);
    to = std::clamp(to, 0, cols);
    const uint8_t old_attr = screen->attr;
    screen->attr = ATTR_SELECTED;
    if (to > from) {
        const size_t first = bytes_for_columns(text.c_str(), text.length(), hscroll + from);
        const size_t last = bytes_for_columns(text.c_str(), text.length(), hscroll + to);
        move_to(screen, row, from, true);
        add_text(screen, text.c_str() + first, static_cast<int64_t>(last - first));
    } else if (text.empty()) {
        move_to(screen, row, from, true);
        add_text(screen, " ", 1);
    }
    screen->attr = old_attr;
}

void CellEditor::draw_title() {
    screen->attr = ATTR_TITLE;
    screen->clear_attr = ATTR_TITLE_FILL;
    move_to(screen, 0, 0, true);
    const int32_t cols = screen->cols;
    if (cols > 4) {
        const size_t length = file_path.length();
        if (length > static_cast<size_t>(cols - 1)) {
            write_text(screen, "...");
            const size_t tail = static_cast<size_t>(cols - 5);
            add_text(screen, file_path.c_str() + length - tail, static_cast<int64_t>(tail));
        } else {
            add_text(screen, file_path.c_str(), static_cast<int64_t>(length));
        }
    }
    clear_to_end_of_row(screen);
    screen->attr = ATTR_TEXT;
    screen->clear_attr = ATTR_TEXT;
}

void CellEditor::draw_help_row() {
    if (!screen) return;
    screen->clear_attr = ATTR_HELP;
    move_to(screen, screen->rows - 1, 0, true);
    if (selecting) {
        help_item(screen, "SELECTING  ESC:cancel Ctrl+(", false);
        help_item(screen, "C", true);
        help_item(screen, "opy ", false);
        help_item(screen, "X", true);
        help_item(screen, ":cut ", false);
        help_item(screen, "V", true);
        help_item(screen, ":paste)", false);
    } else {
        help_item(screen, "Ctrl+(", false);
        if (!pane_layout().split) {
            help_item(screen, "P", true);
            help_item(screen, "ane ", false);
        } else {
            help_item(screen, "O", true);
            help_item(screen, "therpane ", false);
            help_item(screen, "no", false);
            help_item(screen, "P", true);
            help_item(screen, "anes ", false);
        }
        help_item(screen, "F", true);
        help_item(screen, "ind/", false);
        help_item(screen, "R", true);
        help_item(screen, "eplace ", false);
        screen->attr = ATTR_HELP;
        draw_help_extra();
        help_item(screen, ")", false);
    }
    screen->attr = ATTR_HELP;
    clear_to_end_of_row(screen);
    screen->attr = ATTR_TEXT;
    screen->clear_attr = ATTR_TEXT;
}

namespace {

// Puts the caret on the cursor cell when the cursor is visible in the
// active pane.
void place_caret(CellEditor* editor) {
    CellScreen* screen = editor->screen;
    const PaneLayout layout = editor->pane_layout();
    const int pane = editor->active_pane;
    const int32_t offset = editor->cursor_line - editor->pane_scroll[pane];
    const int32_t col = editor->cursor_col - editor->hscroll;
    if (offset < 0 || offset >= layout.height[pane] || col < 0 || col >= screen->cols) return;
    move_to(screen, layout.top[pane] + offset, col, false);
}

}  // namespace

void CellEditor::draw_status() {
    if (!screen) return;
    const PaneLayout layout = pane_layout();
    const int pane = active_pane;
    const char* prefix = "";
    int32_t row = screen->rows - 1;
    screen->attr = ATTR_HELP;
    screen->clear_attr = ATTR_HELP;
    if (layout.split) {
        row = layout.divider_row;
        prefix = pane == 0 ? "Upper pane: " : "Lower pane: ";
        move_to(screen, row, 0, true);
        clear_to_end_of_row(screen);
        last_status_len = 0;
    }
    const int32_t first = pane_scroll[pane];
    const int32_t last = std::min(first + layout.height[pane] + 1, line_count());
    char text[512];
    std::snprintf(text, sizeof(text), "%sLine %d/%d [%d-%d] Col %d [%s]%s", prefix, cursor_line + 1, line_count(),
                  first + 1, last, cursor_col + 1, editor_shared.overwrite ? "OVR" : "INS", modified() ? "*" : "");
    const int32_t length = static_cast<int32_t>(std::strlen(text));
    const int32_t start = std::max(0, screen->cols - length - 1);
    if (!layout.split) {
        // Blank what a longer status left of this one, and the cell before
        // it, so that help items cut there never run into the status.
        const int32_t stale = std::max(0, screen->cols - last_status_len - 1);
        const int32_t blank_from = std::min(stale, std::max(0, start - 1));
        const std::string blanks(static_cast<size_t>(start - blank_from), ' ');
        move_to(screen, row, blank_from, true);
        add_text(screen, blanks.c_str(), static_cast<int64_t>(blanks.size()));
        last_status_len = length;
    }
    move_to(screen, row, start, true);
    write_text(screen, text);
    clear_to_end_of_row(screen);
    screen->attr = ATTR_TEXT;
    screen->clear_attr = ATTR_TEXT;
    place_caret(this);
}

void CellEditor::show_message(const char* text) {
    if (!screen) return;
    const size_t length = std::strlen(text);
    if (length && state == STATE_NORMAL) state = STATE_MESSAGE;
    if (length) {
        screen->attr = ATTR_MESSAGE;
        screen->clear_attr = ATTR_MESSAGE;
    }
    move_to(screen, bottom_rows > 1 ? screen->rows - 2 : screen->rows - 1, 0, true);
    const int64_t limit = std::max(0, screen->cols - 2);
    add_text(screen, text, std::min<int64_t>(static_cast<int64_t>(length), limit));
    clear_to_end_of_row(screen);
    screen->attr = ATTR_TEXT;
    screen->clear_attr = ATTR_TEXT;
    place_caret(this);
}

bool CellEditor::cursor_in_view() const {
    const int32_t offset = cursor_line - pane_scroll[active_pane];
    return offset >= 0 && offset < pane_layout().height[active_pane];
}

void CellEditor::ensure_cursor_visible(bool vertical, double place) {
    const int32_t length = column_count(line_text(cursor_line));
    if (vertical && wanted_col >= 0) cursor_col = wanted_col;
    if (!vertical && cursor_col < length) wanted_col = -1;
    if (cursor_col > length) {
        if (vertical) wanted_col = cursor_col;
        cursor_col = length;
    }
    if (cursor_col < 0) cursor_col = 0;
    bool redraw_all = false;
    // The text area keeps three columns free on the right; a grid narrower
    // than four columns still scrolls one column at a time.
    const int32_t width = screen ? std::max(1, screen->cols - 3) : 1;
    if (cursor_col < hscroll) {
        hscroll = cursor_col;
        redraw_all = true;
    } else if (cursor_col >= hscroll + width) {
        hscroll = cursor_col - width + 1;
        redraw_all = true;
    }
    const PaneLayout layout = pane_layout();
    const int32_t height = layout.height[active_pane];
    int32_t& scroll = pane_scroll[active_pane];
    if (place >= 0 && place < 1) {
        scroll = std::max(0, cursor_line - static_cast<int32_t>(height * place));
        redraw_all = true;
    } else if (cursor_line < scroll) {
        scroll = cursor_line;
        redraw_all = true;
    } else if (cursor_line >= scroll + height) {
        scroll = std::max(0, cursor_line - height + 1);
        redraw_all = true;
    }
    if (!screen) return;
    if (redraw_all) draw(-1);
    draw_status();
    move_to(screen, layout.top[active_pane] + std::max(0, cursor_line - scroll), std::max(0, cursor_col - hscroll),
            false);
}

void CellEditor::select_line(int32_t line) {
    if (line < 0 || line > line_count()) return;
    const bool at_end = line == line_count();
    cursor_line = at_end ? std::max(0, line - 1) : line;
    cursor_col = 0;
    const int32_t length = column_count(line_text(cursor_line));
    if (length > 0) {
        if (at_end) {
            cursor_col = length;
        } else {
            selecting = 1;
            anchor_line = line;
            anchor_col = 0;
            sel_line = line;
            sel_col = length;
            draw(-1);
        }
    }
    ensure_cursor_visible(false, -1);
}

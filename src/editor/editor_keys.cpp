// The editor's key operation: what each queued key code does, in a fixed
// order (a shown message, an open prompt, the keys that end the host's tick,
// Shift-selection on navigation keys, then the key table), the cursor
// movement rules, and the pane commands.
//
// User-interface thread only. Keys are handled up to one host tick after
// they were typed; the modifier keys are those stored with each key.
#include <algorithm>
#include <cctype>
#include <vector>

#include "editor/cell_editor.h"
#include "editor/cell_text.h"

#include "io/banned.h"

namespace {

constexpr int KEY_F3 = KEY_F1 + 2;
constexpr int KEY_F10 = KEY_F1 + 9;

bool is_insertable(int code) {
    if (code >= KEY_DOWN && code <= KEY_F12) return false;
    if (code >= 128) return true;
    if (code < 0 || code == 10) return false;  // Ctrl+J opens the go-to prompt
    return std::isspace(code) || std::isgraph(code);
}

// The code points of a line, one per column.
std::vector<uint32_t> characters_of(const String& text) {
    std::vector<uint32_t> out;
    size_t offset = 0;
    while (offset < text.length()) {
        uint32_t code;
        const size_t step = decode_utf8_char(text.c_str() + offset, text.length() - offset, &code);
        // Classes look at the first byte: every character from 0x80 up is
        // "anything else", even one that decodes below 0x80.
        out.push_back(static_cast<unsigned char>(text.c_str()[offset]) >= 0x80 ? 0x80 : code);
        offset += step;
    }
    return out;
}

int32_t word_right(const String& text, int32_t col) {
    const std::vector<uint32_t> chars = characters_of(text);
    const auto length = static_cast<int32_t>(chars.size());
    if (col >= length) return col;
    const int kind = word_class(chars[col]);
    while (col < length && word_class(chars[col]) == kind) ++col;
    while (col < length && word_class(chars[col]) == 0) ++col;
    return col;
}

int32_t word_left(const String& text, int32_t col) {
    const std::vector<uint32_t> chars = characters_of(text);
    col = std::min(col, static_cast<int32_t>(chars.size()));
    while (col > 0 && word_class(chars[col - 1]) == 0) --col;
    if (col == 0) return 0;
    const int kind = word_class(chars[col - 1]);
    while (col > 0 && word_class(chars[col - 1]) == kind) --col;
    return col;
}

int32_t indentation_columns(const String& text) {
    int32_t n = 0;
    while (static_cast<size_t>(n) < text.length() && (text.c_str()[n] == ' ' || text.c_str()[n] == '\t')) ++n;
    return n;
}

bool before(const TextPosition& a, const TextPosition& b) {
    return a.line < b.line || (a.line == b.line && a.col < b.col);
}

}  // namespace

int word_class(uint32_t code) {
    if (code == ' ' || code == '\t') return 0;
    if (code < 0x80 && (std::isalnum(static_cast<int>(code)) || code == '_')) return 1;
    if (code == ';') return 2;
    return 3;
}

int CellEditor::on_key(int code) {
    if (state == STATE_MESSAGE) {
        state = STATE_NORMAL;
        draw(-1);
        ensure_cursor_visible(false, -1);
    } else if (state >= PROMPT_FIND && state <= PROMPT_GOTO) {
        prompt_state_key(code);
        return 0;
    }
    const Modifiers modifiers = key_modifiers();
    const bool plain = !modifiers.shift && !modifiers.alt;
    if (code == 23 && plain) return 0;  // Ctrl+W belongs to the host
    if (modifiers.ctrl && (code == KEY_ESCAPE || code == KEY_CTRL_RIGHT_BRACKET || (code >= KEY_F1 && code <= KEY_F10))) {
        return 1;  // the document-switch keys end this tick
    }
    if (code >= KEY_DOWN && code <= KEY_END) {
        if (modifiers.shift && !selecting) {
            selecting = 1;
            anchor_line = sel_line = cursor_line;
            anchor_col = sel_col = cursor_col;
        } else if (!modifiers.shift && selecting && !end_selection_for_move(code)) {
            return 0;
        }
        move_cursor(code, modifiers.ctrl);
        return 0;
    }
    switch (code) {
    case CTRL_A: if (plain) select_all(); break;
    case CTRL_C: if (plain && selecting) copy_to_clipboard(false); break;
    case CTRL_D: if (plain) duplicate(); break;
    case CTRL_F: if (plain) open_search_prompt(false); break;
    case CTRL_G:
    case KEY_F3:
        if (modifiers.alt) break;
        if (!find_text.empty()) find_next(modifiers.shift, false);
        else if (!modifiers.shift) open_search_prompt(false);
        break;
    case KEY_BACKSPACE: backspace_key(); break;
    case KEY_TAB: tab_key(modifiers.shift); break;
    case CTRL_J: if (plain) open_goto_prompt(); break;
    case KEY_REDRAW:
        draw(-1);
        ensure_cursor_visible(false, -1);
        break;
    case KEY_ENTER: enter_key(modifiers.ctrl); break;
    case CTRL_O: if (plain) other_pane(); break;
    case CTRL_P: if (plain) toggle_split(); break;
    case CTRL_R: if (plain) open_search_prompt(true); break;
    case CTRL_V: if (plain) paste(); break;
    case CTRL_X: if (plain && selecting) copy_to_clipboard(true); break;
    case CTRL_Y: if (plain) redo(); break;
    case CTRL_Z:
        if (modifiers.alt) break;
        if (modifiers.shift) redo();
        else undo();
        break;
    case KEY_ESCAPE: if (plain) cancel_selection(); break;
    case KEY_INSERT: if (plain) toggle_overwrite(); break;
    case KEY_DELETE: if (plain) delete_key(); break;
    default:
        if (is_insertable(code)) insert_character(static_cast<uint32_t>(code));
        break;
    }
    return 0;
}

bool CellEditor::end_selection_for_move(int code) {
    TextPosition start, end;
    selection_range(&start, &end);
    selecting = 0;
    const TextPosition cursor{cursor_line, cursor_col};
    const bool inside = !before(cursor, start) && !before(end, cursor);
    if (inside && (code == KEY_DOWN || code == KEY_UP || code == KEY_RIGHT || code == KEY_LEFT)) {
        const TextPosition& target = code == KEY_UP || code == KEY_LEFT ? start : end;
        cursor_line = target.line;
        cursor_col = target.col;
        draw(-1);
        ensure_cursor_visible(false, -1);
        return false;
    }
    draw(-1);
    return true;
}

void CellEditor::move_cursor(int code, bool ctrl) {
    const int32_t count = line_count();
    const int32_t height = pane_layout().height[active_pane];
    int32_t& scroll = pane_scroll[active_pane];
    const int32_t old_scroll = scroll;
    const String& text = line_text(cursor_line);
    const int32_t length = column_count(text);
    bool vertical = true;
    switch (code) {
    case KEY_DOWN:
        if (!ctrl) {
            if (cursor_line < count - 1) ++cursor_line;
        } else if (scroll < count - height + 3) {
            ++scroll;
            cursor_line = std::max(cursor_line, scroll);
        }
        break;
    case KEY_UP:
        if (!ctrl) {
            if (cursor_line > 0) --cursor_line;
        } else if (scroll > 0) {
            --scroll;
            cursor_line = std::min(cursor_line, scroll + height - 1);
        }
        break;
    case KEY_PAGE_UP:
        if (cursor_line > scroll) {
            cursor_line = scroll;
        } else {
            cursor_line = std::max(0, cursor_line - height);
            scroll = cursor_line;
        }
        break;
    case KEY_PAGE_DOWN:
        if (cursor_line >= scroll + height - 1) {
            // One line of context stays above; a pane of one or two rows
            // keeps none, so that the key always moves down.
            const int32_t context = std::min(1, height - 2);
            scroll = std::max(0, cursor_line - context);
        }
        cursor_line = std::min(scroll + height - 1, std::max(0, count - 1));
        break;
    case KEY_RIGHT:
        vertical = false;
        if (cursor_col >= length) {
            if (cursor_line < count) {
                ++cursor_line;
                cursor_col = 0;
            }
        } else {
            cursor_col = ctrl ? word_right(text, cursor_col) : cursor_col + 1;
        }
        break;
    case KEY_LEFT:
        vertical = false;
        if (cursor_col <= 0) {
            if (cursor_line > 0) {
                --cursor_line;
                cursor_col = column_count(line_text(cursor_line));
            }
        } else {
            cursor_col = ctrl ? word_left(text, cursor_col) : cursor_col - 1;
        }
        break;
    case KEY_HOME: {
        vertical = false;
        wanted_col = -1;
        const int32_t indent = indentation_columns(text);
        if (ctrl) {
            cursor_line = 0;
            cursor_col = 0;
        } else {
            cursor_col = indent < length && cursor_col != indent ? indent : 0;
        }
        break;
    }
    case KEY_END:
        vertical = false;
        wanted_col = -1;
        if (ctrl) cursor_line = std::max(0, count - 1);
        cursor_col = column_count(line_text(cursor_line));
        break;
    default: return;
    }
    cursor_line = std::clamp(cursor_line, 0, count);
    scroll = std::max(0, scroll);
    if (scroll != old_scroll) draw(-1);
    ensure_cursor_visible(vertical, -1);
    if (selecting) {
        sel_line = cursor_line;
        sel_col = cursor_col;
        draw(-1);
        draw_status();
    }
}

void CellEditor::toggle_split() {
    if (!pane_layout().split) {
        split = 0.5;
        pane_scroll[1] = pane_scroll[0];
    } else {
        split = 1.0;
        if (active_pane == 1) pane_scroll[0] = pane_scroll[1];
        active_pane = 0;
    }
    draw(-1);
    draw_status();
}

void CellEditor::other_pane() {
    if (!pane_layout().split) toggle_split();
    active_pane = 1 - active_pane;
    draw(-1);
    draw_status();
    const int32_t first = pane_scroll[active_pane];
    const int32_t last = first + pane_layout().height[active_pane] - 1;
    if (cursor_line > last) cursor_line = last;
    if (cursor_line < first) cursor_line = first;
    cursor_line = std::clamp(cursor_line, 0, line_count());
    ensure_cursor_visible(false, -1);
}

// The editing commands: typing, Tab and Shift+Tab, Enter, Backspace,
// Delete, duplicate, the selection commands and block indentation, with the
// primitives they share (delete the selection, insert lines at the cursor).
//
// User-interface thread only. A command that changes the document is one
// undo step: begin_edit() before the change, commit_edit() after it.
#include <algorithm>
#include <cstring>

#include "editor/cell_editor.h"
#include "editor/cell_text.h"

#include "io/banned.h"

namespace {

constexpr int32_t MAX_TAB_STEP = 64;

size_t leading_spaces(const String& text) {
    size_t n = 0;
    while (n < text.length() && text.c_str()[n] == ' ') ++n;
    return n;
}

size_t leading_blanks(const char* text, size_t length) {
    size_t n = 0;
    while (n < length && (text[n] == ' ' || text[n] == '\t')) ++n;
    return n;
}

bool only_blanks(const String& text) { return leading_blanks(text.c_str(), text.length()) == text.length(); }

String slice(const String& text, size_t from, size_t to) {
    String piece;
    if (to > from) piece.set(text.c_str() + from, to - from);
    return piece;
}

String spaces(size_t count) {
    String text;
    for (size_t i = 0; i < count; ++i) text.append_char(' ');
    return text;
}

}  // namespace

// Shared helpers.

String& CellEditor::cursor_line_text() { return *lines[cursor_line]; }

size_t CellEditor::cursor_byte() const {
    const String& text = line_text(cursor_line);
    return bytes_for_columns(text.c_str(), text.length(), cursor_col);
}

bool CellEditor::edit_line(int32_t line, size_t offset, size_t count, const char* text, size_t length) {
    String& target = *lines[line];
    offset = std::min(offset, target.length());
    count = std::min(count, target.length() - offset);
    bool everything = line_changed(target, offset, count);
    String result;
    if (!result.set(target.c_str(), offset) || !result.append(text, length) ||
        !result.append(target.c_str() + offset + count, target.length() - offset - count)) {
        return false;
    }
    target = result;
    everything = line_changed(target, offset, 0) || everything;
    if (everything) full_redraw_requested_ = true;
    return true;
}

void CellEditor::insert_line(int32_t index, const char* text, size_t length) {
    auto line = std::make_unique<String>();
    line->set(text, length);
    index = std::clamp(index, 0, line_count());
    lines.insert(lines.begin() + index, std::move(line));
}

void CellEditor::remove_line(int32_t index) {
    if (index >= 0 && index < line_count()) lines.erase(lines.begin() + index);
}

void CellEditor::redraw(bool everything) {
    if (everything || full_redraw_requested_) draw(-1);
    else draw(cursor_line);
    full_redraw_requested_ = false;
}

void CellEditor::finish_command(bool everything) {
    redraw(everything);
    ensure_cursor_visible(false, -1);
}

bool CellEditor::selection_range(TextPosition* start, TextPosition* end) const {
    if (!selecting) return false;
    TextPosition a{anchor_line, anchor_col};
    TextPosition b{sel_line, sel_col};
    if (b.line < a.line || (b.line == a.line && b.col < a.col)) std::swap(a, b);
    *start = a;
    *end = b;
    return true;
}

bool CellEditor::selection_empty() const { return anchor_line == sel_line && anchor_col == sel_col; }

// Primitives.

void CellEditor::delete_selection() {
    TextPosition start, end;
    if (!selection_range(&start, &end)) return;
    selecting = 0;
    cursor_line = start.line;
    cursor_col = start.col;
    const int32_t count = line_count();
    if ((start.line == end.line && start.col == end.col) || start.line >= count) return;
    if (end.line >= count) end = TextPosition{count - 1, column_count(*lines[count - 1])};
    const String& first = *lines[start.line];
    const size_t from = bytes_for_columns(first.c_str(), first.length(), start.col);
    if (start.line == end.line) {
        const size_t to = bytes_for_columns(first.c_str(), first.length(), end.col);
        edit_line(start.line, from, to - std::min(from, to), "", 0);
    } else {
        const String& last = *lines[end.line];
        const size_t to = bytes_for_columns(last.c_str(), last.length(), end.col);
        String joined = slice(first, 0, from);
        joined.append(last.c_str() + to, last.length() - to);
        *lines[start.line] = joined;
        lines.erase(lines.begin() + start.line + 1, lines.begin() + end.line + 1);
        full_redraw_requested_ = true;
    }
    cursor_col = columns_for_bytes(lines[start.line]->c_str(), lines[start.line]->length(), from);
    if (cursor_line >= line_count()) {
        insert_line(line_count(), "", 0);
        cursor_line = line_count() - 1;
        cursor_col = 0;
    }
}

void CellEditor::insert_lines(const std::vector<String>& list) {
    if (list.empty()) return;
    std::vector<String> pieces(list);
    String tail;
    bool first_placed = false;
    if (!cursor_line_exists()) {
        cursor_line = std::clamp(cursor_line, 0, line_count());
        insert_line(cursor_line, pieces[0].c_str(), pieces[0].length());
        cursor_col = 0;
        first_placed = true;
    } else if (pieces.size() >= 2 && cursor_col > 0) {
        const size_t target = leading_spaces(cursor_line_text());
        size_t common = SIZE_MAX;
        for (const String& piece : pieces) {
            if (leading_spaces(piece) < piece.length()) common = std::min(common, leading_spaces(piece));
        }
        if (common == SIZE_MAX) common = 0;
        for (size_t i = 0; i < pieces.size(); ++i) {
            const size_t drop = std::min(common, leading_spaces(pieces[i]));
            String text = i ? spaces(target) : String();
            text.append(pieces[i].c_str() + drop, pieces[i].length() - drop);
            pieces[i] = text;
        }
    }
    if (!first_placed) {
        String& line = cursor_line_text();
        const size_t at = cursor_byte();
        tail = slice(line, at, line.length());
        line.truncate(at);
        line.append(pieces[0].c_str(), pieces[0].length());
    }
    for (size_t i = 1; i < pieces.size(); ++i) {
        insert_line(cursor_line + 1, pieces[i].c_str(), pieces[i].length());
        ++cursor_line;
    }
    String& last = cursor_line_text();
    cursor_col = column_count(last);
    last.append(tail.c_str(), tail.length());
    full_redraw_requested_ = true;
}

void CellEditor::indent_selection(int32_t delta) {
    TextPosition start, end;
    if (!selection_range(&start, &end)) return;
    begin_edit();
    anchor_line = start.line;
    anchor_col = 0;
    sel_line = end.line;
    sel_col = end.col;
    int32_t last = end.line;
    if (end.col == 0 && end.line > start.line) --last;
    last = std::min(last, line_count() - 1);
    if (cursor_line >= start.line && cursor_line <= last) cursor_col = std::max(0, cursor_col + delta);
    const size_t step = static_cast<size_t>(std::max(1, tab_width));
    bool changed = false;
    if (delta < 0) {
        size_t smallest = step;
        for (int32_t line = start.line; line <= last; ++line) {
            smallest = std::min(smallest, std::min(leading_spaces(*lines[line]), step));
        }
        for (int32_t line = start.line; line <= last; ++line) {
            const size_t remove = smallest > 0 && smallest < step ? smallest
                                                                   : std::min(leading_spaces(*lines[line]), step);
            if (remove) {
                String rest = slice(*lines[line], remove, lines[line]->length());
                *lines[line] = rest;
                changed = true;
            }
        }
    } else if (delta > 0) {
        for (int32_t line = start.line; line <= last; ++line) {
            String text = spaces(static_cast<size_t>(delta));
            text.append(lines[line]->c_str(), lines[line]->length());
            *lines[line] = text;
            changed = true;
        }
    }
    if (last == end.line && last >= 0) sel_col = column_count(*lines[last]);
    finish_command(true);
    if (changed) commit_edit();
}

// Commands.

void CellEditor::insert_character(uint32_t code) {
    char bytes[4];
    const size_t length = encode_utf8(code, bytes);
    begin_edit();
    bool everything = false;
    if (selecting) {
        delete_selection();
        everything = true;
    }
    if (!cursor_line_exists()) {
        insert_line(cursor_line, "", 0);
        everything = true;
    }
    const String& line = cursor_line_text();
    const size_t at = cursor_byte();
    const size_t remove =
        editor_shared.overwrite ? bytes_for_columns(line.c_str() + at, line.length() - at, 1) : 0;
    edit_line(cursor_line, at, remove, bytes, length);
    cursor_col = columns_for_bytes(line.c_str(), line.length(), at) + 1;
    commit_edit();
    finish_command(everything);
}

void CellEditor::tab_key(bool shift) {
    if (selecting) {
        indent_selection(shift ? -tab_width : tab_width);
        return;
    }
    if (!shift) {
        const int32_t step = std::clamp(tab_width, 1, MAX_TAB_STEP);
        const int32_t count = cursor_col % step ? step - cursor_col % step : step;
        begin_edit();
        const bool created = !cursor_line_exists();
        if (created) insert_line(cursor_line, "", 0);
        const String& line = cursor_line_text();
        const size_t at = cursor_byte();
        const size_t remove =
            editor_shared.overwrite ? bytes_for_columns(line.c_str() + at, line.length() - at, count) : 0;
        const String fill = spaces(static_cast<size_t>(count));
        edit_line(cursor_line, at, remove, fill.c_str(), fill.length());
        cursor_col = columns_for_bytes(line.c_str(), line.length(), at) + count;
        commit_edit();
        finish_command(created);
        return;
    }
    if (cursor_col <= 0 || !cursor_line_exists()) return;
    const String& line = cursor_line_text();
    const size_t col = std::min<size_t>(static_cast<size_t>(cursor_col), static_cast<size_t>(column_count(line)));
    const size_t at = bytes_for_columns(line.c_str(), line.length(), static_cast<int64_t>(col));
    const size_t indent = std::min(leading_spaces(line), at);
    const size_t step = static_cast<size_t>(std::max(1, tab_width));
    begin_edit();
    if (at > 0 && line.c_str()[at - 1] == ' ' && indent < at) {
        size_t run = 0;
        while (run < step && run < at && line.c_str()[at - 1 - run] == ' ') ++run;
        edit_line(cursor_line, at - run, run, "", 0);
        cursor_col = static_cast<int32_t>(col - run);
    } else if (indent > 0) {
        size_t remove = indent % step ? indent % step : step;
        remove = std::min(remove, indent);
        edit_line(cursor_line, 0, remove, "", 0);
        cursor_col = static_cast<int32_t>(col - remove);
    } else {
        return;
    }
    commit_edit();
    finish_command(false);
}

void CellEditor::enter_key(bool ctrl) {
    begin_edit();
    bool changed = false;
    if (selecting) {
        delete_selection();
        changed = true;
    }
    if (cursor_line >= line_count()) {
        insert_line(line_count(), "", 0);
        cursor_line = line_count() - 1;
        cursor_col = 0;
        changed = true;
    }
    const String& line = cursor_line_text();
    const size_t indent = leading_blanks(line.c_str(), line.length());
    if (!editor_shared.overwrite) {
        const bool at_end = ctrl || cursor_col > column_count(line);
        const size_t split_at = at_end ? line.length() : cursor_byte();
        const size_t tail_blanks = leading_blanks(line.c_str() + split_at, line.length() - split_at);
        String next = slice(line, 0, indent);
        next.append(line.c_str() + split_at + tail_blanks, line.length() - split_at - tail_blanks);
        lines[cursor_line]->truncate(split_at);
        insert_line(cursor_line + 1, next.c_str(), next.length());
        ++cursor_line;
        cursor_col = static_cast<int32_t>(indent);
        changed = true;
    } else {
        const size_t column_indent = std::min(indent, cursor_byte());
        if (cursor_line + 1 >= line_count()) {
            insert_line(line_count(), line.c_str(), column_indent);
            changed = true;
        }
        ++cursor_line;
        cursor_col = std::min(static_cast<int32_t>(column_indent), column_count(*lines[cursor_line]));
    }
    hscroll = 0;
    if (changed) commit_edit();
    finish_command(true);
}

// Backspace and Delete on a selection remove it; an empty one only ends,
// recording nothing.
void CellEditor::delete_selection_key() {
    const bool empty = selection_empty();
    delete_selection();
    if (!empty) commit_edit();
    finish_command(true);
}

void CellEditor::backspace_key() {
    begin_edit();
    if (selecting) {
        delete_selection_key();
        return;
    }
    if (cursor_col <= 0 || !cursor_line_exists()) {
        if (cursor_line <= 0) return;
        const int32_t previous = std::min(cursor_line, line_count()) - 1;
        if (!cursor_line_exists()) {
            cursor_line = previous;
            cursor_col = column_count(*lines[previous]);
            ensure_cursor_visible(false, -1);
            return;
        }
        cursor_col = column_count(*lines[previous]);
        if (!only_blanks(cursor_line_text())) lines[previous]->append(cursor_line_text().c_str(),
                                                                      cursor_line_text().length());
        remove_line(cursor_line);
        cursor_line = previous;
        commit_edit();
        finish_command(true);
        return;
    }
    const String& line = cursor_line_text();
    const int32_t col = std::min(cursor_col, column_count(line));
    const size_t at = bytes_for_columns(line.c_str(), line.length(), col);
    int32_t count = 1;
    if (tab_width >= 1 && col % tab_width == 0 && col >= tab_width && leading_spaces(line) >= at) count = tab_width;
    const size_t from = bytes_for_columns(line.c_str(), line.length(), col - count);
    edit_line(cursor_line, from, at - from, "", 0);
    cursor_col = col - count;
    commit_edit();
    finish_command(false);
}

void CellEditor::delete_key() {
    begin_edit();
    if (selecting) {
        delete_selection_key();
        return;
    }
    if (!cursor_line_exists()) return;
    const String& line = cursor_line_text();
    if (cursor_col < column_count(line)) {
        const size_t at = cursor_byte();
        const size_t length = bytes_for_columns(line.c_str() + at, line.length() - at, 1);
        edit_line(cursor_line, at, length, "", 0);
        commit_edit();
        finish_command(false);
        return;
    }
    if (cursor_line + 1 >= line_count()) return;
    const String& next = *lines[cursor_line + 1];
    const size_t blanks = leading_blanks(next.c_str(), next.length());
    const size_t from = blanks ? blanks - 1 : 0;
    cursor_col = column_count(line);
    lines[cursor_line]->append(next.c_str() + from, next.length() - from);
    remove_line(cursor_line + 1);
    commit_edit();
    finish_command(true);
}

void CellEditor::duplicate() {
    if (selecting) {
        TextPosition start, end;
        selection_range(&start, &end);
        if (selection_empty() || start.line >= line_count()) return;
        if (end.line >= line_count()) end = TextPosition{line_count() - 1, column_count(*lines[line_count() - 1])};
        std::vector<String> list;
        for (int32_t line = start.line; line <= end.line; ++line) {
            const String& text = *lines[line];
            const size_t from = line == start.line ? bytes_for_columns(text.c_str(), text.length(), start.col) : 0;
            const size_t to =
                line == end.line ? bytes_for_columns(text.c_str(), text.length(), end.col) : text.length();
            list.push_back(slice(text, from, to));
        }
        begin_edit();
        cursor_line = end.line;
        cursor_col = end.col;
        insert_lines(list);
        cursor_line = end.line;
        cursor_col = end.col;
        commit_edit();
        finish_command(true);
        show_message("Duplicated selection");
        return;
    }
    if (!cursor_line_exists()) return;
    begin_edit();
    const String copy = cursor_line_text();
    insert_line(cursor_line, copy.c_str(), copy.length());
    commit_edit();
    finish_command(true);
    show_message("Duplicated line");
}

void CellEditor::select_all() {
    anchor_line = 0;
    anchor_col = 0;
    sel_line = std::max(0, line_count() - 1);
    sel_col = column_count(line_text(sel_line));
    selecting = 1;
    draw(-1);
    ensure_cursor_visible(false, -1);
}

void CellEditor::cancel_selection() {
    if (!selecting) return;
    selecting = 0;
    draw(-1);
    ensure_cursor_visible(false, -1);
}

void CellEditor::toggle_overwrite() {
    editor_shared.overwrite = !editor_shared.overwrite;
    draw_status();
}

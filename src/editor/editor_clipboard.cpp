// Copy, cut and paste through the Windows clipboard: the selection becomes
// UTF-16 text with CR LF line breaks (keeping a block's relative indentation
// and, in a tab-indented file, its tabs); pasted text comes from the UTF-16
// format, else the ANSI one, split into lines.
//
// User-interface thread only.
#include <algorithm>
#include <cstring>

#include "editor/cell_editor.h"
#include "editor/cell_text.h"

#include "io/banned.h"

namespace {

size_t count_spaces(const char* text, size_t length) {
    size_t n = 0;
    while (n < length && text[n] == ' ') ++n;
    return n;
}

// Leading whole groups of step spaces become tabs.
String tabs_for_spaces(const String& text, int32_t step) {
    const size_t spaces = count_spaces(text.c_str(), text.length());
    const size_t groups = spaces / static_cast<size_t>(step);
    String out;
    for (size_t i = 0; i < groups; ++i) out.append_char('\t');
    const size_t skip = groups * static_cast<size_t>(step);
    out.append(text.c_str() + skip, text.length() - skip);
    return out;
}

void put_on_clipboard(HWND window, const String& text) {
    const size_t units = utf8_to_utf16_units(text.c_str(), text.length(), nullptr);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, (units + 1) * sizeof(wchar_t));
    if (block) {
        auto* target = static_cast<wchar_t*>(GlobalLock(block));
        if (target) {
            utf8_to_utf16_units(text.c_str(), text.length(), target);
            target[units] = 0;
            GlobalUnlock(block);
        } else {
            GlobalFree(block);
            block = nullptr;
        }
    }
    if (!OpenClipboard(window)) {
        if (block) GlobalFree(block);
        return;
    }
    EmptyClipboard();
    if (block && !SetClipboardData(CF_UNICODETEXT, block)) GlobalFree(block);
    CloseClipboard();
}

}  // namespace

String CellEditor::selection_clipboard_text() const {
    TextPosition start, end;
    String text;
    if (!selection_range(&start, &end) || start.line >= line_count()) return text;
    if (end.line >= line_count()) end = TextPosition{line_count() - 1, column_count(*lines[line_count() - 1])};
    std::vector<String> pieces;
    for (int32_t line = start.line; line <= end.line; ++line) {
        const String& source = *lines[line];
        const size_t from = line == start.line ? bytes_for_columns(source.c_str(), source.length(), start.col) : 0;
        const size_t to =
            line == end.line ? bytes_for_columns(source.c_str(), source.length(), end.col) : source.length();
        String piece;
        if (to > from) piece.set(source.c_str() + from, to - from);
        pieces.push_back(piece);
    }
    // A block that starts inside a line keeps its relative indentation when
    // every later line is indented at least as deep as the first.
    bool first_at_column_0 = start.col == 0;
    if (end.line > start.line && start.col > 0) {
        const String& first = *lines[start.line];
        const size_t indent = count_spaces(first.c_str(), first.length());
        bool deep_enough = true;
        for (int32_t line = start.line + 1; line <= end.line && deep_enough; ++line) {
            const String& source = *lines[line];
            if (source.empty()) continue;
            const size_t spaces = count_spaces(source.c_str(), source.length());
            if (line == end.line && static_cast<size_t>(end.col) <= spaces) continue;
            deep_enough = spaces >= indent;
        }
        if (deep_enough) {
            String& piece = pieces[0];
            const size_t skip = count_spaces(piece.c_str(), piece.length());
            String indented;
            for (size_t i = 0; i < indent; ++i) indented.append_char(' ');
            indented.append(piece.c_str() + skip, piece.length() - skip);
            piece = indented;
        }
    }
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i) text.append("\r\n", 2);
        const bool from_column_0 = i > 0 || first_at_column_0;
        if (save_tab_width > 0 && from_column_0) {
            const String converted = tabs_for_spaces(pieces[i], save_tab_width);
            text.append(converted.c_str(), converted.length());
        } else {
            text.append(pieces[i].c_str(), pieces[i].length());
        }
    }
    return text;
}

void CellEditor::copy_to_clipboard(bool cut) {
    if (!selecting) return;
    if (selection_empty()) {
        show_message("No selection");
        return;
    }
    const String text = selection_clipboard_text();
    if (cut) {
        begin_edit();
        delete_selection();
        commit_edit();
        finish_command(true);
    }
    put_on_clipboard(screen ? screen->window : nullptr, text);
    clipboard_text = text;
    char message[64];
    std::snprintf(message, sizeof(message), cut ? "Cut %d bytes" : "Copied %d bytes", static_cast<int>(text.length()));
    show_message(message);
}

void CellEditor::read_clipboard(std::vector<String>& list) {
    list.clear();
    if (!OpenClipboard(screen ? screen->window : nullptr)) return;
    String text;
    if (const HANDLE unicode = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* units = static_cast<const wchar_t*>(GlobalLock(unicode))) {
            utf16_units_to_utf8(units, GlobalSize(unicode) / sizeof(wchar_t), text);
            GlobalUnlock(unicode);
        }
    }
    if (text.empty()) {
        if (const HANDLE ansi = GetClipboardData(CF_TEXT)) {
            if (const auto* bytes = static_cast<const char*>(GlobalLock(ansi))) {
                const size_t size = GlobalSize(ansi);
                const void* zero = std::memchr(bytes, 0, size);
                text.set(bytes, zero ? static_cast<size_t>(static_cast<const char*>(zero) - bytes) : size);
                GlobalUnlock(ansi);
            }
        }
    }
    CloseClipboard();
    if (text.empty()) return;
    String line;
    const char* p = text.c_str();
    const size_t length = text.length();
    for (size_t i = 0; i <= length; ++i) {
        if (i == length || p[i] == '\r' || p[i] == '\n') {
            list.push_back(line);
            line.clear();
            if (i < length && p[i] == '\r' && i + 1 < length && p[i + 1] == '\n') ++i;
        } else if (p[i] == '\t') {
            for (int32_t n = 0; n < tab_width; ++n) line.append_char(' ');
        } else {
            line.append_char(p[i]);
        }
    }
}

void CellEditor::paste() {
    std::vector<String> list;
    read_clipboard(list);
    if (list.empty()) {
        show_message("Clipboard empty");
        return;
    }
    if (selecting) delete_selection();
    cursor_line = std::clamp(cursor_line, 0, line_count());
    begin_edit();
    insert_lines(list);
    commit_edit();
    draw(-1);
    ensure_cursor_visible(false, -1);
    show_message("Pasted");
}

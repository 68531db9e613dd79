// Searching the document: the three matching rules (substring, whole word,
// token sequence), each with or without case, the next or previous match
// with wrap-around, replace all, and the one-line prompts on the bottom row
// that ask for the search text, the replacement and a line to go to.
//
// User-interface thread only. The search mode and the go-to text are shared
// by every editor of the process; the find and replacement texts belong to
// one editor and last as long as it does.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

#include "editor/cell_editor.h"
#include "editor/cell_text.h"

#include "io/banned.h"

namespace {

constexpr const char* MODE_NAMES[SEARCH_MODE_COUNT] = {"substring",  "SubString",  "wordmatch",
                                                       "WordMatch",  "tokenmatch", "TokenMatch"};
constexpr size_t SHORTEN_ABOVE = 41;
constexpr size_t SHORT_HEAD = 25;
constexpr size_t SHORT_TOTAL = 46;
constexpr char WIDE_FIND_HINT[] = " (Up/Down:mode Ctrl+R:replace ESC:cancel)";
constexpr char MIDDLE_FIND_HINT[] = "(U/D:mode Ctrl+R:repl)";
constexpr int32_t WIDE_HINT_COLS = 71;
constexpr int32_t MIDDLE_HINT_COLS = 41;

bool is_ascii_alnum(unsigned char byte) { return byte < 0x80 && std::isalnum(byte); }

unsigned char fold(unsigned char byte) { return byte < 0x80 ? static_cast<unsigned char>(std::tolower(byte)) : byte; }

bool same_bytes(const char* a, const char* b, size_t count, bool exact) {
    if (exact) return std::memcmp(a, b, count) == 0;
    for (size_t i = 0; i < count; ++i) {
        if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The byte offset where the last character of text starts.
size_t last_character_start(const String& text) {
    size_t offset = 0;
    size_t last = 0;
    uint32_t code;
    while (offset < text.length()) {
        last = offset;
        offset += decode_utf8_char(text.c_str() + offset, text.length() - offset, &code);
    }
    return last;
}

bool is_prompt_character(int code) {
    if (code >= 128) return code < KEY_DOWN || code > KEY_F12;
    return code > 0 && (std::isspace(code) || std::isgraph(code));
}

// Moves a column of the line that held a replaced match: inside the match
// to its start, after it by the change in length.
void shift_column(int32_t& col, int32_t start, int32_t end, int32_t delta) {
    if (col >= end) col += delta;
    else if (col > start) col = start;
}

}  // namespace

const char* search_mode_name(int mode) {
    return MODE_NAMES[((mode % SEARCH_MODE_COUNT) + SEARCH_MODE_COUNT) % SEARCH_MODE_COUNT];
}

String shorten_for_display(const char* text) {
    const size_t length = std::strlen(text);
    if (length <= SHORTEN_ABOVE) return String(text);
    uint32_t code;
    size_t head = 0;
    while (head < SHORT_HEAD) head += decode_utf8_char(text + head, length - head, &code);
    // The tail starts at the first character that leaves head and tail
    // within the total, and never inside the head.
    const size_t earliest = std::max(head, length - (SHORT_TOTAL - head));
    size_t tail = head;
    while (tail < earliest) tail += decode_utf8_char(text + tail, length - tail, &code);
    char shown[50];
    std::snprintf(shown, sizeof(shown), "%.*s...%s", static_cast<int>(head), text, text + tail);
    return String(shown);
}

bool goto_target(const char* text, int32_t cursor_line, int32_t line_count, int32_t* target) {
    const char* p = text;
    while (is_blank(*p)) ++p;
    int sign = 0;
    if (*p == '+' || *p == '-') {
        sign = *p == '+' ? 1 : -1;
        ++p;
        while (is_blank(*p)) ++p;
    }
    if (*p < '0' || *p > '9') return false;
    int64_t number = 0;
    for (; *p >= '0' && *p <= '9'; ++p) number = std::min<int64_t>(number * 10 + (*p - '0'), INT32_MAX);
    if (number <= 0) return false;
    const int64_t line = sign > 0 ? int64_t{cursor_line} + number
                                   : sign < 0 ? int64_t{cursor_line} - number : number - 1;
    *target = static_cast<int32_t>(std::clamp<int64_t>(line, 0, line_count));
    return true;
}

int32_t CellEditor::find_in_line(const char* text, const char* line, int32_t start, bool backward, int32_t* length) {
    if (length) *length = 0;
    const int mode = editor_shared.search_mode;
    const bool exact = (mode & 1) != 0;
    const size_t line_length = std::strlen(line);
    const char* line_end = line + line_length;
    if (mode >= 4) {
        // The search text's tokens; a text of blanks only has none and
        // matches nothing (a match without bytes could never be passed).
        std::vector<std::pair<const char*, int32_t>> wanted;
        const char* cursor = text;
        const char* text_end = text + std::strlen(text);
        int32_t token_length = 0;
        int32_t token_state = 0;
        while (const char* token = next_token(&cursor, text_end, &token_length, &token_state)) {
            wanted.emplace_back(token, token_length);
        }
        if (wanted.empty()) return -1;
        int32_t found = -1;
        int32_t found_length = 0;
        cursor = line;
        while (const char* token = next_token(&cursor, line_end, &token_length, &token_state)) {
            // A token holding "." offers its part before the first "." (or a
            // leading "." alone); the rest comes as the following candidates.
            const auto* dot = static_cast<const char*>(std::memchr(token, '.', static_cast<size_t>(token_length)));
            if (dot == token) cursor = token + 1;
            else if (dot) cursor = dot;
            const auto candidate = static_cast<int32_t>(token - line);
            if (!backward && candidate < start) continue;
            if (backward && candidate > start) break;
            const char* at = token;
            const char* matched_end = nullptr;
            for (const auto& [bytes, count] : wanted) {
                int32_t got_length = 0;
                const char* got = next_token(&at, line_end, &got_length, &token_state);
                if (!got || got_length != count || !same_bytes(got, bytes, static_cast<size_t>(count), exact)) {
                    matched_end = nullptr;
                    break;
                }
                matched_end = got + got_length;
            }
            if (!matched_end) continue;
            found = candidate;
            found_length = static_cast<int32_t>(matched_end - token);
            if (!backward) break;
        }
        if (found >= 0 && length) *length = found_length;
        return found;
    }
    const size_t text_length = std::strlen(text);
    if (text_length == 0 || text_length > line_length) return -1;
    const auto last = static_cast<int64_t>(line_length - text_length);
    const bool whole_word = mode >= 2;
    auto hit = [&](int64_t offset) {
        if (!same_bytes(line + offset, text, text_length, exact)) return false;
        if (!whole_word) return true;
        if (offset > 0 && is_ascii_alnum(static_cast<unsigned char>(line[offset - 1]))) return false;
        return !is_ascii_alnum(static_cast<unsigned char>(line[offset + static_cast<int64_t>(text_length)]));
    };
    if (backward) {
        for (int64_t offset = std::min<int64_t>(start, last); offset >= 0; --offset) {
            if (hit(offset)) {
                if (length) *length = static_cast<int32_t>(text_length);
                return static_cast<int32_t>(offset);
            }
        }
        return -1;
    }
    for (int64_t offset = std::max(start, 0); offset <= last; ++offset) {
        if (hit(offset)) {
            if (length) *length = static_cast<int32_t>(text_length);
            return static_cast<int32_t>(offset);
        }
    }
    return -1;
}

void CellEditor::find_next(bool backward, bool replace_all) {
    if (find_text.empty()) return;
    if (replace_all) {
        replace_all_matches();
        return;
    }
    const int32_t count = line_count();
    const String shown = shorten_for_display(find_text.c_str());
    char message[192];
    std::snprintf(message, sizeof(message), "%s '%s' not found", search_mode_name(editor_shared.search_mode),
                  shown.c_str());
    // A cursor after the last line searches as if just past the end.
    const bool past_end = cursor_line >= count;
    bool wrapped = false;
    for (int32_t i = 0; i <= count && count > 0; ++i) {
        int64_t index;
        if (past_end) {
            if (i == count) break;
            index = backward ? int64_t{count} - 1 - i : int64_t{count} + i;
        } else {
            index = backward ? int64_t{cursor_line} - i : int64_t{cursor_line} + i;
        }
        if (index < 0 || index >= count) wrapped = true;
        const auto line = static_cast<int32_t>(((index % count) + count) % count);
        const String& text = *lines[line];
        int64_t start;
        if (i == 0 && !past_end) {
            if (backward && cursor_col <= 0) continue;
            start = static_cast<int64_t>(
                bytes_for_columns(text.c_str(), text.length(), backward ? cursor_col - 1 : cursor_col + 1));
        } else {
            if (backward && text.empty()) continue;
            start = backward ? static_cast<int64_t>(text.length()) : 0;
        }
        int32_t match_length = 0;
        const int32_t offset = find_in_line(find_text.c_str(), text.c_str(), static_cast<int32_t>(start), backward,
                                            &match_length);
        if (offset < 0) continue;
        const int32_t first = columns_for_bytes(text.c_str(), text.length(), static_cast<size_t>(offset));
        const int32_t last =
            columns_for_bytes(text.c_str(), text.length(), static_cast<size_t>(offset) + match_length);
        cursor_line = anchor_line = sel_line = line;
        anchor_col = first;
        sel_col = last;
        selecting = 1;
        hscroll = 0;
        // Scroll so that some text after the match shows too.
        cursor_col = std::max(first, last) + (screen ? screen->cols / 4 : 0);
        ensure_cursor_visible(false, -1);
        cursor_col = first;
        std::snprintf(message, sizeof(message), "Found @ Line %d Col %d %s'%s' (Shift+)F3|Ctrl+G:(prev)next",
                      line + 1, first + 1, wrapped ? "(wrapped) " : "", shown.c_str());
        break;
    }
    draw(-1);
    ensure_cursor_visible(false, -1);
    show_message(message);
}

void CellEditor::replace_all_matches() {
    begin_edit();
    const int32_t replacement_cols = column_count(replace_text);
    int32_t instances = 0;
    int32_t changed_lines = 0;
    for (int32_t line = 0; line < line_count(); ++line) {
        bool changed = false;
        int32_t offset = 0;
        while (offset < static_cast<int32_t>(lines[line]->length())) {
            const String& text = *lines[line];
            int32_t match_length = 0;
            const int32_t found = find_in_line(find_text.c_str(), text.c_str(), offset, false, &match_length);
            if (found < 0 || match_length <= 0) break;
            const int32_t first = columns_for_bytes(text.c_str(), text.length(), static_cast<size_t>(found));
            const int32_t last =
                columns_for_bytes(text.c_str(), text.length(), static_cast<size_t>(found) + match_length);
            const int32_t delta = replacement_cols - (last - first);
            if (cursor_line == line) shift_column(cursor_col, first, last, delta);
            if (anchor_line == line) shift_column(anchor_col, first, last, delta);
            if (sel_line == line) shift_column(sel_col, first, last, delta);
            if (!edit_line(line, static_cast<size_t>(found), static_cast<size_t>(match_length), replace_text.c_str(),
                           replace_text.length())) {
                break;
            }
            ++instances;
            changed = true;
            offset = found + static_cast<int32_t>(replace_text.length());
        }
        if (changed) ++changed_lines;
    }
    // Nothing replaced records no undo step, so the document does not turn
    // modified for a search that found nothing.
    if (instances) commit_edit();
    draw(-1);
    ensure_cursor_visible(false, -1);
    if (instances) {
        char message[96];
        std::snprintf(message, sizeof(message), "Replaced %d instance%s on %d line%s", instances,
                      instances == 1 ? "" : "s", changed_lines, changed_lines == 1 ? "" : "s");
        show_message(message);
    }
}

void CellEditor::open_search_prompt(bool replace) {
    TextPosition start, end;
    if (selection_range(&start, &end) && start.line == end.line && start.col != end.col && start.line < line_count()) {
        const String& text = *lines[start.line];
        const size_t from = bytes_for_columns(text.c_str(), text.length(), start.col);
        const size_t to = bytes_for_columns(text.c_str(), text.length(), end.col);
        if (to > from) find_text.set(text.c_str() + from, to - from);
    }
    if (replace && find_text.empty()) {
        show_message(USE_FIND_FIRST_MESSAGE);
        return;
    }
    state = replace ? PROMPT_REPLACE : PROMPT_FIND;
    prompt_key(0, replace ? replace_text : find_text);
}

void CellEditor::open_goto_prompt() {
    editor_shared.goto_text.clear();
    state = PROMPT_GOTO;
    prompt_key(0, editor_shared.goto_text);
}

void CellEditor::draw_prompt() {
    if (!screen || state < PROMPT_FIND || state > PROMPT_GOTO) return;
    char label[192];
    const char* mode = search_mode_name(editor_shared.search_mode);
    if (state == PROMPT_FIND) {
        const int32_t cols = screen->cols;
        const char* hint = cols >= WIDE_HINT_COLS ? WIDE_FIND_HINT : cols >= MIDDLE_HINT_COLS ? MIDDLE_FIND_HINT : "";
        std::snprintf(label, sizeof(label), "Find %s%s: ", mode, hint);
    } else if (state == PROMPT_REPLACE) {
        std::snprintf(label, sizeof(label), "Replace all (%s) '%s': ", mode,
                      shorten_for_display(find_text.c_str()).c_str());
    } else {
        std::snprintf(label, sizeof(label), "Go to line (ESC:cancel): ");
    }
    const String& text =
        state == PROMPT_FIND ? find_text : state == PROMPT_REPLACE ? replace_text : editor_shared.goto_text;
    const int32_t row = screen->rows - 1;
    screen->attr = ATTR_MESSAGE;
    screen->clear_attr = ATTR_MESSAGE;
    move_to(screen, row, 0, true);
    add_text(screen, label, -1);
    add_text(screen, text.c_str(), static_cast<int64_t>(text.length()));
    const int32_t caret = screen->cursor_col;
    clear_to_end_of_row(screen);
    screen->attr = ATTR_TEXT;
    screen->clear_attr = ATTR_TEXT;
    move_to(screen, row, caret, false);
}

void CellEditor::prompt_key(int code, String& target) {
    const bool search_prompt = state == PROMPT_FIND || state == PROMPT_REPLACE;
    switch (code) {
    case KEY_NONE: return;
    case 0: prompt_typed = 0; break;
    case KEY_BACKSPACE:
        target.truncate(last_character_start(target));
        prompt_typed = 1;
        break;
    case KEY_ESCAPE:
        draw(-1);
        ensure_cursor_visible(false, -1);
        state = STATE_NORMAL;
        break;
    case CTRL_J:
    case KEY_ENTER: state = STATE_NORMAL; break;
    case KEY_DOWN:
    case KEY_UP:
        if (!search_prompt) return;
        editor_shared.search_mode =
            (editor_shared.search_mode + (code == KEY_DOWN ? 1 : SEARCH_MODE_COUNT - 1)) % SEARCH_MODE_COUNT;
        break;
    default: {
        const Modifiers modifiers = code == KEY_INSERT ? key_modifiers() : Modifiers{};
        if (code == 22 || (code == KEY_INSERT && modifiers.shift && !modifiers.alt)) {
            std::vector<String> clipboard;
            read_clipboard(clipboard);
            if (!clipboard.empty() && !clipboard[0].empty()) {
                if (!prompt_typed) target.clear();
                target.append(clipboard[0].c_str(), clipboard[0].length());
                prompt_typed = 1;
            }
        } else if (code >= KEY_DOWN && code <= KEY_F12) {
            return;
        } else if (is_prompt_character(code)) {
            if (!prompt_typed) target.clear();
            char bytes[4];
            target.append(bytes, encode_utf8(static_cast<uint32_t>(code), bytes));
            prompt_typed = 1;
        }
        break;
    }
    }
    draw_prompt();
}

void CellEditor::prompt_state_key(int code) {
    if (state == PROMPT_GOTO) {
        if (code == 10) code = KEY_ESCAPE;
        prompt_key(code, editor_shared.goto_text);
        if (code == KEY_ENTER) go_to_line();
        return;
    }
    const int prompt = state;
    int key = code;
    if (code == 18) {  // Ctrl+R
        const int wanted = find_text.empty() ? PROMPT_FIND : PROMPT_REPLACE;
        key = state == wanted ? KEY_ESCAPE : 0;
        state = wanted;
    } else if (code == 6) {  // Ctrl+F
        key = state == PROMPT_FIND ? KEY_ESCAPE : 0;
        state = PROMPT_FIND;
    }
    prompt_key(key, state == PROMPT_REPLACE ? replace_text : find_text);
    if (code != KEY_ENTER && code != 10) return;
    if (find_text.empty()) {
        // Nothing to search: take the closed prompt off the last row.
        draw(-1);
        ensure_cursor_visible(false, -1);
        return;
    }
    find_next(false, prompt == PROMPT_REPLACE);
}

void CellEditor::go_to_line() {
    int32_t target = 0;
    if (goto_target(editor_shared.goto_text.c_str(), cursor_line, line_count(), &target)) {
        cursor_line = target;
        cursor_col = column_count(line_text(target));
        wanted_col = -1;
        selecting = 0;
    }
    draw(-1);
    ensure_cursor_visible(false, -1);
}

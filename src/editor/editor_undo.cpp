// The undo history: one whole-document snapshot per command, sharing equal
// lines with the neighbouring snapshots by reference count, thinned when it
// grows past undo_limit without ever losing the saved state.
//
// User-interface thread only. Every SharedLine's refs equals the number of
// snapshot entries that point at it.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "editor/cell_editor.h"

#include "io/banned.h"

namespace {

constexpr int PROBE_DISTANCE = 7;  // lines probed on each side of the same index

void release(SharedLine* line) {
    if (line && --line->refs == 0) {
        std::free(line->bytes);
        delete line;
    }
}

void release_snapshot(UndoSnapshot* snapshot) {
    for (SharedLine* line : snapshot->lines) release(line);
    delete snapshot;
}

bool equal(const SharedLine* record, const String& text) {
    return record && record->length == text.length() && std::memcmp(record->bytes, text.c_str(), record->length) == 0;
}

// An equal line record near index in snapshot, or null.
SharedLine* probe(const UndoSnapshot* snapshot, size_t index, const String& text) {
    const int64_t count = static_cast<int64_t>(snapshot->lines.size());
    for (int distance = 0; distance <= PROBE_DISTANCE; ++distance) {
        for (int side = distance ? -1 : 1; side <= 1; side += 2) {
            const int64_t at = static_cast<int64_t>(index) + side * distance;
            if (at >= 0 && at < count && equal(snapshot->lines[at], text)) return snapshot->lines[at];
        }
    }
    return nullptr;
}

SharedLine* copy_line(const String& text) {
    char* bytes = static_cast<char*>(std::malloc(text.length()));
    if (!bytes) return nullptr;
    std::memcpy(bytes, text.c_str(), text.length());
    return new SharedLine{bytes, text.length(), 1};
}

}  // namespace

void CellEditor::free_history() {
    for (UndoSnapshot* snapshot : undo_history) release_snapshot(snapshot);
    undo_history.clear();
}

void CellEditor::begin_edit() {
    if (undo_pos < 0 || undo_pos >= static_cast<int32_t>(undo_history.size())) return;
    UndoSnapshot* current = undo_history[undo_pos];
    current->before_hscroll = hscroll;
    current->before_col = cursor_col;
    current->before_line = cursor_line;
    current->before_scroll = pane_scroll[active_pane];
}

void CellEditor::commit_edit() {
    auto* snapshot = new UndoSnapshot;
    snapshot->after_hscroll = snapshot->before_hscroll = hscroll;
    snapshot->after_col = snapshot->before_col = cursor_col;
    snapshot->after_line = snapshot->before_line = cursor_line;
    snapshot->after_scroll = snapshot->before_scroll = pane_scroll[active_pane];

    // The current snapshot, the next, and the three before it.
    const UndoSnapshot* neighbours[5];
    int neighbour_count = 0;
    const int32_t size = static_cast<int32_t>(undo_history.size());
    for (const int32_t offset : {0, 1, -1, -2, -3}) {
        const int32_t at = undo_pos + offset;
        if (at >= 0 && at < size) neighbours[neighbour_count++] = undo_history[at];
    }
    snapshot->lines.reserve(lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        const String& text = *lines[i];
        SharedLine* record = nullptr;
        if (!text.empty()) {
            for (int n = 0; n < neighbour_count && !record; ++n) record = probe(neighbours[n], i, text);
            if (record) ++record->refs;
            else record = copy_line(text);
        }
        snapshot->lines.push_back(record);
    }

    // Drop the redo part.
    while (static_cast<int32_t>(undo_history.size()) > undo_pos + 1) {
        release_snapshot(undo_history.back());
        undo_history.pop_back();
    }
    if (saved_pos > undo_pos) saved_pos = -1;

    // Thinning: every second of the oldest snapshots goes, the saved one stays.
    if (static_cast<int32_t>(undo_history.size()) > undo_limit && undo_history.size() > 3) {
        size_t index = 1;
        while (index < undo_history.size() / 2) {
            if (static_cast<int32_t>(index) == saved_pos) {
                index += 2;
                continue;
            }
            release_snapshot(undo_history[index]);
            undo_history.erase(undo_history.begin() + static_cast<std::ptrdiff_t>(index));
            if (saved_pos > static_cast<int32_t>(index)) --saved_pos;
            index += 1;
        }
        undo_pos = static_cast<int32_t>(undo_history.size()) - 1;
    }
    undo_history.push_back(snapshot);
    ++undo_pos;
}

void CellEditor::restore_snapshot(const UndoSnapshot& snapshot, bool before) {
    lines.clear();
    lines.reserve(snapshot.lines.size());
    for (const SharedLine* record : snapshot.lines) {
        auto line = std::make_unique<String>();
        if (record) line->set(record->bytes, record->length);
        lines.push_back(std::move(line));
    }
    hscroll = before ? snapshot.before_hscroll : snapshot.after_hscroll;
    cursor_col = before ? snapshot.before_col : snapshot.after_col;
    cursor_line = before ? snapshot.before_line : snapshot.after_line;
    pane_scroll[active_pane] = before ? snapshot.before_scroll : snapshot.after_scroll;
    selecting = 0;
}

void CellEditor::undo() {
    if (undo_pos <= 0) {
        show_message("Can't Undo");
        return;
    }
    --undo_pos;
    restore_snapshot(*undo_history[undo_pos], true);
    draw(-1);
    ensure_cursor_visible(false, -1);
    char message[96];
    std::snprintf(message, sizeof(message), "Undid action - %d items in undo buffer", undo_pos);
    show_message(message);
}

void CellEditor::redo() {
    const int32_t size = static_cast<int32_t>(undo_history.size());
    if (undo_pos >= size - 1) {
        show_message("Can't Redo");
        return;
    }
    ++undo_pos;
    restore_snapshot(*undo_history[undo_pos], false);
    draw(-1);
    ensure_cursor_visible(false, -1);
    char message[96];
    std::snprintf(message, sizeof(message), "Redid action - %d items in redo buffer", size - undo_pos - 1);
    show_message(message);
}

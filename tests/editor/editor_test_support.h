// Helpers for the editor tests: an editor on a windowless grid, loading a
// document from bytes, and reading the document and the grid back.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "editor/cell_editor.h"
#include "editor/cell_screen.h"
#include "io/platform.h"
#include "test_folder.h"

// A CellScreen with a rows x cols grid and no window, and an editor on it.
struct GridEditor {
    explicit GridEditor(int32_t rows = 12, int32_t cols = 40) {
        set_grid_size(&screen, rows, cols);
        editor = std::make_unique<CellEditor>(&screen);
    }
    ~GridEditor() {
        editor.reset();
        editor_shared.overwrite = false;
        editor_shared.search_mode = 0;
        editor_shared.goto_text.clear();
    }

    // Loads bytes as a file's content (through a real file) and draws.
    void load(const std::string& bytes) {
        folder.write("doc.txt", bytes);
        path = concat(folder.path().c_str(), "doc.txt");
        editor->clear_document();
        ASSERT_EQ(editor->open_file(path.c_str(), nullptr), 0);
        editor->draw(-1);
        editor->ensure_cursor_visible(false, -1);
    }
    std::string saved_bytes() { return folder.read("doc.txt"); }

    std::vector<std::string> document() const {
        std::vector<std::string> out;
        for (const auto& line : editor->lines) out.emplace_back(line->c_str(), line->length());
        return out;
    }
    void put_cursor(int32_t line, int32_t col) {
        editor->cursor_line = line;
        editor->cursor_col = col;
    }
    void select(int32_t anchor_line, int32_t anchor_col, int32_t line, int32_t col) {
        editor->selecting = 1;
        editor->anchor_line = anchor_line;
        editor->anchor_col = anchor_col;
        editor->sel_line = line;
        editor->sel_col = col;
        put_cursor(line, col);
    }
    // The characters of a grid row as UTF-8 (blank cells as spaces), with
    // trailing blanks removed.
    std::string row(int32_t row) const {
        std::string text;
        for (int32_t col = 0; col < screen.cols; ++col) {
            const Cell* cell = cell_at(&screen, row, col);
            char bytes[4];
            text.append(bytes, encode_cell(cell->ch ? cell->ch : ' ', bytes));
        }
        text.erase(text.find_last_not_of(' ') + 1);
        return text;
    }
    uint8_t attr(int32_t row, int32_t col) const { return cell_at(&screen, row, col)->attr; }
    std::string message_row() const { return row(screen.rows - 1); }

    static size_t encode_cell(uint32_t code, char* out);

    TestFolder folder{"editor"};
    String path;
    CellScreen screen;
    std::unique_ptr<CellEditor> editor;
};

inline size_t GridEditor::encode_cell(uint32_t code, char* out) {
    if (code < 0x80) {
        out[0] = static_cast<char>(code);
        return 1;
    }
    if (code < 0x800) {
        out[0] = static_cast<char>(0xC0 | code >> 6);
        out[1] = static_cast<char>(0x80 | (code & 0x3F));
        return 2;
    }
    out[0] = static_cast<char>(0xE0 | code >> 12);
    out[1] = static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out[2] = static_cast<char>(0x80 | (code & 0x3F));
    return 3;
}

using Lines = std::vector<std::string>;

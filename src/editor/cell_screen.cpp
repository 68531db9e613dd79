// The grid of a character-cell window and its drawing interface, the font
// and metrics, the key translation and the key ring. The window procedure
// and painting are in cell_window.cpp.
//
// User-interface thread only. Drawing writes cells only; pixels are made in
// WM_PAINT. Cells are written whenever the grid exists, so the editor's view
// can be built and read back without a window; invalidation needs one.
#include "editor/cell_screen.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>

#include "editor/cell_text.h"

#include "io/banned.h"

namespace {

// The editor's palette: 16 pairs, entry 2n the pair and 2n + 1 its bright
// variant; (foreground, background) as 0x00BBGGRR.
constexpr CellColour PALETTE[32] = {
    {0xC0C0C0, 0x000000}, {0xFFFFFF, 0x000000},  // attribute 0: text
    {0xC0C0C0, 0xC00000}, {0xFFFFFF, 0xC00000},  // 2, 3: help row and its highlighted letters
    {0x000000, 0xC0C000}, {0x000000, 0xC0C000},  // 4: selection
    {0xFFFF00, 0x000000}, {0xFFFF00, 0x000000},
    {0x00FF00, 0x000000}, {0x00FF00, 0x000000},
    {0xC08060, 0x000000}, {0xFFFFFF, 0x000000},
    {0xC0C0C0, 0x0000C0}, {0xFFFFFF, 0x0000C0},
    {0x00FFFF, 0x000000}, {0x00FFFF, 0x000000},
    {0x8080FF, 0x000000}, {0xFFFFFF, 0x000000},
    {0xFFC000, 0x000000}, {0xFFFF00, 0x000000},
    {0xC0C0FF, 0x000000}, {0xFFFFFF, 0x000000},
    {0x80FFC0, 0x000000}, {0xFFFFFF, 0x000000},
    {0x000000, 0xC0C000}, {0x000000, 0xC0C000},  // 24: messages and prompts
    {0xC0C0C0, 0x0000C0}, {0xFFFFFF, 0x0000C0},  // 26, 27: title row filler and text
    {0x00C0C0, 0x000000}, {0x00FFFF, 0x000000},
    {0x000000, 0x000000}, {0x000000, 0x000000},
};

void free_cells(CellScreen* screen) {
    std::free(screen->cells);
    screen->cells = nullptr;
}

void empty_key_queue(CellScreen* screen) {
    screen->key_count = 0;
    screen->key_start = 0;
    screen->pending_surrogate = 0;
}

}  // namespace

void fill_colour_table(CellScreen* screen) { std::memcpy(screen->colours, PALETTE, sizeof(PALETTE)); }

void attach_window(CellScreen* screen, HWND window) {
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(screen));
    screen->window = window;
    empty_key_queue(screen);
    free_cells(screen);
    SetTimer(window, CELL_BLINK_TIMER_ID, CELL_BLINK_MS, nullptr);
    create_font(screen);
    layout(screen);
    InvalidateRect(window, nullptr, FALSE);
}

void detach(CellScreen* screen) {
    if (screen->window) SetWindowLongPtrW(screen->window, GWLP_USERDATA, 0);
    screen->window = nullptr;
    empty_key_queue(screen);
    free_cells(screen);
    if (screen->font) DeleteObject(screen->font);
    screen->font = nullptr;
}

void create_font(CellScreen* screen) {
    if (!screen->font) {
        const int height = screen->font_height ? *screen->font_height : 16;
        screen->font = CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                                   CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, FF_MODERN, "Courier New");
    }
    screen->flags |= CELL_MEASURE;
    screen->cell_width = 8;
    screen->cell_height = 8;
    update_metrics(screen, nullptr);
}

void update_metrics(CellScreen* screen, HDC dc) {
    if (!screen->window || !(screen->flags & CELL_MEASURE)) return;
    screen->flags &= static_cast<uint8_t>(~CELL_MEASURE);
    const HDC target = dc ? dc : GetDC(screen->window);
    if (!target) return;
    const HGDIOBJ old_font = screen->font ? SelectObject(target, screen->font) : nullptr;
    TEXTMETRICA metrics{};
    if (GetTextMetricsA(target, &metrics) && metrics.tmHeight > 0 && metrics.tmAveCharWidth > 0) {
        screen->cell_height = metrics.tmHeight;
        screen->cell_width = metrics.tmAveCharWidth;
    }
    if (old_font) SelectObject(target, old_font);
    if (!dc) ReleaseDC(screen->window, target);
}

void set_grid_size(CellScreen* screen, int32_t rows, int32_t cols) {
    screen->rows = rows < 1 ? 1 : rows;
    screen->cols = cols < 1 ? 1 : cols;
    screen->cursor_row = 0;
    screen->cursor_col = 0;
    free_cells(screen);
    screen->cells = static_cast<Cell*>(std::calloc(static_cast<size_t>(screen->rows) * screen->cols, sizeof(Cell)));
}

void layout(CellScreen* screen) {
    update_metrics(screen, nullptr);
    RECT client{};
    if (screen->window) GetClientRect(screen->window, &client);
    const int32_t cell_width = screen->cell_width > 0 ? screen->cell_width : 8;
    const int32_t cell_height = screen->cell_height > 0 ? screen->cell_height : 8;
    set_grid_size(screen, client.bottom / cell_height, client.right / cell_width);
}

const Cell* cell_at(const CellScreen* screen, int32_t row, int32_t col) {
    if (!screen->cells || row < 0 || col < 0 || row >= screen->rows || col >= screen->cols) return nullptr;
    return &screen->cells[static_cast<size_t>(row) * screen->cols + col];
}

void invalidate_cells(CellScreen* screen, int32_t left, int32_t top, int32_t right, int32_t bottom) {
    update_metrics(screen, nullptr);
    if ((screen->flags & CELL_BATCH) || !screen->window) return;
    RECT area = {left * screen->cell_width, top * screen->cell_height, right * screen->cell_width,
                 bottom * screen->cell_height};
    // The margin right of the last column takes the colour of its row, so
    // it is painted again with the row's last cell.
    RECT client{};
    if (right >= screen->cols && GetClientRect(screen->window, &client)) {
        area.right = std::max(area.right, client.right);
    }
    InvalidateRect(screen->window, &area, FALSE);
}

void invalidate_all(CellScreen* screen) {
    if (screen->window) InvalidateRect(screen->window, nullptr, FALSE);
}

void move_to(CellScreen* screen, int32_t row, int32_t col, bool quiet) {
    invalidate_cells(screen, screen->cursor_col, screen->cursor_row, screen->cursor_col + 1, screen->cursor_row + 1);
    screen->cursor_row = row < 0 ? 0 : row;
    screen->cursor_col = col < 0 ? 0 : col;
    if (!quiet) {
        invalidate_cells(screen, screen->cursor_col, screen->cursor_row, screen->cursor_col + 1,
                         screen->cursor_row + 1);
    }
}

void add_text(CellScreen* screen, const char* text, int64_t max_bytes) {
    const int32_t row = screen->cursor_row;
    const int32_t first = screen->cursor_col;
    if (!screen->cells || max_bytes == 0 || row < 0 || row >= screen->rows || first < 0 || first >= screen->cols) {
        return;
    }
    const size_t length = max_bytes < 0 ? std::strlen(text) : static_cast<size_t>(max_bytes);
    Cell* line = screen->cells + static_cast<size_t>(row) * screen->cols;
    int32_t col = first;
    size_t offset = 0;
    while (offset < length && col < screen->cols) {
        uint32_t code;
        offset += decode_utf8_char(text + offset, length - offset, &code);
        line[col].ch = static_cast<uint16_t>(code);  // the low 16 bits, by design
        line[col].attr = screen->attr;
        ++col;
    }
    screen->cursor_col = col;
    if (col > first) invalidate_cells(screen, first, row, col, row + 1);
}

void clear_to_end_of_row(CellScreen* screen) {
    if (screen->cursor_col < 0) screen->cursor_col = 0;
    const int32_t row = screen->cursor_row;
    if (!screen->cells || row < 0 || row >= screen->rows || screen->cursor_col >= screen->cols) return;
    Cell* line = screen->cells + static_cast<size_t>(row) * screen->cols;
    for (int32_t col = screen->cursor_col; col < screen->cols; ++col) line[col] = Cell{0, screen->clear_attr};
    invalidate_cells(screen, screen->cursor_col, row, screen->cols, row + 1);
}

int translate_key(UINT message, WPARAM wparam, bool ctrl, bool alt) {
    if (message == WM_CHAR) return wparam >= 32 ? static_cast<int>(wparam & 0xFFFF) : KEY_NONE;
    if (message != WM_KEYDOWN) return KEY_NONE;
    const bool ctrl_only = ctrl && !alt;
    switch (wparam) {
    case VK_BACK: return KEY_BACKSPACE;
    case VK_TAB: return KEY_TAB;
    case VK_RETURN: return KEY_ENTER;
    case VK_ESCAPE: return KEY_ESCAPE;
    case VK_DOWN: return KEY_DOWN;
    case VK_UP: return KEY_UP;
    case VK_PRIOR: return KEY_PAGE_UP;
    case VK_NEXT: return KEY_PAGE_DOWN;
    case VK_RIGHT: return KEY_RIGHT;
    case VK_LEFT: return KEY_LEFT;
    case VK_HOME: return KEY_HOME;
    case VK_END: return KEY_END;
    case VK_INSERT: return KEY_INSERT;
    case VK_DELETE: return KEY_DELETE;
    case '[':
    case VK_OEM_4: return ctrl_only ? KEY_ESCAPE : KEY_NONE;
    case ']':
    case VK_OEM_6: return ctrl_only ? KEY_CTRL_RIGHT_BRACKET : KEY_NONE;
    default: break;
    }
    if (wparam >= VK_F1 && wparam <= VK_F12) return KEY_F1 + static_cast<int>(wparam - VK_F1);
    if (ctrl_only && wparam >= 'A' && wparam <= 'Z') return static_cast<int>(wparam) - 64;
    if (ctrl_only && wparam >= 97 && wparam <= 111) return static_cast<int>(wparam) - 96;
    return KEY_NONE;
}

void queue_key(CellScreen* screen, int code, uint8_t modifiers) {
    if (screen->key_count == KEY_RING_SIZE) {
        screen->key_start = static_cast<uint8_t>((screen->key_start + 1) % KEY_RING_SIZE);
        --screen->key_count;
    }
    const int slot = (screen->key_start + screen->key_count) % KEY_RING_SIZE;
    screen->key_ring[slot] = code;
    screen->key_modifiers[slot] = modifiers;
    ++screen->key_count;
}

int next_key(CellScreen* screen) {
    if (!screen->window) return KEY_NONE;
    screen->taken_modifiers = 0;
    if (screen->key_count > 0) {
        const int code = screen->key_ring[screen->key_start];
        screen->taken_modifiers = screen->key_modifiers[screen->key_start];
        screen->key_start = static_cast<uint8_t>((screen->key_start + 1) % KEY_RING_SIZE);
        --screen->key_count;
        return code;
    }
    if (screen->flags & CELL_REDRAW_PENDING) {
        screen->flags &= static_cast<uint8_t>(~CELL_REDRAW_PENDING);
        invalidate_all(screen);
        return KEY_REDRAW;
    }
    return KEY_NONE;
}

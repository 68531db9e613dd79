// The window class "VelmoraCellWindow": its procedure (keys into the ring,
// the caret blink, mouse cursor shapes, mouse messages to the editor) and
// its painting (runs of blank cells, glyphs, the caret bar, scroll bars and
// margins).
//
// User-interface thread only. The procedure finds its CellScreen in
// GWLP_USERDATA and leaves everything to DefWindowProcW without one.
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cwctype>

#include "editor/cell_screen.h"

#include "io/banned.h"

namespace {

constexpr COLORREF SCROLL_TRACK = 0x808080;
constexpr COLORREF SCROLL_THUMB = 0x606060;
constexpr int CARET_WIDTH = 2;
const LPCWSTR CURSOR_ARROW = MAKEINTRESOURCEW(32512);
const LPCWSTR CURSOR_IBEAM = MAKEINTRESOURCEW(32513);
const LPCWSTR CURSOR_SIZENS = MAKEINTRESOURCEW(32645);

UINT wheel_message = 0;  // the registered "MSWHEEL_ROLLMSG"; UINT_MAX when it failed
bool wheel_message_known = false;

CellScreen* screen_of(HWND window) { return reinterpret_cast<CellScreen*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }

bool is_split(const CellScreen* screen) {
    return screen->split_rows < screen->rows - screen->bottom_rows - screen->top_rows - 1;
}

int32_t pane_height(const CellScreen* screen, int pane) {
    if (pane == 0) return is_split(screen) ? screen->split_rows : screen->split_rows + 1;
    return screen->rows - screen->top_rows - screen->bottom_rows - screen->split_rows - 1;
}

int32_t pane_top(const CellScreen* screen, int pane) {
    return pane == 0 ? screen->top_rows : screen->top_rows + screen->split_rows + 1;
}

// The pane that shows grid row row, or -1 (title, divider and help rows).
int pane_of_row(const CellScreen* screen, int32_t row) {
    for (int pane = 0; pane < 2; ++pane) {
        const int32_t top = pane_top(screen, pane);
        if (row >= top && row < top + pane_height(screen, pane)) return pane;
    }
    return -1;
}

void fill(HDC dc, int left, int top, int right, int bottom, HBRUSH brush) {
    if (right <= left || bottom <= top) return;
    const RECT area = {left, top, right, bottom};
    FillRect(dc, &area, brush);
}

void fill_colour(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
    const HBRUSH brush = CreateSolidBrush(colour);
    fill(dc, left, top, right, bottom, brush);
    DeleteObject(brush);
}

bool is_glyph(uint16_t ch) { return ch >= 128 || (ch < 128 && std::iswgraph(ch)); }

// Paints the cells of one row from first to end (exclusive): blank runs as
// one fill each, glyphs one by one over their whole cell, the caret as its
// glyph and a bar.
struct RowPainter {
    HDC dc;
    const CellScreen* screen;
    HBRUSH* brushes;
    int last_attr = -1;
    bool caret_visible;

    void set_colours(uint8_t attr) {
        if (attr == last_attr) return;
        last_attr = attr;
        SetTextColor(dc, screen->colours[attr & 31].foreground);
        SetBkColor(dc, screen->colours[attr & 31].background);
    }

    void paint(int32_t row, int32_t first, int32_t end) {
        const int cw = screen->cell_width;
        const int ch = screen->cell_height;
        const Cell* cells = screen->cells + static_cast<size_t>(row) * screen->cols;
        int32_t run_start = -1;
        uint8_t run_attr = 0;
        auto flush = [&](int32_t col) {
            if (run_start >= 0) fill(dc, run_start * cw, row * ch, col * cw, (row + 1) * ch, brushes[run_attr & 31]);
            run_start = -1;
        };
        for (int32_t col = first; col < end; ++col) {
            const Cell cell = cells[col];
            const bool caret = caret_visible && row == screen->cursor_row && col == screen->cursor_col;
            if (!is_glyph(cell.ch) && !caret) {
                if (run_start >= 0 && run_attr != cell.attr) flush(col);
                if (run_start < 0) {
                    run_start = col;
                    run_attr = cell.attr;
                }
                continue;
            }
            flush(col);
            set_colours(cell.attr);
            const wchar_t unit = is_glyph(cell.ch) ? static_cast<wchar_t>(cell.ch) : L' ';
            // The whole cell takes the background, and the glyph stays inside
            // it: a font's glyphs may be narrower or wider than its average
            // width, which is the cell width.
            const RECT box = {col * cw, row * ch, (col + 1) * cw, (row + 1) * ch};
            const INT advance = cw;
            ExtTextOutW(dc, box.left, box.top, ETO_OPAQUE | ETO_CLIPPED, &box, &unit, 1, &advance);
            if (caret) {
                fill_colour(dc, col * cw, row * ch, col * cw + CARET_WIDTH, (row + 1) * ch,
                            screen->colours[cell.attr & 31].foreground);
            }
        }
        flush(end);
    }
};

void paint_scroll_bars(HDC dc, const CellScreen* screen, const RECT& paint) {
    const int cw = screen->cell_width;
    const int ch = screen->cell_height;
    for (int pane = 0; pane < 2; ++pane) {
        if (screen->bar_width[pane] <= 0) continue;
        const int left = (screen->cols - screen->bar_width[pane]) * cw;
        if (paint.right <= left) continue;
        const int top = pane_top(screen, pane) * ch;
        const int bottom = top + pane_height(screen, pane) * ch;
        const int thumb_top = top + screen->thumb_pos[pane];
        const int thumb_bottom = thumb_top + screen->thumb_size[pane];
        fill_colour(dc, left, top, paint.right, thumb_top, SCROLL_TRACK);
        fill_colour(dc, left, thumb_top, paint.right, thumb_bottom, SCROLL_THUMB);
        fill_colour(dc, left, thumb_bottom, paint.right, bottom, SCROLL_TRACK);
    }
}

void paint_right_margin(HDC dc, const CellScreen* screen, const RECT& paint, int32_t row0, int32_t row1,
                        HBRUSH* brushes) {
    const int cw = screen->cell_width;
    const int ch = screen->cell_height;
    const int left = (screen->cols - 1) * cw;
    if (paint.right <= left) return;
    for (int32_t row = row0; row < row1; ++row) {
        const int pane = pane_of_row(screen, row);
        if (pane >= 0 && screen->bar_width[pane] > 0) continue;
        const uint8_t attr =
            pane >= 0 ? 0 : screen->cells[static_cast<size_t>(row) * screen->cols + screen->cols - 1].attr;
        fill(dc, left, row * ch, paint.right, (row + 1) * ch, brushes[attr & 31]);
    }
}

void on_paint(HWND window, CellScreen* screen) {
    PAINTSTRUCT ps;
    const HDC dc = BeginPaint(window, &ps);
    if (!dc) return;
    RECT client{};
    GetClientRect(window, &client);
    update_metrics(screen, dc);
    if (screen->cell_width <= 0 || screen->cell_height <= 0) {
        EndPaint(window, &ps);
        return;
    }
    compute_scroll_bars(screen, client.right);
    const HGDIOBJ old_font = screen->font ? SelectObject(dc, screen->font) : nullptr;
    SetTextAlign(dc, 0);
    const RECT& paint = ps.rcPaint;
    const int cw = screen->cell_width;
    const int ch = screen->cell_height;
    const int32_t row0 = paint.top / ch;
    const int32_t row1 = std::min<int32_t>(screen->rows, (paint.bottom + ch - 1) / ch);
    const int32_t col0 = paint.left / cw;
    const int32_t col1 = std::min<int32_t>(screen->cols, (paint.right + cw - 1) / cw);
    HBRUSH brushes[32];
    for (int i = 0; i < 32; ++i) brushes[i] = CreateSolidBrush(screen->colours[i].background);

    bool caret_visible = screen->blink_phase != 0;
    if (screen->cursor_col != screen->painted_col || screen->cursor_row != screen->painted_row) {
        screen->painted_col = screen->cursor_col;
        screen->painted_row = screen->cursor_row;
        screen->blink_phase = 0;
        caret_visible = true;
    }

    if (screen->cells) {
        RowPainter painter{dc, screen, brushes, -1, caret_visible};
        for (int32_t row = row0; row < row1; ++row) {
            int32_t end = col1;
            const int pane = pane_of_row(screen, row);
            if (pane >= 0) end = std::min(end, screen->cols - screen->bar_width[pane]);
            painter.paint(row, col0, end);
        }
        paint_scroll_bars(dc, screen, paint);
        paint_right_margin(dc, screen, paint, row0, row1, brushes);
    } else {
        fill(dc, paint.left, paint.top, paint.right, paint.bottom, brushes[0]);
    }
    fill(dc, paint.left, screen->rows * ch, paint.right, paint.bottom, brushes[ATTR_HELP]);

    for (HBRUSH brush : brushes) DeleteObject(brush);
    if (old_font) SelectObject(dc, old_font);
    EndPaint(window, &ps);
}

void on_blink(HWND window, CellScreen* screen) {
    const bool was_visible = screen->blink_phase != 0;
    screen->blink_phase = static_cast<uint8_t>((screen->blink_phase + 1) % 3);
    if (screen->blink_phase == 0 && GetFocus() != window) screen->blink_phase = 1;
    if (was_visible != (screen->blink_phase != 0)) {
        invalidate_cells(screen, screen->cursor_col, screen->cursor_row, screen->cursor_col + 1,
                         screen->cursor_row + 1);
    }
}

LRESULT on_set_cursor(HWND window, const CellScreen* screen) {
    if (screen->cell_width <= 0 || screen->cell_height <= 0) return 0;
    POINT point{};
    GetCursorPos(&point);
    ScreenToClient(window, &point);
    const int32_t row = point.y / screen->cell_height;
    const int32_t col = point.x / screen->cell_width;
    LPCWSTR shape = CURSOR_IBEAM;
    const int pane = pane_of_row(screen, row);
    if (is_split(screen) && row == screen->top_rows + screen->split_rows) {
        shape = CURSOR_SIZENS;
    } else if (row == 0 || row == screen->rows - 1 ||
               (pane >= 0 && screen->bar_width[pane] > 0 && col >= screen->cols - screen->bar_width[pane])) {
        shape = CURSOR_ARROW;
    }
    SetCursor(LoadCursorW(nullptr, shape));
    return 1;
}

// Keys are handled on the host's next tick, when the modifier keys may
// long be up (a quick chord, or a thread that stalled): each key keeps the
// state that belongs to its message, which GetKeyState reads here.
void on_key_message(CellScreen* screen, UINT message, WPARAM wparam) {
    const bool shift = GetKeyState(VK_SHIFT) < 0;
    const bool ctrl = GetKeyState(VK_CONTROL) < 0;
    const bool alt = GetKeyState(VK_MENU) < 0;
    const auto modifiers =
        static_cast<uint8_t>((shift ? KEY_WITH_SHIFT : 0) | (ctrl ? KEY_WITH_CTRL : 0) | (alt ? KEY_WITH_ALT : 0));
    if (message == WM_CHAR) {
        const wchar_t unit = static_cast<wchar_t>(wparam);
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            screen->pending_surrogate = unit;
            return;
        }
        if (unit >= 0xDC00 && unit <= 0xDFFF && screen->pending_surrogate) {
            const int code = 0x10000 + ((screen->pending_surrogate - 0xD800) << 10) + (unit - 0xDC00);
            screen->pending_surrogate = 0;
            queue_key(screen, code, modifiers);
            return;
        }
        screen->pending_surrogate = 0;
    }
    const int code = translate_key(message, wparam, ctrl, alt);
    if (code != KEY_NONE) queue_key(screen, code, modifiers);
}

}  // namespace

void compute_scroll_bars(CellScreen* screen, int client_width) {
    const int ch = screen->cell_height;
    for (int pane = 0; pane < 2; ++pane) {
        screen->bar_width[pane] = 0;
        screen->thumb_pos[pane] = 0;
        screen->thumb_size[pane] = 0;
        const int64_t h = pane_height(screen, pane);
        const int64_t lines = screen->line_count;
        if (screen->scrollbar_cells <= 0 || h <= 0 || h >= lines || ch <= 0 || screen->cell_width <= 0) continue;
        const double leftover = static_cast<double>(client_width) / screen->cell_width - screen->cols;
        screen->bar_width[pane] = screen->scrollbar_cells + (leftover < 0.5 ? 1 : 0);
        const int64_t track = h * ch;
        int64_t size = h * h * ch / lines;
        if (size < ch) size = ch;
        int64_t pos = (track - size) * screen->pane_scroll[pane] / (lines - h);
        if (pos > track - size) pos = track - size;
        if (pos < 0) pos = 0;
        screen->thumb_size[pane] = static_cast<int32_t>(size);  // at most the track, a few thousand pixels
        screen->thumb_pos[pane] = static_cast<int32_t>(pos);
    }
}

void register_cell_window_class(HINSTANCE instance) {
    static int calls = 0;
    if (calls++ > 0) return;
    WNDCLASSW window_class{};
    window_class.style = CS_DBLCLKS;
    window_class.lpfnWndProc = cell_window_procedure;
    window_class.hInstance = instance ? instance : GetModuleHandleW(nullptr);
    window_class.hCursor = LoadCursorW(nullptr, CURSOR_ARROW);
    window_class.lpszClassName = CELL_WINDOW_CLASS;
    RegisterClassW(&window_class);
}

LRESULT CALLBACK cell_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (!wheel_message_known) {
        wheel_message_known = true;
        wheel_message = RegisterWindowMessageA("MSWHEEL_ROLLMSG");
        if (wheel_message == 0) wheel_message = UINT_MAX;
    }
    if (message == wheel_message) {
        message = WM_MOUSEWHEEL;
        wparam <<= 16;
    }
    CellScreen* screen = screen_of(window);
    if (!screen) return DefWindowProcW(window, message, wparam, lparam);
    switch (message) {
    case WM_CREATE:
        screen->window = window;
        SetTimer(window, CELL_BLINK_TIMER_ID, CELL_BLINK_MS, nullptr);
        return 0;
    case WM_DESTROY:
        screen->window = nullptr;
        return 0;
    case WM_SIZE:
        if (wparam == SIZE_MINIMIZED) return 0;
        layout(screen);
        if (screen->resize_handler) screen->resize_handler(screen);
        else screen->flags |= CELL_REDRAW_PENDING;
        return 0;
    case WM_GETMINMAXINFO:
        reinterpret_cast<MINMAXINFO*>(lparam)->ptMinTrackSize = POINT{160, 120};
        return 0;
    case WM_GETDLGCODE: return GetParent(window) ? DLGC_WANTALLKEYS : 0;
    case WM_ERASEBKGND: return 1;
    case WM_KEYUP: return 0;
    case WM_KEYDOWN:
    case WM_CHAR: on_key_message(screen, message, wparam); return 0;
    case WM_TIMER:
        if (wparam == CELL_BLINK_TIMER_ID) on_blink(window, screen);
        return 0;
    case WM_SETCURSOR: return on_set_cursor(window, screen);
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN: SetFocus(window); [[fallthrough]];
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDBLCLK:
    case WM_MOUSEWHEEL:
    case WM_CAPTURECHANGED:
        return screen->mouse_handler ? screen->mouse_handler(screen->owner, window, message, wparam, lparam) : 0;
    case WM_PAINT: on_paint(window, screen); return 0;
    default: return DefWindowProcW(window, message, wparam, lparam);
    }
}

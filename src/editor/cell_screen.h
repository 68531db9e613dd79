// The character-cell window: a grid of fixed-width cells (a 16-bit character
// and an attribute byte each) shown in a child window of the class
// "VelmoraCellWindow". The editor writes into the grid through a small
// cursor-addressed drawing interface; the window paints the grid, blinks the
// caret, draws one scroll bar per editor pane, turns keyboard messages into
// editor key codes queued in a ring of 64, and hands mouse messages on.
//
// User-interface thread only. One CellScreen per control, owned statically by
// its host and bound to the window through GWLP_USERDATA; a window without
// one leaves every message to DefWindowProcW. Invariant: cells is null or
// holds rows x cols cells; rows and cols are at least 1.
#pragma once

#include <windows.h>

#include <cstdint>

struct CellScreen;

constexpr wchar_t CELL_WINDOW_CLASS[] = L"VelmoraCellWindow";
constexpr UINT_PTR CELL_BLINK_TIMER_ID = 2;
constexpr UINT CELL_BLINK_MS = 400;
constexpr int KEY_RING_SIZE = 64;

// Editor key codes beyond the characters (Ctrl+letter is 1 to 26).
constexpr int KEY_NONE = -1;
constexpr int KEY_BACKSPACE = 8;
constexpr int KEY_TAB = 9;
constexpr int KEY_ENTER = 13;
constexpr int KEY_REDRAW = 12;
constexpr int KEY_ESCAPE = 27;
constexpr int KEY_CTRL_RIGHT_BRACKET = 29;  // Ctrl+]
constexpr int KEY_DOWN = 4096;
constexpr int KEY_UP = 4097;
constexpr int KEY_PAGE_UP = 4098;
constexpr int KEY_PAGE_DOWN = 4099;
constexpr int KEY_RIGHT = 4100;
constexpr int KEY_LEFT = 4101;
constexpr int KEY_HOME = 4102;
constexpr int KEY_END = 4103;
constexpr int KEY_INSERT = 4104;
constexpr int KEY_DELETE = 4105;
constexpr int KEY_F1 = 4106;
constexpr int KEY_F12 = 4117;

// Ctrl+letter, as the key codes 1 to 26 (Ctrl+H, Ctrl+I, Ctrl+L, Ctrl+M and
// Ctrl+[ arrive as Backspace, Tab, the redraw, Enter and Escape).
constexpr int ctrl_key(char letter) { return letter - 'A' + 1; }
constexpr int CTRL_A = ctrl_key('A'), CTRL_C = ctrl_key('C'), CTRL_D = ctrl_key('D'), CTRL_F = ctrl_key('F'),
              CTRL_G = ctrl_key('G'), CTRL_J = ctrl_key('J'), CTRL_K = ctrl_key('K'), CTRL_N = ctrl_key('N'),
              CTRL_O = ctrl_key('O'), CTRL_P = ctrl_key('P'), CTRL_Q = ctrl_key('Q'), CTRL_R = ctrl_key('R'),
              CTRL_S = ctrl_key('S'), CTRL_T = ctrl_key('T'), CTRL_U = ctrl_key('U'), CTRL_V = ctrl_key('V'),
              CTRL_W = ctrl_key('W'), CTRL_X = ctrl_key('X'), CTRL_Y = ctrl_key('Y'), CTRL_Z = ctrl_key('Z');

// The modifier keys held when a key's message arrived, stored with the key.
constexpr uint8_t KEY_WITH_SHIFT = 1;
constexpr uint8_t KEY_WITH_CTRL = 2;
constexpr uint8_t KEY_WITH_ALT = 4;

// Bits of CellScreen::flags.
constexpr uint8_t CELL_REDRAW_PENDING = 1;
constexpr uint8_t CELL_MEASURE = 2;
constexpr uint8_t CELL_BATCH = 4;

// Attributes the editor writes.
constexpr uint8_t ATTR_TEXT = 0;
constexpr uint8_t ATTR_HELP = 2;
constexpr uint8_t ATTR_HELP_KEY = 3;
constexpr uint8_t ATTR_SELECTED = 4;
constexpr uint8_t ATTR_MESSAGE = 24;
constexpr uint8_t ATTR_TITLE_FILL = 26;
constexpr uint8_t ATTR_TITLE = 27;

struct Cell {
    uint16_t ch;  // 0 is blank
    uint8_t attr;
};

struct CellColour {
    COLORREF foreground;
    COLORREF background;
};

using CellResizeHandler = void (*)(CellScreen* screen);
using CellMouseHandler = LRESULT (*)(void* owner, HWND window, UINT message, WPARAM wparam, LPARAM lparam);

struct CellScreen {
    HWND window = nullptr;
    int32_t rows = 1, cols = 1;
    int32_t scrollbar_cells = 0;
    int32_t top_rows = 0, bottom_rows = 0;
    int32_t bar_width[2] = {};
    int32_t pane_scroll[2] = {};
    int32_t split_rows = 0;
    int32_t line_count = 0;
    int32_t thumb_pos[2] = {}, thumb_size[2] = {};
    int32_t cursor_col = 0, cursor_row = 0;
    int32_t painted_col = 0, painted_row = 0;
    Cell* cells = nullptr;  // owned, rows x cols, row-major
    HFONT font = nullptr;   // owned
    const int32_t* font_height = nullptr;
    int32_t cell_width = 0, cell_height = 0;
    CellColour colours[32] = {};
    int32_t key_ring[KEY_RING_SIZE] = {};
    // The KEY_WITH_ bits of each queued key, beside its code in key_ring.
    uint8_t key_modifiers[KEY_RING_SIZE] = {};
    uint8_t key_count = 0, key_start = 0;
    // The KEY_WITH_ bits of the key that next_key returned last (none for
    // the redraw code it makes itself).
    uint8_t taken_modifiers = 0;
    uint8_t flags = 0;
    uint8_t blink_phase = 0;
    uint8_t attr = 0;
    uint8_t clear_attr = 0;
    CellResizeHandler resize_handler = nullptr;
    void* owner = nullptr;
    CellMouseHandler mouse_handler = nullptr;
    // A high surrogate from WM_CHAR waiting for its low half; 0 when none.
    wchar_t pending_surrogate = 0;
};

// Registers the window class once per process (later calls do nothing).
// instance null means the executable's module.
void register_cell_window_class(HINSTANCE instance);

// Binds screen to its control: GWLP_USERDATA, key queue emptied, blink
// timer, font, grid and a full invalidation.
void attach_window(CellScreen* screen, HWND window);
// Unbinds the control and frees the cells and the font.
void detach(CellScreen* screen);
void create_font(CellScreen* screen);
// Measures the font again when CELL_MEASURE is set; dc may be null.
void update_metrics(CellScreen* screen, HDC dc);
// Recomputes the grid from the client size; the cells become blank.
void layout(CellScreen* screen);
// Allocates a blank rows x cols grid (each at least 1). layout() does this
// from the window; a test may call it for a screen without one.
void set_grid_size(CellScreen* screen, int32_t rows, int32_t cols);
// Fills the 32 colour entries with the editor's palette.
void fill_colour_table(CellScreen* screen);

// Drawing interface. Each writes cells only inside the grid and invalidates
// what it touched (unless CELL_BATCH is set or there is no window).
void invalidate_cells(CellScreen* screen, int32_t left, int32_t top, int32_t right, int32_t bottom);
void invalidate_all(CellScreen* screen);
void move_to(CellScreen* screen, int32_t row, int32_t col, bool quiet);
// Writes text from the drawing position with attr and advances. max_bytes
// -1: up to the terminating zero; above 0: exactly that many bytes (zero
// bytes show blank), 0: nothing. Stops at the right edge.
void add_text(CellScreen* screen, const char* text, int64_t max_bytes);
void clear_to_end_of_row(CellScreen* screen);
// The cell at (row, col), or null outside the grid or without cells.
const Cell* cell_at(const CellScreen* screen, int32_t row, int32_t col);

// The key code of a WM_KEYDOWN or WM_CHAR with the given modifier state, or
// KEY_NONE. Characters come from WM_CHAR as UTF-16 units.
int translate_key(UINT message, WPARAM wparam, bool ctrl, bool alt);
// Appends a key code with the modifiers (KEY_WITH_ bits) that were held when
// its message arrived, dropping the oldest key when 64 are queued.
void queue_key(CellScreen* screen, int code, uint8_t modifiers);
// The oldest queued key, its modifiers left in taken_modifiers; KEY_REDRAW
// once when a full redraw is pending and the queue is empty; else KEY_NONE
// (always without a window).
int next_key(CellScreen* screen);

// Scroll-bar geometry of both panes for the current grid and client width,
// stored in bar_width, thumb_pos and thumb_size. Done at every paint.
void compute_scroll_bars(CellScreen* screen, int client_width);

LRESULT CALLBACK cell_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

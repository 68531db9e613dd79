// Anchor layout of a dialog's child controls: each control has four anchors
// saying which fraction of the dialog's growth moves each of its edges.
// With per-monitor DPI awareness a layout made at one DPI is applied at
// another. One layout per dialog for the whole process, re-initialised at
// each opening. User-interface thread only.
#pragma once

#include <windows.h>

#include <vector>

struct LayoutAnchors {
    float left, top, right, bottom;
};

class WindowLayout {
public:
    // From the dialog's WM_INITDIALOG, before it is positioned.
    void init(HWND dialog);
    void add(HWND control, float left, float top, float right, float bottom);
    // From the dialog's WM_SIZE unless minimized.
    void relayout();

    int scale() const { return scale_; }
    HWND dialog() const { return dialog_; }

private:
    struct Item {
        HWND control;
        RECT registered;
        RECT current;
        LayoutAnchors anchors;
    };
    int scale_ = 256;
    HWND dialog_ = nullptr;
    SIZE initial_{0, 0};
    std::vector<Item> items_;
};

// The DPI scale of a window in 1/256 units (256 = 96 DPI), or 0 when the
// process is not per-monitor DPI aware; 256 for no window.
int window_dpi_scale(HWND window);

// The edge of a registered rectangle after growth dx, dy: an anchor of 1 or
// more takes the whole growth, one above 0 the truncated share, else none;
// right never left of left, bottom never above top.
RECT anchored_rect(const RECT& registered, const LayoutAnchors& anchors, int dx, int dy);

// Where a window opens: its top-left corner as recorded in velmora.ini under
// NAME_wnd_x and NAME_wnd_y, or x and y when they are absent. Its size is
// width by height, also recorded (NAME_wnd_w, NAME_wnd_h) when size_recorded;
// a width of 0 keeps the dialog template's size.
struct WindowPlace {
    int x, y;
    int width = 0, height = 0;
    bool size_recorded = false;
};
// The place recorded for name, with place's own values where a key is
// absent (the size is read only when size_recorded).
WindowPlace recorded_place(const char* name, const WindowPlace& place);
// Moves window to place, and sizes it there unless its width is 0.
void apply_place(HWND window, const WindowPlace& place);
// Moves (and sizes) window to its recorded place, from its WM_INITDIALOG.
void restore_position(HWND window, const char* name, const WindowPlace& place);
// From the WM_GETMINMAXINFO of a window with a sizing border that was given
// place: lets it be as large as place. The system otherwise cuts every size
// it is given to the screen it reports (width or height plus the frame),
// while recorded places are applied as they are, whatever the screens.
void admit_place(MINMAXINFO* info, const WindowPlace& place);
// Records where window is (its size too when size_recorded), from its
// WM_DESTROY.
void save_position(HWND window, const char* name, bool size_recorded = false);

// The close of a modeless window: Escape (IDCANCEL) and the caption's close
// box destroy it. True when message was one of the two (handled).
bool close_on_cancel(HWND window, UINT message, WPARAM wparam);

#include "graphics/window_layout.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>

#include "io/window_store.h"

#include "io/banned.h"

namespace {

using GetContextFn = HANDLE(WINAPI*)();
using ContextsEqualFn = BOOL(WINAPI*)(HANDLE, HANDLE);
using GetDpiFn = UINT(WINAPI*)(HWND);

GetDpiFn dpi_for_window = nullptr;
bool dpi_looked_up = false;

int edge_shift(float anchor, int growth) {
    if (anchor >= 1.0f) return growth;
    if (anchor <= 0.0f) return 0;
    const double share = static_cast<double>(growth) * anchor;
    if (share > INT_MAX || share < INT_MIN) return INT_MIN;
    return static_cast<int>(std::trunc(share));
}

int convert(int value, int to, int from) { return static_cast<int>(static_cast<int64_t>(value) * to / from); }

}  // namespace

int window_dpi_scale(HWND window) {
    if (!dpi_looked_up) {
        dpi_looked_up = true;
        const HMODULE user32 = GetModuleHandleA("user32.dll");
        const auto get_context =
            user32 ? reinterpret_cast<GetContextFn>(GetProcAddress(user32, "GetThreadDpiAwarenessContext")) : nullptr;
        const auto equal =
            user32 ? reinterpret_cast<ContextsEqualFn>(GetProcAddress(user32, "AreDpiAwarenessContextsEqual")) : nullptr;
        const HANDLE per_monitor_v2 = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-4));
        if (get_context && equal && equal(get_context(), per_monitor_v2)) {
            dpi_for_window = reinterpret_cast<GetDpiFn>(GetProcAddress(user32, "GetDpiForWindow"));
        }
    }
    if (!dpi_for_window) return 0;
    if (!window) return 256;
    return static_cast<int>(dpi_for_window(window) * 256 / 96);
}

RECT anchored_rect(const RECT& registered, const LayoutAnchors& anchors, int dx, int dy) {
    RECT r = registered;
    r.left += edge_shift(anchors.left, dx);
    r.top += edge_shift(anchors.top, dy);
    r.right += edge_shift(anchors.right, dx);
    r.bottom += edge_shift(anchors.bottom, dy);
    if (r.right < r.left) r.right = r.left;
    if (r.bottom < r.top) r.bottom = r.top;
    return r;
}

void WindowLayout::init(HWND dialog) {
    dialog_ = dialog;
    RECT client{};
    GetClientRect(dialog, &client);
    initial_ = {client.right - client.left, client.bottom - client.top};
    if (scale_ > 0) scale_ = window_dpi_scale(dialog);
    items_.clear();
}

void WindowLayout::add(HWND control, float left, float top, float right, float bottom) {
    RECT rect{};
    if (control) {
        GetWindowRect(control, &rect);
        MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&rect), 2);
    }
    items_.push_back({control, rect, rect, {left, top, right, bottom}});
}

void WindowLayout::relayout() {
    if (!dialog_) return;
    const int current = scale_ >= 1 ? window_dpi_scale(dialog_) : 0;
    RECT client{};
    GetClientRect(dialog_, &client);
    const HRGN exposed = CreateRectRgnIndirect(&client);
    RECT converted = client;
    if (current > 0 && current != scale_) {
        converted = {convert(client.left, scale_, current), convert(client.top, scale_, current),
                     convert(client.right, scale_, current), convert(client.bottom, scale_, current)};
    }
    const int dx = converted.right - initial_.cx;
    const int dy = converted.bottom - initial_.cy;

    HDWP batch = nullptr;
    bool batching = true;
    for (size_t i = 0; i < items_.size(); ++i) {
        Item& item = items_[i];
        if (!item.control) continue;
        RECT r = anchored_rect(item.registered, item.anchors, dx, dy);
        item.current = r;
        if (scale_ > 0 && scale_ != current && current > 0) {
            r = {convert(r.left, current, scale_), convert(r.top, current, scale_), convert(r.right, current, scale_),
                 convert(r.bottom, current, scale_)};
        }
        const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
        if (batching && !batch) {
            batch = BeginDeferWindowPos(static_cast<int>(items_.size() - i));
            batching = batch != nullptr;
        }
        if (batching) {
            const HDWP next = DeferWindowPos(batch, item.control, nullptr, r.left, r.top, r.right - r.left,
                                             r.bottom - r.top, flags);
            if (next) {
                batch = next;
                continue;
            }
            batching = false;
            batch = nullptr;  // a failed addition has freed the batch
        }
        SetWindowPos(item.control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, flags);
    }
    if (batch) EndDeferWindowPos(batch);

    // Repaint only what no visible child covers.
    for (HWND child = GetWindow(dialog_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child)) continue;
        RECT rect{};
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&rect), 2);
        const HRGN covered = CreateRectRgnIndirect(&rect);
        const int kind = CombineRgn(exposed, exposed, covered, RGN_DIFF);
        DeleteObject(covered);
        if (kind == NULLREGION || kind == ERROR) break;
    }
    InvalidateRgn(dialog_, exposed, FALSE);
    DeleteObject(exposed);
}

namespace {

int read_place(const char* name, const char* field, int default_value) {
    return read_ini_int((std::string(name) + "_wnd_" + field).c_str(), default_value);
}

void write_place(const char* name, const char* field, int value) {
    write_ini_int((std::string(name) + "_wnd_" + field).c_str(), value);
}

}  // namespace

WindowPlace recorded_place(const char* name, const WindowPlace& place) {
    WindowPlace recorded = place;
    recorded.x = read_place(name, "x", place.x);
    recorded.y = read_place(name, "y", place.y);
    if (place.size_recorded) {
        recorded.width = read_place(name, "w", place.width);
        recorded.height = read_place(name, "h", place.height);
    }
    return recorded;
}

void apply_place(HWND window, const WindowPlace& place) {
    const UINT keep_size = place.width > 0 ? 0 : SWP_NOSIZE;
    SetWindowPos(window, nullptr, place.x, place.y, place.width, place.height,
                 keep_size | SWP_NOACTIVATE | SWP_NOZORDER);
}

void restore_position(HWND window, const char* name, const WindowPlace& place) {
    apply_place(window, recorded_place(name, place));
}

void admit_place(MINMAXINFO* info, const WindowPlace& place) {
    info->ptMaxTrackSize.x = std::max<LONG>(info->ptMaxTrackSize.x, place.width);
    info->ptMaxTrackSize.y = std::max<LONG>(info->ptMaxTrackSize.y, place.height);
}

void save_position(HWND window, const char* name, bool size_recorded) {
    RECT r{};
    GetWindowRect(window, &r);
    write_place(name, "x", r.left);
    write_place(name, "y", r.top);
    if (!size_recorded) return;
    write_place(name, "w", r.right - r.left);
    write_place(name, "h", r.bottom - r.top);
}

bool close_on_cancel(HWND window, UINT message, WPARAM wparam) {
    const bool closing = (message == WM_COMMAND && LOWORD(wparam) == IDCANCEL) ||
                         (message == WM_SYSCOMMAND && (wparam & 0xFFF0) == SC_CLOSE);
    if (closing) DestroyWindow(window);
    return closing;
}

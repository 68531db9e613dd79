#include "prefs/preferences_window.h"

#include <cstdio>
#include <memory>

#include "graphics/picture.h"
#include "io/platform.h"
#include "prefs/preferences.h"
#include "graphics/window_layout.h"
#include "resources/resource_ids.h"
#include "io/banned.h"

HWND preferences_window = nullptr;

namespace {

constexpr UINT_PTR EDITOR_TICK_TIMER_ID = 100;

struct PreferencesWindowState {
    CellScreen left_screen;
    CellScreen right_screen;
    std::unique_ptr<DefaultPaneEditor> left;
    std::unique_ptr<UserPaneEditor> right;
    WindowLayout layout;
    bool laid_out = false;
    // Where the window was opened, which its size limits must admit.
    WindowPlace place{};
};
PreferencesWindowState prefs_window;

void load_pane(CellEditor& editor, const char* file_name) {
    load_pane_file(editor, concat(preferences_state->data_folder.c_str(), file_name).c_str());
}

void on_init_dialog(HWND window) {
    preferences_window = window;
    attach_window(&prefs_window.left_screen, GetDlgItem(window, IDC_PREFERENCES_DEFAULTS));
    attach_window(&prefs_window.right_screen, GetDlgItem(window, IDC_PREFERENCES_USER));
    prefs_window.layout.init(window);
    prefs_window.layout.add(GetDlgItem(window, IDC_PREFERENCES_DEFAULTS), 0, 0, 0.5f, 1);
    prefs_window.layout.add(GetDlgItem(window, IDC_PREFERENCES_USER), 0.5f, 0, 1, 1);
    prefs_window.laid_out = true;
    prefs_window.place = recorded_place("preferences", {0, 50, 1120, 720, true});
    apply_place(window, prefs_window.place);
    prefs_window.left->host = window;
    prefs_window.right->host = window;
    load_pane(*prefs_window.left, PREFERENCES_DEFAULT_FILE);
    load_pane(*prefs_window.right, PREFERENCES_USER_FILE);
    SetTimer(window, EDITOR_TICK_TIMER_ID, HOST_TICK_MS, nullptr);
    SetFocus(GetDlgItem(window, pref_curses_right_focus() ? IDC_PREFERENCES_USER : IDC_PREFERENCES_DEFAULTS));
}

void on_destroy(HWND window) {
    prefs_window.left->clear_document();
    prefs_window.right->clear_document();
    KillTimer(window, EDITOR_TICK_TIMER_ID);
    save_position(window, "preferences", true);
    prefs_window.laid_out = false;
    prefs_window.place = WindowPlace{};
    preferences_window = nullptr;
}

void on_paint(HWND window) {
    // Only the narrow gap between the panes shows the background: the dark
    // grey of the editor's frame.
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(window, &paint);
    paint_dialog_background(window, dc, 0xFF303030);
    EndPaint(window, &paint);
}

void switch_pane(HWND window) {
    const HWND left = GetDlgItem(window, IDC_PREFERENCES_DEFAULTS);
    SetFocus(GetFocus() == left ? GetDlgItem(window, IDC_PREFERENCES_USER) : left);
}

}  // namespace

void create_preferences_editors(void (*relaunch)()) {
    prefs_window.left = std::make_unique<DefaultPaneEditor>(&prefs_window.left_screen);
    prefs_window.right = std::make_unique<UserPaneEditor>(&prefs_window.right_screen);
    prefs_window.right->relaunch = relaunch;
}

void destroy_preferences_editors() {
    prefs_window.left.reset();
    prefs_window.right.reset();
}

DefaultPaneEditor* preferences_default_editor() { return prefs_window.left.get(); }
UserPaneEditor* preferences_user_editor() { return prefs_window.right.get(); }

void open_preferences_externally(HWND owner) {
    const String path = concat(preferences_state->data_folder.c_str(), PREFERENCES_USER_FILE);
    shell_execute(owner, "", "notepad.exe", path.c_str(), SW_SHOWNORMAL);
}

INT_PTR CALLBACK preferences_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (close_on_cancel(window, message, wparam)) return 0;
    switch (message) {
    case WM_INITDIALOG: on_init_dialog(window); break;
    case WM_DESTROY: on_destroy(window); break;
    case WM_SIZE:
        if (wparam != SIZE_MINIMIZED && prefs_window.laid_out) prefs_window.layout.relayout();
        break;
    case WM_GETMINMAXINFO: admit_place(reinterpret_cast<MINMAXINFO*>(lparam), prefs_window.place); break;
    case WM_PAINT: on_paint(window); break;
    case WM_TIMER:
        if (wparam == EDITOR_TICK_TIMER_ID) {
            host_tick(prefs_window.left.get());
            if (preferences_window) host_tick(prefs_window.right.get());
        }
        break;
    case WM_PREFS_SWITCH_PANE: switch_pane(window); break;
    default: break;
    }
    return 0;
}

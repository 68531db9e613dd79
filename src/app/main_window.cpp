// The main window: a small dialog whose whole interface is its menu bar, and
// the keyboard shortcuts that produce its commands. User-interface thread only.
#include <windows.h>

#include <cstdio>

#include "app/build_info.h"
#include "app/shell.h"
#include "io/platform.h"
#include "resources/resource_ids.h"
#include "io/banned.h"

namespace {

// The message being handled, recorded by the procedure for its handlers.
struct CurrentMessage {
    HWND window;
    UINT id;
    WPARAM wparam;
    LPARAM lparam;
};
CurrentMessage current;

HMENU main_menu = nullptr;

void on_init_dialog() {
    shell.main_window = current.window;
    set_window_text(current.window, "Velmora");
    main_menu = LoadMenuA(shell.instance, MAKEINTRESOURCEA(IDM_MAIN));
    SetMenu(current.window, main_menu);
    SetWindowPos(current.window, nullptr, 50, 50, 450, 50, SWP_NOACTIVATE | SWP_NOZORDER);
    ShowWindow(current.window, SW_SHOWNORMAL);
}

void on_destroy() {
    PostQuitMessage(0);
    shell.main_window = nullptr;
}

void show_version() {
    char text[256];
    std::snprintf(text, sizeof(text), "Velmora version: %s (x64)\n\nBuild timestamp: %s\nGit commit: %s", BUILD_VERSION,
                  BUILD_TIMESTAMP, BUILD_REVISION);
    message_box(current.window, text, "Version details");
}

void on_command() {
    switch (LOWORD(current.wparam)) {
    case CMD_EXIT: DestroyWindow(current.window); break;
    case CMD_VERSION: show_version(); break;
    default: break;
    }
}

void on_sys_command() {
    if (current.wparam == SC_CLOSE) SendMessageA(current.window, WM_COMMAND, CMD_EXIT, 0);
}

bool key_down(int virtual_key) { return (GetAsyncKeyState(virtual_key) & 0x8000) != 0; }

}  // namespace

INT_PTR CALLBACK main_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    current = {window, message, wparam, lparam};
    switch (message) {
    case WM_INITDIALOG: on_init_dialog(); break;
    case WM_DESTROY: on_destroy(); break;
    case WM_COMMAND: on_command(); break;
    case WM_SYSCOMMAND: on_sys_command(); break;
    default: break;
    }
    return 0;
}

int shortcut_command(WPARAM key, bool ctrl, bool shift, bool alt, bool first_press) {
    const bool ctrl_only = ctrl && !shift && !alt;
    if (first_press && ctrl_only) {
        if (key == VK_F1) return CMD_ABOUT;
        if (key == VK_F2) return CMD_CHANGELOG;
        if (key == VK_F3) return CMD_VERSION;
    }
    if (key == 'Z' && ctrl_only) return CMD_COMPRESS_FOLDER;
    if (key == 'Z' && ctrl && shift && !alt) return CMD_COMPRESS_FILE;
    if (key == 'D' && ctrl_only) return CMD_DECOMPRESS_FILE;
    if (key == 'Q' && ctrl_only) return CMD_EXIT;
    if (key == '0' && ctrl_only) return CMD_DEFLATE;
    if (key == '1' && ctrl_only) return CMD_ZSTANDARD;
    if (key == 'P' && ctrl_only) return CMD_PREFERENCES;
    return 0;
}

int handle_shortcut_key(const MSG& message) {
    const HWND main = shell.main_window;
    if (!main || (message.hwnd != main && !IsChild(main, message.hwnd))) return 0;
    if (message.message != WM_KEYDOWN && message.message != WM_SYSKEYDOWN) return 0;
    const int command = shortcut_command(message.wParam, key_down(VK_CONTROL), key_down(VK_SHIFT),
                                         key_down(VK_MENU), (message.lParam & 1) != 0);
    if (!command) return 0;
    if (!GetCapture()) SendMessageA(main, WM_COMMAND, static_cast<WPARAM>(command), 0);
    return 1;
}

// The main window: a small dialog whose whole interface is its menu bar, the
// keyboard shortcuts that produce its commands, and the timer that opens and
// closes the Progress window. It owns the archive job record for the whole
// run. User-interface thread only.
#include <windows.h>

#include <cstdio>

#include "resources/build_info.h"
#include "app/choosers.h"
#include "app/shell.h"
#include "io/platform.h"
#include "io/window_store.h"
#include "app/program_job_host.h"
#include "jobs/worker/job_worker.h"
#include "prefs/preferences.h"
#include "resources/resource_ids.h"
#include "prefs/preferences_window.h"
#include "windows/about_window.h"
#include "windows/changelog_window.h"
#include "windows/license_window.h"
#include "windows/progress_window.h"
#include "graphics/window_layout.h"
#include "io/banned.h"

namespace {

constexpr UINT_PTR JOB_POLL_TIMER_ID = 100;
constexpr size_t FOLDER_PATH_BYTES = 2048;

struct MainWindowState {
    HMENU menu = nullptr;
    RECT recorded{};  // left, top, width, height of the restored window
    WindowLayout layout;
    ArchiveJob* job = nullptr;
    ProgramJobHost job_host;
};
MainWindowState main_state;

void record_rectangle(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    main_state.recorded = {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

// Sets the compressor of the next jobs and its check mark in the menu.
void set_compressor(Compressor compressor) {
    main_state.job->compressor = compressor;
    CheckMenuItem(main_state.menu, CMD_DEFLATE, compressor == COMPRESSOR_DEFLATE ? MF_CHECKED : MF_UNCHECKED);
    CheckMenuItem(main_state.menu, CMD_ZSTANDARD, compressor == COMPRESSOR_ZSTANDARD ? MF_CHECKED : MF_UNCHECKED);
}

void on_init_dialog(HWND window) {
    shell.main_window = window;
    main_state.job_host.owner = window;
    set_window_text(window, "Velmora");
    main_state.layout.init(window);
    main_state.menu = LoadMenuA(shell.instance, MAKEINTRESOURCEA(IDM_MAIN));
    SetMenu(window, main_state.menu);
    main_state.recorded = {read_ini_int("main_wnd_x", 50), read_ini_int("main_wnd_y", 50),
                           read_ini_int("main_wnd_w", 450), read_ini_int("main_wnd_h", 50)};
    const RECT& r = main_state.recorded;
    SetWindowPos(window, nullptr, r.left, r.top, r.right, r.bottom, SWP_NOACTIVATE | SWP_NOZORDER);
    ShowWindow(window, read_ini_int("main_wnd_maximized", 0) ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL);
    main_state.job = create_archive_job(job_settings_from_preferences(), program_job_host(main_state.job_host));
    // A value other than Deflate or Zstandard falls back to Zstandard.
    set_compressor(read_ini_int("compressor", COMPRESSOR_ZSTANDARD) == COMPRESSOR_DEFLATE ? COMPRESSOR_DEFLATE
                                                                                        : COMPRESSOR_ZSTANDARD);
    SetTimer(window, JOB_POLL_TIMER_ID, JOB_POLL_MS, nullptr);
}

// Writes the window's place and the compressor choice to the ini file.
void write_window_state(HWND window) {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof(placement);
    GetWindowPlacement(window, &placement);
    const RECT& r = main_state.recorded;
    write_ini_int("main_wnd_x", r.left);
    write_ini_int("main_wnd_y", r.top);
    write_ini_int("main_wnd_w", r.right);
    write_ini_int("main_wnd_h", r.bottom);
    write_ini_string("main_wnd_maximized", placement.showCmd == SW_SHOWMAXIMIZED ? "1" : "0");
    write_ini_int("compressor", static_cast<int>(main_state.job->compressor.load()));
}

void on_destroy(HWND window) {
    KillTimer(window, JOB_POLL_TIMER_ID);
    write_window_state(window);
    destroy_archive_job(main_state.job);
    main_state.job = nullptr;
    main_state.job_host.owner = nullptr;
    PostQuitMessage(0);
    shell.main_window = nullptr;
}

// x, y: the client area's new top-left corner.
void on_move(HWND window, int x, int y) {
    if (x >= 0 && y >= 0 && GetCapture() == window) record_rectangle(window);
}

void on_size(HWND window, WPARAM kind) {
    if (kind == SIZE_MINIMIZED) return;
    main_state.layout.relayout();
    if (kind != SIZE_MAXIMIZED) record_rectangle(window);
}

void compress_folder(HWND window) {
    std::string folder;
    if (choose_folder(window, folder, FOLDER_PATH_BYTES, pref_preserve_current_directory())) {
        submit_compress_folder(*main_state.job, folder.c_str());
    }
}

void compress_file(HWND window) {
    const std::string list = choose_open_file(window, "Compress file", {{"All files (*.*)", "*.*"}}, "txt",
                                              pref_preserve_current_directory(), true);
    if (!list.empty()) submit_compress_files(*main_state.job, list);
}

void decompress_file(HWND window) {
    const std::string path = choose_open_file(window, "Decompress file",
                                              decompress_filters(),
                                              "zip", pref_preserve_current_directory(), false);
    if (!path.empty()) submit_decompress(*main_state.job, path.c_str());
}

void open_documentation(HWND window) {
    const String path = concat(shell.program_folder.c_str(), "documentation.txt");
    shell_execute(window, "", "notepad.exe", path.c_str(), SW_SHOWNORMAL);
}

// Brings the window forward with the focus on the control that had it when
// it is open, else opens it from its template.
void open_or_focus(HWND open, int template_id, HWND owner, DLGPROC procedure) {
    if (open) {
        const HWND control = last_focused_control(open);
        SetFocus(control ? control : open);
        return;
    }
    const HWND window = CreateDialogParamA(shell.instance, MAKEINTRESOURCEA(template_id), owner, procedure, 0);
    if (window) ShowWindow(window, SW_SHOW);
}

void show_version(HWND window) {
    char text[256];
    std::snprintf(text, sizeof(text), "Velmora version: %s (x64)\n\nBuild timestamp: %s\nGit commit: %s",
                  BUILD_VERSION, BUILD_TIMESTAMP, BUILD_REVISION);
    message_box(window, text, "Version details");
}

void on_command(HWND window, int command) {
    switch (command) {
    case CMD_COMPRESS_FOLDER: compress_folder(window); break;
    case CMD_COMPRESS_FILE: compress_file(window); break;
    case CMD_DECOMPRESS_FILE: decompress_file(window); break;
    case CMD_EXIT: DestroyWindow(window); break;
    case CMD_DEFLATE: set_compressor(COMPRESSOR_DEFLATE); break;
    case CMD_ZSTANDARD: set_compressor(COMPRESSOR_ZSTANDARD); break;
    case CMD_PREFERENCES:
        if (!pref_curses_preferences()) {
            open_preferences_externally(window);
        } else {
            open_or_focus(preferences_window, IDD_PREFERENCES, window, preferences_window_procedure);
        }
        break;
    case CMD_CHANGELOG: open_or_focus(changelog_window, IDD_CHANGELOG, window, changelog_window_procedure); break;
    case CMD_DOCUMENTATION: open_documentation(window); break;
    case CMD_ABOUT: open_or_focus(about_window, IDD_ABOUT, nullptr, about_window_procedure); break;
    case CMD_LICENSE: open_or_focus(license_window, IDD_LICENSE, window, license_window_procedure); break;
    case CMD_VERSION: show_version(window); break;
    case CMD_WEBSITE: shell_execute(window, "", BUILD_WEBSITE, nullptr, SW_SHOWNORMAL); break;
    default: break;
    }
}

void on_sys_command(HWND window, WPARAM command) {
    if ((command & 0xFFF0) == SC_CLOSE) SendMessageA(window, WM_COMMAND, CMD_EXIT, 0);
}

// The session is to end (logoff, shutdown, an installer's restart): refused
// while a job writes its archive, with the reason Windows shows the user.
// The dialog's answer goes back through DWLP_MSGRESULT.
void on_query_end_session(HWND window) {
    const bool working = job_busy(*main_state.job);
    if (working) {
        ShutdownBlockReasonCreate(window, L"Velmora is writing an archive");
    } else {
        ShutdownBlockReasonDestroy(window);
    }
    SetWindowLongPtrW(window, DWLP_MSGRESULT, working ? FALSE : TRUE);
}

// The session ends now and the process may be ended as soon as this
// returns: a running job is cancelled and gets up to 3 s to remove its
// partial files, then the window's state is written.
void on_end_session(HWND window, bool ending) {
    if (!ending) {
        ShutdownBlockReasonDestroy(window);  // the end was called off
        return;
    }
    set_cancel_requested(*main_state.job, true);
    wait_for_job_end(*main_state.job, 3000);
    write_window_state(window);
    ShutdownBlockReasonDestroy(window);
}

void on_timer(HWND window, UINT_PTR timer) {
    if (timer == JOB_POLL_TIMER_ID) {
        const bool busy = job_busy(*main_state.job);
        if (!progress_window && busy) {
            DialogBoxParamA(shell.instance, MAKEINTRESOURCEA(IDD_PROGRESS), window, progress_window_procedure,
                            reinterpret_cast<LPARAM>(main_state.job));
        } else if (progress_window && !busy) {
            EndDialog(progress_window, 0);
        } else if (!progress_window && !busy) {
            main_state.job_host.quiet_ticks.fetch_add(1);
        }
    }
}

// The key's state as of the key message just taken from the queue, not as it
// is now: a chord pressed while the thread was busy (tearing a window down
// stalls it for about a second under Wine) is read as it was pressed.
bool key_down(int virtual_key) { return (GetKeyState(virtual_key) & 0x8000) != 0; }

}  // namespace

INT_PTR CALLBACK main_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG: on_init_dialog(window); break;
    case WM_DESTROY: on_destroy(window); break;
    case WM_MOVE: on_move(window, static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))); break;
    case WM_SIZE: on_size(window, wparam); break;
    case WM_COMMAND: on_command(window, LOWORD(wparam)); break;
    case WM_SYSCOMMAND: on_sys_command(window, wparam); break;
    // Task Manager's End task and taskkill without /F send a plain WM_CLOSE.
    case WM_CLOSE: SendMessageA(window, WM_COMMAND, CMD_EXIT, 0); break;
    case WM_QUERYENDSESSION: on_query_end_session(window); break;
    case WM_ENDSESSION: on_end_session(window, wparam != 0); break;
    case WM_TIMER: on_timer(window, wparam); break;
    default: break;
    }
    // Handled here, not by the dialog's default (which would turn a close
    // into IDCANCEL, and answer the session's end itself).
    return message == WM_CLOSE || message == WM_QUERYENDSESSION || message == WM_ENDSESSION;
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

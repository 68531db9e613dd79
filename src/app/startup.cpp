// Start-up and shut-down of the process: COM, window classes, the single
// instance, the data folder, the preferences bootstrap and the relaunch.
// User-interface thread only.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <cstdio>
#include <cstring>

#include "app/shell.h"
#include "editor/cell_screen.h"
#include "io/platform.h"
#include "io/window_store.h"
#include "prefs/preferences.h"
#include "resources/resource_ids.h"
#include "prefs/preferences_window.h"
#include "windows/changelog_window.h"
#include "windows/license_window.h"
#include "io/banned.h"

ShellState shell;

namespace {

const char* const DIALOG_CLASSES[] = {
    "velmora_superhost", "changelog_superhost", "about_superhost",
    "license_superhost", "preferences_superhost", "progress_superhost",
};

// Shows the parse error of the user's file; true when the default file then
// parsed.
bool fall_back_to_default_preferences() {
    const String user_path = concat(shell.data_folder.c_str(), PREFERENCES_USER_FILE);
    const String default_path = concat(shell.data_folder.c_str(), PREFERENCES_DEFAULT_FILE);
    const String text =
        parse_error_message(preferences_state->error_text.c_str(), user_path.c_str(), default_path.c_str());
    message_box(GetDesktopWindow(), text.c_str(), "Velmora: preferences parse error found");
    return load_preferences(true);
}

void shut_down_and_relaunch() {
    destroy_preferences_editors();
    destroy_changelog_editor();
    const bool relaunch = preferences_state && preferences_state->relaunch_requested;
    destroy_preferences_state(preferences_state);
    preferences_state = nullptr;
    CoUninitialize();
    if (relaunch) {
        const String program = concat(shell.program_folder.c_str(), "velmora.exe");
        shell_execute(nullptr, "", program.c_str(), nullptr, SW_SHOWNORMAL);
    }
}

}  // namespace

String parse_error_message(const char* error_text, const char* user_path, const char* default_path) {
    char text[PARSE_ERROR_MESSAGE_LIMIT + 1];
    std::snprintf(text, sizeof(text), "%s\nin %s\n\nPress OK to try load the default file:\n\n%s", error_text,
                  user_path, default_path);
    return String(text);
}

void register_window_classes(HINSTANCE instance) {
    WNDCLASSA dialog_class{};
    GetClassInfoA(nullptr, "#32770", &dialog_class);
    dialog_class.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_VELMORA));
    dialog_class.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    dialog_class.hInstance = instance;
    RegisterClassA(&dialog_class);
    dialog_class.style = CS_DBLCLKS;
    for (const char* name : DIALOG_CLASSES) {
        dialog_class.lpszClassName = name;
        RegisterClassA(&dialog_class);
    }
}

int run_program(HINSTANCE instance) {
    shell.instance = instance;
    CoInitialize(nullptr);
    InitCommonControls();
    shell.wheel_message = RegisterWindowMessageA("MSWHEEL_ROLLMSG");

    const HWND running = FindWindowExA(nullptr, nullptr, MAIN_CLASS, nullptr);
    if (running) {
        SetForegroundWindow(running);
        return 0;
    }

    register_window_classes(instance);
    register_cell_window_class(instance);

    shell.program_folder = folder_of(module_file_name().c_str());
    const bool portable = is_portable(shell.program_folder.c_str());
    if (!find_data_folder(shell.program_folder.c_str(), portable, shell.data_folder)) {
        message_box(nullptr, "Velmora cannot retrieve user's roaming directory. Press OK to exit Velmora.",
                    "Velmora error");
        ExitProcess(1);
    }
    set_license_folder(shell.program_folder.c_str());
    create_changelog_editor(shell.program_folder.c_str());
    shell.ini_path = concat(shell.data_folder.c_str(), "velmora", ".ini");
    set_window_store_path(shell.ini_path.c_str());

    preferences_state = create_preferences_state(shell.data_folder.c_str());
    create_preferences_editors([] {
        if (shell.main_window) DestroyWindow(shell.main_window);
    });
    write_default_preferences();
    int exit_code = 0;
    if (load_preferences(false) || fall_back_to_default_preferences()) {
        CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), GetDesktopWindow(), main_window_procedure, 0);
        exit_code = run_message_loop();
    } else {
        exit_code = 1;  // neither preferences file parsed: no window was opened
    }
    shut_down_and_relaunch();
    return exit_code;
}

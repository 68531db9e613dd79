// Process-wide state of the application shell: where the program and the
// user's files live, and the handle of each top-level window. Set during
// start-up and read afterwards on the user-interface thread only (the folder
// paths never change once set).
#pragma once

#include <windows.h>

#include "io/grow_buffer.h"

struct ShellState {
    HINSTANCE instance = nullptr;
    String program_folder;  // the executable's folder, ending in its separator
    String data_folder;     // the per-user folder, ending in "\"
    String ini_path;        // data_folder + "velmora.ini"
    UINT wheel_message = 0; // the registered "MSWHEEL_ROLLMSG"
    // Null while the window is closed; the other windows keep theirs.
    HWND main_window = nullptr;
};

extern ShellState shell;

constexpr char MAIN_CLASS[] = "velmora_superhost";

// Runs the program: start-up, the message loop, shut-down. Returns the exit code.
int run_program(HINSTANCE instance);

// The folder part of a module path: cut just after its last \ or /.
String folder_of(const char* path);
// True when program_folder (ending in a separator) holds a folder named
// exactly "portable" (case-sensitive); a file of that name does not count.
bool is_portable(const char* program_folder);
// The per-user folder: program_folder + "portable\" when portable, else the
// roaming folder + "\Velmora\". False when the roaming folder is unknown.
bool find_data_folder(const char* program_folder, bool portable, String& data_folder);
// The text of the preferences parse-error message, at most 512 bytes.
String parse_error_message(const char* error_text, const char* user_path, const char* default_path);
constexpr size_t PARSE_ERROR_MESSAGE_LIMIT = 512;

// Registers the dialog classes of the program's six kinds of window.
void register_window_classes(HINSTANCE instance);

// Serves every modeless window of the program until the quit message;
// returns its parameter.
int run_message_loop();
// The control of the top-level window that held the keyboard focus when the
// message loop last saw the focus in that window; null when none did.
HWND last_focused_control(HWND top);

// The main window's procedure, and the shortcut test the message loop makes
// before anything else: returns 1 when it consumed the key message.
INT_PTR CALLBACK main_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
int handle_shortcut_key(const MSG& message);

// The menu command a key gives with the modifiers as stated, or 0.
// first_press is bit 0 of the key message's repeat count.
int shortcut_command(WPARAM virtual_key, bool ctrl, bool shift, bool alt, bool first_press);

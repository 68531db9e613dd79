// A copy of velmora.exe started from a temporary folder, in portable mode
// unless asked otherwise, and helpers to find and drive its windows from a
// test.
#pragma once

#include <windows.h>

#include <string>

#include "clipboard.h"

#include "io/platform.h"
#include "test_folder.h"

constexpr DWORD WAIT_MS = 20000;

// The build folder, where velmora.exe and the files shipped beside it lie.
String folder_of_build();
HWND wait_for_window(const char* class_name, const char* title, DWORD timeout_ms = WAIT_MS);
std::string control_text(HWND control);
// The main window of the running copy (class "velmora_superhost", "Velmora").
HWND main_window();
// Closes the main window with its close box, as a user would.
void close_main_window(HWND window);
// Presses a key chord with real input: modifiers held around the key.
void press_chord(WORD key, bool ctrl, bool shift = false, bool alt = false);
// The control that has the keyboard focus in the thread of the window.
HWND focused_control(HWND window);
// Waits until the keyboard focus is on control; false on time-out.
bool wait_for_focus(HWND control, DWORD timeout_ms = 5000);
// Waits until the window is destroyed or hidden; false on time-out.
bool wait_gone(HWND window, DWORD timeout_ms);
// Brings the window to the front, as a click on it would, and lets it settle.
void bring_to_front(HWND window);

// Saves a screenshot of the whole display as build\NAME.png (for people to
// look at); false when the screenshot tool failed.
bool save_screenshot(const char* name);
// Types text with real key presses.
void type_text(const wchar_t* text);

class Installed {
public:
    // portable false: no portable folder beside the copy, so it keeps its
    // files in the roaming folder.
    explicit Installed(const char* name, bool portable = true);
    ~Installed() { stop(); }
    Installed(const Installed&) = delete;
    Installed& operator=(const Installed&) = delete;

    // False when the copy could not be started; the reason goes to stderr.
    bool start();
    // Waits for the process to end; returns its exit code, or -1 on time-out.
    int wait_exit(DWORD timeout_ms = WAIT_MS);
    void stop();
    std::string data(const char* name) const;
    void set_data(const char* name, const std::string& bytes) const;
    bool has_data(const char* name) const;
    // Copies a file shipped beside the built program (changelog.txt,
    // license.txt) beside this copy.
    void ship(const char* name) const;
    // The value of key in section "velmora" of velmora.ini; empty when absent.
    std::string ini(const char* key) const;
    const String& path() const { return folder.path(); }
    const TestFolder& files() const { return folder; }

private:
    TestFolder folder;
    PROCESS_INFORMATION process{};
};

// Presses a key chord as one burst of real input, modifiers around the key,
// with no pause: the program reads every event after the keys are up again.
void press_chord_quickly(WORD key, bool ctrl, bool shift = false, bool alt = false);
// Waits until the window is gone or hidden; false on time-out.
bool wait_until_gone(HWND window, DWORD timeout_ms = WAIT_MS);
// The window that has the keyboard focus in the thread of window.
HWND focus_of_thread(HWND window);

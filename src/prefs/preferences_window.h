// The Preferences window: the reference file (read-only) beside the user's
// file (validated before it is saved) in two character-cell panes.
// User-interface thread only.
#pragma once

#include <windows.h>

#include "prefs/pane_editors.h"

extern HWND preferences_window;

// Start-up: creates the two pane editors once for the program's life;
// relaunch destroys the main window after Ctrl+F12.
void create_preferences_editors(void (*relaunch)());
void destroy_preferences_editors();

// The editors and screens, for tests.
DefaultPaneEditor* preferences_default_editor();
UserPaneEditor* preferences_user_editor();

// Opens preferences.txt in Notepad (when the two-pane window is not wanted).
void open_preferences_externally(HWND owner);

INT_PTR CALLBACK preferences_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

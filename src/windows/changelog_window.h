// The Changelog window: changelog.txt from the program's folder in a
// read-only character-cell editor view; Esc closes it unless a prompt is
// open. User-interface thread only.
#pragma once

#include <windows.h>

extern HWND changelog_window;

// Start-up: the editor lives for the program's life; folder holds
// changelog.txt (ending in its separator).
void create_changelog_editor(const char* folder);
void destroy_changelog_editor();

INT_PTR CALLBACK changelog_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

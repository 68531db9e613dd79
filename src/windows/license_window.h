// The License window: license.txt from the program's folder in a read-only
// edit control, black on white. User-interface thread only.
#pragma once

#include <windows.h>

extern HWND license_window;

// The folder that holds license.txt (the program's folder, ending in its
// separator); set by start-up.
void set_license_folder(const char* folder);

INT_PTR CALLBACK license_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

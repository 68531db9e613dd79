// The program's entry point. The command line is not read: every job starts
// from the main window's menu or its shortcuts.
#include <windows.h>

#include "app/shell.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return run_program(instance); }

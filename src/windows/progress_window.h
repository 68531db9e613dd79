// The Progress window: a modal view of the running job with two bars and the
// phase as its caption; closing it cancels the job. User-interface thread.
#pragma once

#include <windows.h>

struct ArchiveJob;

constexpr UINT_PTR PROGRESS_TIMER_ID = 101;

// The window while it exists, else null.
extern HWND progress_window;

// The dialog procedure of template 107; the dialog's parameter is the job.
INT_PTR CALLBACK progress_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

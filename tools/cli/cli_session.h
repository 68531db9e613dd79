// How velmora-cli hears that its user or the session wants it to stop:
// Ctrl+C and Ctrl+Break, a closed console window, logoff and shutdown (the
// last two through a hidden window, as Windows tells a console program that
// uses user32). Each cancels the job; the events that end the process hold
// it until the job has removed its partial files. Main thread, with the
// console's handler thread and the window's own thread.
#pragma once

#include <windows.h>

#include <atomic>

struct CliSession {
    // Raised by any of the events: the job is to be cancelled.
    std::atomic<bool> interrupted{false};
    // Set once the job's record is destroyed: its thread has ended and its
    // files are closed, so what the job left on disk is final.
    HANDLE job_cleaned_up = nullptr;
    // Set by the console handler on close, logoff and shutdown: Windows ends
    // the process as the handler returns, so the main thread does not.
    std::atomic<bool> ending{false};
    // Test seam (--raise-console-event N): the console event this run
    // raises at its own handler once its job works, ending itself as
    // Windows would after the handler returns; 0: none.
    DWORD raised_console_event = 0;
};

extern CliSession cli_session;

// The console events Windows sends a console program's handler: close (2),
// logoff (5) and shutdown (6); the seam takes only these.
bool is_console_end_event(DWORD event);

// Installs the console handler and starts the hidden window's thread.
void start_session_watch();
// Marks the job cleaned up, closes the window and joins its thread.
void end_session_watch();
// Raises the seam's event on a thread of its own (see CliSession).
void raise_console_event_soon();

// velmora-cli's console handler and session window; see cli_session.h.
#include "cli/cli_session.h"

#include <cstdio>

CliSession cli_session;

namespace {

// How long the main thread leaves the end of the process to a returning
// console handler.
constexpr DWORD ENDING_GRACE_MS = 10000;

// Cancels the job and waits (at most 4.5 s) until it has removed its
// partial files.
void cancel_and_wait_for_cleanup() {
    cli_session.interrupted = true;
    if (cli_session.job_cleaned_up) WaitForSingleObject(cli_session.job_cleaned_up, 4500);
}

// Ctrl+C and Ctrl+Break cancel the job, which the main thread then winds
// down. Closing the console window, logoff and shutdown end the process as
// soon as this returns (Windows allows 5 s): they cancel too, and return
// only once the job has removed its partial files.
BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        cli_session.interrupted = true;
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The process ends as this returns: the main thread, done with its
        // job meanwhile, leaves the end to it rather than exit on its own.
        cli_session.ending = true;
        cancel_and_wait_for_cleanup();
        return TRUE;
    default:
        return FALSE;
    }
}

// Windows sends no logoff or shutdown event to the console handler of a
// program that has loaded user32 (this one has, through shell32); such a
// program hears the end of the session as a top-level window. This hidden
// one answers it as the handler answers a closed console: the session may
// end, and once it ends the job is cancelled and its partial files removed
// before the process goes. Without a display there is no window, and none
// is needed.
constexpr wchar_t SESSION_WINDOW_CLASS[] = L"velmora_cli_session";

LRESULT CALLBACK session_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_QUERYENDSESSION: return TRUE;
    case WM_ENDSESSION:
        if (wparam) cancel_and_wait_for_cleanup();
        return 0;
    case WM_CLOSE: DestroyWindow(window); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(window, message, wparam, lparam);
    }
}

struct SessionWatch {
    HANDLE thread = nullptr;
    HANDLE ready = nullptr;  // set once the window exists or could not be made
    std::atomic<HWND> window{nullptr};
};
SessionWatch session_watch;

DWORD WINAPI watch_session(void*) {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = session_window_procedure;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = SESSION_WINDOW_CLASS;
    RegisterClassW(&window_class);
    const HWND window = CreateWindowExW(0, SESSION_WINDOW_CLASS, L"velmora-cli", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                        window_class.hInstance, nullptr);
    session_watch.window = window;
    SetEvent(session_watch.ready);
    if (!window) return 0;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return 0;
}

void start_watch_thread() {
    session_watch.ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    session_watch.thread = CreateThread(nullptr, 0, watch_session, nullptr, 0, nullptr);
}

// Closes the window and joins its thread.
void end_watch_thread() {
    if (!session_watch.thread) return;
    WaitForSingleObject(session_watch.ready, INFINITE);
    if (const HWND window = session_watch.window.load()) PostMessageW(window, WM_CLOSE, 0, 0);
    WaitForSingleObject(session_watch.thread, INFINITE);
    CloseHandle(session_watch.thread);
    CloseHandle(session_watch.ready);
    session_watch.thread = nullptr;
}

// The seam's thread: what Windows does with a console event.
DWORD WINAPI raise_console_event(void*) {
    on_console_event(cli_session.raised_console_event);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 0xC000013A);  // STATUS_CONTROL_C_EXIT
    return 0;
}

}  // namespace

bool is_console_end_event(DWORD event) {
    return event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
}

void start_session_watch() {
    cli_session.job_cleaned_up = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(on_console_event, TRUE);
    start_watch_thread();
}

void end_session_watch() {
    SetEvent(cli_session.job_cleaned_up);
    // A handler of an event that ends the process is returning now, and its
    // return ends the process with the event's status; should that not
    // come, the program ends on its own after a while.
    if (cli_session.ending) Sleep(ENDING_GRACE_MS);
    end_watch_thread();
}

void raise_console_event_soon() { CloseHandle(CreateThread(nullptr, 0, raise_console_event, nullptr, 0, nullptr)); }

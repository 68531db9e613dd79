#include "windows/progress_window.h"

#include <commctrl.h>

#include "io/platform.h"
#include "graphics/window_layout.h"
#include "jobs/frame/archive_job.h"
#include "resources/resource_ids.h"
#include "io/banned.h"

HWND progress_window = nullptr;

namespace {

ArchiveJob* shown_job = nullptr;

void on_init_dialog(HWND window, LPARAM parameter) {
    progress_window = window;
    shown_job = reinterpret_cast<ArchiveJob*>(parameter);
    restore_position(window, "progress", {50, 50});
    ShowWindow(window, SW_SHOW);
    SetTimer(window, PROGRESS_TIMER_ID, JOB_POLL_MS, nullptr);
}

void on_timer(HWND window) {
    SendDlgItemMessageA(window, IDC_PROGRESS_OVERALL, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    if (!shown_job || !job_busy(*shown_job)) return;
    SendDlgItemMessageA(window, IDC_PROGRESS_OVERALL, PBM_SETPOS, static_cast<WPARAM>(shown_job->overall_percent.load()), 0);
    SendDlgItemMessageA(window, IDC_PROGRESS_ITEM, PBM_SETPOS, static_cast<WPARAM>(shown_job->item_percent.load()), 0);
    set_window_text(window, phase_text(*shown_job));
}

void on_cancel(HWND window) {
    if (shown_job && job_busy(*shown_job)) set_busy_and_cancel(*shown_job, false, true);
    EndDialog(window, 0);
}

void on_destroy(HWND window) {
    KillTimer(window, PROGRESS_TIMER_ID);
    save_position(window, "progress");
    progress_window = nullptr;
    shown_job = nullptr;
}

}  // namespace

INT_PTR CALLBACK progress_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG: on_init_dialog(window, lparam); break;
    case WM_TIMER:
        if (wparam == PROGRESS_TIMER_ID) on_timer(window);
        break;
    case WM_COMMAND:
        if (LOWORD(wparam) == IDCANCEL) on_cancel(window);
        break;
    case WM_DESTROY: on_destroy(window); break;
    default: break;
    }
    return 0;
}

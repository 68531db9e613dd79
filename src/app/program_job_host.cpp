#include "app/program_job_host.h"

#include "app/choosers.h"
#include "io/platform.h"
#include "jobs/worker/job_worker.h"
#include "io/banned.h"

namespace {

constexpr int QUIET_WAIT_MS = 3000;

// Waits until the main window has had a tick with the job ended and no
// Progress window open (it closes that window within a tick of busy
// clearing, and opens none while busy is clear), at most three seconds.
void wait_for_quiet_main_window(const ProgramJobHost& state, const ArchiveJob& job) {
    const uint32_t seen = state.quiet_ticks.load();
    for (int waited = 0; state.quiet_ticks.load() == seen && !job.quit_requested.load() && waited < QUIET_WAIT_MS;
         waited += 10) {
        Sleep(10);
    }
}

void report(void* context, const ArchiveJob& job, const std::string& text) {
    auto& state = *static_cast<ProgramJobHost*>(context);
    wait_for_quiet_main_window(state, job);
    message_box(state.owner, text.c_str(), "Velmora");
}

std::string choose_save_path(void* context, const ArchiveJob& job, const char* extension_word) {
    auto& state = *static_cast<ProgramJobHost*>(context);
    wait_for_quiet_main_window(state, job);
    return choose_save_file(state.owner, "Save compressed file",
                            {{"Zstandard file (*.tzst)", "*.tzst"}, {"ZIP file (*.zip)", "*.zip"},
                             {"All files (*.*)", "*.*"}},
                            extension_word);
}

void show_folder(void*, const char* folder) { shell_execute(nullptr, "", "explorer.exe", folder, SW_SHOWNORMAL); }

BOOL CALLBACK close_worker_window(HWND window, LPARAM) {
    if (IsWindowVisible(window)) PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

void dismiss(void*, unsigned long worker_thread_id) { EnumThreadWindows(worker_thread_id, close_worker_window, 0); }

}  // namespace

JobHost program_job_host(ProgramJobHost& state) {
    JobHost host;
    host.context = &state;
    host.report = report;
    host.choose_save_path = choose_save_path;
    host.show_folder = show_folder;
    host.dismiss = dismiss;
    return host;
}

// The program's job host: what the end of a job shows, owned by the main
// window. Its functions run on the worker thread; the main window counts
// its quiet ticks on the user-interface thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "jobs/frame/job_host.h"

struct ProgramJobHost {
    HWND owner = nullptr;  // the main window, owner of every dialog shown
    // Counted by the main window at each tick that finds no job working and
    // no Progress window open: the host shows its report and its dialogs
    // only after such a tick, so never beside or under the Progress window.
    std::atomic<uint32_t> quiet_ticks{0};
};

// The host record for jobs whose dialogs state owns: reports in a message
// box, the save chooser for the move, Explorer for a folder. state must
// outlive the job record.
JobHost program_job_host(ProgramJobHost& state);

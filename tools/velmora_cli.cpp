// velmora-cli: the archiver's console companion for scripts, benchmarks and
// tests. It runs the very jobs of the program on its job record and worker
// thread, with the user's preferences as defaults, and runs no after-job
// action.
//
//   velmora-cli compress [--format tzst|zip] [--level N] [--checksum] [--keep-tarball] PATH...
//   velmora-cli decompress ARCHIVE
//   velmora-cli --version
//   velmora-cli --help
//   velmora-cli [--stats] COMMAND ...  also prints wall, CPU and peak working set on stderr
//   velmora-cli --raise-console-event N COMMAND ...
//       (for tests) once the job works, raises console event N (2 close,
//       5 logoff, 6 shutdown) at the program's own handler and then ends
//       the process as Windows does when the handler returns
//   velmora-cli copy-through SOURCE DESTINATION
//       (for benchmarks) copies a file, or every file of a folder tree, through
//       the job's FileReader and FileWriter alone: the I/O floor of a job
//   velmora-cli entry-walk FOLDER
//       (for benchmarks) walks a folder as the tarball job does and reads each
//       entry's metadata through its disk reader, without data: the
//       per-entry floor of a .tzst job
//
// Exit codes: 0 the output is complete (its path is printed), 1 no complete
// output (each entry it lacks, then what was left under the output's name,
// on stderr), 2 bad usage.
#include <windows.h>
#include <objbase.h>
#include <psapi.h>
#include <shellapi.h>

#include <archive.h>
#include <archive_entry.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "resources/build_info.h"
#include "app/shell.h"
#include "io/event_pool.h"
#include "io/file_reader.h"
#include "io/file_writer.h"
#include "io/platform.h"
#include "jobs/archive_job.h"
#include "jobs/directory_scan.h"
#include "jobs/job_paths.h"
#include "jobs/job_report.h"
#include "jobs/tar_common.h"
#include "prefs/preferences.h"

namespace {

constexpr char USAGE[] =
    "usage: velmora-cli compress [--format tzst|zip] [--level N] [--checksum] [--keep-tarball] PATH...\n"
    "       velmora-cli decompress ARCHIVE\n"
    "       velmora-cli --version\n"
    "       velmora-cli --help\n";

std::atomic<bool> interrupted{false};
// Raised once the job's record is destroyed: its thread has ended and its
// files are closed, so what the job left on disk is final.
HANDLE job_cleaned_up = nullptr;
// Test seam (--raise-console-event N): the console event this run raises
// at its own handler once its job works, ending itself as Windows would
// after the handler returns. 0: none.
DWORD raised_console_event = 0;

// Ctrl+C and Ctrl+Break cancel the job, which the main thread then winds
// down. Closing the console window, logoff and shutdown end the process as
// soon as this returns (Windows allows 5 s): they cancel too, and return
// only once the job has removed its partial files.
BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        interrupted = true;
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        interrupted = true;
        if (job_cleaned_up) WaitForSingleObject(job_cleaned_up, 4500);
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
        if (wparam) on_console_event(CTRL_LOGOFF_EVENT);
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

void start_session_watch() {
    session_watch.ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    session_watch.thread = CreateThread(nullptr, 0, watch_session, nullptr, 0, nullptr);
}

// Closes the window and joins its thread.
void end_session_watch() {
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
    on_console_event(raised_console_event);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 0xC000013A);  // STATUS_CONTROL_C_EXIT
    return 0;
}

int usage_error(const char* reason) {
    std::fprintf(stderr, "velmora-cli: %s\n%s", reason, USAGE);
    return 2;
}

int failure(const char* reason, const std::string& subject = "") {
    std::fprintf(stderr, "velmora-cli: %s%s%s\n", reason, subject.empty() ? "" : ": ", subject.c_str());
    return 1;
}

std::vector<std::string> utf8_arguments() {
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; wide && i < count; ++i) {
        String utf8;
        wide_to_utf8(wide[i], utf8, SIZE_MAX);
        arguments.emplace_back(utf8.c_str());
    }
    LocalFree(wide);
    return arguments;
}

std::string full_path(const std::string& path) {
    const std::wstring wide = window_wide(path.c_str(), path.size());
    wchar_t buffer[32768];
    const DWORD n = GetFullPathNameW(wide.c_str(), 32768, buffer, nullptr);
    if (n == 0 || n >= 32768) return path;
    String utf8;
    wide_to_utf8(buffer, utf8, SIZE_MAX);
    return utf8.c_str();
}

// Drops trailing separators, but keeps the one of a drive root ("C:\").
std::string without_trailing_separator(std::string path) {
    while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
    return path;
}

// Loads the preferences the program would use, without writing any file.
void load_user_preferences() {
    const String program = folder_of(module_file_name().c_str());
    String data;
    if (!find_data_folder(program.c_str(), is_portable(program.c_str()), data)) data.set("");
    preferences_state = create_preferences_state(data.c_str());
    if (!load_preferences(false)) load_preferences(true);
}

bool ends_with_ignoring_case(const std::string& text, const char* suffix) {
    const size_t n = std::strlen(suffix);
    return text.size() >= n && _stricmp(text.c_str() + text.size() - n, suffix) == 0;
}

// Runs one request on the worker and shows its progress; returns the outcome.
JobOutcome run(ArchiveJob& job, void (*submit_request)(ArchiveJob&, const std::string&), const std::string& input) {
    const uint32_t served = job.requests_served.load();
    submit_request(job, input);
    const bool console = GetFileType(GetStdHandle(STD_ERROR_HANDLE)) == FILE_TYPE_CHAR;
    int shown = 0;
    bool raised = false;
    while (job.requests_served.load() == served) {
        Sleep(10);
        if (raised_console_event && !raised && job_busy(job) && job.items_done.load() > 0) {
            raised = true;
            CloseHandle(CreateThread(nullptr, 0, raise_console_event, nullptr, 0, nullptr));
        }
        if (interrupted) set_cancel_requested(job, true);
        if (console && job_busy(job)) {
            shown = std::fprintf(stderr, "\r%-24s %3d%% %3d%%", phase_text(job), job.overall_percent.load(),
                                 job.item_percent.load());
        }
    }
    if (shown) std::fprintf(stderr, "\r%*s\r", shown, "");
    return static_cast<JobOutcome>(job.outcome.load());
}

bool exists(const String& path) { return !path.empty() && file_attributes(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Prints what the job could not do, entry by entry, then the outcome: the
// output's path on success, else what was left under the output's name.
int report(const ArchiveJob& job, JobOutcome outcome, bool compression) {
    for (const JobProblem& problem : job.problems) {
        std::fprintf(stderr, "velmora-cli: %s: %s\n", problem_label(problem.kind), problem.name.c_str());
    }
    if (outcome == JobOutcome::complete) {
        std::printf("%s\n", job.output_path.c_str());
        return 0;
    }
    const bool cancelled = interrupted || outcome == JobOutcome::cancelled;
    if (compression) {
        if (job.output_made) return failure("the archive was made, with the exceptions above", job.output_path.c_str());
        return failure(cancelled ? "cancelled; no archive was made" : "no archive was made");
    }
    if (job.output_made) return failure("extracted, with the exceptions above", job.output_path.c_str());
    if (!exists(job.output_path)) return failure(cancelled ? "cancelled; nothing was extracted" : "nothing was extracted");
    return failure(cancelled ? "cancelled; what was extracted before is in" : "extracted only in part; what could be read is in",
                   job.output_path.c_str());
}

int compress(ArchiveJob& job, const std::vector<std::string>& arguments) {
    std::string format = "tzst";
    int level = -1;
    bool checksum = false;
    bool keep = false;
    std::vector<std::string> paths;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (a == "--format" && i + 1 < arguments.size()) {
            format = arguments[++i];
        } else if (a == "--level" && i + 1 < arguments.size()) {
            char* end = nullptr;
            const long value = std::strtol(arguments[++i].c_str(), &end, 10);
            if (!*arguments[i].c_str() || *end || value < 0 || value > 19) return usage_error("bad level");
            level = static_cast<int>(value);
        } else if (a == "--checksum") {
            checksum = true;
        } else if (a == "--keep-tarball") {
            keep = true;
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            return usage_error(("unknown option " + a).c_str());
        } else {
            paths.push_back(without_trailing_separator(full_path(a)));
        }
    }
    if (format != "tzst" && format != "zip") return usage_error("format must be tzst or zip");
    if (paths.empty()) return usage_error("nothing to compress");
    if (format == "zip" && level > 9) return usage_error("zip levels are 0 to 9");

    job.compressor = format == "zip" ? COMPRESSOR_DEFLATE : COMPRESSOR_ZSTANDARD;
    if (level >= 0 && format == "zip") job.zlib_level = level;
    if (level >= 0 && format == "tzst") job.zstd_level = zstd_level_of_choice(level);
    if (checksum) job.zstd_checksum = 1;
    if (keep) job.keep_tarball = true;

    for (const std::string& path : paths) {
        if (file_attributes(path.c_str()) == INVALID_FILE_ATTRIBUTES) return failure("no such file or folder", path);
    }
    const DWORD first = file_attributes(paths[0].c_str());
    if (first & FILE_ATTRIBUTE_DIRECTORY) {
        if (paths.size() > 1) return usage_error("give one folder, or files of one folder");
        return report(job, run(job, [](ArchiveJob& j, const std::string& p) { submit_compress_folder(j, p.c_str()); },
                               paths[0]),
                      true);
    }
    const std::string folder = folder_part(paths[0].c_str());
    for (const std::string& path : paths) {
        if (file_attributes(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) return usage_error("give one folder, or files of one folder");
        if (!same_path(folder_part(path.c_str()), folder)) return usage_error("the files must lie in one folder");
    }
    return report(job, run(job, submit_compress_files, make_selection_list(paths)), true);
}

int decompress(ArchiveJob& job, const std::vector<std::string>& arguments) {
    if (arguments.size() != 2) return usage_error("decompress takes one archive");
    const std::string archive = full_path(arguments[1]);
    if (!ends_with_ignoring_case(archive, ".zip") && !ends_with_ignoring_case(archive, ".tzst")) {
        return usage_error("the archive must end in .zip or .tzst");
    }
    if (file_attributes(archive.c_str()) == INVALID_FILE_ATTRIBUTES) return failure("no such archive", archive);
    return report(job, run(job, [](ArchiveJob& j, const std::string& p) { submit_decompress(j, p.c_str()); }, archive),
                  false);
}

// Copies source to destination through one FileReader and one FileWriter in
// the 4096-byte pieces the jobs use; false when a file could not be opened or
// written whole.
bool copy_file_through(const char* source, const char* destination, uint64_t& bytes) {
    FileReader reader(source);
    if (!reader.is_open()) return false;
    FileWriter writer(destination);
    if (!writer.is_open()) return false;
    char block[4096];
    const uint64_t size = reader.size();
    while (reader.position() < size) {
        const size_t n = reader.read(block, sizeof(block));
        if (n == 0) break;
        writer.write(block, n);
    }
    bytes += reader.position();
    return writer.close() && reader.position() == size;
}

bool copy_folder_through(const std::string& source, const std::string& destination, uint64_t& bytes) {
    if (!CreateDirectoryW(window_wide(destination.c_str(), destination.size()).c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
        return false;
    }
    DirectoryScan scan;
    if (!scan.first(source.c_str())) return false;
    String path;
    bool whole = true;
    do {
        if (scan.is_dot_entry()) continue;
        scan.full_path(path);
        const std::string target = destination + "\\" + name_of(path.c_str());
        whole = (scan.is_directory() ? copy_folder_through(path.c_str(), target, bytes)
                                     : copy_file_through(path.c_str(), target.c_str(), bytes)) && whole;
    } while (scan.next());
    return whole;
}

int copy_through(const std::vector<std::string>& arguments) {
    if (arguments.size() != 3) return usage_error("copy-through takes a source and a destination");
    const std::string source = without_trailing_separator(full_path(arguments[1]));
    const std::string destination = without_trailing_separator(full_path(arguments[2]));
    const DWORD attributes = file_attributes(source.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return failure("no such file or folder", source);
    uint64_t bytes = 0;
    const bool whole = attributes & FILE_ATTRIBUTE_DIRECTORY ? copy_folder_through(source, destination, bytes)
                                                              : copy_file_through(source.c_str(), destination.c_str(), bytes);
    if (!whole) return failure("the copy is incomplete", destination);
    std::printf("%s\n", destination.c_str());
    return 0;
}

// Reads the header of every entry below folder through the walk's disk
// reader, as the tarball job does before it copies a file's data; counts
// the entries.
bool walk_entries(const char* folder, DiskReader& disk, uint64_t& entries) {
    DirectoryScan scan;
    if (!scan.first(folder)) return false;
    String path;
    bool whole = true;
    do {
        if (scan.is_dot_entry()) continue;
        scan.full_path(path);
        archive_entry* entry = archive_entry_new();
        whole = disk.read_entry(path.c_str(), entry) && whole;
        disk.close();
        archive_entry_free(entry);
        ++entries;
        if (scan.is_directory()) whole = walk_entries(path.c_str(), disk, entries) && whole;
    } while (scan.next());
    return whole;
}

int entry_walk(const std::vector<std::string>& arguments) {
    if (arguments.size() != 2) return usage_error("entry-walk takes a folder");
    const std::string folder = without_trailing_separator(full_path(arguments[1]));
    const DWORD attributes = file_attributes(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return failure("no such folder", folder);
    }
    uint64_t entries = 0;
    DiskReader disk;
    if (!walk_entries(folder.c_str(), disk, entries)) return failure("an entry could not be read", folder);
    std::printf("%llu entries\n", static_cast<unsigned long long>(entries));
    return 0;
}

double seconds_of(const FILETIME& time) {
    return static_cast<double>((uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime) / 1e7;
}

// One line for benchmarks: wall and CPU seconds of this process and its peak
// working set.
void print_stats(const LARGE_INTEGER& started) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    std::fprintf(stderr, "velmora-cli stats: wall %.3f s, cpu %.3f s, peak working set %llu KiB\n",
                 static_cast<double>(now.QuadPart - started.QuadPart) / static_cast<double>(frequency.QuadPart),
                 seconds_of(kernel) + seconds_of(user),
                 static_cast<unsigned long long>(memory.PeakWorkingSetSize / 1024));
}

int run_command(const std::vector<std::string>& arguments) {
    if (arguments.empty()) return usage_error("no command");
    if (arguments[0] == "copy-through") return copy_through(arguments);
    if (arguments[0] == "entry-walk") return entry_walk(arguments);
    if (arguments[0] == "--help" || arguments[0] == "-h" || arguments[0] == "/?") {
        std::printf("%s", USAGE);
        return 0;
    }
    if (arguments[0] == "--version") {
        std::printf("velmora-cli %s (x64), built %s, revision %s\n", BUILD_VERSION, BUILD_TIMESTAMP, BUILD_REVISION);
        return 0;
    }
    if (arguments[0] != "compress" && arguments[0] != "decompress") return usage_error("unknown command");
    SetConsoleCtrlHandler(on_console_event, TRUE);
    start_session_watch();
    CoInitialize(nullptr);
    load_user_preferences();
    ArchiveJob* job = create_archive_job(job_settings_from_preferences());
    const int code = arguments[0] == "compress" ? compress(*job, arguments) : decompress(*job, arguments);
    destroy_archive_job(job);
    SetEvent(job_cleaned_up);
    end_session_watch();
    destroy_preferences_state(preferences_state);
    preferences_state = nullptr;
    CoUninitialize();
    return code;
}

}  // namespace

// The job's thread is joined, its files closed and the preferences freed
// when run_command returns; the process then ends at once, with its output
// flushed, and runs no teardown of the runtime's per-thread data.
int main() {
    LARGE_INTEGER started;
    QueryPerformanceCounter(&started);
    int code = 0;
    {
        std::vector<std::string> arguments = utf8_arguments();
        const bool stats = !arguments.empty() && arguments[0] == "--stats";
        if (stats) arguments.erase(arguments.begin());
        if (arguments.size() > 1 && arguments[0] == "--raise-console-event") {
            raised_console_event = static_cast<DWORD>(std::strtoul(arguments[1].c_str(), nullptr, 10));
            arguments.erase(arguments.begin(), arguments.begin() + 2);
        }
        job_cleaned_up = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        code = run_command(arguments);
        if (stats) print_stats(started);
    }
    close_pooled_events();
    std::fflush(stdout);
    std::fflush(stderr);
    ExitProcess(static_cast<UINT>(code));
}

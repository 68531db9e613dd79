// velmora-cli: the archiver's console companion for scripts, benchmarks and
// tests. It runs the very jobs of the program on its job record and worker
// thread, with the user's preferences as defaults, and runs no after-job
// action. USAGE below is everything it accepts; the exit codes are in
// cli_common.h. Main thread, beside the job's worker.
#include <windows.h>
#include <objbase.h>
#include <psapi.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "resources/build_info.h"
#include "app/shell.h"
#include "cli/cli_common.h"
#include "cli/cli_session.h"
#include "io/event_pool.h"
#include "io/platform.h"
#include "jobs/worker/archive_inspect.h"
#include "jobs/worker/job_families.h"
#include "jobs/worker/job_worker.h"
#include "jobs/frame/archive_names.h"
#include "jobs/frame/job_paths.h"
#include "jobs/worker/job_report.h"
#include "jobs/zstd/zstd_stream.h"
#include "prefs/preferences.h"
#include "jobs/frame/job_words.h"

namespace {

constexpr char USAGE[] =
    "usage: velmora-cli [OPTIONS] COMMAND ...\n"
    "\n"
    "commands:\n"
    "  compress [--format tzst|zip] [--level N] [--checksum] [--keep-tarball] [-o ARCHIVE] PATH...\n"
    "      Packs one folder, or files of one folder, into ARCHIVE, or beside the input\n"
    "      (photos gives photos.tzst). --level: 0-19 for tzst, 0-9 for zip; defaults come from\n"
    "      the preferences. ARCHIVE must end in {tzst} (tzst) or {zip}.\n"
    "  decompress [-o FOLDER] ARCHIVE\n"
    "      Unpacks into FOLDER (made when missing), or into a folder beside the archive named\n"
    "      after it (photos.tar.zst gives photos). A single .zst file becomes the file it names.\n"
    "  list ARCHIVE\n"
    "      Prints SIZE<TAB>NAME for every entry, names as they would be unpacked (folders end\n"
    "      in /, links read NAME -> TARGET). Writes nothing.\n"
    "  test ARCHIVE\n"
    "      Decodes every entry and checks its checksum and size; prints \"damaged: NAME (reason)\"\n"
    "      for each bad one and a summary. Writes nothing.\n"
    "  copy-through SOURCE DESTINATION\n"
    "      (benchmark) Copies a file or folder tree through the jobs' file reader and writer\n"
    "      alone; DESTINATION is replaced.\n"
    "  entry-walk FOLDER\n"
    "      (benchmark) Reads every entry's metadata below FOLDER as the tarball job does.\n"
    "  --version, --help\n"
    "\n"
    "ARCHIVE (decompress, list, test): {archives}.\n"
    "\n"
    "options:\n"
    "  --progress   write progress lines to standard error also when it is not a console\n"
    "  --quiet      print only errors and the report\n"
    "  --stats      print wall and CPU time and peak memory on standard error at the end\n"
    "  --raise-console-event 2|5|6\n"
    "               (tests) once the job works, raise a console close (2), logoff (5) or\n"
    "               shutdown (6) at the program's own handler\n"
    "\n"
    "exit codes:\n"
    "  0  complete (test: every entry is sound)\n"
    "  1  finished with entries left out or damaged, each named on standard error\n"
    "  2  bad usage\n"
    "  3  nothing was made: the archive is missing or unreadable, the destination cannot be\n"
    "     made, or the disk filled before anything was written\n"
    "  4  cancelled (Ctrl+C, a closed console, logoff or shutdown); partial files are removed\n";

// USAGE with the names table's extensions in place of {tzst}, {zip} and
// {archives}; a line that grows past the width is wrapped.
std::string usage_text() {
    std::vector<std::string> archives, files;
    for (const ArchiveFamily* family : archive_families()) {
        for (const std::string& extension : archive_extensions(family->kind)) {
            (family->single_file ? files : archives).push_back(extension);
        }
    }
    std::string text = USAGE;
    const auto fill = [&](const std::string& key, const std::string& value) {
        const size_t at = text.find(key);
        if (at != std::string::npos) text.replace(at, key.size(), value);
    };
    fill("{tzst}", archive_extensions_text(ArchiveKind::zstd_tarball, "or"));
    fill("{zip}", archive_extensions_text(ArchiveKind::zip, "or"));
    fill("{archives}", "a " + words_joined(archives, "or") + " archive, or a single " + words_joined(files, "or") +
                           " file");
    constexpr size_t WIDTH = 96;
    std::string wrapped;
    size_t line_start = 0;
    for (size_t at = 0; at < text.size(); ++at) {
        wrapped += text[at];
        if (text[at] == '\n') line_start = wrapped.size();
        if (wrapped.size() - line_start > WIDTH) {
            const size_t space = wrapped.rfind(' ', wrapped.size() - 1);
            if (space != std::string::npos && space > line_start) {
                wrapped[space] = '\n';
                line_start = space + 1;
            }
        }
    }
    return wrapped;
}

// What the options ask of the output.
struct CliOptions {
    bool progress = false;  // progress lines also when standard error is no console
    bool quiet = false;     // only errors and the report
};
CliOptions cli_options;

// True for a console's screen: a character device such as NUL is none, and
// its output is written as to a file.
bool is_console(HANDLE handle) {
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != 0;
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

// Loads the preferences the program would use, without writing any file.
void load_user_preferences() {
    const String program = folder_of(module_file_name().c_str());
    String data;
    if (!find_data_folder(program.c_str(), is_portable(program.c_str()), data)) data.set("");
    preferences_state = create_preferences_state(data.c_str());
    if (!load_preferences(false)) load_preferences(true);
}

// Shows a job's progress on standard error: redrawn in place at a console,
// or (with --progress) as lines, one when the phase changes and otherwise at
// most one each half second, when the percentage has moved.
class ProgressLine {
public:
    ProgressLine() : console_(is_console(GetStdHandle(STD_ERROR_HANDLE))) {}

    void show(const ArchiveJob& job) {
        if (cli_options.quiet || !job_busy(job) || (!console_ && !cli_options.progress)) return;
        const std::string words = progress_words(job);
        if (console_) {
            if (words == shown_) return;
            std::fprintf(stderr, "\r%-*s", static_cast<int>(width_), words.c_str());
            width_ = std::max(width_, words.size());
            shown_ = words;
            return;
        }
        const int32_t phase = job.phase.load();
        const int32_t percent = phase_percent(job);
        const ULONGLONG now = GetTickCount64();
        if (phase == phase_ && (percent == percent_ || now - last_ < 500)) return;
        std::fprintf(stderr, "%s\n", words.c_str());
        phase_ = phase;
        percent_ = percent;
        last_ = now;
    }

    // Clears a line drawn in place.
    void clear() {
        if (console_ && width_ > 0) std::fprintf(stderr, "\r%*s\r", static_cast<int>(width_), "");
        width_ = 0;
    }

private:
    const bool console_;
    std::string shown_;
    size_t width_ = 0;
    int32_t phase_ = -1;
    int32_t percent_ = -1;
    ULONGLONG last_ = 0;
};

// Runs the request that submit hands in on the worker, showing its progress
// and passing on a cancel; returns its outcome.
template <typename Submit>
JobOutcome run(ArchiveJob& job, Submit submit) {
    const uint32_t served = job.requests_served.load();
    submit();
    ProgressLine line;
    bool raised = false;
    while (job.requests_served.load() == served) {
        Sleep(10);
        if (cli_session.raised_console_event && !raised && job_busy(job) && job.items_done.load() > 0) {
            raised = true;
            raise_console_event_soon();
        }
        if (cli_session.interrupted) set_cancel_requested(job, true);
        line.show(job);
    }
    line.clear();
    return static_cast<JobOutcome>(job.outcome.load());
}

bool exists(const String& path) { return !path.empty() && file_attributes(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

const JobProblem* find_problem(const ArchiveJob& job, Problem kind) {
    for (const JobProblem& problem : job.problems) {
        if (problem.kind == kind) return &problem;
    }
    return nullptr;
}

// True when the job made nothing of its output for a reason that concerns
// the whole archive: it could not be read, or its output could not be made.
bool nothing_could_be_made(const ArchiveJob& job) {
    for (const Problem kind : {Problem::unreadable_archive, Problem::destination_not_made, Problem::needs_memory,
                               Problem::needs_dictionary, Problem::names_encrypted, Problem::name_leaves_no_folder,
                               Problem::unknown_archive_kind, Problem::root_refused}) {
        if (find_problem(job, kind)) return true;
    }
    return false;
}

// Prints what the job could not do, entry by entry.
void print_problems(const ArchiveJob& job) {
    for (const JobProblem& problem : job.problems) {
        if (problem.kind == Problem::destination_not_made) continue;  // the summary says it
        std::fprintf(stderr, "velmora-cli: %s: %s\n", problem_label(problem).c_str(), problem.name.c_str());
    }
}

// Prints the outcome of a compression and returns its exit code: the
// archive's path when it is complete, else what was left.
int report_compression(const ArchiveJob& job, JobOutcome outcome) {
    print_problems(job);
    if (outcome == JobOutcome::complete) {
        if (!cli_options.quiet) std::printf("%s\n", job.output_path.c_str());
        return EXIT_COMPLETE;
    }
    if (job.output_made) return complain(EXIT_PARTIAL, "the archive was made, with the exceptions above", job.output_path.c_str());
    if (cli_session.interrupted || outcome == JobOutcome::cancelled) {
        return complain(EXIT_CANCELLED, "cancelled; no archive was made");
    }
    return complain(EXIT_NOTHING_MADE, "no archive was made");
}

// The same for an extraction, whose output is a folder (or, for a single
// compressed file, that file).
int report_extraction(const ArchiveJob& job, JobOutcome outcome) {
    print_problems(job);
    if (outcome == JobOutcome::complete) {
        if (!cli_options.quiet) std::printf("%s\n", job.output_path.c_str());
        return EXIT_COMPLETE;
    }
    const bool cancelled = cli_session.interrupted || outcome == JobOutcome::cancelled;
    const bool any = job.files_written > 0;
    if (cancelled) {
        return any ? complain(EXIT_CANCELLED, "cancelled; what was extracted before is in", job.output_path.c_str())
                   : complain(EXIT_CANCELLED, "cancelled; nothing was extracted");
    }
    if (const JobProblem* problem = find_problem(job, Problem::destination_not_made)) {
        return complain(EXIT_NOTHING_MADE, "nothing was extracted: the folder " + name_of(job.output_path.c_str()) +
                                               " could not be made, " + problem->detail);
    }
    if (job.output_made) return complain(EXIT_PARTIAL, "extracted, with the exceptions above", job.output_path.c_str());
    if (any && exists(job.output_path)) {
        return complain(EXIT_PARTIAL, "extracted only in part; what could be read is in", job.output_path.c_str());
    }
    return complain(nothing_could_be_made(job) || !any ? EXIT_NOTHING_MADE : EXIT_PARTIAL, "nothing was extracted");
}

// "-o VALUE" among arguments: removes both and returns VALUE ("" when absent).
// False when -o has no value.
bool take_output(std::vector<std::string>& arguments, std::string* output) {
    for (size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] != "-o") continue;
        if (i + 1 >= arguments.size()) return false;
        *output = without_trailing_separator(full_path(arguments[i + 1]));
        arguments.erase(arguments.begin() + static_cast<std::ptrdiff_t>(i), arguments.begin() + static_cast<std::ptrdiff_t>(i) + 2);
        return true;
    }
    return true;
}

// True when path lies inside folder (or is it).
bool inside(const std::string& path, const std::string& folder) {
    return same_path(path, folder) ||
           (path.size() > folder.size() && same_path(path.substr(0, folder.size()), folder) &&
            (path[folder.size()] == '\\' || path[folder.size()] == '/'));
}

int compress(ArchiveJob& job, std::vector<std::string> arguments) {
    std::string output;
    if (!take_output(arguments, &output)) return usage_error("-o needs an archive's name");
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
            if (!*arguments[i].c_str() || *end || value < 0 || value > ZSTD_HIGHEST_CHOICE) return usage_error("bad level");
            level = static_cast<int>(value);
        } else if (a == "--checksum") {
            checksum = true;
        } else if (a == "--keep-tarball") {
            keep = true;
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            return usage_error("unknown option " + a);
        } else {
            paths.push_back(without_trailing_separator(full_path(a)));
        }
    }
    if (format != "tzst" && format != "zip") return usage_error("format must be tzst or zip");
    if (paths.empty()) return usage_error("nothing to compress");
    if (format == "zip" && level > 9) return usage_error("zip levels are 0 to 9");
    const ArchiveKind kind = format == "zip" ? ArchiveKind::zip : ArchiveKind::zstd_tarball;
    if (!output.empty() && archive_names(output.c_str()).kind != kind) {
        return usage_error("the archive of --format " + format + " must end in " +
                           archive_extensions_text(kind, "or") + ": " + output);
    }

    job.compressor = format == "zip" ? COMPRESSOR_DEFLATE : COMPRESSOR_ZSTANDARD;
    if (level >= 0 && format == "zip") job.zlib_level = level;
    if (level >= 0 && format == "tzst") job.zstd_level = zstd_level_of_choice(level);
    if (checksum) job.zstd_checksum = 1;
    if (keep) job.keep_tarball = true;

    for (const std::string& path : paths) {
        if (file_attributes(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            return complain(EXIT_NOTHING_MADE, "no such file or folder", path);
        }
        if (!output.empty() && inside(output, path)) return usage_error("the archive cannot lie in what it packs: " + output);
    }
    const char* to = output.empty() ? nullptr : output.c_str();
    const DWORD first = file_attributes(paths[0].c_str());
    if (first & FILE_ATTRIBUTE_DIRECTORY) {
        if (paths.size() > 1) return usage_error("give one folder, or files of one folder");
        return report_compression(job, run(job, [&] { submit_compress_folder(job, paths[0].c_str(), to); }));
    }
    const std::string folder = folder_part(paths[0].c_str());
    for (const std::string& path : paths) {
        if (file_attributes(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) return usage_error("give one folder, or files of one folder");
        if (!same_path(folder_part(path.c_str()), folder)) return usage_error("the files must lie in one folder");
    }
    return report_compression(job, run(job, [&] { submit_compress_files(job, make_selection_list(paths), to); }));
}

// The archive a decompress, list or test names; "" after a complaint (*code).
std::string archive_argument(const std::vector<std::string>& arguments, int* code) {
    if (arguments.size() != 2 || arguments[1].empty() || arguments[1][0] == '-') {
        *code = usage_error(arguments[0] + " takes one archive");
        return "";
    }
    const std::string archive = full_path(arguments[1]);
    if (archive_names(archive.c_str()).kind == ArchiveKind::none) {
        *code = usage_error("the archive must end in one of " + unpackable_extensions_text() + ": " + archive);
        return "";
    }
    if (file_attributes(archive.c_str()) == INVALID_FILE_ATTRIBUTES) {
        *code = complain(EXIT_NOTHING_MADE, "no such archive", archive);
        return "";
    }
    return archive;
}

int decompress(ArchiveJob& job, std::vector<std::string> arguments) {
    std::string output;
    if (!take_output(arguments, &output)) return usage_error("-o needs a folder");
    int code = EXIT_USAGE;
    const std::string archive = archive_argument(arguments, &code);
    if (archive.empty()) return code;
    const char* to = output.empty() ? nullptr : output.c_str();
    return report_extraction(job, run(job, [&] { submit_decompress(job, archive.c_str(), to); }));
}

int test(ArchiveJob& job, const std::vector<std::string>& arguments) {
    int code = EXIT_USAGE;
    const std::string archive = archive_argument(arguments, &code);
    if (archive.empty()) return code;
    const JobOutcome outcome = run(job, [&] { submit_test(job, archive.c_str()); });
    size_t damaged = 0;
    size_t untested = 0;
    for (const JobProblem& problem : job.problems) {
        switch (problem.kind) {
        case Problem::cut_short:
        case Problem::damaged:
        case Problem::entry_unreadable:
        case Problem::archive_damaged:
            ++damaged;
            std::fprintf(stderr, "damaged: %s\n", problem.name.c_str());
            break;
        case Problem::shares_data:
            ++damaged;
            std::fprintf(stderr, "damaged: %s (shares its data with an earlier entry)\n", problem.name.c_str());
            break;
        case Problem::entry_needs_memory:
            ++untested;
            std::fprintf(stderr, "not tested: %s\n", problem.name.c_str());
            break;
        case Problem::encrypted:
            ++untested;
            std::fprintf(stderr, "not tested: %s (encrypted)\n", problem.name.c_str());
            break;
        case Problem::unknown_method:
            ++untested;
            std::fprintf(stderr, "not tested: %s (compressed with %s)\n", problem.name.c_str(), problem.detail.c_str());
            break;
        default: std::fprintf(stderr, "velmora-cli: %s: %s\n", problem_label(problem).c_str(), problem.name.c_str());
        }
    }
    const std::string entries = std::to_string(job.items_done.load()) + " entries tested";
    if (cli_session.interrupted || outcome == JobOutcome::cancelled) return complain(EXIT_CANCELLED, "cancelled");
    if (nothing_could_be_made(job) && job.items_done.load() == 0) {
        return complain(EXIT_NOTHING_MADE, "the archive could not be tested", archive);
    }
    if (outcome == JobOutcome::complete && job.problems.empty()) {
        if (!cli_options.quiet) std::printf("%s, all sound: %s\n", entries.c_str(), archive.c_str());
        return EXIT_COMPLETE;
    }
    return complain(EXIT_PARTIAL,
                    entries + ": " + std::to_string(damaged) + " damaged, " + std::to_string(untested) + " not tested",
                    archive);
}

int list(const std::vector<std::string>& arguments) {
    int code = EXIT_USAGE;
    const std::string archive = archive_argument(arguments, &code);
    if (archive.empty()) return code;
    size_t listed = 0;
    const ListResult result = list_archive(archive.c_str(), [&](const ListedEntry& entry) {
        ++listed;
        if (entry.skipped) {
            std::fprintf(stderr, "velmora-cli: %s: %s\n", problem_label(Problem::unsafe_name), entry.name.c_str());
        } else {
            std::printf("%llu\t%s\n", static_cast<unsigned long long>(entry.size), entry.name.c_str());
        }
    });
    switch (result.end) {
    case ListEnd::whole: return EXIT_COMPLETE;
    case ListEnd::broken:
        return complain(EXIT_PARTIAL, "the archive breaks off after " + std::to_string(listed) + " entries", archive);
    case ListEnd::too_large:
        return complain(EXIT_NOTHING_MADE,
                        result.memory_needed == 0
                            ? std::string("the archive needs more memory than this computer can give")
                            : "the archive needs " + mib_text(result.memory_needed) +
                                  " of memory to unpack, more than this computer can give",
                        archive);
    case ListEnd::names_encrypted:
        return complain(EXIT_NOTHING_MADE, "the archive's names are encrypted, and Velmora asks for no password",
                        archive);
    case ListEnd::needs_dictionary:
        return complain(EXIT_NOTHING_MADE, "the archive is compressed with " + zstd_dictionary_words(result.dictionary_id) +
                                               ", which Velmora does not have",
                        archive);
    case ListEnd::unknown_kind:
    case ListEnd::unreadable: break;
    }
    return complain(EXIT_NOTHING_MADE, "the archive could not be read", archive);
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

// The commands that run a job on the job record.
int run_job_command(const std::vector<std::string>& arguments) {
    start_session_watch();
    CoInitialize(nullptr);
    load_user_preferences();
    ArchiveJob* job = create_archive_job(job_settings_from_preferences());
    const std::string& command = arguments[0];
    const int code = command == "compress"     ? compress(*job, arguments)
                     : command == "decompress" ? decompress(*job, arguments)
                                               : test(*job, arguments);
    destroy_archive_job(job);
    end_session_watch();
    destroy_preferences_state(preferences_state);
    preferences_state = nullptr;
    CoUninitialize();
    return code;
}

int run_command(const std::vector<std::string>& arguments) {
    if (arguments.empty()) return usage_error("no command");
    const std::string& command = arguments[0];
    if (command == "--help" || command == "-h" || command == "/?") {
        std::printf("%s", usage_text().c_str());
        return EXIT_COMPLETE;
    }
    if (command == "--version") {
        std::printf("velmora-cli %s (x64), built %s, revision %s\n", BUILD_VERSION, BUILD_TIMESTAMP, BUILD_REVISION);
        return EXIT_COMPLETE;
    }
    if (command == "copy-through") return copy_through(arguments);
    if (command == "entry-walk") return entry_walk(arguments);
    if (command == "list") return list(arguments);
    if (command == "compress" || command == "decompress" || command == "test") return run_job_command(arguments);
    return usage_error("unknown command " + command);
}

// Takes the options that apply to every command out of arguments (they may
// stand anywhere before a "--", which ends them). False after a complaint.
bool take_options(std::vector<std::string>& arguments, bool* stats, int* code) {
    for (size_t i = 0; i < arguments.size();) {
        const std::string& a = arguments[i];
        if (a == "--") {
            arguments.erase(arguments.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
        size_t taken = 1;
        if (a == "--stats") {
            *stats = true;
        } else if (a == "--progress") {
            cli_options.progress = true;
        } else if (a == "--quiet") {
            cli_options.quiet = true;
        } else if (a == "--raise-console-event") {
            char* end = nullptr;
            const char* value = i + 1 < arguments.size() ? arguments[i + 1].c_str() : "";
            const unsigned long event = std::strtoul(value, &end, 10);
            if (!*value || *end || !is_console_end_event(event)) {
                *code = usage_error("--raise-console-event takes 2 (close), 5 (logoff) or 6 (shutdown)");
                return false;
            }
            cli_session.raised_console_event = static_cast<DWORD>(event);
            taken = 2;
        } else {
            taken = 0;
        }
        if (taken == 0) {
            ++i;
        } else {
            arguments.erase(arguments.begin() + static_cast<std::ptrdiff_t>(i),
                            arguments.begin() + static_cast<std::ptrdiff_t>(i + taken));
        }
    }
    if (cli_options.progress && cli_options.quiet) {
        *code = usage_error("--progress and --quiet exclude each other");
        return false;
    }
    return true;
}

}  // namespace

int usage_error(const std::string& reason) {
    std::fprintf(stderr, "velmora-cli: %s\n(velmora-cli --help shows the usage)\n", reason.c_str());
    return EXIT_USAGE;
}

int complain(int code, const std::string& reason, const std::string& subject) {
    std::fprintf(stderr, "velmora-cli: %s%s%s\n", reason.c_str(), subject.empty() ? "" : ": ", subject.c_str());
    return code;
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

std::string without_trailing_separator(std::string path) {
    while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
    return path;
}

// The job's thread is joined, its files closed and the preferences freed
// when run_command returns; the process then ends at once, with its output
// flushed, and runs no teardown of the runtime's per-thread data.
int main() {
    LARGE_INTEGER started;
    QueryPerformanceCounter(&started);
    int code = EXIT_COMPLETE;
    // Lines end in a line feed alone where they go to a file or a pipe, so
    // that a progress file holds no carriage return; a console gets its own.
    // The runtime takes any character device (NUL too) for a terminal and
    // writes it unbuffered, a system call a line: standard output that is
    // no console is buffered whole.
    for (FILE* stream : {stdout, stderr}) {
        if (is_console(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))))) continue;
        _setmode(_fileno(stream), _O_BINARY);
        if (stream == stdout) std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    }
    {
        std::vector<std::string> arguments = utf8_arguments();
        bool stats = false;
        if (take_options(arguments, &stats, &code)) code = run_command(arguments);
        if (stats) print_stats(started);
    }
    close_pooled_events();
    std::fflush(stdout);
    std::fflush(stderr);
    ExitProcess(static_cast<UINT>(code));
}

// The job record, the request handover and the worker loop.
// The record is created and destroyed by the user-interface thread; the
// worker thread serves requests; see archive_job.h for who writes what.
#include "jobs/archive_job.h"

#include <objbase.h>
#include <process.h>
#include <zstd.h>

#include <cassert>
#include <cstring>
#include <iterator>

#include "io/platform.h"
#include "jobs/after_job.h"
#include "jobs/archive_inspect.h"
#include "jobs/archive_names.h"
#include "jobs/directory_scan.h"
#include "jobs/job_paths.h"
#include "jobs/job_report.h"
#include "io/banned.h"

namespace {


constexpr struct {
    Phase phase;
    const char* text;
} PHASE_TEXTS[] = {
    {Phase::none, ""},
    {Phase::preparing, "Preparing..."},
    {Phase::writing_tarball, "Writing tarball (1/2)"},
    {Phase::compressing_tarball, "Compressing (2/2)"},
    {Phase::decompressing_zstd, "Decompressing (1/2)"},
    {Phase::reading_tarball, "Reading tarball (2/2)"},
    {Phase::compressing_zip, "Compressing"},
    {Phase::decompressing_zip, "Decompressing"},
    {Phase::decompressing_file, "Decompressing"},
    {Phase::testing, "Testing"},
};

constexpr bool one_text_per_phase_in_order() {
    if (std::size(PHASE_TEXTS) != static_cast<size_t>(Phase::count)) return false;
    for (size_t i = 0; i < std::size(PHASE_TEXTS); ++i) {
        if (PHASE_TEXTS[i].phase != static_cast<Phase>(i)) return false;
    }
    return true;
}
static_assert(one_text_per_phase_in_order(), "PHASE_TEXTS holds the text of each Phase, in Phase's order");

ArchiveJob* new_job(const JobSettings& settings) {
    auto* job = new ArchiveJob;
    InitializeCriticalSection(&job->request_lock);
    InitializeCriticalSection(&job->job_lock);
    job->wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    job->zstd_level = settings.zstd_level;
    job->zstd_checksum = settings.zstd_checksum;
    job->zlib_level = settings.zlib_level;
    job->keep_tarball = settings.keep_tarball;
    job->action_after_compression = settings.action_after_compression;
    job->action_after_decompression = settings.action_after_decompression;
    return job;
}

void submit(ArchiveJob& job, std::atomic<uint8_t>& flag) {
    flag.store(1, std::memory_order_release);
    if (job.wake) SetEvent(job.wake);
}

// Takes the first raised request: copies its input for the worker and
// lowers its flag. False when nothing was requested.
bool take_request(ArchiveJob& job, JobKind* kind) {
    EnterCriticalSection(&job.request_lock);
    bool taken = true;
    if (job.compress_folder_requested.exchange(0)) {
        *kind = JobKind::compress_folder;
        job.job_folder = job.folder_path;
    } else if (job.compress_files_requested.exchange(0)) {
        *kind = JobKind::compress_files;
        job.job_inputs = job.input_paths;
    } else if (job.decompress_requested.exchange(0)) {
        *kind = JobKind::decompress;
        job.job_inputs = job.input_paths;
    } else if (job.test_requested.exchange(0)) {
        *kind = JobKind::test;
        job.job_inputs = job.input_paths;
    } else {
        taken = false;
    }
    if (taken) job.job_output = job.output_request;
    LeaveCriticalSection(&job.request_lock);
    return taken;
}

// The pipeline of the job. A compressor other than ZIP is the Zstandard
// tarball, the default.
JobResult run_pipeline(ArchiveJob& job, JobKind kind) {
    const bool zip = job.compressor.load() == COMPRESSOR_DEFLATE;
    switch (kind) {
    case JobKind::compress_folder: return zip ? compress_folder_zip(job) : compress_folder_tzst(job);
    case JobKind::compress_files: return zip ? compress_files_zip(job) : compress_files_tzst(job);
    case JobKind::test: return test_archive_job(job);
    case JobKind::decompress: break;
    }
    const char* archive = job.job_inputs.c_str();
    const ArchiveNames names = archive_names(archive);
    if (names.kind == ArchiveKind::none) {
        note_problem(job, Problem::unknown_archive_kind, archive);
        return JobResult{};
    }
    // A folder asked for saves a folder kind from its name, but a single
    // compressed file still takes its output's name from the archive's.
    if (!names.usable && (job.job_output.empty() || names.kind == ArchiveKind::zstd_file)) {
        note_problem(job, Problem::name_leaves_no_folder, archive);
        return JobResult{};
    }
    switch (names.kind) {
    case ArchiveKind::zip: return decompress_zip_job(job);
    case ArchiveKind::zstd_tarball: return decompress_tzst_job(job);
    case ArchiveKind::zstd_file: return decompress_zst_file_job(job);
    case ArchiveKind::none: break;
    }
    return JobResult{};
}

// Forgets the last job and raises busy. A cancel raised by the shutdown
// stays, so that a request taken as the program ends does no work.
void begin_job(ArchiveJob& job) {
    job.outcome.store(static_cast<int32_t>(JobOutcome::none));
    job.output_path.clear();
    job.output_made = false;
    job.files_written = 0;
    job.problems.clear();
    job.output_error = NO_ERROR;
    clear_percentages(job);
    clear_counters(job);
    set_phase(job, Phase::none);
    set_busy_and_cancel(job, true, job.quit_requested.load() != 0);
}

// Records how the job ended: complete when the output was made whole under
// its name and nothing but notices was noted (a cancel that comes after
// that is too late to undo it, and the output stays); else cancelled or
// failed.
void record_outcome(ArchiveJob& job, const JobResult& result) {
    const bool cancelled = cancel_requested(job);
    bool lost = false;
    for (const JobProblem& problem : job.problems) lost = lost || !is_notice(problem.kind);
    const JobOutcome outcome = result.made && !lost ? JobOutcome::complete
                               : cancelled          ? JobOutcome::cancelled
                                                    : JobOutcome::failed;
    job.output_made = result.made;
    job.output_path.set(result.output.c_str());
    job.outcome.store(static_cast<int32_t>(outcome));
}

// Waits for the worker to end. The worker may sit in a dialog of its host,
// or be sending to a window of this thread, which is why the wait serves
// sent messages and has the host dismiss what it shows until the thread is
// gone.
void wait_for_worker(ArchiveJob& job) {
    const DWORD worker = GetThreadId(job.worker_thread);
    for (;;) {
        if (job.host.dismiss) job.host.dismiss(job.host.context, worker);
        const DWORD woke = MsgWaitForMultipleObjects(1, &job.worker_thread, FALSE, 100, QS_SENDMESSAGE);
        if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) return;
        if (woke == WAIT_OBJECT_0 + 1) {
            MSG message;
            PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }
}

}  // namespace

ArchiveJob* create_archive_job(const JobSettings& settings, const JobHost& host) {
    ArchiveJob* job = new_job(settings);
    job->host = host;
    job->worker_thread =
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, run_job_worker, job, 0, nullptr));
    return job;
}

ArchiveJob* create_archive_job_without_worker(const JobSettings& settings) { return new_job(settings); }

void destroy_archive_job(ArchiveJob* job) {
    if (!job) return;
    set_cancel_requested(*job, true);
    job->quit_requested.store(1);
    if (job->wake) SetEvent(job->wake);
    if (job->worker_thread) {
        wait_for_worker(*job);
        CloseHandle(job->worker_thread);
    }
    if (job->zstd_cctx) ZSTD_freeCCtx(reinterpret_cast<ZSTD_CCtx*>(job->zstd_cctx));
    if (job->zstd_dctx) ZSTD_freeDCtx(reinterpret_cast<ZSTD_DCtx*>(job->zstd_dctx));
    delete job->stage_reader;
    delete job->stage_writer;
    if (job->wake) CloseHandle(job->wake);
    DeleteCriticalSection(&job->job_lock);
    DeleteCriticalSection(&job->request_lock);
    delete job;
}

bool wait_for_job_end(ArchiveJob& job, DWORD timeout_ms) {
    const ULONGLONG end = GetTickCount64() + timeout_ms;
    for (;;) {
        // The worker holds job_lock for the whole of each job.
        if (TryEnterCriticalSection(&job.job_lock)) {
            LeaveCriticalSection(&job.job_lock);
            return true;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return false;
        const DWORD slice = static_cast<DWORD>(end - now < 20 ? end - now : 20);
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, slice, QS_SENDMESSAGE) == WAIT_OBJECT_0) {
            MSG message;
            PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }
}

void submit_compress_folder(ArchiveJob& job, const char* folder, const char* output) {
    EnterCriticalSection(&job.request_lock);
    job.folder_path.set(folder);
    job.output_request = output ? output : "";
    submit(job, job.compress_folder_requested);
    LeaveCriticalSection(&job.request_lock);
}

void submit_compress_files(ArchiveJob& job, const std::string& selection_list, const char* output) {
    EnterCriticalSection(&job.request_lock);
    job.input_paths = selection_list;
    job.output_request = output ? output : "";
    submit(job, job.compress_files_requested);
    LeaveCriticalSection(&job.request_lock);
}

namespace {

void submit_archive(ArchiveJob& job, std::atomic<uint8_t>& flag, const char* archive, const char* output) {
    EnterCriticalSection(&job.request_lock);
    job.input_paths.assign(archive);
    job.input_paths.push_back('\0');
    job.input_paths.push_back('\0');
    job.output_request = output ? output : "";
    submit(job, flag);
    LeaveCriticalSection(&job.request_lock);
}

}  // namespace

void submit_decompress(ArchiveJob& job, const char* archive, const char* output) {
    submit_archive(job, job.decompress_requested, archive, output);
}

void submit_test(ArchiveJob& job, const char* archive) { submit_archive(job, job.test_requested, archive, nullptr); }

void run_job(ArchiveJob& job, JobKind kind) {
    begin_job(job);
    const JobResult result = run_pipeline(job, kind);
    record_outcome(job, result);
    set_busy(job, false);
    if (kind == JobKind::decompress) {
        after_decompression(job, folder_part(job.job_inputs.c_str()).c_str());
    } else if (kind != JobKind::test) {
        after_compression(job, result.output.c_str(), job.compressor.load() == COMPRESSOR_DEFLATE ? "zip" : "tzst");
    }
    job.requests_served.fetch_add(1);
}

bool serve_one_request(ArchiveJob& job) {
    EnterCriticalSection(&job.job_lock);
    JobKind kind = JobKind::compress_folder;
    const bool taken = take_request(job, &kind);
    if (taken) run_job(job, kind);
    LeaveCriticalSection(&job.job_lock);
    return taken;
}

unsigned __stdcall run_job_worker(void* argument) {
    auto& job = *static_cast<ArchiveJob*>(argument);
    CoInitialize(nullptr);
    while (!job.quit_requested.load()) {
        serve_one_request(job);
        if (job.quit_requested.load()) break;
        // A poll at least every JOB_POLL_MS; a request wakes the worker at once.
        if (job.wake) {
            WaitForSingleObject(job.wake, JOB_POLL_MS);
        } else {
            Sleep(JOB_POLL_MS);
        }
    }
    CoUninitialize();
    return 0;
}

void set_busy(ArchiveJob& job, bool busy) {
    if (busy) {
        job.busy_and_cancel.fetch_or(JOB_BUSY, std::memory_order_relaxed);
    } else {
        job.busy_and_cancel.fetch_and(static_cast<uint16_t>(~JOB_BUSY), std::memory_order_relaxed);
    }
}

void set_cancel_requested(ArchiveJob& job, bool cancel) {
    if (cancel) {
        job.busy_and_cancel.fetch_or(JOB_CANCEL, std::memory_order_relaxed);
    } else {
        job.busy_and_cancel.fetch_and(static_cast<uint16_t>(~JOB_CANCEL), std::memory_order_relaxed);
    }
}

void set_busy_and_cancel(ArchiveJob& job, bool busy, bool cancel) {
    job.busy_and_cancel.store(static_cast<uint16_t>((busy ? JOB_BUSY : 0) | (cancel ? JOB_CANCEL : 0)),
                              std::memory_order_relaxed);
}

void clear_percentages(ArchiveJob& job) {
    job.overall_percent.store(0, std::memory_order_relaxed);
    job.item_percent.store(0, std::memory_order_relaxed);
}

void clear_counters(ArchiveJob& job) {
    job.items_done.store(0, std::memory_order_relaxed);
    job.items_total.store(0, std::memory_order_relaxed);
}

void set_phase(ArchiveJob& job, Phase phase) { job.phase.store(static_cast<int32_t>(phase)); }

const char* phase_name(Phase phase) {
    const auto index = static_cast<size_t>(phase);
    return index < std::size(PHASE_TEXTS) ? PHASE_TEXTS[index].text : "";
}

const char* phase_text(const ArchiveJob& job) { return phase_name(static_cast<Phase>(job.phase.load())); }

int32_t counted_percent(int64_t done, int64_t total) {
    return static_cast<int32_t>(done * 100 / (total > 1 ? total : 1));
}

void note_problem(ArchiveJob& job, Problem kind, const std::string& name, const std::string& detail) {
    job.problems.push_back({kind, name, detail});
}

bool is_notice(Problem kind) {
    return kind == Problem::tarball_kept_as || kind == Problem::saved_as || kind == Problem::entries_uncounted;
}

void copy_input_data(ArchiveJob& job, FileReader& reader, const char* name, int32_t overall, PutPiece put) {
    char piece[DATA_PIECE];
    const uint64_t size = reader.size();
    while (reader.position() < size) {
        const size_t n = reader.read(piece, sizeof(piece));
        if (n == 0) break;
        if (!put(job, piece, n)) {
            set_output_error(job, NO_ERROR);  // the write's own reason is kept when it had one
            return;
        }
        job.overall_percent.store(overall, std::memory_order_relaxed);
        job.item_percent.store(
            counted_percent(static_cast<int64_t>(reader.position()), static_cast<int64_t>(size)),
            std::memory_order_relaxed);
        if (job_stopping(job)) return;
    }
    if (reader.position() < size || reader.failed()) note_problem(job, Problem::read_short, name);
}

void set_output_error(ArchiveJob& job, DWORD error) {
    if (job.output_error == NO_ERROR) job.output_error = error != NO_ERROR ? error : ERROR_WRITE_FAULT;
}

void note_output_not_written(ArchiveJob& job, const char* path, Problem kind) {
    for (const JobProblem& problem : job.problems) {
        if (problem.kind == Problem::output_not_written || problem.kind == Problem::extraction_stopped) return;
    }
    std::string text = path;
    if (job.output_error != NO_ERROR) text += ": " + write_failure_reason(job.output_error, path);
    note_problem(job, kind, text);
}

void note_folder_left_out(ArchiveJob& job, FolderStep step, const std::string& name) {
    if (step == FolderStep::link) note_problem(job, Problem::link_not_followed, name);
    if (step == FolderStep::loop) note_problem(job, Problem::folder_loop, name);
}

namespace {

void count_level(ArchiveJob& job, const char* folder, FolderTrail& trail) {
    DirectoryScan scan;
    if (!scan.first(folder)) return;
    String path;
    do {
        if (!scan.is_directory()) {
            job.items_total.fetch_add(1, std::memory_order_relaxed);
        } else if (!scan.is_dot_entry()) {
            scan.full_path(path);
            if (trail.step_into(scan, path.c_str()) != FolderStep::enter) continue;
            count_level(job, path.c_str(), trail);
            trail.leave();
        }
    } while (scan.next() && !cancel_requested(job));
}

}  // namespace

void count_folder_files(ArchiveJob& job, const char* folder) {
    set_phase(job, Phase::preparing);
    FolderTrail trail;
    trail.start(folder);
    count_level(job, folder, trail);
}

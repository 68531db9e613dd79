// The worker: the request handover, the dispatch of a request to its
// family's pipeline, the outcome, the after-job action and the worker loop.
// The record is created and destroyed by the user-interface thread; the
// worker thread serves requests; see archive_job.h for who writes what.
#include "jobs/worker/job_worker.h"

#include <objbase.h>
#include <process.h>

#include <cassert>
#include <cstring>

#include "io/platform.h"
#include "jobs/frame/archive_names.h"
#include "jobs/frame/job_paths.h"
#include "jobs/tar/tzst_jobs.h"
#include "jobs/worker/after_job.h"
#include "jobs/worker/archive_inspect.h"
#include "jobs/worker/job_families.h"
#include "jobs/zip/zip_jobs.h"
#include "io/banned.h"

namespace {

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

// The pipeline of the job: the compressor's (ZIP unless it is Zstandard,
// as the record starts), or the family of the archive to unpack, by the
// kind its name gives, decided here once.
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
    const ArchiveFamily* family = family_of(names.kind);
    if (!family) {
        note_problem(job, Problem::unknown_archive_kind, archive);
        return JobResult{};
    }
    // A folder asked for saves a folder kind from its name, but a single
    // compressed file still takes its output's name from the archive's.
    if (!names.usable && (job.job_output.empty() || family->single_file)) {
        note_problem(job, Problem::name_leaves_no_folder, archive);
        return JobResult{};
    }
    return family->decompress(job, names);
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
    // Every pipeline releases what it opened before it returns.
    assert(!job->zstd_cctx && !job->zstd_dctx && !job->stage_reader && !job->stage_writer);
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
        after_decompression(job, folder_part(result.output.c_str()).c_str());
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

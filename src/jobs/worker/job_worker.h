// Serving the job record: creating it with its worker thread, handing
// requests in, running one request from start to end and the worker loop.
// See archive_job.h for the record and which thread touches what.
#pragma once

#include <string>

#include "jobs/frame/archive_job.h"

// Builds the record with the given settings and host and starts the worker
// thread. The caller owns the record.
ArchiveJob* create_archive_job(const JobSettings& settings, const JobHost& host = JobHost{});
// Builds the record without a worker (tests and tools serve requests by hand).
ArchiveJob* create_archive_job_without_worker(const JobSettings& settings = JobSettings{});
// Raises cancel and quit, waits for the worker without a time-out and frees
// everything; nothing happens for null. A dialog the worker shows at the
// time (the save chooser, a report) is closed as Escape would close it, and
// messages the worker sends to this thread's windows are served meanwhile.
void destroy_archive_job(ArchiveJob* job);

// Waits up to timeout_ms for the job being served (if any) to end, serving
// the messages other threads send to this thread's windows meanwhile;
// true when no job is being served any more. The session's end uses it
// after a cancel, to let a job remove what it left.
bool wait_for_job_end(ArchiveJob& job, DWORD timeout_ms);

// User-interface thread: hand in a request. The inputs are copied. output,
// when given, is where the output goes instead of its derived name: the
// archive of a compression (its extension fits the compressor), or the
// folder an archive unpacks into (made when missing).
void submit_compress_folder(ArchiveJob& job, const char* folder, const char* output = nullptr);
void submit_compress_files(ArchiveJob& job, const std::string& selection_list, const char* output = nullptr);
void submit_decompress(ArchiveJob& job, const char* archive, const char* output = nullptr);
// Tests the archive: every entry is decoded and checked, nothing is written.
void submit_test(ArchiveJob& job, const char* archive);

// The worker thread procedure (argument: the record).
unsigned __stdcall run_job_worker(void* job);
// One pass of the worker: takes the first raised request (folder
// compression, then file compression, then decompression, then a test) and
// runs it with run_job under job_lock. Returns false when nothing was
// requested.
bool serve_one_request(ArchiveJob& job);

// What a request asks for.
enum class JobKind { compress_folder, compress_files, decompress, test };

// Runs one job on the worker's copy of its input (job_folder for a folder,
// job_inputs otherwise), from start to end: the last job's outcome,
// problems and progress are forgotten, busy is raised with the cancel
// cleared, the pipeline of the kind (and of the compressor, or of the
// archive's kind by its name, which must leave a name for its output)
// runs, then the outcome is recorded, busy cleared, the after-job action
// runs and requests_served is raised. Worker thread (tests
// and tools call it directly on a record without a worker).
void run_job(ArchiveJob& job, JobKind kind);

// The one job record shared by the main window, the archive worker thread and
// the Progress window, with what every pipeline does with it: the shared
// flags and counters, the problem list, the phase. The worker that serves
// its requests is job_worker.h. The record holds each stage's handles
// (opaque here); the families open and release them.
//
// Threads: the user-interface thread hands a request in through the submit_*
// calls (which copy the input under request_lock and raise one flag) and
// reads the progress fields; the worker takes a request (copying its input
// into job_folder / job_inputs, so a newer choice can never change a running
// job's input), runs one pipeline while holding job_lock, and publishes
// progress. What another thread reads while the worker runs is an atomic:
// the request flags, quit, the progress counters, the phase (an identifier
// mapped to one of the fixed texts), busy and cancel, the compressor, the
// outcome and requests_served. A request's input crosses under request_lock.
// Every other field is the worker's while it serves a request, which it does
// holding job_lock from start to end.
//
// busy says that a job is in its working part, for the windows: the worker
// raises it (with cancel cleared) as a job begins and clears it once the
// outcome is written, before the after-job action; the Progress window's
// cancel clears it at once (raising cancel) while the worker still winds
// down and removes what it wrote. So busy going to 0 is no sign that a job
// has ended. That sign is requests_served, which the worker raises last of
// all: whoever reads a job's outcome (outcome, problems, output_made,
// output_path) first waits until requests_served has moved past the value
// it saw before submitting the request (wait_for_job_end instead waits for
// job_lock).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdint>
#include <string>
#include <vector>

#include "io/file_reader.h"
#include "io/file_writer.h"
#include "io/grow_buffer.h"
#include "jobs/frame/job_host.h"
#include "jobs/frame/job_settings.h"

struct ZSTD_CCtx_s;
struct ZSTD_DCtx_s;
struct archive;

// minizip's entry date and attribute record, as the zip pipelines fill it.
struct ZipEntryInfo {
    unsigned tm_sec, tm_min, tm_hour, tm_mday, tm_mon, tm_year;
    unsigned long dos_date, internal_fa, external_fa;
};

// What a job is doing; phase_name gives the text the Progress window shows.
enum class Phase : int32_t {
    none,
    preparing,
    writing_tarball,
    compressing_tarball,
    decompressing_zstd,
    reading_tarball,
    compressing_zip,
    decompressing_zip,
    decompressing_file,  // a single compressed file
    testing,             // velmora-cli's test of an archive
    decompressing_archive,  // an archive read in one pass (tar, 7z, RAR), by the archive read so far
    count  // the number of phases, not a phase
};

// How the last served job ended, for callers that need to know (the console
// companion); the program's windows never look at it.
enum class JobOutcome : int32_t { none, complete, cancelled, failed };

// Something a job could not do with one entry (or with its whole output),
// kept for the report at the job's end.
enum class Problem : int32_t {
    unreadable,        // an input that could not be opened: not in the archive
    read_short,        // an input that could not be read to its end: stored incomplete
    not_stored,        // an input the archive refused (its header or name)
    unlisted_folder,   // a folder whose contents could not be listed
    unsafe_name,       // an entry whose name leads outside the destination: skipped
    encrypted,         // an encrypted entry: skipped
    unknown_method,    // an entry of a method the program cannot unpack: skipped
    damaged,           // a file whose checksum or size disagrees with its header: kept
    cut_short,         // a file whose data is damaged or ends early: not extracted
    not_written,       // a file or folder the disk did not take
    renamed,           // a file whose name only differs from an earlier one's in case
    unreadable_tarball,  // the tarball inside a .tzst is no tarball: kept for the user
    unreadable_archive,  // an archive that could not be opened at all
    archive_damaged,   // an archive that ends or breaks before its last entry
    output_not_written,  // the archive itself could not be written
    unknown_archive_kind,  // a file to unpack whose name is of no kind Velmora unpacks
    root_refused,      // a drive or share root chosen for compression
    tarball_not_read_back,  // the finished tarball failed to read back for compression
    saved_aside,       // a finished output kept under another name: the old one was held
    link_not_followed,  // a junction or folder symbolic link: not walked
    folder_loop,       // a folder that leads back to one that holds it: left out
    entry_warning,     // an entry extracted although the tar reader warned about it
    entry_unreadable,  // an entry whose header the tar reader could not use: skipped
    symlink_skipped,   // a symbolic link: not created
    special_skipped,   // a device, fifo or socket: not created
    link_target_missing,  // a hard link to a file that is not in the archive: not created
    extraction_stopped,   // a file of an extraction (or its tarball) the disk refused: the job stopped
    name_leaves_no_folder,  // an archive named only dots or spaces: its output would be its own folder or above
    needs_memory,         // a Zstandard frame whose window is more than this machine can give
    tarball_kept_as,      // notice: a kept tarball took a free name, a file had its own
    saved_as,             // notice: a single file's output took a free name, a file had its own
    destination_not_made,  // the folder to unpack into could not be made (detail: why): nothing was unpacked
    entries_uncounted,    // notice: a ZIP whose end record counts fewer entries than its directory holds: all extracted
    needs_dictionary,     // a Zstandard archive made with a dictionary (detail: "a Zstandard dictionary (ID n)")
    shares_data,          // a ZIP entry whose local record or data overlaps an earlier entry's: not extracted
    renamed_same,         // a file whose name equals an earlier one's: saved under another name
    entry_needs_memory,   // a ZIP entry whose Zstandard window is more than this machine can give: not extracted
    names_encrypted,      // an archive whose very names are encrypted (7z -mhe, RAR -hp): nothing was unpacked
    volume_missing,       // a volume of a set is missing (detail: its name): what came before it was unpacked
};

// True for the kinds that only tell where something went: the job still
// did all it was asked.
bool is_notice(Problem kind);

struct JobProblem {
    Problem kind;
    std::string name;    // the entry's name, or a path for the whole-output kinds
    std::string detail;  // what the kind's words name (the method of unknown_method); "" for most kinds
};

// The worker looks for a request, and the windows at a job's progress, this
// often (milliseconds).
constexpr DWORD JOB_POLL_MS = 50;

// The two bytes of ArchiveJob::busy_and_cancel.
constexpr uint16_t JOB_BUSY = 0x00ff;
constexpr uint16_t JOB_CANCEL = 0xff00;

struct ArchiveJob {
    // Requests, written by the user-interface thread through submit_*.
    std::string input_paths;  // list of zero-terminated strings closed by an empty one; empty: none
    String folder_path;
    std::atomic<uint8_t> compress_folder_requested{0};
    std::atomic<uint8_t> compress_files_requested{0};
    std::atomic<uint8_t> decompress_requested{0};
    std::atomic<uint8_t> test_requested{0};  // velmora-cli's test of an archive
    // Where the request's output goes instead of its derived name: the
    // archive of a compression, the folder of an extraction; empty: derived.
    std::string output_request;
    CRITICAL_SECTION request_lock;

    HANDLE worker_thread = nullptr;
    // Raised with every request and at shutdown, so the worker starts at once
    // instead of at its next poll; auto-reset.
    HANDLE wake = nullptr;
    std::atomic<uint8_t> quit_requested{0};
    CRITICAL_SECTION job_lock;

    // The input of the request being served: the worker's own copies.
    String job_folder;
    std::string job_inputs;
    std::string job_output;

    // Zstandard stages.
    FileReader* stage_reader = nullptr;
    FileWriter* stage_writer = nullptr;
    GrowBuffer stage_in{4096};
    GrowBuffer stage_out{4096};
    ZSTD_CCtx_s* zstd_cctx = nullptr;
    int32_t zstd_level = 1;
    int32_t zstd_checksum = 0;
    ZSTD_DCtx_s* zstd_dctx = nullptr;
    archive* tar_writer = nullptr;
    HANDLE tar_handle = INVALID_HANDLE_VALUE;  // the tarball being written, closed by us
    bool tar_faults = false;     // the test seam's write faults reach the tarball
    String tar_path;
    // The archive a .tzst compression makes, and whether a kept tarball
    // replaces a file of its name (see archive_names.h).
    String tzst_path;
    bool tarball_replaces = true;
    // The tarball on disk: a partial name while it is written, tar_path once
    // a kept tarball is whole (see choose_tarball_file).
    String tar_file;
    String archive_path;
    String entry_name;

    // Progress, written by the worker.
    std::atomic<int32_t> overall_percent{0};
    std::atomic<int32_t> item_percent{0};
    std::atomic<int32_t> items_done{0};
    std::atomic<int32_t> items_total{0};
    std::atomic<int32_t> phase{0};
    // busy (JOB_BUSY) and cancel_requested (JOB_CANCEL), stored together
    // where a job starts and where the Progress window cancels; see above
    // for what busy does and does not tell.
    std::atomic<uint16_t> busy_and_cancel{0};
    std::atomic<uint32_t> compressor{COMPRESSOR_DEFLATE};  // a Compressor

    // ZIP jobs.
    String zip_path;
    // The archive is written under this name and takes zip_path only when
    // minizip closed it with every write taken.
    String zip_partial;
    ZipEntryInfo zip_entry_info{};
    void* zip_file = nullptr;
    int32_t zlib_level = 1;

    // From the job's settings.
    bool keep_tarball = false;
    int32_t action_after_compression = 0;
    int32_t action_after_decompression = 0;
    // What the end of a job asks of the program; empty for velmora-cli and
    // tests, which read the outcome instead.
    JobHost host;
    // Outcome of the last served request and its output (archive or folder),
    // to be read once requests_served has moved (see above).
    // output_made: this job completed its output (an archive under its final
    // name, or an extraction that ran to its end); only then does an
    // after-job action run.
    std::atomic<int32_t> outcome{0};
    String output_path;
    bool output_made = false;
    // Files an extraction wrote whole (so a failed one can tell whether it
    // unpacked anything at all).
    int64_t files_written = 0;
    // What the current job could not do, in the order it happened. Written by
    // the worker; read by others only once requests_served has moved.
    std::vector<JobProblem> problems;
    // The system's code of the first failed write of this job's output (the
    // archive, or its tarball); NO_ERROR while none failed. A job stops at
    // it and cleans up as for a cancel: with a full disk nothing later could
    // be written either.
    DWORD output_error = NO_ERROR;
    // Raised by one when a request has been served, after its outcome and
    // its after-job action: the sign that the job has ended.
    std::atomic<uint32_t> requests_served{0};
};

// Shared fields.
inline bool job_busy(const ArchiveJob& job) {
    return (job.busy_and_cancel.load(std::memory_order_relaxed) & JOB_BUSY) != 0;
}
inline bool cancel_requested(const ArchiveJob& job) {
    return (job.busy_and_cancel.load(std::memory_order_relaxed) & JOB_CANCEL) != 0;
}
void set_busy(ArchiveJob& job, bool busy);
void set_cancel_requested(ArchiveJob& job, bool cancel);
void set_busy_and_cancel(ArchiveJob& job, bool busy, bool cancel);
void clear_percentages(ArchiveJob& job);
void clear_counters(ArchiveJob& job);
void set_phase(ArchiveJob& job, Phase phase);
// True when the job must wind down: a cancel, or its output failed to write.
inline bool job_stopping(const ArchiveJob& job) { return cancel_requested(job) || job.output_error != NO_ERROR; }
// Keeps error as the output's first failure (ERROR_WRITE_FAULT for none).
void set_output_error(ArchiveJob& job, DWORD error);
// The fixed text of the current phase ("" before any job).
const char* phase_text(const ArchiveJob& job);
// The text of a phase ("Writing tarball (1/2)"), "" for none.
const char* phase_name(Phase phase);
// done * 100 / max(total, 1). For the upper bar done counts the file in
// hand as done (items_done + 1, or the entry's index counted from 1); for
// the lower bar it is the bytes of the file consumed so far.
int32_t counted_percent(int64_t done, int64_t total);
// Notes that an entry (or the output) could not be handled as it should.
void note_problem(ArchiveJob& job, Problem kind, const std::string& name, const std::string& detail = "");

// The piece in which the jobs move file data: from an input into an archive
// entry, from an entry to its file, and in copies of whole files.
constexpr size_t DATA_PIECE = 4096;

// Copies the reader's file into the archive entry just opened, in DATA_PIECE
// pieces handed to put (which returns false when the archive refused them),
// publishing overall and the file's own percentage with each piece. Stops at
// the file's end, at a read that gives nothing, at a refused piece (set as
// the output's failure) or when the job stops; a file not read to its end
// is noted as read_short under name.
using PutPiece = bool (*)(ArchiveJob& job, const char* piece, size_t size);
void copy_input_data(ArchiveJob& job, FileReader& reader, const char* name, int32_t overall, PutPiece put);
// Notes, once per job, that the output at path could not be written, with
// the reason of output_error when there is one ("D:\\a.zip: the disk is full").
// An extraction notes it as extraction_stopped.
void note_output_not_written(ArchiveJob& job, const char* path, Problem kind = Problem::output_not_written);

// Notes a folder that a walk leaves out by FolderTrail's rule (a link or a
// loop; a profile's own junction is not noted); name is its entry name.
enum class FolderStep;
void note_folder_left_out(ArchiveJob& job, FolderStep step, const std::string& name);

// Counts the files below folder into items_total ("Preparing..."), by the
// walks' rule for links and loops (FolderTrail).
void count_folder_files(ArchiveJob& job, const char* folder);

// What a pipeline made: made when its output is whole under its final name
// (an extraction that ran to its end); output names it (the archive, or the
// destination folder of an extraction), "" when no output was named.
struct JobResult {
    bool made = false;
    std::string output;
};

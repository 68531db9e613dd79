// Compression into a GNU tarball and one Zstandard frame (".tzst"): the
// folder job, the file-selection job and the Zstandard stage. Worker thread,
// with job_lock held.
#include <archive.h>
#include <archive_entry.h>
#include <zstd.h>

#include <cstring>

#include "io/file_reader.h"
#include "io/file_writer.h"
#include "io/io_faults.h"
#include "io/platform.h"
#include "jobs/frame/archive_names.h"
#include "jobs/frame/directory_scan.h"
#include "jobs/frame/job_paths.h"
#include "jobs/tar/tar_common.h"
#include "jobs/zstd/zstd_stream.h"
#include "io/banned.h"

namespace {

constexpr size_t STAGE_IN = 131072;   // ZSTD_CStreamInSize()
constexpr size_t STAGE_OUT = 131591;  // ZSTD_CStreamOutSize()

ZSTD_CCtx* cctx_of(ArchiveJob& job) { return reinterpret_cast<ZSTD_CCtx*>(job.zstd_cctx); }

// The tarball's writes and close, straight to the file (libarchive hands
// over whole 10240-byte blocks); the client is the job, whose output error
// keeps the first failure's reason.
la_ssize_t write_tar_block(archive*, void* client, const void* buffer, size_t length) {
    ArchiveJob& job = *static_cast<ArchiveJob*>(client);
    uint32_t allowed = 0;
    const DWORD injected = injected_write_fault(job.tar_faults, static_cast<uint32_t>(length), &allowed);
    if (injected != NO_ERROR) {
        set_output_error(job, injected);
        return -1;
    }
    DWORD written = 0;
    if (!WriteFile(job.tar_handle, buffer, allowed, &written, nullptr)) {
        set_output_error(job, GetLastError());
        return -1;
    }
    if (written < length) {
        set_output_error(job, ERROR_DISK_FULL);  // the disk took only a part
        return -1;
    }
    return static_cast<la_ssize_t>(length);
}

int close_tar_stream(archive*, void* client) {
    ArchiveJob& job = *static_cast<ArchiveJob*>(client);
    const bool closed = job.tar_handle != INVALID_HANDLE_VALUE && CloseHandle(job.tar_handle);
    if (!closed) set_output_error(job, GetLastError());
    job.tar_handle = INVALID_HANDLE_VALUE;
    return closed ? ARCHIVE_OK : ARCHIVE_FATAL;
}

// The tarball is written through a file of our own: libarchive does not
// close the file of an archive abandoned with archive_write_fail, which
// would keep an incomplete tarball open (and locked) until the program ends.
bool open_tar_writer(ArchiveJob& job) {
    job.tar_writer = archive_write_new();
    if (!job.tar_writer) return false;
    archive_write_set_format_gnutar(job.tar_writer);
    choose_tarball_file(job);
    job.tar_handle = create_file(job.tar_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, false);
    if (job.tar_handle == INVALID_HANDLE_VALUE) return false;
    job.tar_faults = takes_part_in_faults(job.tar_file.c_str());
    return archive_write_open2(job.tar_writer, &job, nullptr, write_tar_block, close_tar_stream, nullptr) ==
           ARCHIVE_OK;
}

void abandon_tar_writer(ArchiveJob& job) {
    if (job.tar_writer) {
        archive_write_fail(job.tar_writer);
        archive_write_free(job.tar_writer);
        job.tar_writer = nullptr;
    }
    if (job.tar_handle != INVALID_HANDLE_VALUE) CloseHandle(job.tar_handle);
    job.tar_handle = INVALID_HANDLE_VALUE;
}

bool close_tar_writer(ArchiveJob& job) {
    const bool closed = archive_write_close(job.tar_writer) == ARCHIVE_OK;
    archive_write_free(job.tar_writer);
    job.tar_writer = nullptr;
    abandon_tar_writer(job);  // closes the stream if libarchive did not
    return closed;
}

// How storing one entry went: stored, its metadata could not be read from
// the disk, the tarball refused its header, or the tarball's disk did not
// take it (the job stops).
enum class Stored { yes, unreadable, refused, write_failed };

// A piece of a file's data for its tarball entry. Fewer bytes taken than
// given only means the file grew past the size in its header (the tarball
// pads the entry to that size); a negative result is a tarball that cannot
// be written.
bool put_in_tarball(ArchiveJob& job, const char* piece, size_t size) {
    return archive_write_data(job.tar_writer, piece, size) >= 0;
}

// Stores source under name, its metadata read through disk: a folder when
// reader is null, else a file whose reader the caller has opened (so that a
// file that cannot be opened gets no entry at all), with its data.
Stored store_entry(ArchiveJob& job, DiskReader& disk, const char* source, const char* name, FileReader* reader,
                   int32_t overall) {
    archive_entry* entry = archive_entry_new2(job.tar_writer);
    Stored stored = Stored::unreadable;
    if (disk.read_entry(source, entry)) {
        archive_entry_copy_pathname(entry, name);
        stored = archive_write_header(job.tar_writer, entry) == ARCHIVE_OK ? Stored::yes
                 : job.output_error != NO_ERROR                              ? Stored::write_failed
                                                                             : Stored::refused;
    }
    if (stored == Stored::yes && reader) copy_input_data(job, *reader, name, overall, put_in_tarball);
    if (stored == Stored::yes && job.output_error != NO_ERROR) stored = Stored::write_failed;
    if (entry) archive_entry_free(entry);
    disk.close();
    return stored;
}

// Notes an input that store_entry could not store.
void note_not_stored(ArchiveJob& job, Stored stored, const std::string& name) {
    if (stored == Stored::write_failed) return;  // the tarball's failure is noted once, for the job
    note_problem(job, stored == Stored::unreadable ? Problem::unreadable : Problem::not_stored, name);
}

// Sets entry_name to source's path below the chosen folder, with / between
// components (the whole path for the chosen folder itself).
void set_entry_name(ArchiveJob& job, const String& source) {
    const size_t prefix = job.job_folder.length() + 1;
    const size_t cut = prefix < source.length() ? prefix : 0;
    job.entry_name.set(source.c_str() + cut);
    for (size_t i = 0; i < job.entry_name.length(); ++i) {
        if (job.entry_name.data()[i] == '\\') job.entry_name.data()[i] = '/';
    }
}

// Stores every folder and file below folder. An entry that cannot be read
// or stored is noted and left out, and the walk goes on with the rest.
// Links and loops are left out by trail's rule (noted). Returns false when
// folder could not be listed (noted).
bool add_level_to_tarball(ArchiveJob& job, const char* folder, FolderTrail& trail, DiskReader& disk) {
    set_phase(job, Phase::writing_tarball);
    DirectoryScan scan;
    if (!scan.first(folder)) {
        String path;
        path.set(folder);
        set_entry_name(job, path);
        note_problem(job, Problem::unlisted_folder, job.entry_name.c_str());
        return false;
    }
    String source;
    do {
        if (scan.is_dot_entry()) continue;
        scan.full_path(source);
        set_entry_name(job, source);
        if (scan.is_directory()) {
            const std::string name = job.entry_name.c_str();
            const FolderStep step = trail.step_into(scan, source.c_str());
            if (step != FolderStep::enter) {
                note_folder_left_out(job, step, name + "/");
                continue;
            }
            const Stored stored = store_entry(job, disk, source.c_str(), name.c_str(), nullptr, 0);
            if (stored == Stored::write_failed) {
                trail.leave();
                break;
            }
            // A folder that cannot be listed is noted once, by the walk below.
            if (add_level_to_tarball(job, source.c_str(), trail, disk) && stored != Stored::yes && !job_stopping(job)) {
                note_problem(job, Problem::not_stored, name + "/");
            }
            trail.leave();
            set_phase(job, Phase::writing_tarball);
            continue;
        }
        FileReader reader(source.c_str());
        if (!reader.is_open()) {
            note_problem(job, Problem::unreadable, job.entry_name.c_str());
            continue;
        }
        const int32_t overall = counted_percent(job.items_done.load() + 1, job.items_total.load());
        const Stored stored = store_entry(job, disk, source.c_str(), job.entry_name.c_str(), &reader, overall);
        if (stored == Stored::yes) {
            job.items_done.fetch_add(1, std::memory_order_relaxed);
        } else {
            note_not_stored(job, stored, job.entry_name.c_str());
        }
    } while (!job_stopping(job) && scan.next());
    return true;
}

// Stores every folder and file below folder, the chosen folder.
void add_folder_to_tarball(ArchiveJob& job, const char* folder) {
    FolderTrail trail;
    trail.start(folder);
    DiskReader disk;
    add_level_to_tarball(job, folder, trail, disk);
}

// What a compression made: the archive beside the tarball when made. An
// archive missing for a reason other than a cancel is noted.
JobResult compression_result(ArchiveJob& job, bool made) {
    const String& archive = job.tzst_path;
    if (!made && !cancel_requested(job)) {
        // A tarball that failed to write is named with its reason.
        note_output_not_written(job, job.output_error != NO_ERROR ? job.tar_file.c_str() : archive.c_str());
    }
    return JobResult{made, archive.c_str()};
}

// Closes the tarball, which is whole, and compresses it into the archive
// (compress_tarball notes why an archive was not made).
JobResult compress_whole_tarball(ArchiveJob& job) {
    if (!close_tar_writer(job)) {
        delete_file_retrying(job.tar_file.c_str());
        return compression_result(job, false);
    }
    name_kept_tarball(job, job.tarball_replaces);
    const std::string archive = compress_tarball(job);
    return archive.empty() ? JobResult{false, job.tzst_path.c_str()} : JobResult{true, archive};
}

// Ends a job whose tarball will not be finished: nothing of it stays.
void discard_tarball(ArchiveJob& job) {
    abandon_tar_writer(job);
    delete_file_retrying(job.tar_file.c_str());
}

// Names the archive and its tarball: output when it was given (its
// tarball beside it, or output + ".tar" when that is an input), else after
// the folder, or after the first selected file (when that name or its
// archive would be one of the inputs, the first file's whole name followed
// by ".tar" instead). False when even that collides.
bool choose_tarball_name(ArchiveJob& job, const std::vector<std::string>& inputs, const char* folder) {
    job.tarball_replaces = true;
    if (!job.job_output.empty()) {
        const ArchiveNames names = archive_names(job.job_output.c_str());
        job.tzst_path.set(job.job_output.c_str());
        job.tar_path.set(names.tarball.c_str());
        job.tarball_replaces = names.tarball_replaces;
        if (names.tarball.empty() || names_an_input(inputs, job.tar_path)) {
            job.tar_path = concat(job.job_output.c_str(), ".tar");
        }
        return !names_an_input(inputs, job.tar_path) && !names_an_input(inputs, job.tzst_path);
    }
    if (folder) {
        job.tar_path = concat(folder, ".tar");
        job.tzst_path = concat(folder, ".tzst");
        return true;
    }
    job.tar_path = replace_extension(inputs[0].c_str(), ".tar");
    for (int attempt = 0; attempt < 2; ++attempt) {
        job.tzst_path = replace_extension(job.tar_path.c_str(), ".tzst");
        if (!names_an_input(inputs, job.tar_path) && !names_an_input(inputs, job.tzst_path)) return true;
        job.tar_path = concat(inputs[0].c_str(), ".tar");
    }
    return false;
}

// A compression context at the job's level and checksum; null when the
// library refused it.
ZSTD_CCtx* create_cctx(const ArchiveJob& job) {
    ZSTD_CCtx* cctx = ZSTD_createCCtx();
    if (cctx && (ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, job.zstd_level)) ||
                 ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, job.zstd_checksum)))) {
        ZSTD_freeCCtx(cctx);
        cctx = nullptr;
    }
    return cctx;
}

// Streams the open stage reader into the open stage writer as one frame.
// Returns how far it got: ended when the frame was closed after the
// tarball's last byte.
enum class Streamed { ended, read_failed, compress_failed, write_failed, cancelled };

Streamed stream_frame(ArchiveJob& job) {
    const uint64_t size = job.stage_reader->size();
    for (;;) {
        const size_t n = job.stage_reader->read(job.stage_in.storage, STAGE_IN);
        // A short read ends the frame; it must be the tarball's end, not a
        // failed read, or the frame would hold only the tarball's first part.
        const bool last = n < STAGE_IN;
        if (last && (job.stage_reader->failed() || job.stage_reader->position() != size)) return Streamed::read_failed;
        job.overall_percent.store(100, std::memory_order_relaxed);
        job.item_percent.store(
            counted_percent(static_cast<int64_t>(job.stage_reader->position()), static_cast<int64_t>(size)),
            std::memory_order_relaxed);
        ZSTD_inBuffer input = {job.stage_in.storage, n, 0};
        bool finished = false;
        do {
            ZSTD_outBuffer output = {job.stage_out.storage, STAGE_OUT, 0};
            const size_t remaining =
                ZSTD_compressStream2(cctx_of(job), &output, &input, last ? ZSTD_e_end : ZSTD_e_continue);
            if (ZSTD_isError(remaining)) return Streamed::compress_failed;
            job.stage_writer->write(job.stage_out.storage, output.pos);
            if (job.stage_writer->failed()) return Streamed::write_failed;
            finished = last ? remaining == 0 : input.pos == n;
            if (cancel_requested(job)) return Streamed::cancelled;
        } while (!finished);
        if (last) return Streamed::ended;
    }
}

}  // namespace

std::string compress_tarball(ArchiveJob& job) {
    set_phase(job, Phase::compressing_tarball);
    const String& archive = job.tzst_path;
    const String partial = partial_path(archive.c_str());
    Streamed streamed = Streamed::compress_failed;
    bool written = false;
    job.zstd_cctx = reinterpret_cast<ZSTD_CCtx_s*>(create_cctx(job));
    const bool staged = job.zstd_cctx && job.stage_in.resize(STAGE_IN) && job.stage_out.resize(STAGE_OUT);
    if (!staged) set_output_error(job, ERROR_NOT_ENOUGH_MEMORY);
    if (staged) {
        job.stage_reader = new FileReader(job.tar_file.c_str());
        if (!job.stage_reader->is_open()) {
            streamed = Streamed::read_failed;
        } else {
            job.stage_writer = new FileWriter(partial.c_str());
            if (job.stage_writer->is_open()) streamed = stream_frame(job);
            written = job.stage_writer->close_on_disk();
            if (!written) set_output_error(job, job.stage_writer->error());
        }
    }
    release_zstd_stage(job);

    // Only a whole frame, written without a fault, takes the archive's name.
    const bool complete = streamed == Streamed::ended && written && !cancel_requested(job);
    std::string placed;
    if (complete) {
        placed = place_finished_output(partial.c_str(), archive.c_str());
        if (placed != archive.c_str()) note_problem(job, Problem::saved_aside, placed);
    } else {
        delete_file_retrying(partial.c_str());
    }
    if (!complete && !cancel_requested(job)) {
        if (streamed == Streamed::read_failed) {
            note_problem(job, Problem::tarball_not_read_back, job.tar_file.c_str());
        } else {
            note_output_not_written(job, archive.c_str());
        }
    }
    // The tarball lives only for the job unless it is kept; one that could not
    // be compressed goes too.
    if (!job.keep_tarball) delete_file_retrying(job.tar_file.c_str());
    return placed;
}

JobResult compress_folder_tzst(ArchiveJob& job) {
    const char* folder = job.job_folder.c_str();
    set_phase(job, Phase::preparing);
    // A drive or share root has no name to derive the tarball from, and its
    // tarball would lie inside the folder being archived: refused.
    if (is_root_path(folder)) {
        note_problem(job, Problem::root_refused, folder);
        return JobResult{};
    }
    choose_tarball_name(job, {folder}, folder);
    if (!open_tar_writer(job)) {
        if (job.tar_writer) {
            archive_write_close(job.tar_writer);
            archive_write_free(job.tar_writer);
            job.tar_writer = nullptr;
        }
        discard_tarball(job);
        return compression_result(job, false);
    }
    count_folder_files(job, folder);
    add_folder_to_tarball(job, folder);
    // A walk cut short by a cancel or by a tarball that could not be written
    // makes no archive, and its tarball goes.
    if (job_stopping(job)) {
        discard_tarball(job);
        return compression_result(job, false);
    }
    return compress_whole_tarball(job);
}

JobResult compress_files_tzst(ArchiveJob& job) {
    set_phase(job, Phase::writing_tarball);
    const std::vector<std::string> inputs = selection_paths(job.job_inputs);
    if (inputs.empty() || !choose_tarball_name(job, inputs, nullptr)) return JobResult{};
    if (!open_tar_writer(job)) {
        discard_tarball(job);
        return compression_result(job, false);
    }
    const size_t count = inputs.size();
    size_t stored_count = 0;
    DiskReader disk;
    for (size_t i = 0; i < count; ++i) {
        const std::string name = name_of(inputs[i].c_str());
        job.entry_name.set(name.c_str());
        FileReader reader(inputs[i].c_str());
        if (!reader.is_open()) {
            note_problem(job, Problem::unreadable, name);
            continue;
        }
        const int32_t overall = count == 1 ? 100 : counted_percent(static_cast<int64_t>(i) + 1, static_cast<int64_t>(count));
        const Stored stored = store_entry(job, disk, inputs[i].c_str(), name.c_str(), &reader, overall);
        if (stored == Stored::yes) {
            ++stored_count;
        } else {
            note_not_stored(job, stored, name);
        }
        if (job_stopping(job)) break;
    }
    // Cancelled, stopped by a tarball that could not be written, or nothing
    // could be stored: no archive, and no tarball left.
    if (job_stopping(job) || stored_count == 0) {
        discard_tarball(job);
        return job.output_error != NO_ERROR ? compression_result(job, false) : JobResult{};
    }
    return compress_whole_tarball(job);
}

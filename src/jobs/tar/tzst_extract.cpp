// Extraction of a Zstandard tarball (".tzst", ".tar.zst"): the Zstandard
// stream into a tarball beside the archive, then the tarball's folders and
// files into a folder named after the archive. Worker thread, with job_lock
// held.
#include <archive.h>
#include <archive_entry.h>

#include <vector>

#include "io/file_reader.h"
#include "io/file_writer.h"
#include "io/platform.h"
#include "jobs/frame/job_paths.h"
#include "jobs/frame/job_words.h"
#include "jobs/tar/tar_common.h"
#include "jobs/libarchive/la_entries.h"
#include "jobs/libarchive/la_extract.h"
#include "jobs/tar/tzst_inspect.h"
#include "jobs/tar/tzst_jobs.h"
#include "jobs/writer/extract_writer.h"
#include "jobs/zstd/zstd_stream.h"
#include "io/banned.h"

namespace {

constexpr size_t TAR_BLOCK = 10240;
constexpr uint64_t TAR_HEADER = 512;

// How phase 1 went.
enum class Stage1 {
    tarball,      // a tarball was written (whole tells whether the stream was)
    unreadable,   // the archive could not be opened or decoded at all
    not_written,  // the tarball could not be made or written (noted)
    refused,      // the stream needs what this machine does not have (noted): memory, a dictionary
    refused_later,  // so does a later frame: the tarball holds what came before it
};

// What a refused frame needs, noted once the tarball shows whether a
// reader of the stream reaches it.
struct Refusal {
    StreamEnd end = StreamEnd::whole;
    uint64_t memory_needed = 0;
    uint32_t dictionary_id = 0;
    uint64_t decoded = 0;  // the bytes of the frames before it
};

void note_refusal(ArchiveJob& job, const Refusal& refusal) {
    if (refusal.end == StreamEnd::too_large) {
        note_memory_needed(job, job.archive_path.c_str(), refusal.memory_needed);
    } else {
        note_dictionary_needed(job, job.archive_path.c_str(), refusal.dictionary_id);
    }
}

// Notes that the tarball of phase 1 could not be written, with the reason.
Stage1 tarball_not_written(ArchiveJob& job, DWORD error) {
    set_output_error(job, error);
    note_output_not_written(job, job.tar_path.c_str(), Problem::extraction_stopped);
    return Stage1::not_written;
}

// Phase 1. Sets *whole when the stream held complete frames and was written
// without fault, and *refusal when a frame needs what this machine does not
// have.
Stage1 decompress_to_tarball(ArchiveJob& job, bool* whole, Refusal* refusal) {
    *whole = false;
    set_phase(job, Phase::decompressing_zstd);
    job.overall_percent.store(100, std::memory_order_relaxed);
    choose_tarball_file(job);
    DWORD error = NO_ERROR;
    if (!open_zstd_stage(job, job.archive_path.c_str(), job.tar_file.c_str(), &error)) {
        if (error != ERROR_NOT_ENOUGH_MEMORY) return error == NO_ERROR ? Stage1::unreadable : tarball_not_written(job, error);
        note_memory_needed(job, job.archive_path.c_str(), 0);
        return Stage1::refused;
    }
    const StreamEnd end = decode_zstd_stage(job, &refusal->memory_needed, &refusal->dictionary_id);
    const bool written = job.stage_writer->close();
    refusal->decoded = job.stage_writer->bytes_written();
    const DWORD write_error = job.stage_writer->error();
    release_zstd_stage(job);
    if (!written) {
        delete_file(job.tar_file.c_str());
        return tarball_not_written(job, write_error);
    }
    if (end == StreamEnd::too_large || end == StreamEnd::needs_dictionary) {
        refusal->end = end;
        // A later frame refused leaves what the frames before it held, which
        // is unpacked as from a stream cut short, as a listing shows it.
        if (refusal->decoded > 0) return Stage1::refused_later;
        note_refusal(job, *refusal);
        delete_file(job.tar_file.c_str());
        return Stage1::refused;
    }
    *whole = end == StreamEnd::whole;
    if (*whole) name_kept_tarball(job, job.tarball_replaces);
    return Stage1::tarball;
}

archive* open_tarball(const std::wstring& path) {
    archive* reader = new_la_reader(ArchiveKind::tarball);
    if (reader && archive_read_open_filename_w(reader, path.c_str(), TAR_BLOCK) != ARCHIVE_OK) {
        free_la_reader(reader);
        return nullptr;
    }
    return reader;
}

// How phase 2 went: whether the tarball opened as a tarball, and whether it
// was read to its end.
struct TarballResult {
    bool opened = false;
    bool read_to_end = false;
    bool destination_made = false;
};

// Phase 2: the tarball's folders and files into the destination folder.
TarballResult extract_tarball(ArchiveJob& job, const std::string& destination_folder) {
    TarballResult result;
    const std::string destination = destination_folder + "\\";
    set_phase(job, Phase::reading_tarball);
    clear_percentages(job);
    clear_counters(job);
    const std::wstring wide = archive_wide_path(job.tar_file.c_str());

    archive* reader = open_tarball(wide);
    if (!reader) return result;
    archive_entry* entry = nullptr;
    int header;
    bool any_entry = false;
    // The count takes what the extraction will take, warnings included.
    while ((header = next_la_header(reader, &entry, nullptr, nullptr)) == ARCHIVE_OK) {
        any_entry = true;
        const EntryItem item = view_la_entry(entry, NameRule::header_bytes).item;
        if (item == EntryItem::file || item == EntryItem::hard_link) job.items_total.fetch_add(1, std::memory_order_relaxed);
        archive_read_data_skip(reader);
    }
    free_la_reader(reader);
    // libarchive opens any file and fails at its first header when it is no
    // tarball at all: that is no tarball, not an empty one.
    if (!any_entry && header != ARCHIVE_EOF) return result;

    reader = open_tarball(wide);
    if (!reader) return result;
    result.opened = true;
    result.destination_made = make_destination_folder(job, destination_folder);
    if (!result.destination_made) {
        free_la_reader(reader);
        return result;
    }
    Extraction extraction(job, destination, job.archive_path.c_str());
    LaWalk walk(reader, nullptr, EntryProgress{});
    header = extract_la_entries(extraction, walk, nullptr, NameRule::header_bytes);
    result.read_to_end = header == ARCHIVE_EOF;
    free_la_reader(reader);
    return result;
}

}  // namespace

namespace {

JobResult decompress_tzst_job(ArchiveJob& job, const ArchiveNames& names) {
    job.archive_path.set(job.job_inputs.c_str());
    // Unpacked into the folder asked for, its tarball beside it (never over
    // a file of its name), or into the folder named after the archive.
    const bool asked = !job.job_output.empty();
    const std::string destination = destination_folder(job.job_output, names);
    job.tar_path.set(asked ? (destination + ".tar").c_str() : names.tarball.c_str());
    job.tarball_replaces = !asked && names.tarball_replaces;
    if (destination_blocked(job, destination)) return JobResult{false, destination};
    const std::string parent = folder_part(destination.c_str());
    if (asked && !parent.empty() && !is_root_path(parent.c_str()) && !make_destination_folder(job, parent)) {
        return JobResult{false, destination};
    }

    bool stream_whole = false;
    Refusal refusal;
    TarballResult tarball;
    const Stage1 stage1 = decompress_to_tarball(job, &stream_whole, &refusal);
    const bool decompressed = stage1 == Stage1::tarball || stage1 == Stage1::refused_later;
    if (stage1 == Stage1::unreadable) note_problem(job, Problem::unreadable_archive, job.archive_path.c_str());
    // A cancel in the first phase ends the job: the tarball is only a part.
    // A tarball from a stream that did not end whole is only a fragment, so
    // it is never kept where it could pass for the archive's contents.
    bool tarball_stays = false;
    if (decompressed && !cancel_requested(job)) {
        tarball = extract_tarball(job, destination);
        tarball_stays = stream_whole && job.keep_tarball && tarball.destination_made;
        if (stream_whole && !tarball.opened) {
            // A whole stream that holds no tarball: the tarball stays for the
            // user, whatever the keep preference, under its own name unless
            // a file has that name.
            if (file_attributes(job.tar_path.c_str()) == INVALID_FILE_ATTRIBUTES &&
                move_file_replacing(job.tar_file.c_str(), job.tar_path.c_str())) {
                job.tar_file.set(job.tar_path.c_str());
            }
            note_problem(job, Problem::unreadable_tarball, job.tar_file.c_str());
            tarball_stays = true;
        }
        // A stream that breaks before a tarball could be seen in it is
        // unreadable, as a listing and a test find it; one that breaks
        // later, or a tarball that does, is damaged. A refused frame is
        // named when a reader reaches it: after entries, or before the
        // first header was whole.
        const bool refusal_reached =
            stage1 == Stage1::refused_later && (tarball.opened || refusal.decoded < TAR_HEADER);
        const bool broken = !stream_whole || (tarball.opened && !tarball.read_to_end);
        if (job_stopping(job) || !broken) {
            // nothing more to tell
        } else if (refusal_reached) {
            note_refusal(job, refusal);
        } else if (!tarball.opened) {
            note_problem(job, Problem::unreadable_archive, job.archive_path.c_str());
        } else if (tarball.destination_made) {
            note_problem(job, Problem::archive_damaged, job.archive_path.c_str());
        }
    }
    if (decompressed && !tarball_stays) delete_file(job.tar_file.c_str());
    return JobResult{tarball.opened && tarball.destination_made && !job_stopping(job), destination};
}

}  // namespace

const ArchiveFamily TZST_FAMILY = {ArchiveKind::zstd_tarball, false, decompress_tzst_job, list_zstd_tarball,
                                   test_zstd_tarball};

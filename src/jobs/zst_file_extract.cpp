// Unpacking a single Zstandard-compressed file (notes.txt.zst) into the file
// it names, beside the archive. Worker thread, with job_lock held.
//
// Invariant: no existing file is replaced and no part of a file passes for
// a whole one. The output is written under a partial name; once the stream
// ended whole it takes its name, or the first free "name (2).ext" beside it
// when a file has that name (noted). A stream that is damaged, cut short or
// cancelled leaves nothing.
#include "io/file_writer.h"
#include "io/platform.h"
#include "jobs/archive_names.h"
#include "jobs/extract_writer.h"
#include "jobs/job_paths.h"
#include "jobs/tar_common.h"
#include "jobs/zstd_stream.h"
#include "io/banned.h"

JobResult decompress_zst_file_job(ArchiveJob& job) {
    set_phase(job, Phase::decompressing_file);
    job.archive_path.set(job.job_inputs.c_str());
    const char* archive = job.archive_path.c_str();
    const ArchiveNames names = archive_names(archive);
    job.items_total.store(1, std::memory_order_relaxed);
    job.overall_percent.store(100, std::memory_order_relaxed);

    // Unpacked beside the archive, or into the folder asked for.
    const std::string output =
        job.job_output.empty() ? names.stem : job.job_output + "\\" + name_of(names.stem.c_str());
    if (!job.job_output.empty() && !make_destination_folder(job, job.job_output)) return JobResult{};
    const String partial = partial_path(output.c_str());
    DWORD error = NO_ERROR;
    if (!open_zstd_stage(job, archive, partial.c_str(), &error)) {
        if (error == NO_ERROR) {
            note_problem(job, Problem::unreadable_archive, archive);
        } else {
            set_output_error(job, error);
            note_output_not_written(job, output.c_str(), Problem::extraction_stopped);
        }
        return JobResult{};
    }
    uint64_t memory_needed = 0;
    uint32_t dictionary_id = 0;
    const StreamEnd end = decode_zstd_stage(job, &memory_needed, &dictionary_id);
    const bool written = job.stage_writer->close();
    const DWORD write_error = job.stage_writer->error();
    release_zstd_stage(job);
    if (!written || end != StreamEnd::whole) {
        delete_file_retrying(partial.c_str());
        if (!written) {
            set_output_error(job, write_error);
            note_output_not_written(job, output.c_str(), Problem::extraction_stopped);
        } else if (end == StreamEnd::too_large) {
            note_memory_needed(job, archive, memory_needed);
        } else if (end == StreamEnd::needs_dictionary) {
            note_dictionary_needed(job, archive, dictionary_id);
        } else if (end == StreamEnd::damaged) {
            note_problem(job, Problem::cut_short, name_of(output.c_str()));
        }
        return JobResult{};
    }
    const std::string zone = read_zone_identifier(archive);
    if (!zone.empty()) write_zone_identifier(partial.c_str(), zone);
    const std::string placed = move_to_free_name(partial.c_str(), output.c_str());
    if (placed == partial.c_str()) {
        delete_file_retrying(partial.c_str());
        note_problem(job, Problem::not_written, name_of(output.c_str()));
        return JobResult{};
    }
    if (placed != output) note_problem(job, Problem::saved_as, placed);
    job.items_done.store(1, std::memory_order_relaxed);
    job.files_written = 1;
    return JobResult{true, placed};
}

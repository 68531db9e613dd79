// Unpacking a single Zstandard-compressed file (notes.txt.zst) into the file
// it names, beside the archive. Worker thread, with job_lock held.
//
// The file is a SingleOutput: a stream that is damaged, cut short or
// cancelled leaves nothing, and no existing file is replaced.
#include "io/file_writer.h"
#include "io/platform.h"
#include "jobs/frame/job_paths.h"
#include "jobs/frame/job_words.h"
#include "jobs/writer/extract_writer.h"
#include "jobs/writer/single_output.h"
#include "jobs/zstd/zst_file_inspect.h"
#include "jobs/zstd/zst_file_jobs.h"
#include "jobs/zstd/zstd_stream.h"
#include "io/banned.h"

namespace {

JobResult decompress_zst_file_job(ArchiveJob& job, const ArchiveNames& names) {
    set_phase(job, Phase::decompressing_file);
    job.archive_path.set(job.job_inputs.c_str());
    const char* archive = job.archive_path.c_str();
    job.items_total.store(1, std::memory_order_relaxed);
    job.overall_percent.store(100, std::memory_order_relaxed);

    // Unpacked beside the archive, or into the folder asked for.
    if (!job.job_output.empty() && !make_destination_folder(job, job.job_output)) return JobResult{};
    SingleOutput output(job, single_output_path(job.job_output, names),
                        archive);
    DWORD error = NO_ERROR;
    if (!open_zstd_stage(job, archive, output.partial(), &error)) {
        if (error == NO_ERROR) {
            note_problem(job, Problem::unreadable_archive, archive);
        } else if (error == ERROR_NOT_ENOUGH_MEMORY) {
            note_memory_needed(job, archive, 0);
        } else {
            set_output_error(job, error);
            note_output_not_written(job, output.output().c_str(), Problem::extraction_stopped);
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
        output.discard();
        if (!written) {
            set_output_error(job, write_error);
            note_output_not_written(job, output.output().c_str(), Problem::extraction_stopped);
        } else if (end == StreamEnd::too_large) {
            note_memory_needed(job, archive, memory_needed);
        } else if (end == StreamEnd::needs_dictionary) {
            note_dictionary_needed(job, archive, dictionary_id);
        } else if (end == StreamEnd::damaged) {
            note_problem(job, Problem::cut_short, name_of(output.output().c_str()));
        }
        return JobResult{};
    }
    const std::string placed = output.place();
    return JobResult{!placed.empty(), placed};
}

}  // namespace

const ArchiveFamily ZST_FILE_FAMILY = {ArchiveKind::zstd_file, true, decompress_zst_file_job, list_zstd_file,
                                       test_zstd_file};

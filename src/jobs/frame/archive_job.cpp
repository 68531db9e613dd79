// The job record's own operations: its shared fields, the phase texts, the
// problem list, the copy of an input into an archive and the count of a
// folder's files. Any thread for the flags and counters (see archive_job.h
// for who writes what); the worker thread for the rest.
#include "jobs/frame/archive_job.h"

#include <iterator>

#include "io/platform.h"
#include "jobs/frame/directory_scan.h"
#include "jobs/frame/job_words.h"
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
    {Phase::decompressing_archive, "Decompressing"},
};

constexpr bool one_text_per_phase_in_order() {
    if (std::size(PHASE_TEXTS) != static_cast<size_t>(Phase::count)) return false;
    for (size_t i = 0; i < std::size(PHASE_TEXTS); ++i) {
        if (PHASE_TEXTS[i].phase != static_cast<Phase>(i)) return false;
    }
    return true;
}
static_assert(one_text_per_phase_in_order(), "PHASE_TEXTS holds the text of each Phase, in Phase's order");

}  // namespace

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

// ZIP extraction: every entry of an archive's central directory into a
// folder beside it named after the archive, in directory order. Worker
// thread, with job_lock held.
//
// Invariant: nothing is written outside the destination folder. Entry names
// pass through safe_entry_path; a name that would leave the folder is
// skipped, and missing parent folders are made inside it. Each entry is
// judged as a test judges it (judge_zip_entry).
#include <string>

#include "io/platform.h"
#include "jobs/frame/archive_job.h"
#include "jobs/frame/job_paths.h"
#include "jobs/frame/job_words.h"
#include "jobs/writer/extract_writer.h"
#include "jobs/zip/zip_entry_data.h"
#include "jobs/zip/zip_inspect.h"
#include "jobs/zip/zip_jobs.h"
#include "jobs/zip/zip_reader.h"
#include "io/banned.h"

namespace {

// Writes the data of a file entry below the destination. A file whose data
// is damaged, or that a cancel cut short, does not take the entry's name;
// data whose CRC-32 or size disagrees with the directory's is noted. The
// extraction goes on.
void extract_file(Extraction& extraction, ZipDataReader& data, const ZipEntry& entry, const EntryPlace& place,
                  const std::string& relative) {
    ExtractedFile file(extraction, relative);
    if (!file.is_open()) return;
    file.finish(data.decode(&extraction.job, entry, place, &file.writer()).end);
}

// A symbolic link is not made (a link on Windows needs rights a user seldom
// has); it is named with its target, as a tarball's link is.
void pass_over_link(ArchiveJob& job, ZipDataReader& data, const ZipEntry& entry, const EntryPlace& place,
                    const std::string& relative) {
    std::string target;
    const DecodedData decoded = data.decode(&job, entry, place, nullptr, &target, LINK_TARGET_LIMIT);
    if (decoded.end == DataEnd::cancelled) return;
    if (decoded.end != DataEnd::whole) {
        note_problem(job, Problem::cut_short, relative);
        return;
    }
    note_problem(job, Problem::symlink_skipped, relative + " -> " + link_target(target));
}

// Extracts one entry, the i-th of count.
void extract_entry(Extraction& extraction, ZipDataReader& data, const ZipEntry& entry, uint64_t i, uint64_t count) {
    ArchiveJob& job = extraction.job;
    job.overall_percent.store(counted_percent(static_cast<int64_t>(i), static_cast<int64_t>(count)),
                              std::memory_order_relaxed);
    const ZipEntryView view = view_zip_entry(entry);
    const std::string& relative = view.relative;
    if (relative.empty()) {
        // A folder entry with nothing left ("./") is no loss; a file is.
        if (view.type != ZipEntryType::folder) note_problem(job, Problem::unsafe_name, view.name);
        return;
    }
    if (view.type == ZipEntryType::folder) {
        if (!extraction.make_folders(relative)) note_problem(job, Problem::not_written, relative + "\\");
        return;
    }
    EntryPlace place;
    ZipRefusal refusal;
    if (!judge_zip_entry(data, entry, place, refusal)) {
        note_problem(job, refusal.kind, refused_name(relative, refusal, false), refusal.detail);
    } else if (view.type == ZipEntryType::link) {
        pass_over_link(job, data, entry, place, relative);
    } else {
        extract_file(extraction, data, entry, place, relative);
    }
}

// Extracts every entry the central directory holds, in its order, whatever
// the end record counts, reading the directory through directory and the
// data through data (both allocated). False when the directory broke off, or
// holds fewer entries than counted (noted).
bool extract_entries(ArchiveJob& job, ArchiveCursor& directory, ZipDataReader& data, const ZipLayout& layout,
                     const std::string& destination) {
    Extraction extraction(job, destination, job.zip_path.c_str());
    directory.seek(layout.directory_at);
    ZipEntry entry;
    uint64_t found = 0;
    DirectoryStep step = DirectoryStep::end;
    while (!job_stopping(job) && (step = next_central_entry(directory, layout, entry)) == DirectoryStep::entry) {
        ++found;
        extract_entry(extraction, data, entry, found, found > layout.counted ? found : layout.counted);
    }
    if (job_stopping(job)) return false;
    if (step == DirectoryStep::broken || found < layout.counted) {
        note_problem(job, Problem::archive_damaged, job.zip_path.c_str());
        return false;
    }
    if (found > layout.counted) {
        note_problem(job, Problem::entries_uncounted,
                     std::string(job.zip_path.c_str()) + " (" + std::to_string(layout.counted) + " counted, " +
                         std::to_string(found) + " held)");
    }
    return true;
}

JobResult decompress_zip_job(ArchiveJob& job, const ArchiveNames& names) {
    set_phase(job, Phase::decompressing_zip);
    const char* archive = job.job_inputs.c_str();
    job.zip_path.set(archive);
    const std::string folder = destination_folder(job.job_output, names);
    const std::string destination = folder + "\\";

    // The archive is read, and what reading it takes is had, before the
    // destination is made.
    ArchiveFile file(archive);
    ZipLayout layout;
    if (!file.is_open() || !find_zip_layout(file, layout)) {
        note_problem(job, Problem::unreadable_archive, archive);
        return JobResult{false, folder};
    }
    ArchiveCursor directory(file);
    ZipDataReader data(file, layout);
    if (!directory.allocate() || !data.allocate()) {
        note_memory_needed(job, archive, 0);
        return JobResult{false, folder};
    }
    if (!make_destination_folder(job, folder)) return JobResult{false, folder};
    const bool ran_to_end = extract_entries(job, directory, data, layout, destination);
    return JobResult{ran_to_end && !job_stopping(job), folder};
}

}  // namespace

const ArchiveFamily ZIP_FAMILY = {ArchiveKind::zip, false, decompress_zip_job, list_zip, test_zip_job};

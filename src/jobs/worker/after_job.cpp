// After-job actions: the report, then the move to where the user chose, or
// the file manager, through the job's host. Worker thread.
#include "jobs/worker/after_job.h"

#include <cstring>

#include "io/file_reader.h"
#include "io/file_writer.h"
#include "io/platform.h"
#include "jobs/frame/archive_job.h"
#include "jobs/frame/job_paths.h"
#include "jobs/worker/job_report.h"
#include "io/banned.h"

namespace {

// Tells the user text through the job's host, unless the program is ending.
void tell(const ArchiveJob& job, const std::string& text) {
    if (!text.empty() && job.host.report && !job.quit_requested.load()) job.host.report(job.host.context, job, text);
}

}  // namespace

bool move_file_by_copy(const char* source, const char* target) {
    if (same_path(source, target)) return true;  // already there
    // The copy is made under a name of its own and takes the target's name
    // only when whole, so a failed copy leaves no part of the archive under
    // the chosen name and an existing file there untouched.
    const String partial = partial_path(target);
    bool complete = false;
    {
        FileReader reader(source);
        if (!reader.is_open()) return false;
        FileWriter writer(partial.c_str());
        if (!writer.is_open()) return false;
        const uint64_t expected = reader.size();
        uint64_t copied = 0;
        char block[DATA_PIECE];
        size_t n;
        while ((n = reader.read(block, sizeof(block))) > 0 && !writer.failed()) copied += writer.write(block, n);
        const bool closed = writer.close_on_disk();
        complete = closed && !reader.failed() && copied == expected && writer.bytes_written() == expected;
    }
    if (!complete || !move_file_replacing_retrying(partial.c_str(), target)) {
        delete_file_retrying(partial.c_str());
        return false;
    }
    // The archive leaves its first place only once the target holds all of
    // it; a first copy that cannot be deleted stays as a spare.
    delete_file_retrying(source);
    return true;
}

void after_compression(ArchiveJob& job, const char* path, const char* extension_word) {
    tell(job, problem_report(job));
    // Only an archive this job made is moved or shown: a file of its name
    // left by an earlier job is not this job's to touch.
    if (!job.output_made || job.quit_requested.load()) return;
    const JobHost& host = job.host;
    switch (job.action_after_compression) {
    case AFTER_COMPRESSION_SAVE_AS: {
        if (!host.choose_save_path) break;
        const std::string target = host.choose_save_path(host.context, job, extension_word);
        if (!target.empty() && !move_file_by_copy(path, target.c_str())) tell(job, move_failure_report(path, target.c_str()));
        break;
    }
    case AFTER_COMPRESSION_SHOW_FOLDER:
        if (host.show_folder) host.show_folder(host.context, folder_part(path).c_str());
        break;
    default: break;
    }
}

void after_decompression(ArchiveJob& job, const char* folder) {
    tell(job, problem_report(job));
    if (!job.output_made || job.quit_requested.load()) return;
    if (job.action_after_decompression == AFTER_DECOMPRESSION_SHOW_FOLDER && job.host.show_folder) job.host.show_folder(job.host.context, folder);
}

// The file a single compressed file unpacks into; see single_output.h.
#include "jobs/writer/single_output.h"

#include "io/platform.h"
#include "jobs/frame/job_paths.h"
#include "jobs/writer/extract_writer.h"
#include "io/banned.h"

SingleOutput::SingleOutput(ArchiveJob& job, const std::string& output, const char* archive)
    : job_(job), output_(output), archive_(archive), partial_(partial_path(output.c_str())) {}

std::string SingleOutput::place() {
    const std::string zone = read_zone_identifier(archive_.c_str());
    if (!zone.empty()) write_zone_identifier(partial_.c_str(), zone);
    const std::string placed = move_to_free_name(partial_.c_str(), output_.c_str());
    if (placed == partial_.c_str()) {
        discard();
        note_problem(job_, Problem::not_written, name_of(output_.c_str()));
        return "";
    }
    if (placed != output_) note_problem(job_, Problem::saved_as, placed);
    job_.items_done.store(1, std::memory_order_relaxed);
    job_.files_written = 1;
    return placed;
}

void SingleOutput::discard() { delete_file_retrying(partial_.c_str()); }

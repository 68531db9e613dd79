// Listing and testing an archive by its family; see archive_inspect.h.
#include "jobs/worker/archive_inspect.h"

#include "jobs/frame/archive_names.h"
#include "jobs/worker/job_families.h"
#include "io/banned.h"

ListResult list_archive(const char* path, const ListVisit& visit) {
    const ArchiveNames names = archive_names(path);
    const ArchiveFamily* family = family_of(names.kind);
    return family ? family->list(path, names, visit) : ListResult{ListEnd::unknown_kind};
}

JobResult test_archive_job(ArchiveJob& job) {
    set_phase(job, Phase::testing);
    const char* path = job.job_inputs.c_str();
    job.archive_path.set(path);
    job.overall_percent.store(0, std::memory_order_relaxed);
    const ArchiveNames names = archive_names(path);
    const ArchiveFamily* family = family_of(names.kind);
    if (!family) {
        note_problem(job, Problem::unknown_archive_kind, path);
        return JobResult{};
    }
    return family->test(job, names);
}

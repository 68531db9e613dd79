// What an archive family gives the dispatch: how an archive of its kind is
// unpacked, listed and tested. Each family's folder defines its own; the
// worker's table (job_families.h) gathers them. Any thread.
#pragma once

#include "jobs/frame/archive_job.h"
#include "jobs/frame/archive_listing.h"
#include "jobs/frame/archive_names.h"

struct ArchiveFamily {
    ArchiveKind kind;
    // True when the archive unpacks into one file named after it
    // (notes.txt.zst), so that a folder asked for does not name its output.
    bool single_file;
    // Each takes the archive's names as the dispatch decided them; a job's
    // archive is the first path of job_inputs.
    JobResult (*decompress)(ArchiveJob& job, const ArchiveNames& names);
    ListResult (*list)(const char* path, const ArchiveNames& names, const ListVisit& visit);
    JobResult (*test)(ArchiveJob& job, const ArchiveNames& names);
};

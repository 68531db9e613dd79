// The archives read through libarchive in one pass, straight from their
// files: tarballs plain or in gzip, bzip2 or xz, 7z and RAR (volumes
// included), and single files compressed with gzip, bzip2 or xz. Each kind
// reads only the formats and filters its name promises. Worker thread for
// the jobs, with job_lock held; the listing runs on any one thread.
#pragma once

#include <vector>

#include "jobs/frame/archive_family.h"

// One family per kind, for the worker's table.
const std::vector<ArchiveFamily>& libarchive_families();

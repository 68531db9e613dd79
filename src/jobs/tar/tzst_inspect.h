// Listing and testing a Zstandard tarball without writing anything: the
// stream decoded as it is read, its entries read as an extraction reads
// them. Any one thread for the listing; the worker thread for the test.
#pragma once

#include "jobs/frame/archive_family.h"

ListResult list_zstd_tarball(const char* path, const ArchiveNames& names, const ListVisit& visit);
JobResult test_zstd_tarball(ArchiveJob& job, const ArchiveNames& names);

// Listing and testing a single Zstandard-compressed file: one entry, the
// file it unpacks to, whose size is counted by decoding it, and its stream
// to the end. Any one thread for the listing; the worker thread for the
// test.
#pragma once

#include "jobs/frame/archive_family.h"

ListResult list_zstd_file(const char* path, const ArchiveNames& names, const ListVisit& visit);
JobResult test_zstd_file(ArchiveJob& job, const ArchiveNames& names);

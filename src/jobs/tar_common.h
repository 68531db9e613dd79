// Pieces shared by the tarball jobs. Worker thread.
#pragma once

#include <string>

#include "jobs/archive_job.h"

// The UTF-16 form of a UTF-8 path for libarchive's wide calls: stray bytes
// come through as single units, at most 2047 units.
std::wstring archive_wide_path(const char* path);

// Sets tar_file for a job whose tar_path is set: the tarball is written
// under partial_path(tar_path), so that a job cut short never leaves a
// tarball that looks whole, and a tarball that only lives for the job never
// overwrites (and then deletes) a file that had its name.
void choose_tarball_file(ArchiveJob& job);
// A whole tarball that is kept takes tar_path, replacing a file of that name.
void name_kept_tarball(ArchiveJob& job);

// Streams tar_file one Zstandard frame into the ".tzst" beside it.
// The frame is written under a temporary name and takes the final name only
// when it is complete, every byte of the tarball read back and written.
// Returns true then; otherwise, unless a cancel ended it, notes why (the
// tarball could not be read back, or the archive not written).
bool compress_tarball(ArchiveJob& job);

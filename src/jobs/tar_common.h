// Pieces shared by the tarball jobs. Worker thread.
#pragma once

#include <string>

#include "jobs/archive_job.h"

// The UTF-16 form of a UTF-8 path for libarchive's wide calls: stray bytes
// come through as single units, at most 2047 units.
std::wstring archive_wide_path(const char* path);

// Whether the intermediate tarball stays (the console companion may decide).
bool keep_tarball(const ArchiveJob& job);

// Sets tar_file for a job whose tar_path is set. A kept tarball is tar_path
// and replaces whatever had that name. A tarball that only lives for the job
// never takes the name of an existing file, which the job would otherwise
// overwrite and then delete: it goes to the first free name of
// tar_path + ".partial", ".partial1", ".partial2", ...
void choose_tarball_file(ArchiveJob& job);

// Streams tar_file one Zstandard frame into the ".tzst" beside it.
// The frame is written under a temporary name and takes the final name only
// when it is complete. Returns true then.
bool compress_tarball(ArchiveJob& job);

// Pieces shared by the tarball jobs. Worker thread.
#pragma once

#include <string>

#include "jobs/archive_job.h"

// The UTF-16 form of a UTF-8 path for libarchive's wide calls, character by
// character as decode_utf8_char splits it (stray bytes come through as single
// units), at most 2047 units.
std::wstring archive_wide_path(const char* path);

// Frees the Zstandard stage of a .tzst job: its reader and writer and the
// compression and decompression contexts; each may already be gone.
void release_zstd_stage(ArchiveJob& job);

// Sets tar_file for a job whose tar_path is set: the tarball is written
// under partial_path(tar_path), so that a job cut short never leaves a
// tarball that looks whole, and a tarball that only lives for the job never
// overwrites (and then deletes) a file that had its name.
void choose_tarball_file(ArchiveJob& job);
// A whole tarball that is kept takes tar_path, replacing a file of that
// name, or a free name beside it when another program holds that file
// (noted); tar_file names where it is. Unless it may replace, a file of
// that name stays and the tarball takes a free name beside it (noted).
void name_kept_tarball(ArchiveJob& job, bool may_replace = true);

// Streams tar_file one Zstandard frame into the ".tzst" beside it.
// The frame is written under a temporary name and takes the final name only
// when it is complete, every byte of the tarball read back and written (a
// free name beside it when another program holds an older archive of that
// name, noted). Returns where the archive is then, or "" when none was
// made: unless a cancel ended the job, why is noted (the tarball could not
// be read back, or the archive not written).
std::string compress_tarball(ArchiveJob& job);

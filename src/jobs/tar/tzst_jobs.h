// The Zstandard tarball (".tzst", ".tar.zst"): a folder or files packed into
// a GNU tarball, then into one Zstandard frame; unpacked in two phases
// (the stream into a tarball, the tarball into a folder); listed and tested
// as the stream decodes. Worker thread for the jobs, with job_lock held;
// the listing runs on any one thread.
#pragma once

#include "jobs/frame/archive_family.h"

JobResult compress_folder_tzst(ArchiveJob& job);
JobResult compress_files_tzst(ArchiveJob& job);
// Unpacking, listing and testing (tzst_extract.cpp, tzst_inspect.cpp).
extern const ArchiveFamily TZST_FAMILY;

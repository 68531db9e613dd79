// The single Zstandard-compressed file (notes.txt.zst): unpacked into the
// file it names, listed as that one entry, tested to the end of its
// stream (zst_file_extract.cpp, zst_file_inspect.cpp). Worker thread for
// the jobs, with job_lock held; the listing runs on any one thread.
#pragma once

#include "jobs/frame/archive_family.h"

extern const ArchiveFamily ZST_FILE_FAMILY;

// The ZIP archive: a folder or files packed with minizip (Deflate);
// unpacked, listed and tested by the program's own reader, which judges
// every entry alike in the three. Worker thread for the jobs, with job_lock
// held; the listing runs on any one thread.
#pragma once

#include "jobs/frame/archive_family.h"

JobResult compress_folder_zip(ArchiveJob& job);
JobResult compress_files_zip(ArchiveJob& job);
// Unpacking, listing and testing (zip_extract.cpp, zip_inspect.cpp).
extern const ArchiveFamily ZIP_FAMILY;

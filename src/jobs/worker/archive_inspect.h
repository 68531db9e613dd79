// Looking into an archive without unpacking it, by its family: the listing
// of its entries as Velmora would extract them, and the test that decodes
// every entry and checks what the format can check. Nothing is written
// anywhere. Worker thread for the test job; the listing runs on any one
// thread.
#pragma once

#include "jobs/frame/archive_job.h"
#include "jobs/frame/archive_listing.h"

// Calls visit for every entry of the archive at path, in archive order. A
// Zstandard tarball is decoded as it is read; a single compressed file is
// one entry, the file it unpacks to, whose size is counted by decoding it.
ListResult list_archive(const char* path, const ListVisit& visit);

// The test job's pipeline (JobKind::test): decodes every entry of the
// archive in job_inputs and notes each damaged one (Problem::damaged or
// cut_short, "NAME (reason)"), or the archive as unreadable or needing too
// much memory. made is true when it was read to its end; items_done counts
// the entries tested.
JobResult test_archive_job(ArchiveJob& job);

// Listing and testing a ZIP archive without writing anything: the central
// directory read as the extraction reads it, every entry judged alike and
// its data decoded into nothing. Any one thread for the listing; the worker
// thread for the test.
#pragma once

#include "jobs/frame/archive_family.h"

ListResult list_zip(const char* path, const ArchiveNames& names, const ListVisit& visit);
JobResult test_zip_job(ArchiveJob& job, const ArchiveNames& names);

// Looking into an archive without unpacking it: the listing of its entries
// as Velmora would extract them, and the test that decodes every entry and
// checks what the format can check. Nothing is written anywhere. Worker
// thread for the test job; the listing runs on any one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "jobs/archive_job.h"

// One entry of a listing.
struct ListedEntry {
    // The name as Velmora would extract it, with '/' between components; a
    // folder ends in '/', a link reads "NAME -> TARGET". An entry Velmora
    // leaves out for its name (one that climbs out of the folder) carries
    // its name as the archive has it, with skipped set.
    std::string name;
    uint64_t size = 0;  // the bytes of a file; 0 for folders and links
    bool skipped = false;
};

// How a listing ended.
enum class ListEnd {
    whole,         // every entry was listed
    unknown_kind,  // the name is of no kind Velmora unpacks
    unreadable,    // the archive is missing or no archive of its kind
    broken,        // it broke off after the entries listed
    too_large,     // a Zstandard frame needs more memory than this machine can give
    needs_dictionary,  // a Zstandard frame was made with a dictionary this program does not have
};

struct ListResult {
    ListEnd end = ListEnd::whole;
    uint64_t memory_needed = 0;  // too_large: what the frame needs, 0 when not known
    uint32_t dictionary_id = 0;  // needs_dictionary: the dictionary's ID, 0 when not known
};

// Calls visit for every entry of the archive at path, in archive order. A
// Zstandard tarball is decoded as it is read; a single compressed file is
// one entry, the file it unpacks to, whose size is counted by decoding it.
ListResult list_archive(const char* path, const std::function<void(const ListedEntry&)>& visit);

// The test job's pipeline (JobKind::test): decodes every entry of the
// archive in job_inputs and notes each damaged one (Problem::damaged or
// cut_short, "NAME (reason)"), or the archive as unreadable or needing too
// much memory. made is true when it was read to its end; items_done counts
// the entries tested.
JobResult test_archive_job(ArchiveJob& job);

// The ZIP side of both, in zip_inspect.cpp.
ListResult list_zip(const char* path, const std::function<void(const ListedEntry&)>& visit);
JobResult test_zip_job(ArchiveJob& job, const char* path);

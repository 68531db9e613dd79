// Unpacking the entries of an archive that libarchive reads into an
// extraction: files (a sparse file's holes left as holes), folders, hard
// links as copies of files written before, and what is not made (links,
// devices, encrypted entries, names that leave the folder) named. Worker
// thread, with job_lock held.
#pragma once

#include <cstdint>
#include <vector>

#include "jobs/libarchive/la_entries.h"
#include "jobs/writer/extract_writer.h"

struct archive;
struct archive_entry;

// How the progress of an extraction is told.
struct EntryProgress {
    // The bytes of the archive: the upper bar follows the archive read so
    // far. 0: it follows the entries done against items_total, which the
    // caller counted.
    uint64_t archive_bytes = 0;
};

// Unpacks entry (a header the reader has just given, or null to read the
// first) and every entry after it into extraction, by the rules of
// view_la_entry (names by the kind's rule), until the
// archive's end, a header that breaks it, or the job's stop. Notes what it
// could not do. Returns the last header's status: ARCHIVE_EOF when the
// archive was read to its end.
int extract_la_entries(Extraction& extraction, archive* reader, archive_entry* entry, NameRule names,
                       const EntryProgress& progress);
// Notes the headers the reader warned about (their entries are used) and
// those it could not use (passed over), with its words; empties both.
void note_header_trouble(ArchiveJob& job, std::vector<HeaderTrouble>& warnings, std::vector<HeaderTrouble>& unusable);

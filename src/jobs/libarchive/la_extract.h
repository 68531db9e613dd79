// Unpacking the entries of an archive that libarchive reads into an
// extraction: files (a sparse file's holes left as holes), folders, hard
// links as copies of files written before, and what is not made (links,
// devices, encrypted entries, entries of a method libarchive does not
// decode, names that leave the folder) named. Worker thread, with job_lock
// held.
#pragma once

#include <vector>

#include "jobs/libarchive/la_entries.h"
#include "jobs/libarchive/la_walk.h"
#include "jobs/writer/extract_writer.h"

struct archive_entry;

// Unpacks entry (a header the walk has just given, or null to read the
// first) and every entry after it into extraction, by the rules of
// view_la_entry (names by the kind's rule), until the archive's end, a
// header that breaks it, or the job's stop. Notes what it could not do. An
// entry of a method libarchive does not decode is named with the method,
// and the walk goes on past it. Returns the last header's status:
// ARCHIVE_EOF when the archive was read to its end.
int extract_la_entries(Extraction& extraction, LaWalk& walk, archive_entry* entry, NameRule names);
// Notes the headers the reader warned about (their entries are used) and
// those it could not use (passed over), with its words; empties both.
void note_header_trouble(ArchiveJob& job, std::vector<HeaderTrouble>& warnings, std::vector<HeaderTrouble>& unusable);

// Reading an archive's entries through libarchive, the one way every such
// reading takes, for every kind libarchive reads here (the tarball inside a
// .tzst as much as a .7z): the reader made for the kind, the headers walked
// (warnings and unusable headers handed to the caller) and what each entry
// is to a listing, a test and an extraction alike. Worker thread, or the
// one thread of a listing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jobs/frame/archive_listing.h"
#include "jobs/frame/archive_names.h"

struct archive;
struct archive_entry;

// A libarchive reader of the formats and filters an archive of kind may be,
// and of nothing else; null when memory ran short (or for a kind libarchive
// does not read here). A tarball's kind (ArchiveKind::tarball) reads the
// tarball of a .tzst too. The caller opens it and frees it with
// free_la_reader.
archive* new_la_reader(ArchiveKind kind);
// Closes and frees reader; nothing for null.
void free_la_reader(archive* reader);
// True when the filter libarchive found on an opened reader is the one the
// kind's name promises (gzip for .tar.gz and .gz, none for .tar, ...): a
// ".gz" that is no gzip stream is no archive of its kind.
bool la_filter_matches(archive* reader, ArchiveKind kind);
// How a kind's names are read.
enum class NameRule {
    header_bytes,  // a tarball's: its header's bytes, as they stand
    utf16,         // 7z's: UTF-16 in the archive, taken through the wide call
    rar,           // RAR's: UTF-16 or UTF-8 when the archive says so, else bytes of the OEM code page
};
NameRule la_name_rule(ArchiveKind kind);

// A header the reader warned about, or could not use, with its words.
struct HeaderTrouble {
    std::string name;  // the entry's name as the header gives it, "" when it gives none
    std::string why;   // the reader's words
};

// The next header an extraction uses: a warning is passed on in *warnings
// and the entry is used, a header the reader cannot use is passed on in
// *unusable and passed over (either may be null). ARCHIVE_OK, ARCHIVE_EOF
// or ARCHIVE_FATAL.
int next_la_header(archive* reader, archive_entry** entry, std::vector<HeaderTrouble>* warnings,
                   std::vector<HeaderTrouble>* unusable);

enum class EntryItem {
    file,       // data to write: a regular file, or a hard link that carries its own data
    folder,
    hard_link,  // a hard link without data: a copy of an earlier file
    symlink,    // not made
    special,    // a device, fifo or socket: not made
};

// What an entry is to a listing, a test and an extraction alike.
struct EntryView {
    EntryItem item = EntryItem::file;
    std::string name;      // the entry's name in UTF-8, or the header's bytes
    std::string relative;  // the path below the destination, with '\'; "" when skipped for its name
    std::string link;      // the target of a link
    int64_t size = 0;      // the data of a file
    bool encrypted = false;  // its data is encrypted: not unpacked
};
// The entry's view, its names read by rule.
EntryView view_la_entry(archive_entry* entry, NameRule rule);

// The entry as a listing shows it.
ListedEntry listed_la_entry(const EntryView& view);

// Reading a tarball's entries, the one way every tarball reading takes: the
// formats registered, the headers walked (warnings and unusable headers
// handed to the caller) and what each entry is to a listing, a test and an
// extraction alike. Worker thread, or the one thread of a listing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jobs/frame/archive_listing.h"

struct archive;
struct archive_entry;
class ZstdSource;

// A libarchive reader of tarballs (tar and GNU tar); null when memory ran
// short. The caller opens it and frees it with free_tar_reader.
archive* new_tar_reader();
// Closes and frees reader; nothing for null.
void free_tar_reader(archive* reader);
// Opens reader on the stream source decodes; false when libarchive refuses it.
bool open_tar_reader_on(archive* reader, ZstdSource& source);

// A header the reader warned about, or could not use, with its words.
struct HeaderTrouble {
    std::string name;  // the entry's name as the header gives it, "" when it gives none
    std::string why;   // the reader's words
};

// The next header an extraction uses: a warning is passed on in *warnings
// and the entry is used, a header the reader cannot use is passed on in
// *unusable and passed over (either may be null). ARCHIVE_OK, ARCHIVE_EOF
// or ARCHIVE_FATAL.
int next_tar_header(archive* reader, archive_entry** entry, std::vector<HeaderTrouble>* warnings,
                    std::vector<HeaderTrouble>* unusable);

enum class TarItem {
    file,       // data to write: a regular file, or a hard link that carries its own data
    folder,
    hard_link,  // a hard link without data: a copy of an earlier file
    symlink,    // not made
    special,    // a device, fifo or socket: not made
};

// What an entry is to a listing, a test and an extraction alike.
struct TarEntryView {
    TarItem item = TarItem::file;
    std::string name;      // the header's name as it stands
    std::string relative;  // the path below the destination, with '\'; "" when skipped for its name
    std::string link;      // the target of a link
    int64_t size = 0;      // the data of a file
};
TarEntryView view_tar_entry(archive_entry* entry);

// The entry as a listing shows it.
ListedEntry listed_tar_entry(const TarEntryView& view);

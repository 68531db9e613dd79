// The walk over an archive's entries that an extraction and a test share:
// the headers in order, each entry's data read to its end and judged by one
// rule, and a fresh reading past an entry that libarchive's reader cannot
// get over. Worker thread.
//
// Invariant: the walk gives every header once, in the archive's order,
// whatever readers it took to do so.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
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

// A fresh reader of the same archive, opened at its start; null when it
// cannot be had. The reader stays its maker's, which frees it when it makes
// the next one or when the job ends.
using LaReopen = std::function<archive*()>;

class LaWalk {
public:
    // reader: opened, no header read yet. reopen may be empty: the walk
    // then ends where the reader breaks.
    LaWalk(archive* reader, LaReopen reopen, const EntryProgress& progress)
        : reader_(reader), reopen_(std::move(reopen)), progress_(progress) {}

    // The reader the walk reads through now.
    archive* reader() const { return reader_; }

    // The next header, as next_la_header gives it (warnings and unusable
    // may be null). ARCHIVE_OK, ARCHIVE_EOF or ARCHIVE_FATAL.
    int next(archive_entry** entry, std::vector<HeaderTrouble>* warnings, std::vector<HeaderTrouble>* unusable);

    // Reads the data of the entry just given to its end into writer (null:
    // into nothing), a sparse entry's holes skipped, publishing progress.
    // whole, mismatch (a checksum failed: *detail names it, "CRC-32
    // mismatch"), cut_short, cancelled, or not_decoded (libarchive does not
    // decode its method: *detail names the method). A failed write ends it
    // as cut_short; the writer's finish reports the disk's reason.
    DataEnd read_data(ArchiveJob& job, archive_entry* entry, FileWriter* writer, std::string* detail);

    // The entry just given was left unread (its data is encrypted): when the
    // reader cannot pass over it, the walk goes on in a fresh one.
    void left_unread() { left_unread_ = true; }

    // True when the entry last given is a file whose data came out cut
    // short: an archive that libarchive ends after it did not end whole.
    bool last_file_cut() const { return last_file_cut_; }

    // Publishes the upper bar: the archive read so far, or the entries done.
    void show_progress(ArchiveJob& job) const;

private:
    // Replaces the reader with a fresh one that has given the headers given
    // so far; false when there is none or it breaks before.
    bool read_again();

    archive* reader_;
    LaReopen reopen_;
    EntryProgress progress_;
    int64_t given_ = 0;           // headers given so far
    int64_t read_again_at_ = -1;  // given_ when the walk last read again
    int reads_again_ = 0;         // fresh readings made so far, at most MAX_READS_AGAIN
    int64_t headers_passed_ = 0;  // headers they passed over, at most MAX_HEADERS_PASSED
    static constexpr int MAX_READS_AGAIN = 1024;
    static constexpr int64_t MAX_HEADERS_PASSED = int64_t{1} << 22;
    bool left_unread_ = false;
    bool spoiled_ = false;        // the reader failed to set up a decoder: what it decodes next is garbage
    bool last_file_cut_ = false;
};

// The name of the method or filter libarchive's words refuse to decode
// ("Unknown codec ID: 40109" gives "Deflate64"); "" when they refuse none.
std::string la_refused_method(const char* words);

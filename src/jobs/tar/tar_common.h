// Pieces of the Zstandard tarball's jobs: the wide path libarchive opens,
// the disk reader that compression's walks read entries' metadata through,
// and the names the intermediate tarball takes. Worker thread.
#pragma once

#include <string>

#include "jobs/frame/archive_job.h"

struct archive_entry;

// The UTF-16 form of a UTF-8 path for libarchive's wide calls, character by
// character as decode_utf8_char splits it (stray bytes come through as single
// units), at most 2047 units.
std::wstring archive_wide_path(const char* path);

// The disk reader through which a walk reads each entry's metadata, as
// libarchive reports it. One reader serves the whole walk, opened on each
// entry in turn: a new reader surveys the volume at its first entry (the
// volume's path, kind and free space, and a second open of the entry) and
// closes eight handles when it is freed, three times the system calls of
// the entry itself. The entries read the same either way. A reader that
// failed on an entry is replaced for the next one, as libarchive keeps a
// reader's fatal state.
class DiskReader {
public:
    DiskReader() = default;
    ~DiskReader() { discard(); }
    DiskReader(const DiskReader&) = delete;
    DiskReader& operator=(const DiskReader&) = delete;

    // Opens the reader on path and reads its entry into entry; true when the
    // entry was read. Whatever the result, close() follows.
    bool read_entry(const char* path, archive_entry* entry);
    // Ends the current entry (after read_entry); the reader stays for the
    // next one unless that entry failed.
    void close();

private:
    void discard();
    archive* disk_ = nullptr;
    bool failed_ = false;
};


// Sets tar_file for a job whose tar_path is set: the tarball is written
// under partial_path(tar_path), so that a job cut short never leaves a
// tarball that looks whole, and a tarball that only lives for the job never
// overwrites (and then deletes) a file that had its name.
void choose_tarball_file(ArchiveJob& job);
// A whole tarball that is kept takes tar_path, replacing a file of that
// name, or a free name beside it when another program holds that file
// (noted); tar_file names where it is. Unless it may replace, a file of
// that name stays and the tarball takes a free name beside it (noted).
void name_kept_tarball(ArchiveJob& job, bool may_replace = true);

// Streams tar_file one Zstandard frame into the ".tzst" beside it.
// The frame is written under a temporary name and takes the final name only
// when it is complete, every byte of the tarball read back and written (a
// free name beside it when another program holds an older archive of that
// name, noted). Returns where the archive is then, or "" when none was
// made: unless a cancel ended the job, why is noted (the tarball could not
// be read back, or the archive not written).
std::string compress_tarball(ArchiveJob& job);

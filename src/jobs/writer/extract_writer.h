// Writing the files of an extraction, for every family that unpacks
// entries into a folder (a single compressed file's one file is a
// SingleOutput, single_output.h). Worker thread.
//
// Invariant: a file that was at an entry's target before the job is never
// lost to that entry. A new file is made in place (only if no file has its
// name), so a fresh extraction pays nothing extra; a file that replaces an
// existing one is written under a temporary name beside it and moved over
// the target only once it is whole. What is not whole goes: the temporary
// file, or a new file cut short. Every extracted file carries the archive's
// Mark of the Web when the archive has one.
#pragma once

#include <cstdint>
#include <string>

#include "io/file_writer.h"
#include "jobs/frame/archive_job.h"
#include "jobs/frame/job_paths.h"

// One extraction: where it writes, what it wrote, the archive's zone.
struct Extraction {
    ArchiveJob& job;
    std::string destination;  // ends in '\'
    WrittenFiles written;
    // The folders below destination made (or found) so far.
    MadeFolders folders;
    // The archive's Zone.Identifier stream ("" when it has none): the zone of
    // the download it came from, given to every extracted file.
    std::string zone_identifier;

    // Reads the archive's zone once.
    Extraction(ArchiveJob& job, const std::string& destination, const char* archive_path);
    // Creates every missing folder of relative (a folder entry, or a file's
    // parent) below destination, each once per extraction; false when a
    // level could not be made.
    bool make_folders(const std::string& relative) { return folders.make_below(destination, relative); }
};

// How an entry's data ended.
enum class DataEnd {
    whole,      // every byte, as the archive says
    mismatch,   // every byte read, but the checksum or the size disagrees
    cut_short,  // the data is damaged or ends early
    cancelled,  // the user cancelled
    not_decoded,  // the data could not be decoded for a reason the caller notes (its method)
};

// One file being extracted. The constructor chooses its name (a free one
// when an earlier file of this extraction has the same name but for case,
// or is the same file through another name) and opens it; is_open() is
// false when it cannot be made (noted).
class ExtractedFile {
public:
    ExtractedFile(Extraction& extraction, const std::string& relative);
    ~ExtractedFile();
    ExtractedFile(const ExtractedFile&) = delete;
    ExtractedFile& operator=(const ExtractedFile&) = delete;

    bool is_open() const { return writer_ && writer_->is_open(); }
    FileWriter& writer() { return *writer_; }
    const std::string& placed() const { return placed_; }

    // Closes the file and puts it in place when it is whole; a mismatch is
    // kept (and noted) only where no file was before. A failed write of the
    // disk is the job's output error: noted once with its reason, and the
    // job stops. True when the file is now at its target.
    bool finish(DataEnd end);

private:
    void discard();

    Extraction& extraction_;
    std::string relative_;
    std::string placed_;
    std::string target_;
    std::string temporary_;  // where the bytes go when the target exists; "" otherwise
    FileWriter* writer_ = nullptr;
    bool finished_ = false;
};

// Makes the folder an archive unpacks into (and the folders above it);
// when it cannot be made, notes why (Problem::destination_not_made: "a file
// has that name", or the system's words) and returns false: nothing can be
// unpacked then.
bool make_destination_folder(ArchiveJob& job, const std::string& folder);
// True when a file (not a folder) has the destination's name, so that it
// cannot be made; noted as make_destination_folder notes it.
bool destination_blocked(ArchiveJob& job, const std::string& folder);

// Reads a file's Zone.Identifier stream; "" when it has none.
std::string read_zone_identifier(const char* path);
// Gives the file at path the Zone.Identifier stream zone; false when it fails.
bool write_zone_identifier(const std::string& path, const std::string& zone);

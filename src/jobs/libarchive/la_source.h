// An archive's file (or the volumes of a set, in their order) handed to
// libarchive through callbacks on the program's own reader, so that long
// paths, non-ASCII names and the test seam's faults reach it as they reach
// every job. One object belongs to one reading, on one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <archive.h>

#include "io/file_reader.h"
#include "io/grow_buffer.h"

class ArchiveSource {
public:
    // The archive at paths[0], and the volumes after it when there are more.
    explicit ArchiveSource(std::vector<std::string> paths);
    ~ArchiveSource();
    ArchiveSource(const ArchiveSource&) = delete;
    ArchiveSource& operator=(const ArchiveSource&) = delete;

    // Opens reader (its formats registered) on the file; false when the
    // first volume cannot be opened, memory ran short, or libarchive finds
    // no archive of its formats there.
    bool open(archive* reader);
    // True when the first volume could be opened at all.
    bool exists() const;
    // True when the reading's buffers could not be had.
    bool no_memory() const { return no_memory_; }
    // The bytes of every volume, for progress.
    uint64_t total_bytes() const { return total_; }
    // The volume a reading was in when it stopped, counted from 0.
    size_t volume() const { return current_; }
    size_t volume_count() const { return volumes_.size(); }

private:
    struct Volume;
    static la_ssize_t read(archive* reader, void* client, const void** buffer);
    static la_int64_t skip(archive* reader, void* client, la_int64_t request);
    static la_int64_t seek(archive* reader, void* client, la_int64_t offset, int whence);
    static int switch_to(archive* reader, void* from, void* to);
    static int close(archive* reader, void* client);
    static Volume* enter(void* client);

    std::vector<std::unique_ptr<Volume>> volumes_;
    GrowBuffer buffer_{4096};
    uint64_t total_ = 0;
    size_t current_ = 0;
    bool no_memory_ = false;
};

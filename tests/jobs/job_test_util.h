// Helpers for the archive job tests: a job record without a worker, trees of
// files to pack, and comparison of trees.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "io/platform.h"
#include "jobs/worker/archive_inspect.h"
#include "jobs/worker/job_worker.h"

// A job record for one test, served by hand, with no after-job action.
class JobHandle {
public:
    JobHandle() : job_(create_archive_job_without_worker()) {}
    ~JobHandle() { destroy_archive_job(job_); }
    JobHandle(const JobHandle&) = delete;
    JobHandle& operator=(const JobHandle&) = delete;
    ArchiveJob* operator->() { return job_; }
    ArchiveJob& operator*() { return *job_; }

private:
    ArchiveJob* job_;
};

// An archive read the three ways a user can: listed (with the names the
// listing gave), tested, and extracted beside itself, each once in that order.
struct ThreeReadings {
    ListResult listed;
    std::vector<std::string> names;
    JobHandle test;
    JobHandle extraction;
};
void read_three_ways(const std::string& path, ThreeReadings* readings);

// Relative path (with \) to contents; folders end in \ and have no contents.
using Tree = std::map<std::string, std::string>;

// Writes tree below folder (ending in \).
void write_tree(const std::string& folder, const Tree& tree);
// Calls visit(relative, full path, is_folder) for everything below folder
// (ending in \), parents before their contents; iterative, so trees a
// thousand levels deep do not exhaust the stack.
void walk_tree(const std::string& folder,
               const std::function<void(const std::string& relative, const char* path, bool is_folder)>& visit);
// Reads everything below folder (ending in \) into a tree.
Tree read_tree(const std::string& folder);
// Compares two trees, reporting names (not contents) on a difference.
::testing::AssertionResult same_tree(const Tree& expected, const Tree& actual);
// The entries of a .tzst's bytes as a reader of its own sees them: name to
// data (folders end in /). Empty when the frame or the tarball does not read.
std::map<std::string, std::string> tzst_entries(const std::string& packed);
// Deterministic bytes of the given size.
std::string pattern_bytes(size_t size, unsigned seed);

// Fields of archive headers made byte by byte: a little-endian number of
// four or eight bytes, RAR 5's variable-length integer (seven bits a byte,
// low first), and the CRC-32 of bytes.
std::string le32(uint32_t v);
std::string le64(uint64_t v);
std::string vint(uint64_t v);
uint32_t crc_of(const std::string& bytes);
// A tree with empty folders, empty files, nesting, spaces, dots and non-ASCII names.
Tree sample_tree();
// A Zstandard frame whose header declares a window of 2^window_log bytes and
// no content size, as `zstd --long=31` writes from a pipe, holding data in
// raw blocks.
std::string frame_with_window(unsigned window_log, const std::string& data);

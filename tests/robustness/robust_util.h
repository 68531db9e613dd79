// Shared pieces of the robustness tests: a scratch folder on the Linux
// tmpfs (many files and big files are cheap there), snapshots of a whole
// tree for "nothing changed outside" checks, and jobs run under a time bound.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "jobs/worker/job_worker.h"

// A fresh folder for one test under Z:\dev\shm when it exists, else under
// the Windows temporary folder; removed with its contents at the end.
class ScratchFolder {
public:
    explicit ScratchFolder(const char* name);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    // Ends in a backslash.
    const std::string& path() const { return path_; }
    // The same folder as a Unix path ("" when it is not on drive Z:).
    std::string unix_path() const;

private:
    std::string path_;
};

// Relative path -> size and CRC-32 of every file and folder (folders end in \).
using Snapshot = std::map<std::string, std::string>;
Snapshot snapshot_tree(const std::string& folder);
// Writes bytes to a file (UTF-8 path); false when it could not be written whole.
bool write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);
bool path_exists(const std::string& path);

// Runs work on a thread with a 256 MiB stack (trees a thousand levels deep)
// and waits for it.
void on_big_stack(const std::function<void()>& work);
// remove_tree on such a thread.
void remove_deep_tree(const std::string& path);

// Serves one request on a thread of its own; false when it did not end
// within seconds (the job is then asked to cancel and waited for).
bool serve_within(ArchiveJob& job, double seconds);
// Submits a decompression and serves it within seconds.
bool decompress_within(ArchiveJob& job, const std::string& archive, double seconds);

// The job's outcome as a word: "complete", "cancelled", "failed".
const char* outcome_word(const ArchiveJob& job);

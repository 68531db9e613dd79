// velmora-cli's benchmark commands: the I/O floors a job is measured
// against. copy-through moves files through the job's FileReader and
// FileWriter alone (replacing the destination); entry-walk reads every
// entry's metadata through a disk reader of its own, as the tarball job
// does, without the data. Main thread.
#include <windows.h>

#include <archive.h>
#include <archive_entry.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "io/file_reader.h"
#include "io/file_writer.h"
#include "io/platform.h"
#include "jobs/frame/archive_job.h"
#include "jobs/frame/directory_scan.h"
#include "jobs/frame/job_paths.h"
#include "jobs/tar/tar_common.h"

namespace {

// Copies source to destination through one FileReader and one FileWriter in
// the 4096-byte pieces the jobs use; false when a file could not be opened or
// written whole.
bool copy_file_through(const char* source, const char* destination, uint64_t& bytes) {
    FileReader reader(source);
    if (!reader.is_open()) return false;
    FileWriter writer(destination);
    if (!writer.is_open()) return false;
    char block[DATA_PIECE];
    const uint64_t size = reader.size();
    while (reader.position() < size) {
        const size_t n = reader.read(block, sizeof(block));
        if (n == 0) break;
        writer.write(block, n);
    }
    bytes += reader.position();
    return writer.close() && reader.position() == size;
}

bool copy_folder_through(const std::string& source, const std::string& destination, uint64_t& bytes) {
    if (!CreateDirectoryW(window_wide(destination.c_str(), destination.size()).c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
        return false;
    }
    DirectoryScan scan;
    if (!scan.first(source.c_str())) return false;
    String path;
    bool whole = true;
    do {
        if (scan.is_dot_entry()) continue;
        scan.full_path(path);
        const std::string target = destination + "\\" + name_of(path.c_str());
        whole = (scan.is_directory() ? copy_folder_through(path.c_str(), target, bytes)
                                     : copy_file_through(path.c_str(), target.c_str(), bytes)) && whole;
    } while (scan.next());
    return whole;
}

// Reads the header of every entry below folder through the walk's disk
// reader, as the tarball job does before it copies a file's data; counts
// the entries.
bool walk_entries(const char* folder, DiskReader& disk, uint64_t& entries) {
    DirectoryScan scan;
    if (!scan.first(folder)) return false;
    String path;
    bool whole = true;
    do {
        if (scan.is_dot_entry()) continue;
        scan.full_path(path);
        archive_entry* entry = archive_entry_new();
        whole = disk.read_entry(path.c_str(), entry) && whole;
        disk.close();
        archive_entry_free(entry);
        ++entries;
        if (scan.is_directory()) whole = walk_entries(path.c_str(), disk, entries) && whole;
    } while (scan.next());
    return whole;
}

}  // namespace

int copy_through(const std::vector<std::string>& arguments) {
    if (arguments.size() != 3) return usage_error("copy-through takes a source and a destination");
    const std::string source = without_trailing_separator(full_path(arguments[1]));
    const std::string destination = without_trailing_separator(full_path(arguments[2]));
    const DWORD attributes = file_attributes(source.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return complain(EXIT_NOTHING_MADE, "no such file or folder", source);
    uint64_t bytes = 0;
    const bool whole = attributes & FILE_ATTRIBUTE_DIRECTORY ? copy_folder_through(source, destination, bytes)
                                                              : copy_file_through(source.c_str(), destination.c_str(), bytes);
    if (!whole) return complain(EXIT_PARTIAL, "the copy is incomplete", destination);
    std::printf("%s\n", destination.c_str());
    return 0;
}

int entry_walk(const std::vector<std::string>& arguments) {
    if (arguments.size() != 2) return usage_error("entry-walk takes a folder");
    const std::string folder = without_trailing_separator(full_path(arguments[1]));
    const DWORD attributes = file_attributes(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return complain(EXIT_USAGE, "no such folder", folder);
    }
    uint64_t entries = 0;
    DiskReader disk;
    if (!walk_entries(folder.c_str(), disk, entries)) return complain(EXIT_PARTIAL, "an entry could not be read", folder);
    std::printf("%llu entries\n", static_cast<unsigned long long>(entries));
    return 0;
}

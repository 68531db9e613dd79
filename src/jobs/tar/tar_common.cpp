// Pieces shared by the tarball jobs: the wide path libarchive opens, the
// disk reader of the walks, the Zstandard stage's release and the
// tarball's names. Worker thread.
#include "jobs/tar/tar_common.h"

#include <archive.h>
#include <archive_entry.h>

#include <cstring>

#include "io/platform.h"
#include "jobs/frame/job_paths.h"
#include "io/banned.h"

std::wstring archive_wide_path(const char* path) {
    std::wstring out;
    constexpr size_t LIMIT = 2047;
    size_t left = std::strlen(path);
    while (left && out.size() < LIMIT) {
        uint32_t value = 0;
        const size_t length = decode_utf8_char(path, left, &value);
        if (value >= 0x10000 && value <= 0x10FFFE) {
            if (LIMIT - out.size() < 2) break;
            value -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (value >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (value & 0x3FF)));
        } else {
            out.push_back(static_cast<wchar_t>(value & 0xFFFF));
        }
        path += length;
        left -= length;
    }
    return out;
}

bool DiskReader::read_entry(const char* path, archive_entry* entry) {
    if (!disk_) disk_ = archive_read_disk_new();
    const std::wstring wide = archive_wide_path(path);
    failed_ = !disk_ || !entry || archive_read_disk_open_w(disk_, wide.c_str()) != ARCHIVE_OK ||
              archive_read_next_header2(disk_, entry) != ARCHIVE_OK;
    if (!failed_) archive_read_disk_descend(disk_);
    return !failed_;
}

void DiskReader::close() {
    if (failed_) {
        discard();
    } else if (disk_) {
        archive_read_close(disk_);
    }
    failed_ = false;
}

void DiskReader::discard() {
    if (!disk_) return;
    archive_read_close(disk_);
    archive_read_free(disk_);
    disk_ = nullptr;
}

void choose_tarball_file(ArchiveJob& job) { job.tar_file = partial_path(job.tar_path.c_str()); }

void name_kept_tarball(ArchiveJob& job, bool may_replace) {
    if (!job.keep_tarball) return;
    if (!may_replace) {
        const std::string placed = move_to_free_name(job.tar_file.c_str(), job.tar_path.c_str());
        if (placed != job.tar_path.c_str()) note_problem(job, Problem::tarball_kept_as, placed);
        job.tar_file.set(placed.c_str());
        return;
    }
    const std::string placed = place_finished_output(job.tar_file.c_str(), job.tar_path.c_str());
    if (placed != job.tar_path.c_str()) note_problem(job, Problem::saved_aside, placed);
    job.tar_file.set(placed.c_str());
}

// The one table of archive families; see job_families.h.
#include "jobs/worker/job_families.h"

#include "jobs/libarchive/la_jobs.h"
#include "jobs/tar/tzst_jobs.h"
#include "jobs/zip/zip_jobs.h"
#include "jobs/zstd/zst_file_jobs.h"
#include "io/banned.h"

const std::vector<const ArchiveFamily*>& archive_families() {
    static const std::vector<const ArchiveFamily*> families = [] {
        std::vector<const ArchiveFamily*> all = {&ZIP_FAMILY, &TZST_FAMILY, &ZST_FILE_FAMILY};
        for (const ArchiveFamily& family : libarchive_families()) all.push_back(&family);
        return all;
    }();
    return families;
}

const ArchiveFamily* family_of(ArchiveKind kind) {
    for (const ArchiveFamily* family : archive_families()) {
        if (family->kind == kind) return family;
    }
    return nullptr;
}

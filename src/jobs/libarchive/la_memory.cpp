// The memory an archive's decoding needs; see la_memory.h.
#include "jobs/libarchive/la_memory.h"

#include "io/file_reader.h"
#include "jobs/libarchive/la_memory_walks.h"
#include "io/banned.h"

uint64_t la_memory_needed(const char* path, ArchiveKind kind) {
    if (kind != ArchiveKind::seven_zip && kind != ArchiveKind::rar) return 0;
    FileReader file(path);
    if (!file.is_open()) return 0;
    return kind == ArchiveKind::seven_zip ? seven_zip_memory_needed(file) : rar_memory_needed(file);
}

// What decoding a .7z or a .rar will take of the machine's memory, read
// from the archive's headers before anything of it is decoded, so that one
// made with a dictionary or window larger than the machine can give is
// refused with what it needs, as a Zstandard window is. Any one thread.
#pragma once

#include <cstdint>

#include "jobs/frame/archive_names.h"

// The memory, in bytes, that libarchive's decoding of the archive at path
// (a .7z, or the first volume of a RAR set) needs at its largest: its
// largest LZMA or LZMA2 dictionary or PPMd model (7z, the packed header's
// own coder included), or twice its largest RAR5 window, plus a small
// fixed overhead. 0 when that is not known or small: other kinds, RAR4,
// archives whose headers are encrypted, headers that do not read, a
// missing file. Reads the file through its own reader.
uint64_t la_memory_needed(const char* path, ArchiveKind kind);

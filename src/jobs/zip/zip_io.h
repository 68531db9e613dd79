// ZIP archives through minizip at the program's UTF-8 paths: creating one
// (the ZIP compression writes with minizip), and opening one for reading,
// which only the tests do to read back what was written (extraction, list
// and test read with zip_reader.h). The path reaches the Windows file API
// by the platform layer's rule (UTF-16 with the long-path prefix where
// needed). Any thread; nothing here keeps state.
#pragma once

#include <windows.h>

#include <cstdint>

#include <minizip/unzip.h>
#include <minizip/zip.h>

// The general-purpose flag of an entry whose name and comment are UTF-8.
constexpr uLong UTF8_NAMES = 0x800;

// True for the separators an entry name or a path may use.
inline bool is_separator(char c) { return c == '/' || c == '\\'; }

// Creates the archive at path for writing, replacing an existing file.
// Returns null when it cannot be created; the caller closes it with zipClose,
// which fails when any write to the file was refused along the way (the
// archive is flushed to the disk first). write_error, when given, receives
// the system's code of the first failed write (NO_ERROR while none failed)
// and must outlive the archive.
zipFile create_zip_archive(const char* path, DWORD* write_error = nullptr);

// Opens the archive at path for reading, positioned at its first entry.
// Returns null when the file is missing or is no ZIP archive; the caller
// closes it with unzClose.
unzFile open_zip_archive(const char* path);

// True when the file at path is a ZIP archive without entries: its end
// record alone, perhaps with a comment. minizip cannot open such archives.
bool is_empty_zip_archive(const char* path);

// True when an entry of size input bytes might reach 4 GiB once deflated
// (deflate grows data it cannot compress a little), so that it must carry
// ZIP64 sizes.
bool needs_zip64(uint64_t size);

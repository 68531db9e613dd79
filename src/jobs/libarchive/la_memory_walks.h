// The header walks behind la_memory_needed, one per format, and the
// estimate of a decoder's memory they share. Internal to the libarchive
// family; any one thread.
#pragma once

#include <cstdint>

class FileReader;

// What a decoder takes beside its dictionary or model: liblzma's or PPMd's
// own state (some tens of KiB), libarchive's 64 KiB buffer of decoded bytes
// and the source's 64 KiB piece, rounded up to a quarter MiB. An estimate,
// not a measure; the dictionary is what matters.
constexpr uint64_t DECODER_OVERHEAD = 256 * 1024;

// The most a header is read (or, when encoded, decoded) for its coders:
// they come before the names, which are the bulk of a header.
constexpr uint64_t HEADER_READ_MAX = 64ull << 20;

// The memory the largest coder of a .7z in file needs (its dictionary or
// PPMd model plus DECODER_OVERHEAD), the header's own coder included; 0
// when the archive uses none of LZMA, LZMA2 and PPMd, when its header is
// encrypted, or when its headers do not read that far.
uint64_t seven_zip_memory_needed(FileReader& file);

// The memory the largest window of a RAR5 file in file needs (libarchive
// keeps the window and a filtered copy of it), walking the headers of that
// one volume; 0 for RAR4, encrypted headers, stored files only, or headers
// that do not read.
uint64_t rar_memory_needed(FileReader& file);

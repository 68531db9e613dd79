// The numbers of the ZIP format that the reader and the writer share: the
// records' signatures and fixed sizes, the methods, the hosts of "version
// made by", and the flags. Any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zip_format {

// Signatures of the records, and the fixed part of each.
enum Signature : uint32_t { LOCAL_SIGNATURE = 0x04034b50, CENTRAL_SIGNATURE = 0x02014b50, END_SIGNATURE = 0x06054b50,
                            ZIP64_END_SIGNATURE = 0x06064b50, ZIP64_LOCATOR_SIGNATURE = 0x07064b50 };
constexpr size_t LOCAL_HEADER = 30, CENTRAL_HEADER = 46, END_RECORD = 22, ZIP64_END_RECORD = 56, ZIP64_LOCATOR = 20;
constexpr size_t LONGEST_COMMENT = 0xffff;

// A 32-bit field whose value stands in the ZIP64 field, and the extra
// fields read.
constexpr uint32_t FIELD_IN_ZIP64 = 0xffffffff;
enum ExtraField : uint16_t { ZIP64_FIELD = 0x0001, UNICODE_PATH_FIELD = 0x7075 };
constexpr uint8_t UNICODE_PATH_VERSION = 1;

// Methods: the ones this program unpacks; 20 is Zstandard as older writers
// numbered it; 99 marks AES encryption.
enum Method : uint32_t { STORED = 0, DEFLATED = 8, DEFLATE64 = 9, ZSTANDARD_OLD = 20, ZSTANDARD = 93, AES = 99 };

// Hosts of "version made by": those whose attributes are Windows file
// attributes (NTFS is 10 in PKWARE's list and 11 in Info-ZIP's), and those
// whose attributes carry a Unix mode in their high 16 bits.
enum Host : uint32_t { MSDOS = 0, UNIX = 3, NTFS = 10, NTFS_INFO_ZIP = 11, VFAT = 14, MACOS = 19 };
constexpr uint32_t UNIX_TYPE_MASK = 0170000, UNIX_SYMLINK = 0120000;

// General-purpose flags.
enum Flag : uint32_t { ENCRYPTED = 0x1 };

}  // namespace zip_format

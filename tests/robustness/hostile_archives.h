// Builders for hand-made archives: ZIP and tar entries with any name, type,
// method, flag and header value, so the tests can make the archives a
// stranger might send (and the fuzz seeds) at run time. Nothing here calls
// the program's own compressors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ZipItem {
    std::string name;
    std::string data;                 // the uncompressed data
    std::string packed;               // when set, the entry's data as written (data is what it decodes to)
    uint16_t method = 0;              // 0 stored, 8 deflate, anything else is written as stored bytes
    uint16_t flags = 0;               // 0x0001 encrypted, 0x0800 UTF-8 names
    uint32_t unix_mode = 0;           // non-zero: made on Unix with this st_mode (0120777 for a symlink)
    int64_t declared_size = -1;       // uncompressed size in the headers; -1: the real one
    int64_t declared_packed_size = -1;  // compressed size in the headers; -1: the real one
    int64_t local_offset_shift = 0;   // added to the offset the central directory gives
    bool flip_data_bit = false;       // flips one bit of the stored or deflated data
};

// A whole ZIP archive. entry_count_claim overrides the end record's entry
// count (-1: the real one); ZIP64 end records are written when needed.
std::string build_zip(const std::vector<ZipItem>& entries, int64_t entry_count_claim = -1);
// A raw deflate stream of data.
std::string deflate_raw(const std::string& data);

struct TarItem {
    std::string name;
    std::string data;
    char type = '0';                  // '0' file, '5' folder, '1' hard link, '2' symlink
    std::string link;
    int64_t declared_size = -1;       // the size field; -1: the data's size
};

// A tarball; names longer than 100 bytes get a GNU long-name entry. No end
// blocks when truncate_after is >= 0: the tarball is cut to that many bytes.
std::string build_tar(const std::vector<TarItem>& entries, int64_t truncate_after = -1);
// One Zstandard frame of bytes (level 1, with or without its checksum).
std::string zstd_frame(const std::string& bytes, bool checksum = false);

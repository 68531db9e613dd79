// Reading a ZIP archive's own structures for listing, testing and
// extraction: the end record, the central directory entry by entry for as
// long as it holds entries, and each entry's local header. The central
// directory is what decides an entry's name, method, sizes and CRC-32; the
// local header only places the data and must name the same entry. Worker thread; the
// objects belong to one extraction.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "io/grow_buffer.h"

// An archive file open for reading at any offset.
class ArchiveFile {
public:
    explicit ArchiveFile(const char* path);
    ~ArchiveFile();
    ArchiveFile(const ArchiveFile&) = delete;
    ArchiveFile& operator=(const ArchiveFile&) = delete;

    bool is_open() const { return handle_ != INVALID_HANDLE_VALUE; }
    uint64_t size() const { return size_; }
    // Reads up to count bytes at offset; returns how many were read (fewer
    // at the end of the file or when a read fails).
    size_t read_at(uint64_t offset, void* out, size_t count);

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    uint64_t size_ = 0;
};

// A position in an archive file with a buffer of the bytes after it, so
// that header fields cost no system call each and data comes in pieces.
class ArchiveCursor {
public:
    static constexpr size_t BUFFER_BYTES = 65536;

    explicit ArchiveCursor(ArchiveFile& file) : file_(file) {}
    ArchiveCursor(const ArchiveCursor&) = delete;
    ArchiveCursor& operator=(const ArchiveCursor&) = delete;

    // False when the buffer could not be had.
    bool allocate() { return buffer_.resize(BUFFER_BYTES); }
    uint64_t position() const { return position_; }
    void seek(uint64_t position) { position_ = position; }
    // Copies count bytes from the position on and moves past them; false
    // when the file ends first.
    bool read(void* out, size_t count);
    // Points *data at the bytes from the position on, up to limit (at most
    // a buffer's worth), and moves past them; false when none are left
    // before limit or the file ends (or cannot be read) there.
    bool next_piece(uint64_t limit, const uint8_t** data, size_t* size);

private:
    // Makes the buffer hold the bytes at the position; false when none are there.
    bool fill();

    ArchiveFile& file_;
    GrowBuffer buffer_;
    uint64_t position_ = 0;
    uint64_t buffer_at_ = 0;  // the file offset of the buffer's first byte
    size_t filled_ = 0;
};

// Where an archive's central directory lies, as its end record tells.
struct ZipLayout {
    uint64_t directory_at = 0;   // the first central header
    uint64_t directory_end = 0;  // the (ZIP64) end record: no central header reaches past it
    uint64_t counted = 0;        // the entries the end record counts
    uint64_t shift = 0;          // bytes before the archive proper (a self-extractor's program),
                                 // added to every offset the archive gives
};

// Finds the end record as Info-ZIP and Python find it: the last one in the
// file (searching back from its end) that leads to a central directory. A
// record that lies inside the fixed part of an earlier such record is no
// end. False when no end record leads to a directory: the file is no ZIP
// archive.
bool find_zip_layout(ArchiveFile& file, ZipLayout& layout);

// One entry of the central directory.
struct ZipEntry {
    std::string name;          // the header's name bytes
    std::string unicode_name;  // the UTF-8 name of a Unicode Path field (0x7075) of version 1
                               // whose CRC-32 matches name's bytes; "" when there is none
    uint32_t made_by = 0;      // "version made by": the host in the high byte
    uint32_t flag = 0;
    uint32_t method = 0;
    uint32_t crc = 0;
    uint64_t compressed = 0;
    uint64_t uncompressed = 0;
    uint64_t local_at = 0;     // the local header, in the file
    uint32_t external = 0;     // the host's attributes
};

enum class DirectoryStep { entry, end, broken };

// Reads the central header at the cursor into entry and moves past it: end
// where the headers stop (at the end record, or where no central header
// begins), broken when a header runs past the directory's end.
DirectoryStep next_central_entry(ArchiveCursor& cursor, const ZipLayout& layout, ZipEntry& entry);

// What an entry's local header says.
struct LocalHeader {
    uint64_t at = 0;           // the header's first byte
    uint64_t data_at = 0;      // the entry's first byte of data
    std::string name;          // the header's name bytes
};

enum class LocalRead {
    found,
    missing,     // no local header at the entry's offset, or one of another method
    other_name,  // a header of another name: the directory points at some other entry's record
};

// Reads entry's local header. Names are compared byte for byte, but for
// the two separators.
LocalRead read_local_header(ArchiveCursor& cursor, const ZipEntry& entry, LocalHeader& local);

// An entry's name in UTF-8: the Unicode Path field's when it holds valid
// UTF-8; else the header's bytes when they are valid UTF-8 (with the UTF-8
// flag or without: Info-ZIP on Unix writes UTF-8 unflagged); else the
// bytes in the OEM code page, as Windows reads them, also when the flag
// claims UTF-8 for them ("" when they cannot be converted).
std::string zip_entry_name(const ZipEntry& entry);

enum class ZipEntryType {
    file,
    folder,  // a decoded name ending in a separator, or a folder by a Windows or DOS tool's attributes
    link,    // a symbolic link by a Unix tool's attributes (zip -y): its data is the target's path
};

// What an entry is to a listing, a test and an extraction alike.
struct ZipEntryView {
    ZipEntryType type = ZipEntryType::file;
    // The decoded name; the header's bytes when they hide a zero byte.
    std::string name;
    // The path below the destination, with ''; "" when the entry is
    // skipped for its name (see safe_entry_path; a name hiding a zero byte
    // is not guessed at).
    std::string relative;
};
ZipEntryView view_zip_entry(const ZipEntry& entry);

// Encrypted, with the classic scheme or AES (method 99).
bool zip_entry_encrypted(const ZipEntry& entry);
// A method's name for the report ("BZip2", or "method 77").
std::string zip_method_name(uint32_t method);

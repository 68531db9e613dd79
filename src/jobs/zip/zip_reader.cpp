// The ZIP structures an extraction reads; see zip_reader.h.
#include "jobs/zip/zip_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "io/platform.h"
#include "jobs/frame/job_paths.h"
#include "jobs/zip/zip_format.h"
#include "jobs/zip/zip_io.h"
#include "io/banned.h"

namespace {

using namespace zip_format;

constexpr DWORD LARGEST_READ = 1u << 30;

uint64_t little_endian(const uint8_t* p, int bytes) {
    uint64_t value = 0;
    for (int i = bytes; i-- > 0;) value = (value << 8) | p[i];
    return value;
}
uint32_t le16(const uint8_t* p) { return static_cast<uint32_t>(little_endian(p, 2)); }
uint32_t le32(const uint8_t* p) { return static_cast<uint32_t>(little_endian(p, 4)); }
uint64_t le64(const uint8_t* p) { return little_endian(p, 8); }

bool central_header_at(ArchiveFile& file, uint64_t at) {
    uint8_t signature[4];
    return file.read_at(at, signature, sizeof(signature)) == sizeof(signature) && le32(signature) == CENTRAL_SIGNATURE;
}

// The layout the end record at `at` (whose bytes are record) describes.
// False when it leads to no central directory.
bool layout_from(ArchiveFile& file, uint64_t at, const uint8_t* record, ZipLayout& layout) {
    uint64_t count = le16(record + 10);
    uint64_t size = le32(record + 12);
    uint64_t offset = le32(record + 16);
    uint64_t end = at;
    // A ZIP64 locator just before the record leads to the ZIP64 end record,
    // which holds what did not fit. The record is where the locator says, or
    // right before it when a program's bytes precede the archive.
    uint8_t locator[ZIP64_LOCATOR];
    if (at >= ZIP64_LOCATOR && file.read_at(at - ZIP64_LOCATOR, locator, sizeof(locator)) == sizeof(locator) &&
        le32(locator) == ZIP64_LOCATOR_SIGNATURE) {
        const uint64_t stated = le64(locator + 8);
        const uint64_t before = at >= ZIP64_LOCATOR + ZIP64_END_RECORD ? at - ZIP64_LOCATOR - ZIP64_END_RECORD : stated;
        for (const uint64_t where : {stated, before}) {
            uint8_t zip64[ZIP64_END_RECORD];
            if (where < at && file.read_at(where, zip64, sizeof(zip64)) == sizeof(zip64) &&
                le32(zip64) == ZIP64_END_SIGNATURE) {
                count = le64(zip64 + 32);
                size = le64(zip64 + 40);
                offset = le64(zip64 + 48);
                end = where;
                break;
            }
        }
    }
    layout.counted = count;
    layout.directory_end = end;
    // The directory ends where the end records begin; the bytes before an
    // archive that sits behind a program shift every offset it gives.
    const bool fits = offset <= end && size <= end - offset;
    const uint64_t shifts[] = {fits ? end - (offset + size) : 0, 0};
    for (const uint64_t shift : shifts) {
        if (offset > end - shift) continue;
        layout.shift = shift;
        layout.directory_at = offset + shift;
        if (layout.directory_at == end ? count == 0 : central_header_at(file, layout.directory_at)) {
            return true;
        }
    }
    return false;
}

// Calls visit(id, data, size) for each block of an extra field.
template <typename Visit>
void each_extra_block(const std::string& extra, Visit visit) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(extra.data());
    for (size_t at = 0; at + 4 <= extra.size();) {
        const uint32_t id = le16(bytes + at);
        const size_t size = le16(bytes + at + 2);
        if (at + 4 + size > extra.size()) return;
        visit(id, bytes + at + 4, size);
        at += 4 + size;
    }
}

// Takes the values a ZIP64 field holds for the fields that read 0xffffffff,
// in the field's order.
void read_zip64_field(const std::string& extra, uint64_t* uncompressed, uint64_t* compressed, uint64_t* offset) {
    each_extra_block(extra, [&](uint32_t id, const uint8_t* data, size_t size) {
        if (id != ZIP64_FIELD) return;
        size_t at = 0;
        for (uint64_t* value : {uncompressed, compressed, offset}) {
            if (!value || *value != FIELD_IN_ZIP64) continue;
            if (at + 8 > size) return;
            *value = le64(data + at);
            at += 8;
        }
    });
}

// The UTF-8 name of a Unicode Path field of version 1 that was made from
// name, as its CRC-32 of name's bytes shows; "" otherwise.
std::string unicode_path(const std::string& extra, const std::string& name) {
    std::string unicode;
    each_extra_block(extra, [&](uint32_t id, const uint8_t* data, size_t size) {
        if (id != UNICODE_PATH_FIELD || size < 5 || data[0] != UNICODE_PATH_VERSION) return;
        const uLong crc = crc32_z(0, reinterpret_cast<const Bytef*>(name.data()), name.size());
        if (le32(data + 1) == crc) unicode.assign(reinterpret_cast<const char*>(data + 5), size - 5);
    });
    return unicode;
}

}  // namespace

ArchiveFile::ArchiveFile(const char* path) {
    handle_ = create_file(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, true);
    LARGE_INTEGER size{};
    if (is_open() && GetFileSizeEx(handle_, &size)) size_ = static_cast<uint64_t>(size.QuadPart);
}

ArchiveFile::~ArchiveFile() {
    if (is_open()) CloseHandle(handle_);
}

size_t ArchiveFile::read_at(uint64_t offset, void* out, size_t count) {
    size_t done = 0;
    while (is_open() && done < count && offset + done < size_) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset + done);
        at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
        const DWORD wanted = static_cast<DWORD>(std::min<size_t>(count - done, LARGEST_READ));
        DWORD got = 0;
        if (!ReadFile(handle_, static_cast<uint8_t*>(out) + done, wanted, &got, &at) || got == 0) break;
        done += got;
    }
    return done;
}

bool ArchiveCursor::fill() {
    if (position_ >= buffer_at_ && position_ < buffer_at_ + filled_) return true;
    buffer_at_ = position_;
    filled_ = buffer_.storage ? file_.read_at(position_, buffer_.storage, BUFFER_BYTES) : 0;
    return filled_ > 0;
}

bool ArchiveCursor::read(void* out, size_t count) {
    auto* to = static_cast<uint8_t*>(out);
    while (count > 0) {
        if (!fill()) return false;
        const size_t at = static_cast<size_t>(position_ - buffer_at_);
        const size_t n = std::min(count, filled_ - at);
        std::memcpy(to, buffer_.storage + at, n);
        to += n;
        count -= n;
        position_ += n;
    }
    return true;
}

bool ArchiveCursor::next_piece(uint64_t limit, const uint8_t** data, size_t* size) {
    if (position_ >= limit || !fill()) return false;
    const size_t at = static_cast<size_t>(position_ - buffer_at_);
    const size_t n = static_cast<size_t>(std::min<uint64_t>(filled_ - at, limit - position_));
    *data = buffer_.storage + at;
    *size = n;
    position_ += n;
    return true;
}

bool find_zip_layout(ArchiveFile& file, ZipLayout& layout) {
    const uint64_t size = file.size();
    if (size < END_RECORD) return false;
    const size_t tail_size = static_cast<size_t>(std::min<uint64_t>(size, END_RECORD + LONGEST_COMMENT));
    const uint64_t tail_at = size - tail_size;
    std::string tail(tail_size, '\0');
    if (file.read_at(tail_at, &tail[0], tail_size) != tail_size) return false;
    const auto* bytes = reinterpret_cast<const uint8_t*>(tail.data());
    // From the end backwards, the first record that leads to a directory,
    // unless its signature lies inside the fixed fields of an earlier record
    // that leads to one too (an offset or size that reads as a signature).
    bool found = false;
    size_t found_at = 0;
    for (size_t i = tail_size - END_RECORD + 1; i-- > 0;) {
        if (found && i + END_RECORD <= found_at) break;
        if (le32(bytes + i) != END_SIGNATURE) continue;
        ZipLayout candidate;
        if (!layout_from(file, tail_at + i, bytes + i, candidate)) continue;
        layout = candidate;
        found = true;
        found_at = i;
    }
    return found;
}

DirectoryStep next_central_entry(ArchiveCursor& cursor, const ZipLayout& layout, ZipEntry& entry) {
    const uint64_t at = cursor.position();
    uint8_t header[CENTRAL_HEADER];
    if (at + 4 > layout.directory_end || !cursor.read(header, 4) || le32(header) != CENTRAL_SIGNATURE) {
        return DirectoryStep::end;
    }
    if (at + CENTRAL_HEADER > layout.directory_end || !cursor.read(header + 4, CENTRAL_HEADER - 4)) {
        return DirectoryStep::broken;
    }
    const size_t name_size = le16(header + 28);
    const size_t extra_size = le16(header + 30);
    const size_t comment_size = le16(header + 32);
    if (at + CENTRAL_HEADER + name_size + extra_size + comment_size > layout.directory_end) return DirectoryStep::broken;
    entry.name.assign(name_size, '\0');
    std::string extra(extra_size, '\0');
    if ((name_size && !cursor.read(&entry.name[0], name_size)) || (extra_size && !cursor.read(&extra[0], extra_size))) {
        return DirectoryStep::broken;
    }
    cursor.seek(cursor.position() + comment_size);
    entry.made_by = le16(header + 4);
    entry.flag = le16(header + 8);
    entry.method = le16(header + 10);
    entry.crc = le32(header + 16);
    entry.compressed = le32(header + 20);
    entry.uncompressed = le32(header + 24);
    entry.external = le32(header + 38);
    uint64_t offset = le32(header + 42);
    read_zip64_field(extra, &entry.uncompressed, &entry.compressed, &offset);
    entry.local_at = offset + layout.shift;
    entry.unicode_name = unicode_path(extra, entry.name);
    return DirectoryStep::entry;
}

LocalRead read_local_header(ArchiveCursor& cursor, const ZipEntry& entry, LocalHeader& local) {
    local.at = entry.local_at;
    cursor.seek(entry.local_at);
    uint8_t header[LOCAL_HEADER];
    if (!cursor.read(header, sizeof(header)) || le32(header) != LOCAL_SIGNATURE) return LocalRead::missing;
    if (le16(header + 8) != entry.method) return LocalRead::missing;
    const size_t name_size = le16(header + 26);
    const size_t extra_size = le16(header + 28);
    local.name.assign(name_size, '\0');
    if (name_size && !cursor.read(&local.name[0], name_size)) return LocalRead::missing;
    cursor.seek(cursor.position() + extra_size);
    local.data_at = cursor.position();
    if (name_size != entry.name.size()) return LocalRead::other_name;
    for (size_t i = 0; i < name_size; ++i) {
        const char a = local.name[i];
        const char b = entry.name[i];
        if (a != b && !(is_separator(a) && is_separator(b))) return LocalRead::other_name;
    }
    return LocalRead::found;
}

namespace {

bool windows_folder_attributes(const ZipEntry& entry) {
    const uint32_t host = entry.made_by >> 8;
    return (host == MSDOS || host == NTFS || host == NTFS_INFO_ZIP || host == VFAT) &&
           (entry.external & FILE_ATTRIBUTE_DIRECTORY);
}

bool unix_symlink_attributes(const ZipEntry& entry) {
    const uint32_t host = entry.made_by >> 8;
    return (host == UNIX || host == MACOS) && ((entry.external >> 16) & UNIX_TYPE_MASK) == UNIX_SYMLINK;
}

}  // namespace

std::string zip_method_name(uint32_t method) {
    switch (method) {
        case 6: return "Implode";
        case 12: return "BZip2";
        case 14: return "LZMA";
        case 95: return "XZ";
        case 97: return "WavPack";
        case 98: return "PPMd";
        default: return "method " + std::to_string(method);
    }
}

std::string zip_entry_name(const ZipEntry& entry) {
    const std::string& unicode = entry.unicode_name;
    if (!unicode.empty() && std::strlen(unicode.c_str()) == unicode.size() &&
        is_valid_utf8(unicode.data(), unicode.size())) {
        return unicode;
    }
    const std::string& name = entry.name;
    return is_valid_utf8(name.data(), name.size()) ? name : code_page_name(name, CP_OEMCP);
}

ZipEntryView view_zip_entry(const ZipEntry& entry) {
    ZipEntryView view;
    // A name that hides a zero byte is not guessed at.
    if (std::strlen(entry.name.c_str()) != entry.name.size()) {
        view.name = entry.name.c_str();
        return view;
    }
    view.name = zip_entry_name(entry);
    // Whether the name ends in a separator is read from the decoded name:
    // in an East Asian code page 0x5C may be a character's second byte.
    if ((!view.name.empty() && is_separator(view.name.back())) || windows_folder_attributes(entry)) {
        view.type = ZipEntryType::folder;
    } else if (unix_symlink_attributes(entry)) {
        view.type = ZipEntryType::link;
    }
    view.relative = safe_entry_path(view.name.c_str());
    return view;
}

bool zip_entry_encrypted(const ZipEntry& entry) { return (entry.flag & ENCRYPTED) || entry.method == AES; }

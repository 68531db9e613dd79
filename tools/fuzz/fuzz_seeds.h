// Seeds of the archive families read through libarchive, made in the
// fuzzer's own process: tarballs in gzip, bzip2 and xz and 7z archives
// written by libarchive, RAR 4 and RAR 5 archives of stored entries written
// byte by byte, and a gzip stream. Entry lists may hold hostile names
// ("../x", "/x", "con.txt", "a:b"), which the extraction must keep inside
// its folder.
#pragma once

#include <windows.h>

#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace fuzz_seeds {

// name, data; a name ending in '/' is a folder.
using Entries = std::vector<std::pair<std::string, std::string>>;

inline la_ssize_t append_to(archive*, void* sink, const void* buffer, size_t length) {
    static_cast<std::string*>(sink)->append(static_cast<const char*>(buffer), length);
    return static_cast<la_ssize_t>(length);
}

// Entries written by libarchive in format (archive_write_set_format_*),
// through filter (archive_write_add_filter_*, or null for none); "" when
// libarchive refused. With wide_names the names go in as UTF-16 (7z stores
// them so); else as their bytes (a tarball's header holds them so).
inline std::string libarchive_archive(const Entries& entries, int (*set_format)(archive*),
                                      int (*add_filter)(archive*), bool wide_names = false) {
    std::string out;
    archive* writer = archive_write_new();
    bool ok = writer && set_format(writer) == ARCHIVE_OK && (!add_filter || add_filter(writer) == ARCHIVE_OK) &&
              archive_write_set_bytes_in_last_block(writer, 1) == ARCHIVE_OK &&
              archive_write_open(writer, &out, nullptr, append_to, nullptr) == ARCHIVE_OK;
    for (const auto& [name, data] : entries) {
        if (!ok) break;
        archive_entry* entry = archive_entry_new();
        const bool folder = !name.empty() && name.back() == '/';
        if (wide_names) {
            std::wstring wide(name.size() + 1, L'\0');
            wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, &wide[0],
                                                                 static_cast<int>(wide.size()))));
            archive_entry_copy_pathname_w(entry, wide.c_str());
        } else {
            archive_entry_copy_pathname(entry, name.c_str());
        }
        archive_entry_set_filetype(entry, folder ? AE_IFDIR : AE_IFREG);
        archive_entry_set_perm(entry, folder ? 0755 : 0644);
        archive_entry_set_size(entry, folder ? 0 : static_cast<la_int64_t>(data.size()));
        ok = archive_write_header(writer, entry) == ARCHIVE_OK &&
             (folder || data.empty() || archive_write_data(writer, data.data(), data.size()) == static_cast<la_ssize_t>(data.size()));
        archive_entry_free(entry);
    }
    ok = writer && archive_write_close(writer) == ARCHIVE_OK && ok;
    if (writer) archive_write_free(writer);
    return ok ? out : "";
}

inline void put(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

inline uint32_t crc_of(const std::string& bytes) {
    return static_cast<uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
}

// A RAR 4 archive of stored files (no folders): the marker, the archive
// header, a file header and the data for each entry, the end.
inline std::string rar4_stored(const Entries& entries) {
    std::string out("Rar!\x1a\x07\x00", 7);
    const auto block = [&out](const std::string& body) {  // body: from the type on
        put(out, crc_of(body) & 0xffff, 2);
        out += body;
    };
    std::string archive_header;
    put(archive_header, 0x73, 1);
    put(archive_header, 0, 2);   // flags
    put(archive_header, 13, 2);  // the header's size
    put(archive_header, 0, 6);   // reserved
    block(archive_header);
    for (const auto& [name, data] : entries) {
        std::string file;
        put(file, 0x74, 1);
        put(file, 0x8000, 2);  // the data follows
        put(file, 32 + name.size(), 2);
        put(file, data.size(), 4);
        put(file, data.size(), 4);
        put(file, 2, 1);  // made on Windows
        put(file, crc_of(data), 4);
        put(file, 0x5a210000, 4);  // a DOS time
        put(file, 20, 1);           // the version to unpack
        put(file, 0x30, 1);         // stored
        put(file, name.size(), 2);
        put(file, 0x20, 4);  // attributes
        file += name;
        block(file);
        out += data;
    }
    std::string end;
    put(end, 0x7b, 1);
    put(end, 0x4000, 2);
    put(end, 7, 2);
    block(end);
    return out;
}

// A variable-length integer of RAR 5.
inline std::string vint(uint64_t value) {
    std::string out;
    do {
        out.push_back(static_cast<char>((value & 0x7f) | (value > 0x7f ? 0x80 : 0)));
        value >>= 7;
    } while (value);
    return out;
}

// A RAR 5 archive of stored files: the signature, the main header, a file
// header with its data area for each entry, the end.
inline std::string rar5_stored(const Entries& entries) {
    std::string out("Rar!\x1a\x07\x01\x00", 8);
    const auto header = [&out](const std::string& fields) {  // fields: from the type on
        const std::string sized = vint(fields.size()) + fields;
        put(out, crc_of(sized), 4);
        out += sized;
    };
    header(vint(1) + vint(0) + vint(0));  // main: type, header flags, archive flags
    for (const auto& [name, data] : entries) {
        std::string fields = vint(2) + vint(0x2) + vint(data.size());  // file, data area, its size
        fields += vint(0x4) + vint(data.size()) + vint(0x20);           // CRC-32 given, size, attributes
        std::string crc;
        put(crc, crc_of(data), 4);
        fields += crc + vint(0) + vint(0) + vint(name.size()) + name;  // stored, Windows, the name
        header(fields);
        out += data;
    }
    header(vint(5) + vint(0) + vint(0));  // end of archive
    return out;
}

// data through zlib's deflate at a level and strategy, framed as window_bits
// says (negative: raw Deflate; 16 + MAX_WBITS: one gzip member); "" when
// zlib fails.
inline std::string deflated(const std::string& data, int level, int window_bits, int strategy) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, window_bits, 8, strategy) != Z_OK) return "";
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    const bool done = deflate(&z, Z_FINISH) == Z_STREAM_END;
    out.resize(z.total_out);
    deflateEnd(&z);
    return done ? out : "";
}

// data as one gzip member.
inline std::string gzip_of(const std::string& data) {
    return deflated(data, 6, 16 + MAX_WBITS, Z_DEFAULT_STRATEGY);
}

}  // namespace fuzz_seeds

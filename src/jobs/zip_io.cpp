// The UTF-16 route from the program's paths to minizip's file functions.
#include "jobs/zip_io.h"

#include <minizip/iowin32.h>

#include <cstring>

#include "io/file_reader.h"
#include "io/platform.h"
#include "io/banned.h"

namespace {

constexpr size_t END_RECORD = 22;
constexpr size_t LONGEST_COMMENT = 0xffff;

uint32_t little_endian(const unsigned char* p, int bytes) {
    uint32_t value = 0;
    for (int i = bytes; i-- > 0;) value = (value << 8) | p[i];
    return value;
}

// Calls open with the path and the file functions that suit it.
template <typename Open>
auto open_through_win32(const char* path, Open open) {
    zlib_filefunc64_def functions;
    WideText wide(path, std::strlen(path));
    if (wide.ok() && wide.make_long_path()) {
        fill_win32_filefunc64W(&functions);
        return open(static_cast<const void*>(wide.c_str()), &functions);
    }
    fill_win32_filefunc64A(&functions);
    return open(static_cast<const void*>(path), &functions);
}

}  // namespace

zipFile create_zip_archive(const char* path) {
    return open_through_win32(path, [](const void* name, zlib_filefunc64_def* functions) {
        return zipOpen2_64(name, APPEND_STATUS_CREATE, nullptr, functions);
    });
}

unzFile open_zip_archive(const char* path) {
    return open_through_win32(path, [](const void* name, zlib_filefunc64_def* functions) {
        return unzOpen2_64(name, functions);
    });
}

bool is_empty_zip_archive(const char* path) {
    FileReader reader(path);
    const uint64_t size = reader.size();
    if (!reader.is_open() || size < END_RECORD || size > END_RECORD + LONGEST_COMMENT) return false;
    unsigned char record[END_RECORD];
    if (reader.read(record, sizeof(record)) != sizeof(record)) return false;
    return little_endian(record, 4) == 0x06054b50 && little_endian(record + 8, 2) == 0 &&
           little_endian(record + 10, 2) == 0 && little_endian(record + 20, 2) == size - END_RECORD;
}

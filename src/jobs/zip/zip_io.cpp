// minizip's file functions on the program's UTF-8 paths: the Windows file
// API behind a buffer, with the write faults of the test seam, a flush to
// the disk before an archive written is closed, and the system's reason for
// the first failed write kept for the job's report. Any thread; each open
// archive's state lives in its own streams.
#include "jobs/zip/zip_io.h"

#include <algorithm>
#include <cstring>

#include "io/file_reader.h"
#include "io/file_writer.h"
#include "io/io_faults.h"
#include "io/platform.h"
#include "jobs/zip/zip_format.h"
#include "io/banned.h"

namespace {

using zip_format::END_RECORD;
using zip_format::LONGEST_COMMENT;

uint32_t little_endian(const unsigned char* p, int bytes) {
    uint32_t value = 0;
    for (int i = bytes; i-- > 0;) value = (value << 8) | p[i];
    return value;
}

// One archive file open through the Windows API. error is the system's
// code of the first failure; it is also handed to the opener's sink.
struct Win32File {
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool writable = false;
    bool takes_part_in_faults = true;
    DWORD error = NO_ERROR;
    DWORD* error_sink = nullptr;
};

void record_failure(Win32File& file, DWORD error) {
    if (file.error != NO_ERROR) return;
    file.error = error != NO_ERROR ? error : ERROR_WRITE_FAULT;
    if (file.error_sink && *file.error_sink == NO_ERROR) *file.error_sink = file.error;
}

voidpf ZCALLBACK win32_open(voidpf opaque, const void* name, int mode) {
    const char* path = static_cast<const char*>(name);
    const bool reading = (mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) == ZLIB_FILEFUNC_MODE_READ;
    const DWORD access = reading ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    const DWORD disposition = reading || (mode & ZLIB_FILEFUNC_MODE_EXISTING) ? OPEN_EXISTING : CREATE_ALWAYS;
    const HANDLE handle =
        create_file(path, access, reading ? FILE_SHARE_READ : 0, disposition, FILE_ATTRIBUTE_NORMAL, reading);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    auto* file = new Win32File;
    file->handle = handle;
    file->writable = !reading;
    file->takes_part_in_faults = takes_part_in_faults(path);
    file->error_sink = static_cast<DWORD*>(opaque);
    return file;
}

uLong ZCALLBACK win32_read(voidpf, voidpf stream, void* out, uLong size) {
    auto& file = *static_cast<Win32File*>(stream);
    DWORD got = 0;
    if (!ReadFile(file.handle, out, size, &got, nullptr)) record_failure(file, GetLastError());
    return got;
}

uLong ZCALLBACK win32_write(voidpf, voidpf stream, const void* in, uLong size) {
    auto& file = *static_cast<Win32File*>(stream);
    uint32_t allowed = 0;
    const DWORD injected = injected_write_fault(file.takes_part_in_faults, size, &allowed);
    if (injected != NO_ERROR) {
        record_failure(file, injected);
        return 0;
    }
    DWORD written = 0;
    if (!WriteFile(file.handle, in, allowed, &written, nullptr)) {
        record_failure(file, GetLastError());
    } else if (written < size) {
        record_failure(file, ERROR_DISK_FULL);
    }
    return written;
}

ZPOS64_T ZCALLBACK win32_tell(voidpf, voidpf stream) {
    auto& file = *static_cast<Win32File*>(stream);
    LARGE_INTEGER position{};
    const LARGE_INTEGER zero{};
    if (!SetFilePointerEx(file.handle, zero, &position, FILE_CURRENT)) return static_cast<ZPOS64_T>(-1);
    return static_cast<ZPOS64_T>(position.QuadPart);
}

long ZCALLBACK win32_seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto& file = *static_cast<Win32File*>(stream);
    const DWORD method = origin == ZLIB_FILEFUNC_SEEK_CUR ? FILE_CURRENT
                         : origin == ZLIB_FILEFUNC_SEEK_END ? FILE_END
                                                            : FILE_BEGIN;
    LARGE_INTEGER distance{};
    distance.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file.handle, distance, nullptr, method) ? 0 : -1;
}

// An archive that was written reaches the disk before it is closed, so a
// late failure (a network share, a removable drive) fails the close rather
// than leaving a short archive that passes for whole.
int ZCALLBACK win32_close(voidpf, voidpf stream) {
    auto* file = static_cast<Win32File*>(stream);
    if (file->writable) {
        if (!flush_to_disk(file->handle, file->takes_part_in_faults)) record_failure(*file, GetLastError());
    }
    if (!CloseHandle(file->handle) && file->writable) record_failure(*file, GetLastError());
    const bool failed = file->writable && file->error != NO_ERROR;
    delete file;
    return failed ? -1 : 0;
}

int ZCALLBACK win32_error(voidpf, voidpf stream) {
    return static_cast<Win32File*>(stream)->error != NO_ERROR ? -1 : 0;
}

// minizip reads and writes its headers a field, often a byte, at a time.
// Straight on the Win32 functions every one of those is a system call, a
// hundred and more per entry; this layer serves them from one buffer. It
// holds either bytes read ahead (the file is at base + filled) or the first
// filled bytes not yet written (the file is at base); the archive's
// position is base + at. While writing, a seek within the bytes not yet
// written stays in the buffer: minizip goes back to each local header to
// fill in its sizes, and for a small entry that header has not left the
// buffer yet.
constexpr uLong STREAM_BUFFER = 65536;

struct BufferedStream {
    zlib_filefunc64_def inner;
    voidpf stream = nullptr;
    unsigned char data[STREAM_BUFFER];
    ZPOS64_T base = 0;
    uLong filled = 0;
    uLong at = 0;
    bool writing = false;
    bool failed = false;
};

BufferedStream& buffered(voidpf stream) { return *static_cast<BufferedStream*>(stream); }

uLong inner_read(BufferedStream& b, void* out, uLong size) {
    return b.inner.zread_file(b.inner.opaque, b.stream, out, size);
}

long inner_seek(BufferedStream& b, ZPOS64_T offset, int origin) {
    return b.inner.zseek64_file(b.inner.opaque, b.stream, offset, origin);
}

// Writes the pending bytes and leaves the file at the archive's position;
// false when the file did not take them all.
bool flush(BufferedStream& b) {
    if (!b.writing || b.filled == 0) return !b.failed;
    const uLong written = b.inner.zwrite_file(b.inner.opaque, b.stream, b.data, b.filled);
    if (written != b.filled) b.failed = true;
    // Only after a seek back within the buffer is the position short of its end.
    if (b.at != b.filled && inner_seek(b, b.base + b.at, ZLIB_FILEFUNC_SEEK_SET) != 0) b.failed = true;
    b.base += b.at;
    b.filled = b.at = 0;
    return !b.failed;
}

// Writes what is pending and leaves writing; false when a write failed.
bool stop_writing(BufferedStream& b) {
    const bool flushed = flush(b);
    b.writing = false;
    return flushed;
}

// Leaves the read-ahead: the file goes back to the archive's position.
void drop_read_ahead(BufferedStream& b) {
    if (b.writing) return;
    if (b.at != b.filled && inner_seek(b, b.base + b.at, ZLIB_FILEFUNC_SEEK_SET) != 0) b.failed = true;
    b.base += b.at;
    b.filled = b.at = 0;
}

voidpf ZCALLBACK buffered_open(voidpf opaque, const void* name, int mode) {
    const auto* inner = static_cast<const zlib_filefunc64_def*>(opaque);
    voidpf stream = inner->zopen64_file(inner->opaque, name, mode);
    if (!stream) return nullptr;
    auto* b = new BufferedStream;
    b->inner = *inner;
    b->stream = stream;
    return b;
}

uLong ZCALLBACK buffered_read(voidpf, voidpf stream, void* out, uLong size) {
    BufferedStream& b = buffered(stream);
    stop_writing(b);
    auto* to = static_cast<unsigned char*>(out);
    uLong done = 0;
    while (done < size) {
        if (b.at == b.filled) {
            b.base += b.filled;
            b.filled = b.at = 0;
            if (size - done >= STREAM_BUFFER) {
                const uLong n = inner_read(b, to + done, size - done);
                b.base += n;
                return done + n;
            }
            b.filled = inner_read(b, b.data, STREAM_BUFFER);
            if (b.filled == 0) break;
        }
        const uLong n = std::min(size - done, b.filled - b.at);
        std::memcpy(to + done, b.data + b.at, n);
        b.at += n;
        done += n;
    }
    return done;
}

uLong ZCALLBACK buffered_write(voidpf, voidpf stream, const void* in, uLong size) {
    BufferedStream& b = buffered(stream);
    drop_read_ahead(b);
    b.writing = true;
    const bool direct = size >= STREAM_BUFFER;
    if ((direct || b.at + size > STREAM_BUFFER) && !flush(b)) return 0;
    if (direct) {
        const uLong written = b.inner.zwrite_file(b.inner.opaque, b.stream, in, size);
        b.base += written;
        if (written != size) b.failed = true;
        return written;
    }
    std::memcpy(b.data + b.at, in, size);
    b.at += size;
    b.filled = std::max(b.filled, b.at);
    return size;
}

ZPOS64_T ZCALLBACK buffered_tell(voidpf, voidpf stream) {
    const BufferedStream& b = buffered(stream);
    return b.base + b.at;
}

long ZCALLBACK buffered_seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    BufferedStream& b = buffered(stream);
    const ZPOS64_T target = origin == ZLIB_FILEFUNC_SEEK_CUR ? b.base + b.at + offset : offset;
    // Within the bytes read ahead, or within those not yet written.
    if (origin != ZLIB_FILEFUNC_SEEK_END && target >= b.base && target <= b.base + b.filled) {
        b.at = static_cast<uLong>(target - b.base);
        return 0;
    }
    if (!stop_writing(b)) return -1;
    if (origin == ZLIB_FILEFUNC_SEEK_END) {
        b.filled = b.at = 0;
        if (inner_seek(b, offset, origin) != 0) return -1;
        b.base = b.inner.ztell64_file(b.inner.opaque, b.stream);
        return 0;
    }
    b.filled = b.at = 0;
    b.base = target;
    return inner_seek(b, target, ZLIB_FILEFUNC_SEEK_SET);
}

int ZCALLBACK buffered_close(voidpf, voidpf stream) {
    BufferedStream* b = static_cast<BufferedStream*>(stream);
    const bool flushed = flush(*b);
    const int closed = b->inner.zclose_file(b->inner.opaque, b->stream);
    delete b;
    return flushed ? closed : -1;
}

int ZCALLBACK buffered_error(voidpf, voidpf stream) {
    const BufferedStream& b = buffered(stream);
    return b.failed ? -1 : b.inner.zerror_file(b.inner.opaque, b.stream);
}

// Calls open with the path and the Windows file functions behind the
// buffer; the first write failure's code goes to error_sink when given.
template <typename Open>
auto open_through_win32(const char* path, DWORD* error_sink, Open open) {
    zlib_filefunc64_def inner = {win32_open, win32_read, win32_write, win32_tell,
                                 win32_seek, win32_close, win32_error, error_sink};
    zlib_filefunc64_def functions = {buffered_open, buffered_read, buffered_write, buffered_tell,
                                     buffered_seek, buffered_close, buffered_error, &inner};
    return open(path, &functions);
}

}  // namespace

zipFile create_zip_archive(const char* path, DWORD* write_error) {
    if (write_error) *write_error = NO_ERROR;
    return open_through_win32(path, write_error, [](const void* name, zlib_filefunc64_def* functions) {
        return zipOpen2_64(name, APPEND_STATUS_CREATE, nullptr, functions);
    });
}

unzFile open_zip_archive(const char* path) {
    return open_through_win32(path, nullptr, [](const void* name, zlib_filefunc64_def* functions) {
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

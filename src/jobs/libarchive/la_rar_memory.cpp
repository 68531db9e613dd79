// The windows of a RAR5 volume's files, read from its block headers before
// libarchive decodes anything. Each block is its CRC, the size of its header
// (a vint of at most three bytes: a header is at most 2 MiB), the header,
// then its data; every size may lie, so each is held to the file and the
// walk stops at the first that does not fit. CRCs are not checked: a block
// whose CRC is wrong is read as libarchive reads it, and refused there. RAR4
// (windows of at most 4 MiB) gives 0. Any one thread.
#include "jobs/libarchive/la_memory_walks.h"

#include <algorithm>
#include <cstring>

#include "io/file_reader.h"
#include "jobs/libarchive/la_byte_cursor.h"
#include "io/banned.h"

namespace {

const uint8_t RAR5_SIGNATURE[8] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};
constexpr uint64_t MAX_HEADER = 2u << 20;
// The blocks walked at the most: a volume of many small files is walked
// for its first ones (the whole file is read to reach them), not to its end.
constexpr int MAX_BLOCKS = 65536;
// A file header's fields up to its compression information fit in these.
constexpr size_t HEAD_READ = 96;

enum : uint64_t { FILE_HEADER = 2, ENCRYPTION = 4, END_OF_ARCHIVE = 5 };
enum : uint64_t { HAS_EXTRA = 0x1, HAS_DATA = 0x2 };
enum : uint64_t { DIRECTORY = 0x1, HAS_TIME = 0x2, HAS_CRC = 0x4 };

// The window a file's compression information declares: 128 KiB << N, N in
// bits 10-13 (10-14 from RAR 7, whose bits 15-19 add N/32 parts of it).
uint64_t rar_window(uint64_t compression) {
    const uint64_t version = compression & 0x3F;
    const uint64_t base = uint64_t{128} << 10;
    if (version == 0) return base << ((compression >> 10) & 0x0F);
    const uint64_t window = base << ((compression >> 10) & 0x1F);
    return window + window / 32 * ((compression >> 15) & 0x1F);
}

// The memory a file header's file needs; 0 for a folder or a stored file.
// head is at the header's own fields, after the block's.
uint64_t file_need(ByteCursor& head) {
    uint64_t ignored = 0;
    uint64_t file_flags = 0;
    uint64_t compression = 0;
    if (!head.vint(&file_flags) || !head.vint(&ignored) || !head.vint(&ignored)) return 0;  // flags, size, attributes
    if ((file_flags & HAS_TIME) && !head.skip(4)) return 0;
    if ((file_flags & HAS_CRC) && !head.skip(4)) return 0;
    if (!head.vint(&compression)) return 0;
    const uint64_t method = (compression >> 7) & 0x07;
    if ((file_flags & DIRECTORY) || method == 0) return 0;
    // libarchive keeps the window and a filtered copy of the same size.
    return 2 * rar_window(compression) + DECODER_OVERHEAD;
}

}  // namespace

uint64_t rar_memory_needed(FileReader& file) {
    const uint64_t size = file.size();
    uint8_t signature[sizeof RAR5_SIGNATURE];
    file.seek(0);
    if (file.read(signature, sizeof signature) != sizeof signature ||
        std::memcmp(signature, RAR5_SIGNATURE, sizeof signature) != 0) {
        return 0;
    }
    uint64_t need = 0;
    uint64_t at = sizeof RAR5_SIGNATURE;
    for (int block = 0; block < MAX_BLOCKS && at < size; ++block) {
        // The CRC, the header's size and as much of the header as the walk reads.
        uint8_t bytes[4 + 3 + HEAD_READ];
        file.seek(at);
        const size_t got = file.read(bytes, sizeof bytes);
        ByteCursor start(bytes, got);
        uint64_t header_size = 0;
        if (!start.skip(4) || !start.vint(&header_size) || start.taken() > 7) break;
        if (header_size == 0 || header_size > MAX_HEADER) break;
        const uint64_t header_start = at + start.taken();
        if (header_size > size - std::min(size, header_start)) break;
        ByteCursor head(bytes + start.taken(), static_cast<size_t>(std::min<uint64_t>(header_size, got - start.taken())));
        uint64_t type = 0;
        uint64_t flags = 0;
        uint64_t extra = 0;
        uint64_t data = 0;
        if (!head.vint(&type) || !head.vint(&flags)) break;
        if ((flags & HAS_EXTRA) && !head.vint(&extra)) break;
        if ((flags & HAS_DATA) && !head.vint(&data)) break;
        if (type == ENCRYPTION) return 0;  // the headers after it are encrypted
        if (type == END_OF_ARCHIVE) break;
        if (type == FILE_HEADER) need = std::max(need, file_need(head));
        const uint64_t next = header_start + header_size;
        if (data > size - next) break;
        at = next + data;
    }
    return need;
}

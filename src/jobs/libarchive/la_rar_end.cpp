// Whether a RAR 5 archive ends whole; see la_rar_end.h. A block is its CRC
// (of what follows, up to the block's data), the size of its header (a
// vint), then the header: its type (5 for the end of the archive), its
// flags and its fields.
#include "jobs/libarchive/la_rar_end.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "io/file_reader.h"
#include "jobs/libarchive/la_byte_cursor.h"
#include "io/banned.h"

namespace {

// RAR writes the end block (eight bytes) last; the tail looked at leaves
// room for the odd bytes a tool may have added after it.
constexpr uint64_t TAIL = 1024;
constexpr uint64_t END_OF_ARCHIVE = 5;

// True when a block whose CRC holds and whose type is the end's starts at
// the first of size bytes.
bool end_block_at(const uint8_t* bytes, size_t size) {
    ByteCursor block(bytes, size);
    uint32_t crc = 0;
    uint64_t header_size = 0;
    uint64_t type = 0;
    if (!block.le32(&crc) || !block.vint(&header_size) || header_size == 0) return false;
    const uint64_t checked = block.taken() - 4 + header_size;  // the size's vint and the header
    if (checked > size - 4) return false;
    if (crc32_z(0, bytes + 4, static_cast<size_t>(checked)) != crc) return false;
    return block.vint(&type) && type == END_OF_ARCHIVE;
}

}  // namespace

bool rar5_ends_in_end_block(const char* path) {
    FileReader file(path);
    if (!file.is_open()) return false;
    const uint64_t size = file.size();
    const size_t tail = static_cast<size_t>(std::min(size, TAIL));
    std::vector<uint8_t> bytes(tail);
    file.seek(size - tail);
    if (file.read(bytes.data(), tail) != tail) return false;
    for (size_t at = 0; at < tail; ++at) {
        if (end_block_at(bytes.data() + at, tail - at)) return true;
    }
    return false;
}

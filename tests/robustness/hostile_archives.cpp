#include "hostile_archives.h"

#include <zlib.h>
#include <zstd.h>

#include <cstring>

namespace {

void put16(std::string& out, uint64_t v) { for (int i = 0; i < 2; ++i) out.push_back(static_cast<char>(v >> (8 * i))); }
void put32(std::string& out, uint64_t v) { for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i))); }
void put64(std::string& out, uint64_t v) { for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(v >> (8 * i))); }

}  // namespace

std::string deflate_raw(const std::string& data) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string build_zip(const std::vector<ZipItem>& entries, int64_t entry_count_claim) {
    std::string out;
    std::string central;
    for (const ZipItem& e : entries) {
        std::string packed = !e.packed.empty() ? e.packed : e.method == 8 ? deflate_raw(e.data) : e.data;
        if (e.flip_data_bit && !packed.empty()) packed[packed.size() / 2] ^= 0x10;
        const uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size()));
        const uint64_t size = e.declared_size >= 0 ? static_cast<uint64_t>(e.declared_size) : e.data.size();
        const uint64_t packed_size =
            e.declared_packed_size >= 0 ? static_cast<uint64_t>(e.declared_packed_size) : packed.size();
        const uint64_t offset = out.size();
        const uint16_t version = e.unix_mode ? (3 << 8) | 20 : 20;
        put32(out, 0x04034b50); put16(out, 20); put16(out, e.flags); put16(out, e.method);
        put32(out, 0x00210000); put32(out, crc); put32(out, packed_size); put32(out, size);
        put16(out, e.name.size()); put16(out, 0);
        out += e.name;
        out += packed;
        put32(central, 0x02014b50); put16(central, version); put16(central, 20); put16(central, e.flags);
        put16(central, e.method); put32(central, 0x00210000); put32(central, crc); put32(central, packed_size);
        put32(central, size); put16(central, e.name.size()); put16(central, 0); put16(central, 0);
        put16(central, 0); put16(central, 0); put32(central, static_cast<uint64_t>(e.unix_mode) << 16);
        put32(central, static_cast<uint64_t>(static_cast<int64_t>(offset) + e.local_offset_shift));
        central += e.name;
    }
    const uint64_t count = entry_count_claim >= 0 ? static_cast<uint64_t>(entry_count_claim) : entries.size();
    const uint64_t central_at = out.size();
    out += central;
    if (count >= 0xffff) {
        const uint64_t zip64_at = out.size();
        put32(out, 0x06064b50); put64(out, 44); put16(out, 45); put16(out, 45); put32(out, 0); put32(out, 0);
        put64(out, count); put64(out, count); put64(out, central.size()); put64(out, central_at);
        put32(out, 0x07064b50); put32(out, 0); put64(out, zip64_at); put32(out, 1);
    }
    const uint64_t short_count = count >= 0xffff ? 0xffff : count;
    put32(out, 0x06054b50); put16(out, 0); put16(out, 0); put16(out, short_count); put16(out, short_count);
    put32(out, central.size()); put32(out, central_at); put16(out, 0);
    return out;
}

namespace {

void octal(char* field, size_t width, uint64_t value) {
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + (value & 7)));
        value >>= 3;
    } while (value);
    while (digits.size() < width - 1) digits.insert(digits.begin(), '0');
    std::memcpy(field, digits.data(), width - 1);
}

std::string header(const std::string& name, char type, const std::string& link, uint64_t size) {
    char block[512] = {};
    std::memcpy(block, name.data(), name.size() < 100 ? name.size() : 100);
    octal(block + 100, 8, type == '5' ? 0755 : 0644);
    octal(block + 108, 8, 0);
    octal(block + 116, 8, 0);
    octal(block + 124, 12, size);
    octal(block + 136, 12, 0);
    block[156] = type;
    std::memcpy(block + 157, link.data(), link.size() < 100 ? link.size() : 100);
    std::memcpy(block + 257, "ustar  ", 8);  // GNU magic and version
    std::memset(block + 148, ' ', 8);
    unsigned sum = 0;
    for (unsigned char c : block) sum += c;
    octal(block + 148, 7, sum);
    return std::string(block, 512);
}

void pad(std::string& out) { out.append((512 - out.size() % 512) % 512, '\0'); }

}  // namespace

std::string build_tar(const std::vector<TarItem>& entries, int64_t truncate_after) {
    std::string out;
    for (const TarItem& e : entries) {
        if (e.name.size() > 100) {
            out += header("././@LongLink", 'L', "", e.name.size() + 1);
            out += e.name;
            out.push_back('\0');
            pad(out);
        }
        if (e.link.size() > 100) {
            out += header("././@LongLink", 'K', "", e.link.size() + 1);
            out += e.link;
            out.push_back('\0');
            pad(out);
        }
        const uint64_t size = e.declared_size >= 0 ? static_cast<uint64_t>(e.declared_size) : e.data.size();
        out += header(e.name, e.type, e.link, size);
        out += e.data;
        pad(out);
    }
    if (truncate_after >= 0) {
        if (static_cast<uint64_t>(truncate_after) < out.size()) out.resize(static_cast<size_t>(truncate_after));
        return out;
    }
    out.append(1024, '\0');
    return out;
}

std::string zstd_frame(const std::string& bytes, bool checksum) {
    ZSTD_CCtx* cctx = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, 1);
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, checksum ? 1 : 0);
    std::string out(ZSTD_compressBound(bytes.size()), '\0');
    const size_t n = ZSTD_compress2(cctx, &out[0], out.size(), bytes.data(), bytes.size());
    ZSTD_freeCCtx(cctx);
    out.resize(ZSTD_isError(n) ? 0 : n);
    return out;
}

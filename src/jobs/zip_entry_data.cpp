// The data of ZIP entries; see zip_entry_data.h.
#include "jobs/zip_entry_data.h"

#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <new>
#include <vector>

#include "io/banned.h"

namespace {

constexpr uint32_t STORED = 0;
constexpr uint32_t DEFLATED = 8;
constexpr uint32_t DEFLATE64 = 9;
constexpr uint32_t ZSTANDARD_OLD = 20;
constexpr uint32_t ZSTANDARD = 93;
constexpr size_t OUTPUT_BYTES = 131072;  // ZSTD_DStreamOutSize()
// Frames of up to 2 GiB windows (zstd --long=31) are read; one that needs
// more memory than there is fails as damaged.
constexpr int LARGEST_WINDOW_LOG = 31;

// Where the decoders take an entry's compressed bytes from: the archive
// from the entry's data on, up to limit.
struct EntryInput {
    ArchiveCursor& cursor;
    uint64_t limit;
    bool next(const uint8_t** data, size_t* size) { return cursor.next_piece(limit, data, size); }
};

// Where decoded bytes go: the extracted file (or nowhere, for a test), with
// their CRC-32, their count and the job's item percentage.
struct EntryOutput {
    ArchiveJob& job;
    FileWriter* writer;
    uint64_t stated;  // the size the directory gives, for the percentage
    uint32_t crc = 0;
    uint64_t total = 0;

    // False when the job must stop: a cancel, or the file refused the bytes.
    bool put(const uint8_t* data, size_t size) {
        if (writer) writer->write(data, size);
        crc = static_cast<uint32_t>(crc32_z(crc, data, size));
        total += size;
        job.item_percent.store(
            counted_percent(static_cast<int64_t>(std::min(total, stated)), static_cast<int64_t>(stated)),
            std::memory_order_relaxed);
        return !job_stopping(job) && !(writer && writer->failed());
    }
};

// Of the sizes a stored entry's headers give, the one whose bytes match a
// CRC-32 they give; the directory's compressed size when none does (or the
// job stops meanwhile). The bytes are read once, up to the longest size
// that lies before limit.
uint64_t stored_size(ArchiveJob& job, ArchiveCursor& cursor, const ZipEntry& entry, const LocalHeader& local,
                     uint64_t limit) {
    std::vector<uint64_t> sizes = {entry.compressed, entry.uncompressed};
    if (local.has_sizes) sizes.insert(sizes.end(), {local.compressed, local.uncompressed});
    std::sort(sizes.begin(), sizes.end());
    sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
    if (sizes.size() == 1) return sizes[0];
    cursor.seek(local.data_at);
    uint32_t crc = 0;
    uint64_t done = 0;
    for (const uint64_t size : sizes) {
        if (local.data_at > limit || size > limit - local.data_at) break;
        const uint8_t* data = nullptr;
        size_t n = 0;
        while (done < size && !job_stopping(job) && cursor.next_piece(local.data_at + size, &data, &n)) {
            crc = static_cast<uint32_t>(crc32_z(crc, data, n));
            done += n;
        }
        if (done < size) break;
        if (crc == entry.crc || (local.has_sizes && crc == local.crc)) return size;
    }
    return entry.compressed;
}

InflateEnd copy_stored(EntryInput& input, EntryOutput& output, uint64_t size) {
    const uint8_t* data = nullptr;
    size_t n = 0;
    for (uint64_t left = size; left > 0; left -= n) {
        if (!input.next(&data, &n)) return InflateEnd::cut_short;
        if (!output.put(data, n)) return InflateEnd::stopped;
    }
    return InflateEnd::whole;
}

InflateEnd inflate_deflate(z_stream& stream, EntryInput& input, EntryOutput& output, GrowBuffer& buffer) {
    if (inflateReset(&stream) != Z_OK) return InflateEnd::damaged;
    const uint8_t* data = nullptr;
    size_t size = 0;
    while (input.next(&data, &size)) {
        stream.next_in = const_cast<Bytef*>(data);
        stream.avail_in = static_cast<uInt>(size);
        do {
            stream.next_out = buffer.storage;
            stream.avail_out = static_cast<uInt>(buffer.size);
            const int result = inflate(&stream, Z_NO_FLUSH);
            const size_t produced = static_cast<size_t>(buffer.size) - stream.avail_out;
            if (produced > 0 && !output.put(buffer.storage, produced)) return InflateEnd::stopped;
            if (result == Z_STREAM_END) return InflateEnd::whole;
            if (result != Z_OK && result != Z_BUF_ERROR) {
                return result == Z_MEM_ERROR ? InflateEnd::no_memory : InflateEnd::damaged;
            }
        } while (stream.avail_in > 0 || stream.avail_out == 0);
    }
    return InflateEnd::cut_short;
}

InflateEnd inflate_deflate64(Inflate64& decoder, EntryInput& input, EntryOutput& output) {
    struct Ends {
        EntryInput& input;
        EntryOutput& output;
    } ends{input, output};
    const InflateStreams streams = {
        [](void* context, const uint8_t** data, size_t* size) {
            return static_cast<Ends*>(context)->input.next(data, size);
        },
        [](void* context, const uint8_t* data, size_t size) {
            return static_cast<Ends*>(context)->output.put(data, size);
        },
        &ends};
    return decoder.run(streams);
}

// One or more frames: after a frame, the stream goes on while the
// directory's compressed size is not reached and the next bytes begin
// another frame.
InflateEnd decode_zstd(ZSTD_DCtx* dctx, EntryInput& input, EntryOutput& output, GrowBuffer& buffer,
                       uint64_t stated_compressed) {
    if (ZSTD_isError(ZSTD_DCtx_reset(dctx, ZSTD_reset_session_only))) return InflateEnd::damaged;
    bool framed = false;             // a frame ended
    uint64_t since_frame_end = 0;    // bytes decoded after it
    uint64_t consumed = 0;
    const uint8_t* data = nullptr;
    size_t size = 0;
    while (input.next(&data, &size)) {
        ZSTD_inBuffer in = {data, size, 0};
        for (;;) {
            ZSTD_outBuffer out = {buffer.storage, static_cast<size_t>(buffer.size), 0};
            const size_t before = in.pos;
            const size_t result = ZSTD_decompressStream(dctx, &out, &in);
            consumed += in.pos - before;
            if (ZSTD_isError(result)) {
                if (framed && since_frame_end == 0 && ZSTD_getErrorCode(result) == ZSTD_error_prefix_unknown) {
                    return InflateEnd::whole;
                }
                return ZSTD_getErrorCode(result) == ZSTD_error_memory_allocation ? InflateEnd::no_memory
                                                                                   : InflateEnd::damaged;
            }
            if (out.pos > 0 && !output.put(buffer.storage, out.pos)) return InflateEnd::stopped;
            since_frame_end += out.pos;
            if (result == 0) {
                framed = true;
                since_frame_end = 0;
                if (consumed >= stated_compressed) return InflateEnd::whole;
            }
            if (in.pos == in.size && out.pos < out.size) break;
        }
    }
    return framed && since_frame_end == 0 ? InflateEnd::whole : InflateEnd::cut_short;
}

}  // namespace

bool zip_method_supported(uint32_t method) {
    return method == STORED || method == DEFLATED || method == DEFLATE64 || method == ZSTANDARD ||
           method == ZSTANDARD_OLD;
}

ZipDataReader::~ZipDataReader() {
    if (inflate_) {
        inflateEnd(inflate_);
        delete inflate_;
    }
    ZSTD_freeDCtx(zstd_);
}

bool ZipDataReader::allocate() { return cursor_.allocate() && output_.resize(OUTPUT_BYTES); }

bool ZipDataReader::locate(const ZipEntry& entry, LocalHeader& local) {
    return read_local_header(cursor_, entry, local);
}

DataEnd ZipDataReader::extract(ArchiveJob& job, const ZipEntry& entry, const LocalHeader& local,
                               ExtractedFile& file) {
    return decode(job, entry, local, &file.writer(), nullptr);
}

DataEnd ZipDataReader::decode(ArchiveJob& job, const ZipEntry& entry, const LocalHeader& local, FileWriter* writer,
                              uint64_t* decoded) {
    // Every entry's data lies before the central directory.
    const uint64_t limit = layout_.directory_at;
    EntryOutput output{job, writer, entry.uncompressed};
    EntryInput input{cursor_, limit};
    InflateEnd end = InflateEnd::no_memory;
    if (entry.method == STORED) {
        const uint64_t size = stored_size(job, cursor_, entry, local, limit);
        if (local.data_at <= limit && size <= limit - local.data_at) input.limit = local.data_at + size;
        cursor_.seek(local.data_at);
        end = copy_stored(input, output, size);
    } else if (entry.method == DEFLATED) {
        if (!inflate_) {
            inflate_ = new (std::nothrow) z_stream{};
            if (inflate_ && inflateInit2(inflate_, -MAX_WBITS) != Z_OK) {
                delete inflate_;
                inflate_ = nullptr;
            }
        }
        cursor_.seek(local.data_at);
        if (inflate_) end = inflate_deflate(*inflate_, input, output, output_);
    } else if (entry.method == DEFLATE64) {
        cursor_.seek(local.data_at);
        end = inflate_deflate64(inflate64_, input, output);
    } else {
        if (!zstd_) {
            zstd_ = ZSTD_createDCtx();
            if (zstd_ && ZSTD_isError(ZSTD_DCtx_setParameter(zstd_, ZSTD_d_windowLogMax, LARGEST_WINDOW_LOG))) {
                ZSTD_freeDCtx(zstd_);
                zstd_ = nullptr;
            }
        }
        cursor_.seek(local.data_at);
        if (zstd_) end = decode_zstd(zstd_, input, output, output_, entry.compressed);
    }
    if (decoded) *decoded = output.total;
    if (end == InflateEnd::stopped) return cancel_requested(job) ? DataEnd::cancelled : DataEnd::cut_short;
    if (end != InflateEnd::whole) return DataEnd::cut_short;
    return output.crc == entry.crc || (local.has_sizes && output.crc == local.crc) ? DataEnd::whole
                                                                                   : DataEnd::mismatch;
}

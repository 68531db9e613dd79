// The data of ZIP entries; see zip_entry_data.h.
#include "jobs/zip/zip_entry_data.h"

#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cassert>
#include <iterator>
#include <new>

#include "jobs/frame/job_words.h"
#include "jobs/zip/zip_format.h"
#include "jobs/zstd/zstd_stream.h"
#include "io/banned.h"

namespace {

using namespace zip_format;

constexpr size_t OUTPUT_BYTES = 131072;  // ZSTD_DStreamOutSize()

// The bytes read ahead of a Zstandard entry's data to weigh its first frame.
constexpr size_t FRAME_HEADER_PEEK = 64;

// Where the decoders take an entry's compressed bytes from: the archive
// from the entry's data on, up to limit. A job that stops ends the input.
struct EntryInput {
    ArchiveCursor& cursor;
    uint64_t limit;
    ArchiveJob* job;
    bool stopped = false;
    bool next(const uint8_t** data, size_t* size) {
        if (job && job_stopping(*job)) {
            stopped = true;
            return false;
        }
        return cursor.next_piece(limit, data, size);
    }
};

// Where decoded bytes go: the extracted file (or nowhere, for a test), the
// kept bytes of a link's target, their CRC-32, their count and the job's
// item percentage. Bytes past the directory's size are refused.
struct EntryOutput {
    ArchiveJob* job;
    FileWriter* writer;
    uint64_t stated;  // the size the directory gives
    std::string* kept;
    size_t keep_limit;
    uint32_t crc = 0;
    uint64_t total = 0;
    bool longer = false;

    // False when the decoding must stop: a cancel, a refused write, or data
    // longer than stated.
    bool put(const uint8_t* data, size_t size) {
        if (size > stated - total) {
            size = static_cast<size_t>(stated - total);
            longer = true;
        }
        if (writer && size > 0) writer->write(data, size);
        if (kept && kept->size() < keep_limit) {
            kept->append(reinterpret_cast<const char*>(data), std::min(size, keep_limit - kept->size()));
        }
        crc = static_cast<uint32_t>(crc32_z(crc, data, size));
        total += size;
        if (!job) return !longer;
        job->item_percent.store(counted_percent(static_cast<int64_t>(total), static_cast<int64_t>(stated)),
                                std::memory_order_relaxed);
        return !longer && !job_stopping(*job) && !(writer && writer->failed());
    }
};

InflateEnd copy_stored(EntryInput& input, EntryOutput& output) {
    const uint8_t* data = nullptr;
    size_t n = 0;
    while (input.next(&data, &n)) {
        if (!output.put(data, n)) return InflateEnd::stopped;
    }
    return input.cursor.position() == input.limit ? InflateEnd::whole : InflateEnd::cut_short;
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

// One or more frames, to the end of the entry's data; bytes after a
// frame that begin no frame are padding.
InflateEnd decode_zstd(ZSTD_DCtx* dctx, EntryInput& input, EntryOutput& output, GrowBuffer& buffer) {
    if (ZSTD_isError(ZSTD_DCtx_reset(dctx, ZSTD_reset_session_only))) return InflateEnd::damaged;
    bool framed = false;           // a frame ended
    uint64_t since_frame_end = 0;  // bytes decoded after it
    const uint8_t* data = nullptr;
    size_t size = 0;
    while (input.next(&data, &size)) {
        ZSTD_inBuffer in = {data, size, 0};
        for (;;) {
            ZSTD_outBuffer out = {buffer.storage, static_cast<size_t>(buffer.size), 0};
            const size_t result = ZSTD_decompressStream(dctx, &out, &in);
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

bool ZipDataReader::overlaps(uint64_t from, uint64_t to) const {
    auto after = claimed_.upper_bound(from);
    if (after != claimed_.begin() && std::prev(after)->second > from) return true;
    return after != claimed_.end() && after->first < to;
}

EntryPlace ZipDataReader::locate(const ZipEntry& entry) {
    EntryPlace place;
    const LocalRead read = read_local_header(cursor_, entry, place.local);
    if (read == LocalRead::missing) return place;
    // Every entry's data lies before the central directory.
    const uint64_t limit = layout_.directory_at;
    const uint64_t data_at = place.local.data_at;
    const bool within = data_at <= limit && entry.compressed <= limit - data_at;
    const uint64_t end = within ? data_at + entry.compressed : data_at;
    if (overlaps(entry.local_at, end)) {
        place.place = DataPlace::shared;
    } else if (read == LocalRead::other_name) {
        place.place = DataPlace::other_name;
    } else if (!within) {
        place.place = DataPlace::past_directory;
    } else {
        place.place = DataPlace::ready;
        if ((entry.method == ZSTANDARD || entry.method == ZSTANDARD_OLD) && entry.compressed > 0) {
            // The first frame is weighed before anything is made for the entry.
            uint8_t header[FRAME_HEADER_PEEK];
            cursor_.seek(data_at);
            const size_t n = static_cast<size_t>(std::min<uint64_t>(entry.compressed, sizeof(header)));
            if (cursor_.read(header, n)) {
                place.memory_needed = zstd_memory_needed(header, n, &place.dictionary_id);
                if (place.dictionary_id != 0) {
                    place.place = DataPlace::needs_dictionary;
                } else if (place.memory_needed > memory_available()) {
                    place.place = DataPlace::needs_memory;
                }
            }
        }
    }
    if (place.place == DataPlace::ready) claimed_[entry.local_at] = end;
    return place;
}

DecodedData ZipDataReader::decode(ArchiveJob* job, const ZipEntry& entry, const EntryPlace& place,
                                  FileWriter* writer, std::string* kept, size_t keep_limit) {
    assert(place.place == DataPlace::ready);
    const uint64_t data_at = place.local.data_at;
    EntryInput input{cursor_, data_at + entry.compressed, job};
    EntryOutput output{job, writer, entry.uncompressed, kept, keep_limit};
    cursor_.seek(data_at);
    InflateEnd end = InflateEnd::no_memory;
    if (entry.compressed == 0) {
        // No data at all is an empty file in every method.
        end = entry.uncompressed == 0 ? InflateEnd::whole : InflateEnd::cut_short;
    } else if (entry.method == STORED) {
        end = copy_stored(input, output);
    } else if (entry.method == DEFLATED) {
        if (!inflate_) {
            inflate_ = new (std::nothrow) z_stream{};
            if (inflate_ && inflateInit2(inflate_, -MAX_WBITS) != Z_OK) {
                delete inflate_;
                inflate_ = nullptr;
            }
        }
        if (inflate_) end = inflate_deflate(*inflate_, input, output, output_);
    } else if (entry.method == DEFLATE64) {
        end = inflate_deflate64(inflate64_, input, output);
    } else {
        if (!zstd_) zstd_ = create_zstd_decoder();
        if (zstd_) end = decode_zstd(reinterpret_cast<ZSTD_DCtx*>(zstd_), input, output, output_);
    }
    DecodedData decoded;
    decoded.size = output.total;
    decoded.longer = output.longer;
    decoded.crc_ok = output.crc == entry.crc;
    if (output.longer) {
        decoded.end = DataEnd::mismatch;
    } else if (job && (input.stopped || end == InflateEnd::stopped)) {
        decoded.end = cancel_requested(*job) ? DataEnd::cancelled : DataEnd::cut_short;
    } else if (end != InflateEnd::whole) {
        decoded.end = DataEnd::cut_short;
    } else {
        decoded.end = decoded.crc_ok && decoded.size == entry.uncompressed ? DataEnd::whole : DataEnd::mismatch;
    }
    return decoded;
}

bool judge_zip_entry(ZipDataReader& data, const ZipEntry& entry, EntryPlace& place, ZipRefusal& refusal) {
    // Without a password an encrypted entry would come out as ciphertext, and
    // other methods are not ours to decode.
    if (zip_entry_encrypted(entry)) {
        refusal = ZipRefusal{Problem::encrypted, "", ""};
        return false;
    }
    if (!zip_method_supported(entry.method)) {
        refusal = ZipRefusal{Problem::unknown_method, "", zip_method_name(entry.method)};
        return false;
    }
    place = data.locate(entry);
    switch (place.place) {
    case DataPlace::ready: return true;
    case DataPlace::missing: refusal = ZipRefusal{Problem::cut_short, "its local header is missing", ""}; break;
    case DataPlace::other_name: {
        ZipEntry other;
        other.name = place.local.name;
        refusal = ZipRefusal{Problem::cut_short, "its local header names another entry: " + zip_entry_name(other), ""};
        break;
    }
    case DataPlace::past_directory:
        refusal = ZipRefusal{Problem::cut_short, "its data runs into the central directory", ""};
        break;
    case DataPlace::shared: refusal = ZipRefusal{Problem::shares_data, "", ""}; break;
    case DataPlace::needs_dictionary:
        refusal = ZipRefusal{Problem::unknown_method, "", zstd_dictionary_words(place.dictionary_id)};
        break;
    case DataPlace::needs_memory:
        refusal = ZipRefusal{Problem::entry_needs_memory,
                             "needs " + mib_text(place.memory_needed) + " of memory to unpack", ""};
        break;
    }
    return false;
}

std::string refused_name(const std::string& name, const ZipRefusal& refusal, bool test) {
    const bool bracketed = refusal.kind == Problem::entry_needs_memory ||
                           (test && (refusal.kind == Problem::cut_short || refusal.kind == Problem::damaged));
    return bracketed && !refusal.reason.empty() ? name + " (" + refusal.reason + ")" : name;
}

std::string link_target(const std::string& bytes) {
    ZipEntry as_name;
    as_name.name = bytes.c_str();  // up to a zero byte
    return zip_entry_name(as_name);
}

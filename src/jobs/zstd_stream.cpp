// Decoding a Zstandard stream from file to file; see zstd_stream.h.
#define ZSTD_STATIC_LINKING_ONLY
#include "jobs/zstd_stream.h"

#include <zstd.h>

#include "io/io_faults.h"
#include "jobs/tar_common.h"
#include "jobs/zstd_source.h"
#include "io/banned.h"

namespace {

constexpr size_t STAGE_IN = 131075;   // ZSTD_DStreamInSize()
constexpr size_t STAGE_OUT = 131072;  // ZSTD_DStreamOutSize()
constexpr size_t SKIPPABLE_HEADER = 8;
constexpr uint64_t MIB = 1u << 20;

uint32_t little_endian32(const unsigned char* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

}  // namespace

uint64_t zstd_memory_needed(const void* data, size_t size, uint32_t* dictionary_id) {
    if (dictionary_id) *dictionary_id = 0;
    const auto* bytes = static_cast<const unsigned char*>(data);
    size_t at = 0;
    while (size - at >= SKIPPABLE_HEADER &&
           (little_endian32(bytes + at) & ZSTD_MAGIC_SKIPPABLE_MASK) == ZSTD_MAGIC_SKIPPABLE_START) {
        const uint64_t skipped = SKIPPABLE_HEADER + uint64_t{little_endian32(bytes + at + 4)};
        if (skipped > size - at) return 0;  // the frame header lies beyond what was read
        at += static_cast<size_t>(skipped);
    }
    ZSTD_frameHeader header;
    if (ZSTD_getFrameHeader(&header, bytes + at, size - at) != 0 || header.frameType != ZSTD_frame) return 0;
    if (dictionary_id) *dictionary_id = header.dictID;
    const size_t buffers = ZSTD_decodingBufferSize_min(header.windowSize, header.frameContentSize);
    if (ZSTD_isError(buffers)) return header.windowSize;  // beyond any buffer: the window itself
    return uint64_t{buffers} + ZSTD_estimateDCtxSize();
}

uint64_t memory_available() {
    if (io_faults.memory_available > 0) return static_cast<uint64_t>(io_faults.memory_available);
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof(status);
    if (!GlobalMemoryStatusEx(&status)) return UINT64_MAX;  // unknown: let the decoder try
    uint64_t available = status.ullAvailPageFile;
    if (status.ullAvailVirtual < available) available = status.ullAvailVirtual;
    if (status.ullTotalPhys < available) available = status.ullTotalPhys;
    return available;
}

std::string mib_text(uint64_t bytes) {
    const std::string digits = std::to_string((bytes + MIB / 2) / MIB);
    std::string text;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
        text += digits[i];
    }
    return text + " MiB";
}

void note_memory_needed(ArchiveJob& job, const char* path, uint64_t needed) {
    std::string text = path;
    if (needed > 0) text += " (needs " + mib_text(needed) + " of memory to unpack)";
    note_problem(job, Problem::needs_memory, text);
}

std::string zstd_dictionary_words(uint32_t dictionary_id) {
    return dictionary_id == 0 ? "a Zstandard dictionary"
                              : "a Zstandard dictionary (ID " + std::to_string(dictionary_id) + ")";
}

void note_dictionary_needed(ArchiveJob& job, const char* path, uint32_t dictionary_id) {
    note_problem(job, Problem::needs_dictionary, path, zstd_dictionary_words(dictionary_id));
}

ZSTD_DCtx_s* create_zstd_decoder() {
    ZSTD_DCtx* dctx = ZSTD_createDCtx();
    if (dctx && ZSTD_isError(ZSTD_DCtx_setParameter(dctx, ZSTD_d_windowLogMax, ZSTD_WINDOWLOG_MAX_64))) {
        ZSTD_freeDCtx(dctx);
        dctx = nullptr;
    }
    return reinterpret_cast<ZSTD_DCtx_s*>(dctx);
}

bool open_zstd_stage(ArchiveJob& job, const char* source, const char* target, DWORD* error) {
    *error = ERROR_NOT_ENOUGH_MEMORY;
    if (!job.stage_in.resize(STAGE_IN) || !job.stage_out.resize(STAGE_OUT)) return false;
    job.zstd_dctx = create_zstd_decoder();
    if (!job.zstd_dctx) return false;
    job.stage_reader = new FileReader(source);
    if (!job.stage_reader->is_open()) {
        *error = NO_ERROR;
        release_zstd_stage(job);
        return false;
    }
    if (!target) return true;
    job.stage_writer = new FileWriter(target);
    if (!job.stage_writer->is_open()) {
        *error = job.stage_writer->error();
        release_zstd_stage(job);
        return false;
    }
    return true;
}

ZstdSource zstd_stage_source(ArchiveJob& job) {
    return ZstdSource(*job.stage_reader, job.zstd_dctx, job.stage_in.storage, STAGE_IN, job.stage_out.storage,
                      STAGE_OUT, &job);
}

StreamEnd decode_zstd_stage(ArchiveJob& job, uint64_t* memory_needed, uint32_t* dictionary_id) {
    FileReader& reader = *job.stage_reader;
    FileWriter& writer = *job.stage_writer;
    ZstdSource source = zstd_stage_source(job);
    const uint64_t size = reader.size();
    const void* piece = nullptr;
    size_t n;
    while (!cancel_requested(job) && (n = source.read(&piece)) > 0) {
        writer.write(piece, n);
        if (writer.failed()) return StreamEnd::write_failed;
        job.item_percent.store(counted_percent(static_cast<int64_t>(reader.position()), static_cast<int64_t>(size)),
                               std::memory_order_relaxed);
    }
    *memory_needed = source.memory_needed();
    *dictionary_id = source.dictionary_id();
    if (cancel_requested(job)) return StreamEnd::cancelled;
    switch (source.state()) {
    case ZstdSource::State::ended: return StreamEnd::whole;
    case ZstdSource::State::too_large: return StreamEnd::too_large;
    case ZstdSource::State::needs_dictionary: return StreamEnd::needs_dictionary;
    default: return StreamEnd::damaged;
    }
}

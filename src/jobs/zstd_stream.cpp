// Decoding a Zstandard stream from file to file; see zstd_stream.h.
#define ZSTD_STATIC_LINKING_ONLY
#include "jobs/zstd_stream.h"

#include <zstd.h>
#include <zstd_errors.h>

#include "io/io_faults.h"
#include "jobs/tar_common.h"
#include "io/banned.h"

namespace {

constexpr size_t STAGE_IN = 131075;   // ZSTD_DStreamInSize()
constexpr size_t STAGE_OUT = 131072;  // ZSTD_DStreamOutSize()
constexpr size_t SKIPPABLE_HEADER = 8;
constexpr uint64_t MIB = 1u << 20;

ZSTD_DCtx* dctx_of(ArchiveJob& job) { return reinterpret_cast<ZSTD_DCtx*>(job.zstd_dctx); }

uint32_t little_endian32(const unsigned char* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// True for a decoder error that says a frame's window could not be had.
bool memory_error(size_t result) {
    const ZSTD_ErrorCode code = ZSTD_getErrorCode(result);
    return code == ZSTD_error_memory_allocation || code == ZSTD_error_frameParameter_windowTooLarge;
}

}  // namespace

uint64_t zstd_memory_needed(const void* data, size_t size) {
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

bool open_zstd_stage(ArchiveJob& job, const char* source, const char* target, DWORD* error) {
    *error = ERROR_NOT_ENOUGH_MEMORY;
    if (!job.stage_in.resize(STAGE_IN) || !job.stage_out.resize(STAGE_OUT)) return false;
    ZSTD_DCtx* dctx = ZSTD_createDCtx();
    job.zstd_dctx = reinterpret_cast<ZSTD_DCtx_s*>(dctx);
    if (!dctx || ZSTD_isError(ZSTD_DCtx_setParameter(dctx, ZSTD_d_windowLogMax, ZSTD_WINDOWLOG_MAX_64))) {
        release_zstd_stage(job);
        return false;
    }
    job.stage_reader = new FileReader(source);
    if (!job.stage_reader->is_open()) {
        *error = NO_ERROR;
        release_zstd_stage(job);
        return false;
    }
    job.stage_writer = new FileWriter(target);
    if (!job.stage_writer->is_open()) {
        *error = job.stage_writer->error();
        release_zstd_stage(job);
        return false;
    }
    return true;
}

StreamEnd decode_zstd_stage(ArchiveJob& job, uint64_t* memory_needed) {
    *memory_needed = 0;
    FileReader& reader = *job.stage_reader;
    FileWriter& writer = *job.stage_writer;
    const uint64_t size = reader.size();
    size_t frame_state = 1;  // 0 once the last frame seen was complete
    bool first = true;
    for (;;) {
        const size_t n = reader.read(job.stage_in.storage, STAGE_IN);
        job.item_percent.store(counted_percent(static_cast<int64_t>(reader.position()), static_cast<int64_t>(size)),
                               std::memory_order_relaxed);
        if (n == 0) break;
        if (first) {
            // The first frame's window is weighed before any of it is decoded.
            first = false;
            const uint64_t needed = zstd_memory_needed(job.stage_in.storage, n);
            if (needed > memory_available()) {
                *memory_needed = needed;
                return StreamEnd::too_large;
            }
        }
        ZSTD_inBuffer input = {job.stage_in.storage, n, 0};
        for (;;) {
            if (cancel_requested(job)) return StreamEnd::cancelled;
            ZSTD_outBuffer output = {job.stage_out.storage, STAGE_OUT, 0};
            const size_t r = ZSTD_decompressStream(dctx_of(job), &output, &input);
            if (ZSTD_isError(r)) return memory_error(r) ? StreamEnd::too_large : StreamEnd::damaged;
            frame_state = r;
            writer.write(job.stage_out.storage, output.pos);
            if (writer.failed()) return StreamEnd::write_failed;
            if (input.pos == n && output.pos < STAGE_OUT) break;
        }
    }
    if (cancel_requested(job)) return StreamEnd::cancelled;
    return frame_state == 0 && !reader.failed() ? StreamEnd::whole : StreamEnd::damaged;
}

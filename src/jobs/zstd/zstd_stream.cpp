// Decoding a Zstandard stream from file to file; see zstd_stream.h.
#define ZSTD_STATIC_LINKING_ONLY
#include "jobs/zstd/zstd_stream.h"

#include <zstd.h>

#include <new>

#include "io/io_faults.h"
#include "jobs/frame/job_words.h"
#include "jobs/zstd/zstd_source.h"
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

std::string zstd_dictionary_words(uint32_t dictionary_id) {
    return dictionary_id == 0 ? "a Zstandard dictionary"
                              : "a Zstandard dictionary (ID " + std::to_string(dictionary_id) + ")";
}

void note_dictionary_needed(ArchiveJob& job, const char* path, uint32_t dictionary_id) {
    note_problem(job, Problem::needs_dictionary, path, zstd_dictionary_words(dictionary_id));
}

void release_zstd_stage(ArchiveJob& job) {
    delete job.stage_reader;
    delete job.stage_writer;
    job.stage_reader = nullptr;
    job.stage_writer = nullptr;
    ZSTD_freeCCtx(reinterpret_cast<ZSTD_CCtx*>(job.zstd_cctx));
    job.zstd_cctx = nullptr;
    ZSTD_freeDCtx(reinterpret_cast<ZSTD_DCtx*>(job.zstd_dctx));
    job.zstd_dctx = nullptr;
}

ZstdFile::ZstdFile(const char* path) : file_(path), dctx_(create_zstd_decoder()) {
    if (!dctx_ || !in_.resize(STAGE_IN) || !out_.resize(STAGE_OUT)) return;
    source_.reset(new (std::nothrow) ZstdSource(file_, dctx_.get(), in_.storage, STAGE_IN, out_.storage, STAGE_OUT));
}

void ZstdFile::FreeDecoder::operator()(ZSTD_DCtx_s* dctx) const { ZSTD_freeDCtx(reinterpret_cast<ZSTD_DCtx*>(dctx)); }

ListEnd list_end_of(const ZstdSource& source, bool any_entry) {
    if (source.state() == ZstdSource::State::too_large) return ListEnd::too_large;
    if (source.state() == ZstdSource::State::needs_dictionary) return ListEnd::needs_dictionary;
    return any_entry ? ListEnd::broken : ListEnd::unreadable;
}

bool note_stream_refusal(ArchiveJob& job, const char* path, const ZstdSource& source) {
    if (source.state() == ZstdSource::State::too_large) {
        note_memory_needed(job, path, source.memory_needed());
        return true;
    }
    if (source.state() == ZstdSource::State::needs_dictionary) {
        note_dictionary_needed(job, path, source.dictionary_id());
        return true;
    }
    return false;
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

bool open_zstd_test_stage(ArchiveJob& job, const char* source) {
    DWORD error = NO_ERROR;
    if (open_zstd_stage(job, source, nullptr, &error)) return true;
    if (error == NO_ERROR) {
        note_problem(job, Problem::unreadable_archive, source);
    } else {
        note_memory_needed(job, source, 0);
    }
    return false;
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

// A Zstandard archive read as the stream it decodes to; see zstd_source.h.
#include "jobs/zstd/zstd_source.h"

#include <zstd.h>
#include <zstd_errors.h>

#include "jobs/frame/archive_job.h"
#include "jobs/frame/job_words.h"
#include "jobs/zstd/zstd_stream.h"
#include "io/banned.h"

namespace {

// True for a decoder error that says a frame's window could not be had.
bool memory_error(size_t result) {
    const ZSTD_ErrorCode code = ZSTD_getErrorCode(result);
    return code == ZSTD_error_memory_allocation || code == ZSTD_error_frameParameter_windowTooLarge;
}

}  // namespace

ZstdSource::ZstdSource(FileReader& file, ZSTD_DCtx_s* dctx, void* in, size_t in_capacity, void* out,
                       size_t out_capacity, const ArchiveJob* job)
    : file_(file),
      dctx_(dctx),
      in_(static_cast<char*>(in)),
      in_capacity_(in_capacity),
      out_(static_cast<char*>(out)),
      out_capacity_(out_capacity),
      job_(job) {}

size_t ZstdSource::read(const void** data) {
    auto* dctx = reinterpret_cast<ZSTD_DCtx*>(dctx_);
    while (state_ == State::reading) {
        if (in_at_ == in_size_ && !output_full_) {
            if (job_ && cancel_requested(*job_)) return 0;
            in_size_ = file_.read(in_, in_capacity_);
            in_at_ = 0;
            if (in_size_ == 0) {
                state_ = file_.failed() ? State::damaged : frame_state_ == 0 ? State::ended : State::cut_short;
                break;
            }
        }
        if (frame_start_ && in_at_ < in_size_) {
            // Each frame's window and dictionary are weighed before any of it
            // is decoded (a header that the buffer's end cuts is left to the
            // decoder, whose errors say the same).
            frame_start_ = false;
            const uint64_t needed = zstd_memory_needed(in_ + in_at_, in_size_ - in_at_, &dictionary_id_);
            if (dictionary_id_ != 0) {
                state_ = State::needs_dictionary;
                break;
            }
            if (needed > memory_available()) {
                memory_needed_ = needed;
                state_ = State::too_large;
                break;
            }
        }
        ZSTD_inBuffer input = {in_, in_size_, in_at_};
        ZSTD_outBuffer output = {out_, out_capacity_, 0};
        const size_t r = ZSTD_decompressStream(dctx, &output, &input);
        in_at_ = input.pos;
        if (ZSTD_isError(r)) {
            state_ = memory_error(r)                                             ? State::too_large
                     : ZSTD_getErrorCode(r) == ZSTD_error_dictionary_wrong ? State::needs_dictionary
                                                                           : State::damaged;
            break;
        }
        frame_state_ = r;
        frame_start_ = r == 0;
        output_full_ = output.pos == out_capacity_;
        if (output.pos > 0) {
            *data = out_;
            return output.pos;
        }
    }
    return 0;
}



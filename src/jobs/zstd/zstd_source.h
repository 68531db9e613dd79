// A Zstandard archive read as the stream it decodes to. An extraction
// writes that stream to a file; listing and testing hand it to libarchive
// through read callbacks, with nothing written anywhere. One object belongs
// to one thread; it owns none of the file, decoder and buffers it is given.
//
// Each frame's window is weighed against the memory this machine can give
// before any of it is decoded, so an archive made with a large window (zstd
// --long=31) is refused with what it needs rather than called damaged; one
// made with a dictionary (zstd -D) is named so, with the dictionary's ID.
#pragma once

#include <cstddef>
#include <cstdint>

#include "io/file_reader.h"

struct ArchiveJob;
struct ZSTD_DCtx_s;

class ZstdSource {
public:
    // How the stream has gone so far.
    enum class State {
        reading,
        ended,      // the file ended after a complete frame, read without fault
        cut_short,  // the file ended inside a frame
        damaged,    // the data does not decode (or its checksum does not match), or a read failed
        too_large,  // a frame needs more memory than this machine can give
        needs_dictionary,  // a frame was made with a dictionary (zstd -D), which this program does not have
    };

    // Decodes file through dctx (whose window limit the caller has raised,
    // see zstd_stream.h), reading into in and decoding into out. With a job,
    // its cancel is looked at with every piece of the file read, so a
    // stream that decodes to nothing for a long while still stops.
    ZstdSource(FileReader& file, ZSTD_DCtx_s* dctx, void* in, size_t in_capacity, void* out, size_t out_capacity,
               const ArchiveJob* job = nullptr);
    ZstdSource(const ZstdSource&) = delete;
    ZstdSource& operator=(const ZstdSource&) = delete;

    // Decodes the next piece into *data (valid until the next call); 0 once
    // the stream has ended or broken (see state()), or when the job given to
    // the constructor is cancelled (the state then stays reading).
    size_t read(const void** data);

    State state() const { return state_; }
    // The memory the refused frame needs (too_large), 0 when not known.
    uint64_t memory_needed() const { return memory_needed_; }
    // The dictionary a needs_dictionary frame names, 0 when not known.
    uint32_t dictionary_id() const { return dictionary_id_; }

private:
    FileReader& file_;
    ZSTD_DCtx_s* dctx_;
    char* in_;
    size_t in_capacity_;
    char* out_;
    size_t out_capacity_;
    size_t in_size_ = 0;
    size_t in_at_ = 0;
    size_t frame_state_ = 1;  // 0 once the last frame seen was complete
    bool output_full_ = false;  // the last call filled out: more may wait in the decoder
    bool frame_start_ = true;  // the next input byte begins a frame
    State state_ = State::reading;
    uint64_t memory_needed_ = 0;
    uint32_t dictionary_id_ = 0;
    const ArchiveJob* job_ = nullptr;
};

// A job's Zstandard stage: decoding a stream from one file into another
// (the first phase of a tarball's extraction, the whole of a single
// compressed file's) or into nothing (a test), and a stream with its own
// decoder for a listing. The stage belongs to the worker thread, with
// job_lock held; a ZstdFile to whichever one thread lists.
//
// The decoder takes windows up to 2 GiB (zstd --long=31), which backup
// scripts use; a frame's window is checked against the memory this machine
// can give before any of it is decoded, so such an archive is refused with
// the memory it needs rather than called damaged. Ordinary archives declare
// their content size or a small window and cost no more than before.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "jobs/frame/archive_job.h"
#include "jobs/frame/archive_listing.h"
#include "jobs/zstd/zstd_source.h"

// How a decoding ended.
enum class StreamEnd {
    whole,         // complete frames to the end of the file, all written
    damaged,       // a decoding error, a failed read, or a last frame cut short
    too_large,     // a frame needs more memory than this machine can give
    needs_dictionary,  // a frame was made with a dictionary this program does not have
    cancelled,     // the job was cancelled
    write_failed,  // the output did not take a write (its reason is the job's output error)
};

// Decodes the job's stage_reader into its stage_writer, with the library's
// block sizes in stage_in and stage_out and a decoder in zstd_dctx (all set
// up by the caller, and released by it). Publishes the reader's position as
// item_percent. Stops at the first error of the stream: nothing after it can
// be decoded. *memory_needed receives what the refused frame needs when the
// end is too_large (0 when not known), *dictionary_id the dictionary a
// needs_dictionary frame names.
StreamEnd decode_zstd_stage(ArchiveJob& job, uint64_t* memory_needed, uint32_t* dictionary_id);

// Frees the Zstandard stage of a job: its reader and writer and the
// compression and decompression contexts; each may already be gone.
void release_zstd_stage(ArchiveJob& job);

// A decoder whose window limit is raised to 2 GiB; null when memory ran out.
// The caller frees it with ZSTD_freeDCtx.
ZSTD_DCtx_s* create_zstd_decoder();

// Sets up the Zstandard stage for decoding from source into a new file at
// target (replacing one, which the callers make sure is theirs), or into
// nothing when target is null: buffers, a decoder, the reader and the
// writer. On false *error tells why (ERROR_NOT_ENOUGH_MEMORY, or the
// writer's error), or is NO_ERROR when the source could not be opened; what
// was made is released.
bool open_zstd_stage(ArchiveJob& job, const char* source, const char* target, DWORD* error);
// open_zstd_stage for a test, into nothing: on false what stopped it is
// noted (the archive unreadable, or the memory it needs).
bool open_zstd_test_stage(ArchiveJob& job, const char* source);
// The decoded stream of a stage opened by open_zstd_stage.
ZstdSource zstd_stage_source(ArchiveJob& job);

// The memory a decoder needs for the first frame in data (skippable frames
// before it are passed over); 0 when data holds no frame header.
// *dictionary_id, when given, receives the dictionary the frame was made
// with (zstd -D), 0 for none: such a frame cannot be decoded here.
uint64_t zstd_memory_needed(const void* data, size_t size, uint32_t* dictionary_id = nullptr);
// "a Zstandard dictionary (ID 4660)", or without the ID when it is 0: what
// a stream or an entry made with a dictionary is compressed with.
std::string zstd_dictionary_words(uint32_t dictionary_id);
// Notes that the archive at path was made with a dictionary (needs_dictionary).
void note_dictionary_needed(ArchiveJob& job, const char* path, uint32_t dictionary_id);

// A Zstandard archive's file with a decoder and buffers of its own, for a
// listing (which has no job record). ok() is false when the file cannot be
// opened (missing) or memory ran short (no_memory() tells which).
class ZstdFile {
public:
    explicit ZstdFile(const char* path);
    bool ok() const { return file_.is_open() && source_; }
    bool no_memory() const { return file_.is_open() && !source_; }
    ZstdSource& source() { return *source_; }

private:
    struct FreeDecoder {
        void operator()(ZSTD_DCtx_s* dctx) const;
    };
    FileReader file_;
    std::unique_ptr<ZSTD_DCtx_s, FreeDecoder> dctx_;
    GrowBuffer in_{4096};
    GrowBuffer out_{4096};
    std::unique_ptr<ZstdSource> source_;
};

// How a listing of a stream that ended at state ends (any_entry: the
// listing saw entries before it).
ListEnd list_end_of(const ZstdSource& source, bool any_entry);
// Notes a stream refused for what this machine does not have (memory, a
// dictionary), under path; false for any other state.
bool note_stream_refusal(ArchiveJob& job, const char* path, const ZstdSource& source);
// Releases the job's Zstandard stage when it goes out of scope, so that no
// return path of a pipeline that opened it leaves it open.
class ZstdStageRelease {
public:
    explicit ZstdStageRelease(ArchiveJob& job) : job_(job) {}
    ~ZstdStageRelease() { release_zstd_stage(job_); }
    ZstdStageRelease(const ZstdStageRelease&) = delete;
    ZstdStageRelease& operator=(const ZstdStageRelease&) = delete;

private:
    ArchiveJob& job_;
};

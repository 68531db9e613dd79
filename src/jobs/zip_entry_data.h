// Decoding a ZIP entry's data into the file it is extracted to: Stored,
// Deflate, Deflate64 and Zstandard (method 93, and 20 of older writers).
// The data is read from its local header on to the end of its compressed
// stream, and the CRC-32 of what it gives decides whether the entry is
// whole, whatever the size fields say. Worker thread.
#pragma once

#include <cstdint>

#include "io/grow_buffer.h"
#include "jobs/extract_writer.h"
#include "jobs/inflate64.h"
#include "jobs/zip_reader.h"

struct ZSTD_DCtx_s;
struct z_stream_s;

// True for the methods this program unpacks.
bool zip_method_supported(uint32_t method);

// What an extraction keeps from entry to entry: a cursor on the data, an
// output buffer and the decoders, each made when first needed.
class ZipDataReader {
public:
    ZipDataReader(ArchiveFile& file, const ZipLayout& layout) : layout_(layout), cursor_(file) {}
    ~ZipDataReader();
    ZipDataReader(const ZipDataReader&) = delete;
    ZipDataReader& operator=(const ZipDataReader&) = delete;

    // Takes the buffers; false when memory ran short.
    bool allocate();
    // Reads entry's local header; false when the directory points at none.
    bool locate(const ZipEntry& entry, LocalHeader& local);
    // Writes the data of entry (of a supported method) through file,
    // publishing the job's item percentage and stopping at a cancel.
    // Returns how the data ended, for file.finish().
    DataEnd extract(ArchiveJob& job, const ZipEntry& entry, const LocalHeader& local, ExtractedFile& file);
    // The same into writer, or into nothing when writer is null (a test);
    // *decoded, when given, receives how many bytes the data gave.
    DataEnd decode(ArchiveJob& job, const ZipEntry& entry, const LocalHeader& local, FileWriter* writer,
                   uint64_t* decoded);

private:
    const ZipLayout& layout_;
    ArchiveCursor cursor_;
    GrowBuffer output_;
    Inflate64 inflate64_;
    z_stream_s* inflate_ = nullptr;
    ZSTD_DCtx_s* zstd_ = nullptr;
};

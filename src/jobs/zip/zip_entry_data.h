// Reading a ZIP entry's data: Stored, Deflate, Deflate64 and Zstandard
// (method 93, and 20 of older writers). Worker thread, or the one thread of
// a listing; the objects belong to one pass over an archive.
//
// The central directory decides: an entry's data is the compressed size
// it gives, read from where its local header ends, and is whole only when
// it decodes to exactly the size and CRC-32 the directory gives. Nothing
// past that size is decoded. Every entry claims the bytes of its local
// record and its data; an entry whose bytes overlap an earlier entry's is
// refused, so one record cannot be unpacked many times over.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "io/grow_buffer.h"
#include "jobs/writer/extract_writer.h"
#include "jobs/zip/inflate64.h"
#include "jobs/zip/zip_reader.h"

struct ZSTD_DCtx_s;
struct z_stream_s;

// True for the methods this program unpacks.
bool zip_method_supported(uint32_t method);

// Whether an entry's data can be read, judged before anything is made for it.
enum class DataPlace {
    ready,
    missing,           // no local header where the directory says
    other_name,        // the local header names another entry (its name in local.name)
    past_directory,    // the data would run into the central directory
    shared,            // the local record or the data overlaps an earlier entry's
    needs_dictionary,  // a Zstandard frame made with a dictionary (dictionary_id)
    needs_memory,      // a Zstandard frame whose window is more than this machine can give (memory_needed)
};

struct EntryPlace {
    DataPlace place = DataPlace::missing;
    LocalHeader local;
    uint32_t dictionary_id = 0;
    uint64_t memory_needed = 0;
};

// How an entry's data decoded.
struct DecodedData {
    DataEnd end = DataEnd::cut_short;
    uint64_t size = 0;     // the bytes handed on: never more than the directory's size
    bool longer = false;   // the data held more bytes than the directory's size
    bool crc_ok = false;   // the bytes handed on match the directory's CRC-32
};

// What an extraction, a test or a listing keeps from entry to entry: a
// cursor on the data, the bytes earlier entries claimed, an output buffer
// and the decoders, each made when first needed.
class ZipDataReader {
public:
    ZipDataReader(ArchiveFile& file, const ZipLayout& layout) : layout_(layout), cursor_(file) {}
    ~ZipDataReader();
    ZipDataReader(const ZipDataReader&) = delete;
    ZipDataReader& operator=(const ZipDataReader&) = delete;

    // Takes the buffers; false when memory ran short.
    bool allocate();
    // Finds entry's data (of a supported method) and judges it: ready, or
    // why it cannot be read. A ready entry's bytes are claimed.
    EntryPlace locate(const ZipEntry& entry);
    // Decodes the data of a ready entry into writer (or into nothing when it
    // is null), and into *kept up to keep_limit bytes when kept is given.
    // With a job, publishes its item percentage and stops when it stops,
    // looking at it with every piece read and every piece decoded.
    DecodedData decode(ArchiveJob* job, const ZipEntry& entry, const EntryPlace& place, FileWriter* writer,
                       std::string* kept = nullptr, size_t keep_limit = 0);

private:
    // True when [from, to) overlaps bytes an earlier entry claimed.
    bool overlaps(uint64_t from, uint64_t to) const;

    const ZipLayout& layout_;
    ArchiveCursor cursor_;
    std::map<uint64_t, uint64_t> claimed_;  // first byte -> end, of the ranges claimed so far
    GrowBuffer output_;
    Inflate64 inflate64_;
    z_stream_s* inflate_ = nullptr;
    ZSTD_DCtx_s* zstd_ = nullptr;
};

// The longest symbolic link target read from an entry.
constexpr size_t LINK_TARGET_LIMIT = 4096;

// Why an entry's data is not decoded, for the report.
struct ZipRefusal {
    Problem kind = Problem::cut_short;
    std::string reason;  // a few words for a test's line ("its local header is missing"), or ""
    std::string detail;  // what the kind's words name (the method), or ""
};

// Judges a file or link entry by the rules that a test, a listing and an
// extraction share, in this order: encryption, the method, then where its
// data lies (see DataPlace). True when its data can be decoded (place is
// then ready); otherwise refusal says why.
bool judge_zip_entry(ZipDataReader& data, const ZipEntry& entry, EntryPlace& place, ZipRefusal& refusal);
// The name a refused entry is reported under: name, with the reason in
// brackets where the kind's words need it (a test's damaged entry, an
// entry's memory).
std::string refused_name(const std::string& name, const ZipRefusal& refusal, bool test);
// A link's target as read from its data, in UTF-8 (bytes that are not
// UTF-8 are read in the OEM code page, as names are).
std::string link_target(const std::string& bytes);

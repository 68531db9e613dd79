// The walk over an archive's entries that an extraction and a test share;
// see la_walk.h.
//
// libarchive's 7z reader cannot get over two things. A folder whose coder
// it does not know fails as its decoder is set up, and the reader then
// takes the data of the entries after it for that folder's, which it has
// no decoder for ("Decompression internal error"). And asked to skip an
// encrypted folder once it has decoded another, it sets that folder up to
// decode it and stops there ("The file content is encrypted"). Both leave a
// sound archive with entries it can still read. A fresh reader that is
// given only headers up to them reaches the next entry's folder directly
// (the reader skips what it has not begun decoding by arithmetic), so the
// walk goes on in one.
#include "jobs/libarchive/la_walk.h"

#include <archive.h>
#include <archive_entry.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "io/banned.h"

namespace {

// 7-Zip's method and filter IDs, by the names 7-Zip shows them under.
struct SevenZipMethod {
    unsigned long id;
    const char* name;
};
const SevenZipMethod SEVEN_ZIP_METHODS[] = {
    {0x00, "Copy"},         {0x03, "Delta"},       {0x0A, "ARM64"},       {0x0B, "RISCV"},
    {0x21, "LZMA2"},        {0x020302, "Swap2"},   {0x020304, "Swap4"},   {0x030101, "LZMA"},
    {0x030401, "PPMd"},     {0x03030103, "BCJ"},   {0x0303011B, "BCJ2"},  {0x03030205, "PPC"},
    {0x03030401, "IA64"},   {0x03030501, "ARM"},   {0x03030701, "ARMT"},  {0x03030805, "SPARC"},
    {0x040108, "Deflate"},  {0x040109, "Deflate64"}, {0x040202, "BZip2"}, {0x06F10701, "7zAES"},
};

// What libarchive 3.6.2's 7z reader says of a coder it does not decode,
// each followed by the coder's ID in hex (the first one named, for a filter
// it will not put before a method).
const char* const CODER_REFUSALS[] = {"Unknown codec ID: ", "Unexpected codec ID: ", "Unsupported filter "};
// ... and of a folder of more coders than it chains.
constexpr char MANY_FILTERS[] = "encoded with many filters";

std::string seven_zip_method_name(unsigned long id) {
    for (const SevenZipMethod& method : SEVEN_ZIP_METHODS) {
        if (method.id == id) return method.name;
    }
    char hex[32];
    std::snprintf(hex, sizeof(hex), "method %lX", id);
    return hex;
}

// What libarchive's words name of a checksum that failed as an entry's data
// ended: "File CRC error" (RAR 4), "Checksum error: CRC32" or "Checksum
// error: BLAKE2" (RAR 5), "7-Zip bad CRC" (a warning); "" for other words.
std::string failed_checksum(const char* words) {
    if (!words) return "";
    if (std::strstr(words, "BLAKE2")) return "BLAKE2sp mismatch";
    if (std::strstr(words, "CRC")) return "CRC-32 mismatch";
    return "";
}

}  // namespace

std::string la_refused_method(const char* words) {
    if (!words) return "";
    if (std::strstr(words, MANY_FILTERS)) return "a chain of several filters";
    for (const char* refusal : CODER_REFUSALS) {
        const size_t length = std::strlen(refusal);
        if (std::strncmp(words, refusal, length) != 0) continue;
        char* end = nullptr;
        const unsigned long id = std::strtoul(words + length, &end, 16);
        if (end != words + length) return seven_zip_method_name(id);
    }
    return "";
}

int LaWalk::next(archive_entry** entry, std::vector<HeaderTrouble>* warnings, std::vector<HeaderTrouble>* unusable) {
    if (spoiled_) {
        spoiled_ = false;
        if (reopen_ && !read_again()) return ARCHIVE_FATAL;
    }
    int header = next_la_header(reader_, entry, warnings, unusable);
    // Once per place, so that an archive broken right there is not read again and again.
    if (header == ARCHIVE_FATAL && left_unread_ && reopen_ && read_again_at_ != given_ && read_again()) {
        header = next_la_header(reader_, entry, warnings, unusable);
    }
    left_unread_ = false;
    if (header == ARCHIVE_OK) {
        ++given_;
        last_file_cut_ = false;
    }
    return header;
}

bool LaWalk::read_again() {
    read_again_at_ = given_;
    // Each fresh reading reads the archive's header again and passes the
    // headers given so far: an archive of very many such entries ends where
    // its reader breaks once the readings or the headers passed are spent.
    if (reads_again_ == MAX_READS_AGAIN || headers_passed_ + given_ > MAX_HEADERS_PASSED) return false;
    ++reads_again_;
    headers_passed_ += given_;
    archive* fresh = reopen_();
    if (!fresh) return false;
    reader_ = fresh;
    archive_entry* entry = nullptr;
    for (int64_t passed = 0; passed < given_; ++passed) {
        if (next_la_header(reader_, &entry, nullptr, nullptr) != ARCHIVE_OK) return false;
    }
    return true;
}

void LaWalk::show_progress(ArchiveJob& job) const {
    const int32_t overall =
        progress_.archive_bytes > 0
            ? counted_percent(archive_filter_bytes(reader_, -1), static_cast<int64_t>(progress_.archive_bytes))
            : counted_percent(job.items_done.load() + 1, job.items_total.load());
    job.overall_percent.store(overall, std::memory_order_relaxed);
}

DataEnd LaWalk::read_data(ArchiveJob& job, archive_entry* entry, FileWriter* writer, std::string* detail) {
    const int64_t size = archive_entry_size(entry);
    const bool size_known = archive_entry_size_is_set(entry) != 0;
    int64_t so_far = 0;
    std::string failed_check;  // what the reader said of the data's checksum: a warning (7z) or an error (RAR)
    DataEnd end = DataEnd::whole;
    for (;;) {
        const void* block = nullptr;
        size_t length = 0;
        la_int64_t offset = 0;
        const int status = archive_read_data_block(reader_, &block, &length, &offset);
        if (status < ARCHIVE_WARN) {
            const char* words = archive_error_string(reader_);
            *detail = la_refused_method(words);  // it fails so before any data
            if (!detail->empty()) {
                end = DataEnd::not_decoded;
                break;
            }
            // A RAR 4 reader fails a checksum once it has given every byte,
            // a RAR 5 reader before it gives the last ones: read on for them,
            // up to the reader's end or its next failure.
            if (failed_check.empty() && !(failed_check = failed_checksum(words)).empty()) continue;
            if (failed_check.empty()) end = DataEnd::cut_short;
            break;
        }
        if (status == ARCHIVE_WARN && failed_check.empty()) {
            const char* words = archive_error_string(reader_);
            failed_check = failed_checksum(words);
            if (failed_check.empty()) failed_check = words && *words ? words : "the reader warned about its data";
        }
        if (offset > so_far) {
            // The hole of a sparse entry, and at the end the hole that ends it.
            if (writer) {
                writer->mark_sparse();
                writer->skip(static_cast<uint64_t>(offset - so_far));
            }
            so_far = offset;
        }
        if (status == ARCHIVE_EOF) break;
        if (offset < so_far) {  // no reader goes back
            end = DataEnd::cut_short;
            break;
        }
        if (length > 0) {
            if (writer) writer->write(block, length);
            so_far += static_cast<int64_t>(length);
        }
        show_progress(job);
        job.item_percent.store(counted_percent(so_far, size), std::memory_order_relaxed);
        if (job_stopping(job)) return DataEnd::cancelled;
        if (writer && writer->failed()) {
            end = DataEnd::cut_short;
            break;
        }
    }
    if (end == DataEnd::whole && size_known && so_far < size && failed_check.empty() &&
        archive_entry_sparse_count(entry) > 0) {
        // A sparse entry whose map ends before its size: the rest is a hole.
        if (writer) {
            writer->mark_sparse();
            writer->skip(static_cast<uint64_t>(size - so_far));
        }
        so_far = size;
    }
    if (end == DataEnd::whole && size_known && so_far != size) end = DataEnd::cut_short;
    if (end == DataEnd::whole && !failed_check.empty()) {
        end = DataEnd::mismatch;
        *detail = failed_check;
    }
    spoiled_ = end == DataEnd::not_decoded;
    last_file_cut_ = end == DataEnd::cut_short;
    return end;
}

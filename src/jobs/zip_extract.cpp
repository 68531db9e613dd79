// ZIP extraction: every entry of an archive into a folder beside it named
// after the archive, in archive order. Worker thread, with job_lock held.
//
// Invariant: nothing is written outside the destination folder. Entry names
// pass through safe_entry_path; a name that would leave the folder is
// skipped, and missing parent folders are made inside it.
#include <cstring>
#include <string>

#include "jobs/extract_writer.h"
#include "io/platform.h"
#include "jobs/archive_job.h"
#include "jobs/job_paths.h"
#include "jobs/zip_io.h"
#include "io/banned.h"

namespace {

constexpr size_t PIECE = 4096;
constexpr uLong NAME_BYTES = 2048;
constexpr uLong ENCRYPTED = 0x1;
constexpr uLong STORED = 0;
constexpr uLong DEFLATED = 8;
// Hosts of "version made by" whose attributes are Windows file attributes.
// NTFS is 10 in PKWARE's list and 11 in Info-ZIP's: both are taken.
constexpr uLong HOST_MSDOS = 0;
constexpr uLong HOST_NTFS = 10;
constexpr uLong HOST_NTFS_INFO_ZIP = 11;
constexpr uLong HOST_VFAT = 14;

// Whether the extraction can go on after an entry.
enum class EntryResult { next, ends_job };

// The entry's name in UTF-8. A name without the UTF-8 flag that is not
// valid UTF-8 was written in the OEM code page, as Windows itself reads it.
std::string utf8_entry_name(const char* name, size_t length, uLong flag) {
    if ((flag & UTF8_NAMES) || is_valid_utf8(name, length)) return std::string(name, length);
    std::wstring wide(length + 1, L'\0');
    const int n = MultiByteToWideChar(CP_OEMCP, 0, name, static_cast<int>(length), &wide[0], static_cast<int>(length));
    if (n <= 0) return std::string();
    wide[n] = L'\0';
    String utf8;
    if (!wide_to_utf8(wide.c_str(), utf8, 3 * length + 1)) return std::string();
    return utf8.c_str();
}


// Writes the current file entry below the destination. A file whose data
// is damaged, or that a cancel cut short, does not take the entry's name; a
// CRC or a size other than the header's is noted. The extraction goes on.
void extract_file(Extraction& extraction, unzFile zip, const std::string& relative, uint64_t size, int32_t overall) {
    ArchiveJob& job = extraction.job;
    if (unzOpenCurrentFile(zip) != UNZ_OK) {
        note_problem(job, Problem::cut_short, relative);
        return;
    }
    ExtractedFile file(extraction, relative);
    if (!file.is_open()) {
        unzCloseCurrentFile(zip);
        return;
    }
    char piece[PIECE];
    uint64_t total = 0;
    int n;
    do {
        n = unzReadCurrentFile(zip, piece, sizeof(piece));
        if (n > 0) {
            file.writer().write(piece, static_cast<size_t>(n));
            total += static_cast<uint64_t>(n);
        }
        job.overall_percent.store(overall, std::memory_order_relaxed);
        job.item_percent.store(counted_percent(static_cast<int64_t>(total), static_cast<int64_t>(size)),
                               std::memory_order_relaxed);
    } while (n > 0 && !job_stopping(job) && !file.writer().failed());
    const bool checked = unzCloseCurrentFile(zip) == UNZ_OK;
    const DataEnd end = n > 0 && file.writer().failed() ? DataEnd::cut_short
                        : n > 0                          ? DataEnd::cancelled
                        : n < 0                          ? DataEnd::cut_short
                        : !checked || total != size      ? DataEnd::mismatch
                                                         : DataEnd::whole;
    file.finish(end);
}

// True for an entry that a Windows or DOS tool marked as a folder by its
// attributes alone, without the trailing '/'.
bool folder_by_attributes(const unz_file_info64& info) {
    const uLong host = info.version >> 8;
    return (host == HOST_MSDOS || host == HOST_NTFS || host == HOST_NTFS_INFO_ZIP || host == HOST_VFAT) && (info.external_fa & FILE_ATTRIBUTE_DIRECTORY);
}

// Extracts the current entry, the i-th of count.
EntryResult extract_entry(Extraction& extraction, unzFile zip, uint64_t i, uint64_t count) {
    ArchiveJob& job = extraction.job;
    unz_file_info64 info;
    // The name is read at its own length: a name of any length is whole. One
    // that does not fit the usual buffer is read again into one of its size.
    std::string name(NAME_BYTES, '\0');
    if (unzGetCurrentFileInfo64(zip, &info, &name[0], NAME_BYTES, nullptr, 0, nullptr, 0) != UNZ_OK) {
        return EntryResult::ends_job;
    }
    const size_t length = info.size_filename;
    if (length >= NAME_BYTES) {
        name.assign(length + 1, '\0');
        if (unzGetCurrentFileInfo64(zip, &info, &name[0], static_cast<uLong>(name.size()), nullptr, 0, nullptr, 0) !=
            UNZ_OK) {
            return EntryResult::ends_job;
        }
    }
    name.resize(length);
    const int32_t overall = counted_percent(static_cast<int64_t>(i), static_cast<int64_t>(count));
    job.overall_percent.store(overall, std::memory_order_relaxed);
    // A name that hides a zero byte is not guessed at.
    if (length == 0 || std::strlen(name.c_str()) != length) {
        note_problem(job, Problem::unsafe_name, name.c_str());
        return EntryResult::next;
    }
    const bool folder = is_separator(name[length - 1]) || folder_by_attributes(info);
    const std::string utf8_name = utf8_entry_name(name.c_str(), length, info.flag);
    const std::string relative = safe_entry_path(utf8_name.c_str());
    if (relative.empty()) {
        // A folder entry with nothing left ("./") is no loss; a file is.
        if (!folder) note_problem(job, Problem::unsafe_name, utf8_name);
        return EntryResult::next;
    }
    if (folder) {
        if (!extraction.make_folders(relative)) {
            note_problem(job, Problem::not_written, relative + "\\");
        }
        return EntryResult::next;
    }
    // Without a password an encrypted entry would come out as ciphertext, and
    // other methods are not ours to decode: such entries are passed over.
    if (info.flag & ENCRYPTED) {
        note_problem(job, Problem::encrypted, relative);
        return EntryResult::next;
    }
    if (info.compression_method != STORED && info.compression_method != DEFLATED) {
        note_problem(job, Problem::unknown_method, relative);
        return EntryResult::next;
    }
    extract_file(extraction, zip, relative, info.uncompressed_size, overall);
    return EntryResult::next;
}

// Extracts every entry in archive order. False when the archive broke off
// before its last entry (noted).
bool extract_entries(ArchiveJob& job, unzFile zip, const std::string& destination) {
    unz_global_info64 global;
    bool whole = unzGetGlobalInfo64(zip, &global) == UNZ_OK;
    const uint64_t count = whole ? global.number_entry : 0;
    Extraction extraction(job, destination, job.zip_path.c_str());
    for (uint64_t i = 1; whole && i <= count; ++i) {
        whole = extract_entry(extraction, zip, i, count) == EntryResult::next &&
                (i == count || unzGoToNextFile(zip) == UNZ_OK);
        if (job_stopping(job)) break;
    }
    if (!whole) note_problem(job, Problem::archive_damaged, job.zip_path.c_str());
    return whole;
}

}  // namespace

JobResult decompress_zip_job(ArchiveJob& job) {
    set_phase(job, Phase::decompressing_zip);
    const char* archive = job.job_inputs.c_str();
    job.zip_path.set(archive);
    // An archive named only ".zip" would unpack into its own folder, over
    // its neighbours and itself: refused.
    const String destination_folder = replace_extension(archive, "");
    const size_t length = destination_folder.length();
    if (length == 0 || is_separator(destination_folder.c_str()[length - 1])) {
        note_problem(job, Problem::unreadable_archive, archive);
        return JobResult{};
    }
    const std::string destination = std::string(destination_folder.c_str()) + "\\";

    unzFile zip = open_zip_archive(archive);
    const bool opened = zip || is_empty_zip_archive(archive);
    if (!opened) note_problem(job, Problem::unreadable_archive, archive);
    if (opened && !make_folder(destination_folder.c_str())) note_problem(job, Problem::not_written, destination);
    bool ran_to_end = opened;
    if (zip) {
        ran_to_end = extract_entries(job, zip, destination);
        unzClose(zip);
    }
    return JobResult{ran_to_end && !job_stopping(job), destination_folder.c_str()};
}

// ZIP extraction: every entry of an archive into a folder beside it named
// after the archive, in archive order. Worker thread, with job_lock held.
//
// Invariant: nothing is written outside the destination folder. Entry names
// pass through safe_entry_path; a name that would leave the folder is
// skipped, and missing parent folders are made inside it.
#include <cstring>
#include <string>

#include "io/file_writer.h"
#include "io/platform.h"
#include "jobs/archive_job.h"
#include "jobs/job_paths.h"
#include "jobs/zip_io.h"
#include "io/banned.h"

namespace {

constexpr size_t PIECE = 4096;
constexpr size_t NAME_BYTES = 2048;
constexpr uLong UTF8_NAMES = 0x800;
constexpr uLong ENCRYPTED = 0x1;
constexpr uLong STORED = 0;
constexpr uLong DEFLATED = 8;

// Whether the extraction can go on after an entry.
enum class EntryResult { next, ends_job };

// The entry's name in UTF-8. A name without the UTF-8 flag that is not
// valid UTF-8 was written in the OEM code page, as Windows itself reads it.
std::string utf8_entry_name(const char* name, size_t length, uLong flag) {
    if ((flag & UTF8_NAMES) || is_valid_utf8(name, length)) return std::string(name, length);
    wchar_t wide[NAME_BYTES + 1];
    const int n = MultiByteToWideChar(CP_OEMCP, 0, name, static_cast<int>(length), wide, static_cast<int>(NAME_BYTES));
    if (n <= 0) return std::string();
    wide[n] = L'\0';
    String utf8;
    if (!wide_to_utf8(wide, utf8, 3 * NAME_BYTES + 1)) return std::string();
    return utf8.c_str();
}

bool is_separator(char c) { return c == '/' || c == '\\'; }

// Writes the current file entry to destination + relative, or under a free
// name when an earlier file of this extraction has that name but for case.
// A file whose data is damaged, that the disk did not take whole, or that a
// cancel cut short is taken away so that it cannot pass for a whole one.
// What went wrong is noted; the extraction goes on.
void extract_file(ArchiveJob& job, unzFile zip, const std::string& destination, const std::string& relative,
                  uint64_t size, int32_t overall, WrittenFiles& written) {
    if (unzOpenCurrentFile(zip) != UNZ_OK) {
        note_problem(job, Problem::cut_short, relative);
        return;
    }
    const std::string placed = written.place(destination, relative);
    const size_t slash = placed.rfind('\\');
    if (slash != std::string::npos) create_folders_below(destination, placed.substr(0, slash));
    const std::string target = destination + placed;
    FileWriter writer(target.c_str());
    if (!writer.is_open()) {
        unzCloseCurrentFile(zip);
        note_problem(job, Problem::not_written, placed);
        return;
    }
    if (placed != relative) note_problem(job, Problem::renamed, relative + ", saved as " + placed);
    char piece[PIECE];
    uint64_t total = 0;
    int n;
    do {
        n = unzReadCurrentFile(zip, piece, sizeof(piece));
        if (n > 0) {
            writer.write(piece, static_cast<size_t>(n));
            total += static_cast<uint64_t>(n);
        }
        job.overall_percent.store(overall, std::memory_order_relaxed);
        job.item_percent.store(counted_percent(static_cast<int64_t>(total), static_cast<int64_t>(size)),
                               std::memory_order_relaxed);
    } while (n > 0 && !cancel_requested(job));
    const bool checked = unzCloseCurrentFile(zip) == UNZ_OK;
    const bool closed = writer.close();
    // A file cut short by a cancel goes: nothing half-written keeps a name.
    if (n > 0) {
        delete_file(target.c_str());
        return;
    }
    if (n < 0 || !closed) {
        delete_file(target.c_str());
        note_problem(job, n < 0 ? Problem::cut_short : Problem::not_written, placed);
        return;
    }
    // A CRC or a size other than the header's is noted, and the file stays.
    if (n == 0 && (!checked || total != size)) note_problem(job, Problem::damaged, placed);
}

// Extracts the current entry, the i-th of count.
EntryResult extract_entry(ArchiveJob& job, unzFile zip, const std::string& destination, uint64_t i, uint64_t count,
                          WrittenFiles& written) {
    unz_file_info64 info;
    char name[NAME_BYTES];
    if (unzGetCurrentFileInfo64(zip, &info, name, sizeof(name), nullptr, 0, nullptr, 0) != UNZ_OK) {
        return EntryResult::ends_job;
    }
    const int32_t overall = counted_percent(static_cast<int64_t>(i), static_cast<int64_t>(count));
    job.overall_percent.store(overall, std::memory_order_relaxed);
    // Names that do not fit the buffer, or hide a zero byte, are not guessed at.
    const size_t length = info.size_filename;
    if (length >= NAME_BYTES || std::strlen(name) != length || length == 0) {
        note_problem(job, Problem::unsafe_name, std::string(name, std::strlen(name)));
        return EntryResult::next;
    }
    const bool folder = is_separator(name[length - 1]);
    const std::string utf8_name = utf8_entry_name(name, length, info.flag);
    const std::string relative = safe_entry_path(utf8_name.c_str());
    if (relative.empty()) {
        // A folder entry with nothing left ("./") is no loss; a file is.
        if (!folder) note_problem(job, Problem::unsafe_name, utf8_name);
        return EntryResult::next;
    }
    if (folder) {
        if (!create_folders_below(destination, relative)) note_problem(job, Problem::not_written, relative + "\\");
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
    extract_file(job, zip, destination, relative, info.uncompressed_size, overall, written);
    return EntryResult::next;
}

// Extracts every entry in archive order. False when the archive broke off
// before its last entry (noted).
bool extract_entries(ArchiveJob& job, unzFile zip, const std::string& destination) {
    unz_global_info64 global;
    bool whole = unzGetGlobalInfo64(zip, &global) == UNZ_OK;
    const uint64_t count = whole ? global.number_entry : 0;
    WrittenFiles written;
    for (uint64_t i = 1; whole && i <= count; ++i) {
        whole = extract_entry(job, zip, destination, i, count, written) == EntryResult::next &&
                (i == count || unzGoToNextFile(zip) == UNZ_OK);
        if (cancel_requested(job)) break;
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
    return JobResult{ran_to_end && !cancel_requested(job), destination_folder.c_str()};
}

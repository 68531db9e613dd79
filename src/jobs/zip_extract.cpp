// ZIP extraction: every entry of an archive's central directory into a
// folder beside it named after the archive, in directory order. Worker
// thread, with job_lock held.
//
// Invariant: nothing is written outside the destination folder. Entry names
// pass through safe_entry_path; a name that would leave the folder is
// skipped, and missing parent folders are made inside it.
#include <cstring>
#include <string>

#include "jobs/extract_writer.h"
#include "io/platform.h"
#include "jobs/archive_job.h"
#include "jobs/archive_names.h"
#include "jobs/job_paths.h"
#include "jobs/zip_entry_data.h"
#include "jobs/zip_io.h"
#include "jobs/zip_reader.h"
#include "io/banned.h"

namespace {

constexpr uint32_t ENCRYPTED = 0x1;
constexpr uint32_t AES_ENCRYPTED = 99;
// Hosts of "version made by" whose attributes are Windows file attributes.
// NTFS is 10 in PKWARE's list and 11 in Info-ZIP's: both are taken.
constexpr uint32_t HOST_MSDOS = 0;
constexpr uint32_t HOST_NTFS = 10;
constexpr uint32_t HOST_NTFS_INFO_ZIP = 11;
constexpr uint32_t HOST_VFAT = 14;

// The name of a method this program does not unpack, for the report.
std::string method_name(uint32_t method) {
    switch (method) {
        case 6: return "Implode";
        case 12: return "BZip2";
        case 14: return "LZMA";
        case 95: return "XZ";
        case 97: return "WavPack";
        case 98: return "PPMd";
        default: return "method " + std::to_string(method);
    }
}

// The entry's name in UTF-8: the Unicode Path field's when it holds valid
// UTF-8. Otherwise a name without the UTF-8 flag that is not valid UTF-8
// was written in the OEM code page, as Windows itself reads it.
std::string utf8_entry_name(const ZipEntry& entry) {
    const std::string& unicode = entry.unicode_name;
    if (!unicode.empty() && std::strlen(unicode.c_str()) == unicode.size() &&
        is_valid_utf8(unicode.data(), unicode.size())) {
        return unicode;
    }
    const std::string& name = entry.name;
    if ((entry.flag & UTF8_NAMES) || is_valid_utf8(name.data(), name.size())) return name;
    const size_t length = name.size();
    std::wstring wide(length + 1, L'\0');
    const int n = MultiByteToWideChar(CP_OEMCP, 0, name.data(), static_cast<int>(length), &wide[0],
                                      static_cast<int>(length));
    if (n <= 0) return std::string();
    wide[n] = L'\0';
    String utf8;
    if (!wide_to_utf8(wide.c_str(), utf8, 3 * length + 1)) return std::string();
    return utf8.c_str();
}

// Writes the data of a file entry below the destination. A file whose data
// is damaged, or that a cancel cut short, does not take the entry's name;
// data whose CRC-32 disagrees is noted. The extraction goes on.
void extract_file(Extraction& extraction, ZipDataReader& data, const ZipEntry& entry, const std::string& relative) {
    ArchiveJob& job = extraction.job;
    LocalHeader local;
    if (!data.locate(entry, local)) {
        note_problem(job, Problem::cut_short, relative);
        return;
    }
    ExtractedFile file(extraction, relative);
    if (!file.is_open()) return;
    file.finish(data.extract(job, entry, local, file));
}

// True for an entry that a Windows or DOS tool marked as a folder by its
// attributes alone, without the trailing '/'.
bool folder_by_attributes(const ZipEntry& entry) {
    const uint32_t host = entry.made_by >> 8;
    return (host == HOST_MSDOS || host == HOST_NTFS || host == HOST_NTFS_INFO_ZIP || host == HOST_VFAT) &&
           (entry.external & FILE_ATTRIBUTE_DIRECTORY);
}

// Extracts one entry, the i-th of count.
void extract_entry(Extraction& extraction, ZipDataReader& data, const ZipEntry& entry, uint64_t i, uint64_t count) {
    ArchiveJob& job = extraction.job;
    job.overall_percent.store(counted_percent(static_cast<int64_t>(i), static_cast<int64_t>(count)),
                              std::memory_order_relaxed);
    const std::string& name = entry.name;
    // A name that hides a zero byte is not guessed at.
    if (name.empty() || std::strlen(name.c_str()) != name.size()) {
        note_problem(job, Problem::unsafe_name, name.c_str());
        return;
    }
    const bool folder = is_separator(name.back()) || folder_by_attributes(entry);
    const std::string utf8_name = utf8_entry_name(entry);
    const std::string relative = safe_entry_path(utf8_name.c_str());
    if (relative.empty()) {
        // A folder entry with nothing left ("./") is no loss; a file is.
        if (!folder) note_problem(job, Problem::unsafe_name, utf8_name);
        return;
    }
    if (folder) {
        if (!create_folders_below(extraction.destination, relative)) {
            note_problem(job, Problem::not_written, relative + "\\");
        }
        return;
    }
    // Without a password an encrypted entry would come out as ciphertext, and
    // other methods are not ours to decode: such entries are passed over.
    if ((entry.flag & ENCRYPTED) || entry.method == AES_ENCRYPTED) {
        note_problem(job, Problem::encrypted, relative);
        return;
    }
    if (!zip_method_supported(entry.method)) {
        note_problem(job, Problem::unknown_method, relative, method_name(entry.method));
        return;
    }
    extract_file(extraction, data, entry, relative);
}

// Extracts every entry the central directory holds, in its order, whatever
// the end record counts. False when the directory broke off, or holds fewer
// entries than counted (noted).
bool extract_entries(ArchiveJob& job, ArchiveFile& file, const ZipLayout& layout, const std::string& destination) {
    Extraction extraction(job, destination, job.zip_path.c_str());
    ArchiveCursor directory(file);
    ZipDataReader data(file, layout);
    if (!directory.allocate() || !data.allocate()) {
        set_output_error(job, ERROR_NOT_ENOUGH_MEMORY);
        note_output_not_written(job, destination.c_str(), Problem::extraction_stopped);
        return false;
    }
    directory.seek(layout.directory_at);
    ZipEntry entry;
    uint64_t found = 0;
    DirectoryStep step = DirectoryStep::end;
    while (!job_stopping(job) && (step = next_central_entry(directory, layout, entry)) == DirectoryStep::entry) {
        ++found;
        extract_entry(extraction, data, entry, found, found > layout.counted ? found : layout.counted);
    }
    if (job_stopping(job)) return false;
    if (step == DirectoryStep::broken || found < layout.counted) {
        note_problem(job, Problem::archive_damaged, job.zip_path.c_str());
        return false;
    }
    if (found > layout.counted) {
        note_problem(job, Problem::entries_uncounted,
                     std::string(job.zip_path.c_str()) + " (" + std::to_string(layout.counted) + " counted, " +
                         std::to_string(found) + " held)");
    }
    return true;
}

}  // namespace

JobResult decompress_zip_job(ArchiveJob& job) {
    set_phase(job, Phase::decompressing_zip);
    const char* archive = job.job_inputs.c_str();
    job.zip_path.set(archive);
    const std::string destination_folder = job.job_output.empty() ? archive_names(archive).stem : job.job_output;
    const std::string destination = destination_folder + "\\";

    ArchiveFile file(archive);
    ZipLayout layout;
    const bool opened = file.is_open() && find_zip_layout(file, layout);
    if (!opened) note_problem(job, Problem::unreadable_archive, archive);
    if (opened && !make_destination_folder(job, destination_folder)) return JobResult{false, destination_folder};
    const bool ran_to_end = opened && extract_entries(job, file, layout, destination);
    return JobResult{ran_to_end && !job_stopping(job), destination_folder};
}

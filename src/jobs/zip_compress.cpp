// ZIP compression: the folder job (the whole tree, with an entry for every
// folder) and the file-selection job (the selected files flat, under their
// bare names). Every file is deflated at zlib_level, also at level 0; no
// entry carries a time, attributes, extra fields or a comment. Worker
// thread, with job_lock held.
//
// Invariant: job.zip_file is open only inside one job; no job writes its
// archive over one of its inputs.
#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

#include "io/file_reader.h"
#include "io/platform.h"
#include "jobs/after_job.h"
#include "jobs/archive_job.h"
#include "jobs/directory_scan.h"
#include "jobs/job_paths.h"
#include "jobs/zip_io.h"
#include "io/banned.h"

static_assert(sizeof(ZipEntryInfo) == sizeof(zip_fileinfo), "ZipEntryInfo mirrors zip_fileinfo");
static_assert(offsetof(ZipEntryInfo, tm_year) == offsetof(zip_fileinfo, tmz_date.tm_year), "same date fields");
static_assert(offsetof(ZipEntryInfo, dos_date) == offsetof(zip_fileinfo, dosDate), "same dosDate");
static_assert(offsetof(ZipEntryInfo, external_fa) == offsetof(zip_fileinfo, external_fa), "same attributes");

namespace {

constexpr size_t PIECE = 4096;
// Entries this large need the ZIP64 sizes in their local header.
constexpr uint64_t ZIP64_SIZE = 0xffffffffu;
constexpr uLong UTF8_NAMES = 0x800;
constexpr uLong MADE_BY = 0;

zipFile zip_of(const ArchiveJob& job) { return static_cast<zipFile>(job.zip_file); }

bool is_separator(char c) { return c == '\\' || c == '/'; }

// Names with bytes beyond ASCII that are valid UTF-8 say so in their flag;
// other names go as they are.
uLong name_flag(const char* name) {
    const size_t length = std::strlen(name);
    for (size_t i = 0; i < length; ++i) {
        if (static_cast<unsigned char>(name[i]) >= 0x80) return is_valid_utf8(name, length) ? UTF8_NAMES : 0;
    }
    return 0;
}

// Opens the entry name with a cleared entry record. False when minizip
// refused it.
bool open_entry(ArchiveJob& job, const char* name, int method, int level, uint64_t size) {
    job.zip_entry_info = ZipEntryInfo{};
    zip_fileinfo info;
    std::memcpy(&info, &job.zip_entry_info, sizeof(info));
    const int zip64 = size >= ZIP64_SIZE ? 1 : 0;
    return zipOpenNewFileInZip4_64(zip_of(job), name, &info, nullptr, 0, nullptr, 0, nullptr, method, level, 0,
                                   -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, MADE_BY,
                                   name_flag(name), zip64) == ZIP_OK;
}

// Deflates the reader's file into the open entry in 4096-byte pieces,
// publishing overall with each piece. Stops at the file's end, at a read
// that gives nothing, or at a cancel. Returns false when the entry lacks
// bytes for another reason than a cancel.
bool copy_into_entry(ArchiveJob& job, FileReader& reader, int32_t overall) {
    const uint64_t size = reader.size();
    char piece[PIECE];
    bool written = true;
    size_t n;
    do {
        n = reader.read(piece, sizeof(piece));
        if (n > 0 && zipWriteInFileInZip(zip_of(job), piece, static_cast<unsigned>(n)) != ZIP_OK) written = false;
        job.overall_percent.store(overall, std::memory_order_relaxed);
        job.item_percent.store(
            counted_percent(static_cast<int64_t>(reader.position()), static_cast<int64_t>(size)),
            std::memory_order_relaxed);
    } while (reader.position() < size && n > 0 && !cancel_requested(job));
    const bool whole = reader.position() >= size || cancel_requested(job);
    return written && whole && !reader.failed();
}

// Stores one file under name; the reader is open. Returns false when the
// entry could not be made or lacks bytes. *opened tells whether an entry was
// started.
bool store_file(ArchiveJob& job, FileReader& reader, const char* name, int32_t overall, bool* opened) {
    *opened = open_entry(job, name, Z_DEFLATED, job.zlib_level, reader.size());
    if (!*opened) return false;
    const bool copied = copy_into_entry(job, reader, overall);
    return zipCloseFileInZip(zip_of(job)) == ZIP_OK && copied;
}

// The entry name of a path below the chosen folder: the folder's path and
// the separator after it removed, with / between components.
std::string relative_entry_name(const String& full, size_t folder_length) {
    std::string name(full.c_str() + folder_length + 1);
    for (char& c : name) {
        if (c == '\\') c = '/';
    }
    return name;
}

// One folder level of the walk: its listing and whether the listing's
// current entry has been stored yet.
struct WalkLevel {
    DirectoryScan scan;
    bool current_done = false;
};

// Stores the current entry of level; returns a listing of its contents
// when it is a folder that can be listed.
std::unique_ptr<WalkLevel> store_walk_entry(ArchiveJob& job, WalkLevel& level, size_t folder_length) {
    String full;
    level.scan.full_path(full);
    if (full.length() <= folder_length + 1 || is_separator(full.c_str()[full.length() - 1])) {
        ++job.entries_failed;  // a name that could not be read back
        return nullptr;
    }
    if (level.scan.is_directory()) {
        const std::string name = relative_entry_name(full, folder_length) + "/";
        job.entry_name.set(name.c_str());
        if (open_entry(job, name.c_str(), 0, 0, 0)) {
            zipCloseFileInZip(zip_of(job));
        } else {
            ++job.entries_failed;
        }
        auto inner = std::make_unique<WalkLevel>();
        if (inner->scan.first(full.c_str())) return inner;
        ++job.entries_failed;  // a folder that cannot be listed
        return nullptr;
    }
    const std::string name = relative_entry_name(full, folder_length);
    job.entry_name.set(name.c_str());
    FileReader reader(full.c_str());
    if (!reader.is_open()) {
        // An unreadable file ends the walk here, as a cancel would.
        ++job.entries_failed;
        set_cancel_requested(job, true);
        return nullptr;
    }
    const int32_t overall = counted_percent(job.items_done.load() + 1, job.items_total.load());
    bool opened = false;
    if (!store_file(job, reader, name.c_str(), overall, &opened)) ++job.entries_failed;
    if (opened) job.items_done.fetch_add(1, std::memory_order_relaxed);
    return nullptr;
}

// Stores every folder and file below folder, depth first: a folder's own
// entry, then everything inside it, before the next entry of its parent.
// The walk keeps its levels on the heap, so deep trees cannot exhaust the
// worker's stack.
void add_folder_to_zip(ArchiveJob& job, const char* folder) {
    set_phase(job, Phase::compressing_zip);
    const size_t folder_length = job.job_folder.length();
    std::vector<std::unique_ptr<WalkLevel>> levels;
    levels.push_back(std::make_unique<WalkLevel>());
    if (!levels.back()->scan.first(folder)) {
        ++job.entries_failed;  // missing, or not a folder
        return;
    }
    while (!levels.empty()) {
        WalkLevel& level = *levels.back();
        if (!level.current_done) {
            level.current_done = true;
            if (!level.scan.is_dot_entry()) {
                std::unique_ptr<WalkLevel> inner = store_walk_entry(job, level, folder_length);
                if (inner) {
                    levels.push_back(std::move(inner));
                    continue;
                }
            }
        }
        if (cancel_requested(job) || !level.scan.next()) {
            levels.pop_back();
            continue;
        }
        level.current_done = false;
    }
}

// Creates the archive under its partial name; false when it cannot be made.
bool create_archive(ArchiveJob& job) {
    job.zip_partial = partial_path(job.zip_path.c_str());
    job.zip_file = create_zip_archive(job.zip_partial.c_str());
    return job.zip_file != nullptr;
}

// Closes the archive and ends the job: outcome, busy, after-job action. A
// closed archive takes its name, also after a cancel (it then holds the
// entries finished so far); one that the disk did not take whole goes, and
// a file that had the name keeps it. A write refused at any point fails the
// close, since the file functions keep their failure until then.
void finish_archive(ArchiveJob& job) {
    const bool closed = zipClose(zip_of(job), nullptr) == ZIP_OK;
    job.zip_file = nullptr;
    const bool named = closed && move_file_replacing(job.zip_partial.c_str(), job.zip_path.c_str());
    if (!named) {
        delete_file(job.zip_partial.c_str());
        ++job.entries_failed;
    }
    const JobOutcome outcome = job.entries_failed > 0 ? JobOutcome::failed
                               : cancel_requested(job) ? JobOutcome::cancelled
                                                       : JobOutcome::complete;
    set_outcome(job, outcome, job.zip_path.c_str());
    set_busy(job, false);
    after_compression(job, job.zip_path.c_str(), "zip");
}

bool names_an_input(const std::vector<std::string>& inputs, const String& path) {
    for (const std::string& input : inputs) {
        if (same_path(input, path.c_str())) return true;
    }
    return false;
}

// The archive is named after the first selected file; when that name is one
// of the selected files (a selected notes.zip), the first file's whole name
// with ".zip" appended. False when that is selected too.
bool choose_archive_name(ArchiveJob& job, const std::vector<std::string>& inputs) {
    job.zip_path = replace_extension(inputs[0].c_str(), ".zip");
    if (!names_an_input(inputs, job.zip_path)) return true;
    job.zip_path = concat(inputs[0].c_str(), ".zip");
    return !names_an_input(inputs, job.zip_path);
}

}  // namespace

void compress_folder_zip(ArchiveJob& job) {
    set_cancel_requested(job, false);
    job.entries_failed = 0;
    const char* folder = job.job_folder.c_str();
    const size_t length = job.job_folder.length();
    // A drive root has no name for its archive, which would lie inside the
    // folder being archived: refused.
    if (length == 0 || is_separator(folder[length - 1])) {
        set_outcome(job, JobOutcome::failed, "");
        return;
    }
    job.zip_path = concat(folder, ".zip");
    clear_counters(job);
    if (!create_archive(job)) {
        set_outcome(job, JobOutcome::failed, "");
        return;
    }
    clear_percentages(job);
    set_busy(job, true);
    count_folder_files(job, folder);
    add_folder_to_zip(job, folder);
    finish_archive(job);
}

void compress_files_zip(ArchiveJob& job) {
    set_cancel_requested(job, false);
    set_phase(job, Phase::compressing_zip);
    job.entries_failed = 0;
    const std::vector<std::string> inputs = selection_paths(job.job_inputs);
    if (inputs.empty() || !choose_archive_name(job, inputs)) {
        set_outcome(job, JobOutcome::failed, "");
        return;
    }
    if (!create_archive(job)) {
        set_outcome(job, JobOutcome::failed, "");
        return;
    }
    clear_percentages(job);
    set_busy(job, true);
    const size_t count = inputs.size();
    for (size_t k = 0; k < count; ++k) {
        const std::string name = name_of(inputs[k].c_str());
        job.entry_name.set(name.c_str());
        FileReader reader(inputs[k].c_str());
        bool opened = false;
        const int32_t overall = counted_percent(static_cast<int64_t>(k) + 1, static_cast<int64_t>(count));
        // An unreadable or refused file is left out and the job goes on.
        if (!reader.is_open() || !store_file(job, reader, name.c_str(), overall, &opened)) ++job.entries_failed;
        if (cancel_requested(job)) break;
    }
    finish_archive(job);
}

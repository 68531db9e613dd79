// ZIP compression: the folder job (the whole tree, with an entry for every
// folder) and the file-selection job (the selected files flat, under their
// bare names). Every file is deflated at zlib_level, also at level 0; no
// entry carries a time, attributes, extra fields or a comment. Worker
// thread, with job_lock held.
//
// Invariant: job.zip_file is open only inside one job; no job writes its
// archive over one of its inputs.
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "io/file_reader.h"
#include "io/platform.h"
#include "jobs/frame/archive_job.h"
#include "jobs/frame/directory_scan.h"
#include "jobs/frame/job_paths.h"
#include "jobs/zip/zip_io.h"
#include "io/banned.h"

static_assert(sizeof(ZipEntryInfo) == sizeof(zip_fileinfo), "ZipEntryInfo mirrors zip_fileinfo");
static_assert(offsetof(ZipEntryInfo, tm_year) == offsetof(zip_fileinfo, tmz_date.tm_year), "same date fields");
static_assert(offsetof(ZipEntryInfo, dos_date) == offsetof(zip_fileinfo, dosDate), "same dosDate");
static_assert(offsetof(ZipEntryInfo, external_fa) == offsetof(zip_fileinfo, external_fa), "same attributes");

namespace {

// "Version made by": host NTFS (10), ZIP 2.0, or 4.5 for entries with ZIP64
// sizes. Info-ZIP's unzip reads UTF-8 names right from this host, not from
// host 0 (MS-DOS).
constexpr uLong MADE_BY_NTFS = 10u << 8;
constexpr uLong ZIP_VERSION = 20;
constexpr uLong ZIP64_VERSION = 45;
// One date for every entry, as file times are not recorded: 1980-01-01
// 00:00:00, the first day a DOS date can hold.
constexpr unsigned FIXED_DAY = 1;

zipFile zip_of(const ArchiveJob& job) { return static_cast<zipFile>(job.zip_file); }


// Names with bytes beyond ASCII that are valid UTF-8 say so in their flag;
// other names go as they are.
uLong name_flag(const char* name) {
    const size_t length = std::strlen(name);
    for (size_t i = 0; i < length; ++i) {
        if (static_cast<unsigned char>(name[i]) >= 0x80) return is_valid_utf8(name, length) ? UTF8_NAMES : 0;
    }
    return 0;
}

}  // namespace

bool needs_zip64(uint64_t size) {
    // Deflate can grow data it cannot compress (and level 0 always does), by
    // at most this much; an entry that might reach 4 GiB, compressed or
    // not, carries ZIP64 sizes.
    const uint64_t worst = size + (size >> 12) + (size >> 14) + (size >> 25) + 64;
    return worst >= 0xffffffffu;
}

namespace {

// Opens the entry name with the entry record cleared but for its fixed
// date. False when minizip refused it.
bool open_entry(ArchiveJob& job, const char* name, int method, int level, uint64_t size) {
    job.zip_entry_info = ZipEntryInfo{};
    job.zip_entry_info.tm_mday = FIXED_DAY;
    zip_fileinfo info;
    std::memcpy(&info, &job.zip_entry_info, sizeof(info));
    const bool zip64 = needs_zip64(size);
    const uLong made_by = MADE_BY_NTFS | (zip64 ? ZIP64_VERSION : ZIP_VERSION);
    return zipOpenNewFileInZip4_64(zip_of(job), name, &info, nullptr, 0, nullptr, 0, nullptr, method, level, 0,
                                   -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, made_by,
                                   name_flag(name), zip64 ? 1 : 0) == ZIP_OK;
}

// A piece of a file's data for its deflated entry; a write the archive's
// file refused keeps its own reason in the file functions.
bool put_in_entry(ArchiveJob& job, const char* piece, size_t size) {
    return zipWriteInFileInZip(zip_of(job), piece, static_cast<unsigned>(size)) == ZIP_OK;
}

// Opens name's file and stores it; what cannot be read or stored is noted
// and left out. Returns true when an entry was made.
bool store_file(ArchiveJob& job, const char* path, const char* name, int32_t overall) {
    FileReader reader(path);
    if (!reader.is_open()) {
        note_problem(job, Problem::unreadable, name);
        return false;
    }
    if (!open_entry(job, name, Z_DEFLATED, job.zlib_level, reader.size())) {
        // An entry the archive's disk did not take stops the job instead.
        if (!job_stopping(job)) note_problem(job, Problem::not_stored, name);
        return false;
    }
    copy_input_data(job, reader, name, overall, put_in_entry);
    if (zipCloseFileInZip(zip_of(job)) != ZIP_OK) set_output_error(job, NO_ERROR);
    return job.output_error == NO_ERROR;
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
// when it is a folder that can be listed, and then the folder has joined
// trail. Links and loops are left out by trail's rule.
std::unique_ptr<WalkLevel> store_walk_entry(ArchiveJob& job, WalkLevel& level, size_t folder_length,
                                            FolderTrail& trail) {
    String full;
    level.scan.full_path(full);
    if (full.length() <= folder_length + 1 || is_separator(full.c_str()[full.length() - 1])) {
        // A name that could not be read back from the listing.
        note_problem(job, Problem::unreadable, full.c_str());
        return nullptr;
    }
    if (level.scan.is_directory()) {
        const std::string name = relative_entry_name(full, folder_length) + "/";
        const FolderStep step = trail.step_into(level.scan, full.c_str());
        if (step != FolderStep::enter) {
            note_folder_left_out(job, step, name);
            return nullptr;
        }
        job.entry_name.set(name.c_str());
        bool stored = open_entry(job, name.c_str(), 0, 0, 0);
        if (stored && zipCloseFileInZip(zip_of(job)) != ZIP_OK) {
            set_output_error(job, NO_ERROR);
            stored = false;
        }
        auto inner = std::make_unique<WalkLevel>();
        if (!job_stopping(job) && inner->scan.first(full.c_str())) {
            if (!stored) note_problem(job, Problem::not_stored, name);
            return inner;
        }
        if (!job_stopping(job)) note_problem(job, Problem::unlisted_folder, name);
        trail.leave();
        return nullptr;
    }
    const std::string name = relative_entry_name(full, folder_length);
    job.entry_name.set(name.c_str());
    const int32_t overall = counted_percent(job.items_done.load() + 1, job.items_total.load());
    if (store_file(job, full.c_str(), name.c_str(), overall)) job.items_done.fetch_add(1, std::memory_order_relaxed);
    return nullptr;
}

// Stores every folder and file below folder, depth first: a folder's own
// entry, then everything inside it, before the next entry of its parent.
// The walk keeps its levels on the heap, so deep trees cannot exhaust the
// worker's stack.
void add_folder_to_zip(ArchiveJob& job, const char* folder) {
    set_phase(job, Phase::compressing_zip);
    const size_t folder_length = job.job_folder.length();
    // The trail holds one folder per level of the walk.
    FolderTrail trail;
    trail.start(folder);
    std::vector<std::unique_ptr<WalkLevel>> levels;
    levels.push_back(std::make_unique<WalkLevel>());
    if (!levels.back()->scan.first(folder)) {
        note_problem(job, Problem::unlisted_folder, folder);  // missing, or not a folder
        return;
    }
    while (!levels.empty()) {
        WalkLevel& level = *levels.back();
        if (!level.current_done) {
            level.current_done = true;
            if (!level.scan.is_dot_entry()) {
                std::unique_ptr<WalkLevel> inner = store_walk_entry(job, level, folder_length, trail);
                if (inner) {
                    levels.push_back(std::move(inner));
                    continue;
                }
            }
        }
        if (job_stopping(job) || !level.scan.next()) {
            levels.pop_back();
            trail.leave();
            continue;
        }
        level.current_done = false;
    }
}

// minizip makes a deflate state for every entry it opens and frees it when
// the entry closes: some 260 KiB in four blocks. Where that memory is the
// top of the heap, the heap gives its pages back to the system at every
// entry and takes them again at the next, three changes of the address
// space per file (under Wine each one also stops the process's other
// threads). A state made once before the walk, with a small block taken
// after it and kept for the job, leaves a hole of the state's own shape
// below a live block: every entry's state then fits in that hole, and
// freeing it gives nothing back to the system.
class DeflateRoom {
public:
    // Larger than any block the heap serves from its pools of small blocks,
    // so that it is taken from the heap's top, right after the state.
    static constexpr size_t KEEPER_BYTES = 32 * 1024;
    static constexpr int STATES = 2;

    explicit DeflateRoom(int level) {
        z_stream streams[STATES] = {};
        bool made[STATES];
        for (int i = 0; i < STATES; ++i) {
            made[i] = deflateInit2(&streams[i], level, Z_DEFLATED, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY) == Z_OK;
        }
        keeper_ = std::malloc(KEEPER_BYTES);
        for (int i = 0; i < STATES; ++i) {
            if (made[i]) deflateEnd(&streams[i]);
        }
    }
    ~DeflateRoom() { std::free(keeper_); }
    DeflateRoom(const DeflateRoom&) = delete;
    DeflateRoom& operator=(const DeflateRoom&) = delete;

private:
    void* keeper_;
};

// Creates the archive under its partial name; false when it cannot be made.
bool create_archive(ArchiveJob& job) {
    job.zip_partial = partial_path(job.zip_path.c_str());
    job.zip_file = create_zip_archive(job.zip_partial.c_str(), &job.output_error);
    return job.zip_file != nullptr;
}

// Closes the archive. A whole archive takes its name; one that the disk
// did not take whole goes, and so does a cancelled one (minizip can only
// close it with the entry in progress cut short, which would then read as
// whole): a file that had the name keeps it. A write refused at any point
// fails the close, since the file functions keep their failure until then.
// With keep false (nothing worth keeping was stored) the archive goes too.
JobResult finish_archive(ArchiveJob& job, bool keep) {
    const bool closed = zipClose(zip_of(job), nullptr) == ZIP_OK;
    job.zip_file = nullptr;
    const bool cancelled = cancel_requested(job);
    if (!keep || cancelled || !closed) {
        delete_file_retrying(job.zip_partial.c_str());
        if ((keep || job.output_error != NO_ERROR) && !cancelled) note_output_not_written(job, job.zip_path.c_str());
        return JobResult{false, job.zip_path.c_str()};
    }
    const std::string placed = place_finished_output(job.zip_partial.c_str(), job.zip_path.c_str());
    if (placed != job.zip_path.c_str()) note_problem(job, Problem::saved_aside, placed);
    return JobResult{true, placed};
}

// The archive is the output given, or is named after the first selected
// file; when that name is one of the selected files (a selected notes.zip),
// the first file's whole name with ".zip" appended. False when that is
// selected too.
bool choose_archive_name(ArchiveJob& job, const std::vector<std::string>& inputs) {
    if (!job.job_output.empty()) {
        job.zip_path.set(job.job_output.c_str());
        return !names_an_input(inputs, job.zip_path);
    }
    job.zip_path = replace_extension(inputs[0].c_str(), ".zip");
    if (!names_an_input(inputs, job.zip_path)) return true;
    job.zip_path = concat(inputs[0].c_str(), ".zip");
    return !names_an_input(inputs, job.zip_path);
}

}  // namespace

JobResult compress_folder_zip(ArchiveJob& job) {
    set_phase(job, Phase::compressing_zip);
    const char* folder = job.job_folder.c_str();
    // A drive or share root has no name for its archive, which would lie
    // inside the folder being archived: refused.
    if (is_root_path(folder)) {
        note_problem(job, Problem::root_refused, folder);
        return JobResult{};
    }
    job.zip_path = job.job_output.empty() ? concat(folder, ".zip") : String(job.job_output.c_str());
    if (!create_archive(job)) {
        note_output_not_written(job, job.zip_path.c_str());
        return JobResult{};
    }
    const DeflateRoom room(job.zlib_level);
    count_folder_files(job, folder);
    add_folder_to_zip(job, folder);
    return finish_archive(job, true);
}

JobResult compress_files_zip(ArchiveJob& job) {
    set_phase(job, Phase::compressing_zip);
    const std::vector<std::string> inputs = selection_paths(job.job_inputs);
    if (inputs.empty() || !choose_archive_name(job, inputs)) return JobResult{};
    if (!create_archive(job)) {
        note_output_not_written(job, job.zip_path.c_str());
        return JobResult{};
    }
    const DeflateRoom room(job.zlib_level);
    const size_t count = inputs.size();
    size_t stored = 0;
    for (size_t k = 0; k < count; ++k) {
        const std::string name = name_of(inputs[k].c_str());
        job.entry_name.set(name.c_str());
        const int32_t overall = counted_percent(static_cast<int64_t>(k) + 1, static_cast<int64_t>(count));
        // An unreadable or refused file is left out and the job goes on.
        if (store_file(job, inputs[k].c_str(), name.c_str(), overall)) ++stored;
        if (job_stopping(job)) break;
    }
    // An archive of none of the chosen files is no archive of them.
    return finish_archive(job, stored > 0);
}

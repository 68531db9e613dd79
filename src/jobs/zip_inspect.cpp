// Listing and testing a ZIP archive without writing anything: its central
// directory read as the extraction reads it, every entry's data decoded into
// nothing and checked against its CRC-32 and sizes. See archive_inspect.h.
#include <cstring>
#include <string>

#include "jobs/archive_inspect.h"
#include "jobs/job_paths.h"
#include "jobs/zip_entry_data.h"
#include "jobs/zip_reader.h"
#include "io/banned.h"

namespace {

// An entry as a listing shows it and an extraction would name it.
ListedEntry listed_zip_entry(const ZipEntry& entry) {
    ListedEntry listed;
    const bool folder = zip_entry_is_folder(entry);
    const std::string name = zip_entry_name(entry);
    // A name that hides a zero byte is not guessed at.
    const std::string relative =
        std::strlen(entry.name.c_str()) == entry.name.size() ? safe_entry_path(name.c_str()) : std::string();
    if (relative.empty()) {
        if (!folder) listed.name = name.empty() ? entry.name.c_str() : name;  // "./" is the destination itself
        listed.skipped = true;
        return listed;
    }
    listed.name = relative;
    for (char& c : listed.name) {
        if (c == '\\') c = '/';
    }
    if (folder) {
        listed.name += '/';
    } else {
        listed.size = entry.uncompressed;
    }
    return listed;
}

// The directory's entries, one by one; counts them and tells how the
// directory ended: whole when it held at least the entries its end record
// counts.
class DirectoryWalk {
public:
    DirectoryWalk(ArchiveFile& file, const ZipLayout& layout) : layout_(layout), cursor_(file) {}
    bool allocate() {
        cursor_.seek(layout_.directory_at);
        return cursor_.allocate();
    }
    bool next(ZipEntry& entry) {
        step_ = next_central_entry(cursor_, layout_, entry);
        if (step_ == DirectoryStep::entry) ++found_;
        return step_ == DirectoryStep::entry;
    }
    uint64_t found() const { return found_; }
    bool whole() const { return step_ == DirectoryStep::end && found_ >= layout_.counted; }

private:
    const ZipLayout& layout_;
    ArchiveCursor cursor_;
    DirectoryStep step_ = DirectoryStep::end;
    uint64_t found_ = 0;
};

// Tests one file entry's data: its method, its local header, its CRC-32
// and its size. Notes what is wrong with it.
void test_zip_entry(ArchiveJob& job, ZipDataReader& data, const ZipEntry& entry, const std::string& name) {
    if (zip_entry_encrypted(entry)) {
        note_problem(job, Problem::encrypted, name);
        return;
    }
    if (!zip_method_supported(entry.method)) {
        note_problem(job, Problem::unknown_method, name, zip_method_name(entry.method));
        return;
    }
    LocalHeader local;
    if (!data.locate(entry, local)) {
        note_problem(job, Problem::cut_short, name + " (its local header is missing)");
        return;
    }
    uint64_t decoded = 0;
    switch (data.decode(job, entry, local, nullptr, &decoded)) {
    case DataEnd::whole:
        if (decoded != entry.uncompressed) {
            note_problem(job, Problem::damaged,
                         name + " (its data matches its CRC-32 but holds " + std::to_string(decoded) +
                             " bytes, not the " + std::to_string(entry.uncompressed) + " its header gives)");
        }
        break;
    case DataEnd::mismatch: note_problem(job, Problem::damaged, name + " (CRC-32 mismatch)"); break;
    case DataEnd::cut_short: note_problem(job, Problem::cut_short, name + " (its data is damaged or cut short)"); break;
    case DataEnd::cancelled: break;
    }
}

}  // namespace

ListResult list_zip(const char* path, const std::function<void(const ListedEntry&)>& visit) {
    ArchiveFile file(path);
    ZipLayout layout;
    if (!file.is_open() || !find_zip_layout(file, layout)) return ListResult{ListEnd::unreadable};
    DirectoryWalk walk(file, layout);
    if (!walk.allocate()) return ListResult{ListEnd::unreadable};
    ZipEntry entry;
    while (walk.next(entry)) {
        const ListedEntry listed = listed_zip_entry(entry);
        if (!listed.name.empty()) visit(listed);
    }
    return ListResult{walk.whole() ? ListEnd::whole : ListEnd::broken};
}

JobResult test_zip_job(ArchiveJob& job, const char* path) {
    ArchiveFile file(path);
    ZipLayout layout;
    if (!file.is_open() || !find_zip_layout(file, layout)) {
        note_problem(job, Problem::unreadable_archive, path);
        return JobResult{};
    }
    DirectoryWalk walk(file, layout);
    ZipDataReader data(file, layout);
    if (!walk.allocate() || !data.allocate()) {
        note_problem(job, Problem::needs_memory, path);
        return JobResult{};
    }
    ZipEntry entry;
    while (!cancel_requested(job) && walk.next(entry)) {
        const uint64_t total = layout.counted > walk.found() ? layout.counted : walk.found();
        job.overall_percent.store(counted_percent(static_cast<int64_t>(walk.found()), static_cast<int64_t>(total)),
                                  std::memory_order_relaxed);
        const ListedEntry listed = listed_zip_entry(entry);
        if (listed.skipped && !listed.name.empty()) note_problem(job, Problem::unsafe_name, listed.name);
        if (!zip_entry_is_folder(entry)) test_zip_entry(job, data, entry, listed.name);
        job.items_done.fetch_add(1, std::memory_order_relaxed);
    }
    if (cancel_requested(job)) return JobResult{};
    if (!walk.whole()) {
        note_problem(job, Problem::archive_damaged,
                     std::string(path) + " (its directory breaks off after " + std::to_string(walk.found()) +
                         " entries)");
        return JobResult{};
    }
    if (walk.found() > layout.counted) {
        note_problem(job, Problem::entries_uncounted,
                     std::string(path) + " (" + std::to_string(layout.counted) + " counted, " +
                         std::to_string(walk.found()) + " held)");
    }
    return JobResult{true, path};
}

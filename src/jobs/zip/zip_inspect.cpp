// Listing and testing a ZIP archive without writing anything: its central
// directory read as the extraction reads it, every entry's data decoded into
// nothing and checked against its CRC-32 and sizes. See zip_inspect.h.
#include "jobs/zip/zip_inspect.h"

#include <string>

#include "jobs/frame/job_paths.h"
#include "jobs/frame/job_words.h"
#include "jobs/zip/zip_entry_data.h"
#include "jobs/zip/zip_reader.h"
#include "io/banned.h"

namespace {

// An entry as a listing shows it and an extraction would name it; a link's
// target is added by the caller.
ListedEntry listed_zip_entry(const ZipEntry& entry, const ZipEntryView& view) {
    ListedEntry listed;
    if (view.relative.empty()) {
        if (view.type != ZipEntryType::folder) listed.name = view.name.empty() ? entry.name.c_str() : view.name;
        listed.skipped = true;  // "./" is the destination itself, and goes unlisted
        return listed;
    }
    listed.name = view.relative;
    for (char& c : listed.name) {
        if (c == '\\') c = '/';
    }
    if (view.type == ZipEntryType::folder) {
        listed.name += '/';
    } else if (view.type == ZipEntryType::file) {
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

// Why data that decoded to its end is not what the directory gives.
std::string mismatch_reason(const ZipEntry& entry, const DecodedData& decoded) {
    if (decoded.longer) return "its data holds more than the " + std::to_string(entry.uncompressed) + " bytes its header gives";
    if (!decoded.crc_ok) return "CRC-32 mismatch";
    return "its data matches its CRC-32 but holds " + std::to_string(decoded.size) + " bytes, not the " +
           std::to_string(entry.uncompressed) + " its header gives";
}

// Tests one file or link entry's data: by the rules an extraction judges
// it by, then its CRC-32 and its size. Notes what is wrong with it.
void test_zip_entry(ArchiveJob& job, ZipDataReader& data, const ZipEntry& entry, const std::string& name) {
    EntryPlace place;
    ZipRefusal refusal;
    if (!judge_zip_entry(data, entry, place, refusal)) {
        note_problem(job, refusal.kind, refused_name(name, refusal, true), refusal.detail);
        return;
    }
    const DecodedData decoded = data.decode(&job, entry, place, nullptr);
    switch (decoded.end) {
    case DataEnd::whole: break;
    case DataEnd::mismatch: note_problem(job, Problem::damaged, name + " (" + mismatch_reason(entry, decoded) + ")"); break;
    case DataEnd::cut_short: note_problem(job, Problem::cut_short, name + " (its data is damaged or cut short)"); break;
    case DataEnd::cancelled:
    case DataEnd::not_decoded: break;
    }
}

// A link's listed name, "NAME -> TARGET", its target read from its data
// ("?" when it cannot be read).
void add_link_target(ZipDataReader& data, const ZipEntry& entry, ListedEntry& listed) {
    EntryPlace place;
    ZipRefusal refusal;
    std::string target;
    if (judge_zip_entry(data, entry, place, refusal)) data.decode(nullptr, entry, place, nullptr, &target, LINK_TARGET_LIMIT);
    listed.name += " -> " + (target.empty() ? std::string("?") : link_target(target));
}

}  // namespace

ListResult list_zip(const char* path, const ArchiveNames&, const ListVisit& visit) {
    ArchiveFile file(path);
    ZipLayout layout;
    if (!file.is_open() || !find_zip_layout(file, layout)) return ListResult{ListEnd::unreadable};
    DirectoryWalk walk(file, layout);
    ZipDataReader data(file, layout);
    if (!walk.allocate() || !data.allocate()) return ListResult{ListEnd::too_large};
    ZipEntry entry;
    while (walk.next(entry)) {
        const ZipEntryView view = view_zip_entry(entry);
        ListedEntry listed = listed_zip_entry(entry, view);
        if (view.type == ZipEntryType::link && !listed.skipped) add_link_target(data, entry, listed);
        if (!listed.name.empty()) visit(listed);
    }
    return ListResult{walk.whole() ? ListEnd::whole : ListEnd::broken};
}

JobResult test_zip_job(ArchiveJob& job, const ArchiveNames&) {
    const char* path = job.job_inputs.c_str();
    ArchiveFile file(path);
    ZipLayout layout;
    if (!file.is_open() || !find_zip_layout(file, layout)) {
        note_problem(job, Problem::unreadable_archive, path);
        return JobResult{};
    }
    DirectoryWalk walk(file, layout);
    ZipDataReader data(file, layout);
    if (!walk.allocate() || !data.allocate()) {
        note_memory_needed(job, path, 0);
        return JobResult{};
    }
    ZipEntry entry;
    while (!cancel_requested(job) && walk.next(entry)) {
        const uint64_t total = layout.counted > walk.found() ? layout.counted : walk.found();
        job.overall_percent.store(counted_percent(static_cast<int64_t>(walk.found()), static_cast<int64_t>(total)),
                                  std::memory_order_relaxed);
        const ZipEntryView view = view_zip_entry(entry);
        const ListedEntry listed = listed_zip_entry(entry, view);
        if (listed.skipped && !listed.name.empty()) note_problem(job, Problem::unsafe_name, listed.name);
        if (!listed.skipped && view.type != ZipEntryType::folder) test_zip_entry(job, data, entry, listed.name);
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

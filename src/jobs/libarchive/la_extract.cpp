// Unpacking the entries of an archive libarchive reads; see la_extract.h.
#include "jobs/libarchive/la_extract.h"

#include <archive.h>
#include <archive_entry.h>

#include <string>
#include <vector>

#include "io/file_reader.h"
#include "io/file_writer.h"
#include "jobs/frame/job_paths.h"
#include "jobs/libarchive/la_entries.h"
#include "io/banned.h"

namespace {

// Writes one regular file entry below the destination.
void extract_file(Extraction& extraction, LaWalk& walk, archive_entry* entry, const std::string& relative) {
    ArchiveJob& job = extraction.job;
    ExtractedFile file(extraction, relative);
    if (!file.is_open()) return;
    std::string detail;
    const DataEnd end = walk.read_data(job, entry, &file.writer(), &detail);
    file.finish(end);
    if (end == DataEnd::not_decoded) note_problem(job, Problem::unknown_method, relative, detail);
    job.items_done.fetch_add(1, std::memory_order_relaxed);
}

// A hard link becomes a copy of the file it links to, which this
// extraction wrote from an earlier entry.
void extract_hard_link(Extraction& extraction, const std::string& relative, const char* link_name) {
    ArchiveJob& job = extraction.job;
    const std::string linked = safe_entry_path(link_name);
    const std::string* source = linked.empty() ? nullptr : extraction.written.placed_for(linked);
    if (!source) {
        note_problem(job, Problem::link_target_missing, relative + " -> " + link_name);
        job.items_done.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    const std::string source_path = extraction.destination + *source;
    FileReader in(source_path.c_str());
    ExtractedFile file(extraction, relative);
    if (!file.is_open()) return;
    const int64_t size = static_cast<int64_t>(in.size());
    int64_t so_far = 0;
    char block[DATA_PIECE];
    DataEnd end = in.is_open() ? DataEnd::whole : DataEnd::cut_short;
    while (end == DataEnd::whole && so_far < size) {
        const size_t n = in.read(block, sizeof(block));
        if (n == 0) break;
        file.writer().write(block, n);
        so_far += static_cast<int64_t>(n);
        job.item_percent.store(counted_percent(so_far, size), std::memory_order_relaxed);
        if (job_stopping(job)) end = DataEnd::cancelled;
    }
    if (end == DataEnd::whole && (in.failed() || so_far != size)) end = DataEnd::cut_short;
    file.finish(end);
    job.items_done.fetch_add(1, std::memory_order_relaxed);
}

// What is left out, said by kind with its name.
void note_left_out(ArchiveJob& job, archive_entry* entry, const EntryView& view) {
    if (view.item == EntryItem::symlink) {
        note_problem(job, Problem::symlink_skipped, view.relative + " -> " + view.link);
        return;
    }
    const auto type = archive_entry_filetype(entry);
    const char* kind = type == AE_IFCHR    ? "character device"
                       : type == AE_IFBLK  ? "block device"
                       : type == AE_IFIFO  ? "fifo"
                       : type == AE_IFSOCK ? "socket"
                                           : "entry of an unknown kind";
    note_problem(job, Problem::special_skipped, view.relative + " (" + kind + ")");
}


}  // namespace

int extract_la_entries(Extraction& extraction, LaWalk& walk, archive_entry* entry, NameRule names) {
    ArchiveJob& job = extraction.job;
    std::vector<HeaderTrouble> warnings;
    std::vector<HeaderTrouble> unusable;
    int header = ARCHIVE_OK;
    for (archive_entry* current = entry; !job_stopping(job); current = nullptr) {
        if (!current && (header = walk.next(&current, &warnings, &unusable)) != ARCHIVE_OK) break;
        note_header_trouble(job, warnings, unusable);
        const EntryView view = view_la_entry(current, names);
        walk.show_progress(job);
        if (view.relative.empty()) {
            // A name that would leave the destination is passed over. A
            // folder entry with nothing left ("./", as tar -C dir . writes
            // first) is the destination itself: no loss. A file is.
            if (view.item != EntryItem::folder) note_problem(job, Problem::unsafe_name, view.name);
            continue;
        }
        if (view.encrypted) {
            // No password is ever asked for: the data would be ciphertext.
            note_problem(job, Problem::encrypted, view.relative);
            walk.left_unread();
            continue;
        }
        switch (view.item) {
        case EntryItem::hard_link: extract_hard_link(extraction, view.relative, view.link.c_str()); break;
        case EntryItem::file: extract_file(extraction, walk, current, view.relative); break;
        case EntryItem::folder:
            if (!extraction.make_folders(view.relative)) note_problem(job, Problem::not_written, view.relative + "\\");
            break;
        case EntryItem::symlink:
        case EntryItem::special: note_left_out(job, current, view); break;
        }
    }
    note_header_trouble(job, warnings, unusable);
    return header;
}

void note_header_trouble(ArchiveJob& job, std::vector<HeaderTrouble>& warnings, std::vector<HeaderTrouble>& unusable) {
    for (const HeaderTrouble& trouble : warnings) note_problem(job, Problem::entry_warning, trouble.name + ": " + trouble.why);
    for (const HeaderTrouble& trouble : unusable) note_problem(job, Problem::entry_unreadable, trouble.name + ": " + trouble.why);
    warnings.clear();
    unusable.clear();
}

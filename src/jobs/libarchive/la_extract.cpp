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

// Publishes the upper bar: the archive read so far, or the entries done.
void show_progress(ArchiveJob& job, archive* reader, const EntryProgress& progress) {
    const int32_t overall =
        progress.archive_bytes > 0
            ? counted_percent(archive_filter_bytes(reader, -1), static_cast<int64_t>(progress.archive_bytes))
            : counted_percent(job.items_done.load() + 1, job.items_total.load());
    job.overall_percent.store(overall, std::memory_order_relaxed);
}

// Copies the data of the current entry into file. A sparse entry's holes
// are skipped, not written, so they stay holes on the disk.
// A warning as the data ends (a 7z or RAR entry whose CRC does not match)
// makes the entry damaged.
DataEnd copy_entry_data(ArchiveJob& job, archive* reader, archive_entry* entry, ExtractedFile& file,
                        const EntryProgress& progress) {
    FileWriter& writer = file.writer();
    const int64_t size = archive_entry_size(entry);
    int64_t so_far = 0;
    bool warned = false;
    for (;;) {
        const void* block = nullptr;
        size_t length = 0;
        la_int64_t offset = 0;
        const int status = archive_read_data_block(reader, &block, &length, &offset);
        if (status < ARCHIVE_WARN) return DataEnd::cut_short;
        warned = warned || status == ARCHIVE_WARN;
        if (offset > so_far) {
            // The hole of a sparse entry, and at the end the hole that ends it.
            writer.mark_sparse();
            writer.skip(static_cast<uint64_t>(offset - so_far));
            so_far = offset;
        }
        if (status == ARCHIVE_EOF) break;
        if (offset < so_far) return DataEnd::cut_short;  // no reader goes back
        if (length > 0) {
            writer.write(block, length);
            so_far += static_cast<int64_t>(length);
        }
        show_progress(job, reader, progress);
        job.item_percent.store(counted_percent(so_far, size), std::memory_order_relaxed);
        if (job_stopping(job)) return DataEnd::cancelled;
        if (writer.failed()) return DataEnd::cut_short;  // finish reports the disk's reason
    }
    if (archive_entry_size_is_set(entry) && so_far < size) {
        // A sparse entry whose map ends before its size: the rest is a hole.
        if (archive_entry_sparse_count(entry) == 0) return DataEnd::cut_short;
        writer.mark_sparse();
        writer.skip(static_cast<uint64_t>(size - so_far));
        so_far = size;
    }
    if (so_far != size && archive_entry_size_is_set(entry)) return DataEnd::cut_short;
    return warned ? DataEnd::mismatch : DataEnd::whole;
}

// Writes one regular file entry below the destination.
void extract_file(Extraction& extraction, archive* reader, archive_entry* entry, const std::string& relative,
                  const EntryProgress& progress) {
    ArchiveJob& job = extraction.job;
    ExtractedFile file(extraction, relative);
    if (!file.is_open()) return;
    file.finish(copy_entry_data(job, reader, entry, file, progress));
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

int extract_la_entries(Extraction& extraction, archive* reader, archive_entry* entry, NameRule names,
                       const EntryProgress& progress) {
    ArchiveJob& job = extraction.job;
    std::vector<HeaderTrouble> warnings;
    std::vector<HeaderTrouble> unusable;
    int header = ARCHIVE_OK;
    for (archive_entry* current = entry; !job_stopping(job); current = nullptr) {
        if (!current && (header = next_la_header(reader, &current, &warnings, &unusable)) != ARCHIVE_OK) break;
        note_header_trouble(job, warnings, unusable);
        const EntryView view = view_la_entry(current, names);
        show_progress(job, reader, progress);
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
            continue;
        }
        switch (view.item) {
        case EntryItem::hard_link: extract_hard_link(extraction, view.relative, view.link.c_str()); break;
        case EntryItem::file: extract_file(extraction, reader, current, view.relative, progress); break;
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

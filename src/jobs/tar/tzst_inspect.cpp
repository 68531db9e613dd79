// Listing and testing a Zstandard tarball without writing anything: the
// stream decoded as it is read, its entries read as an extraction reads
// them. See tzst_jobs.h.
#include "jobs/tar/tzst_inspect.h"

#include <archive.h>
#include <archive_entry.h>

#include <vector>

#include "jobs/frame/job_words.h"
#include "jobs/libarchive/la_entries.h"
#include "jobs/libarchive/la_extract.h"
#include "jobs/tar/tzst_jobs.h"
#include "jobs/zstd/zstd_stream.h"
#include "io/banned.h"

namespace {

la_ssize_t read_stream(archive*, void* source, const void** buffer) {
    return static_cast<la_ssize_t>(static_cast<ZstdSource*>(source)->read(buffer));
}

// Opens reader on the stream source decodes; false when libarchive refuses it.
bool open_tar_reader_on(archive* reader, ZstdSource& source) {
    return archive_read_open(reader, &source, nullptr, read_stream, nullptr) == ARCHIVE_OK;
}

}  // namespace

ListResult list_zstd_tarball(const char* path, const ArchiveNames&, const ListVisit& visit) {
    ZstdFile zstd(path);
    if (!zstd.ok()) return ListResult{zstd.no_memory() ? ListEnd::too_large : ListEnd::unreadable};
    ZstdSource& source = zstd.source();
    archive* reader = new_la_reader(ArchiveKind::tarball);
    if (!reader || !open_tar_reader_on(reader, source)) {
        free_la_reader(reader);
        return ListResult{reader ? list_end_of(source, false) : ListEnd::too_large};
    }
    archive_entry* entry = nullptr;
    int header;
    bool any_entry = false;
    while ((header = next_la_header(reader, &entry, nullptr, nullptr)) == ARCHIVE_OK) {
        any_entry = true;
        const ListedEntry listed = listed_la_entry(view_la_entry(entry, NameRule::header_bytes));
        if (!listed.name.empty()) visit(listed);
        if (archive_read_data_skip(reader) != ARCHIVE_OK) {
            header = ARCHIVE_FATAL;
            break;
        }
    }
    free_la_reader(reader);
    ListResult result{header == ARCHIVE_EOF ? ListEnd::whole : list_end_of(source, any_entry)};
    result.memory_needed = source.memory_needed();
    result.dictionary_id = source.dictionary_id();
    return result;
}

// Every header and every entry's data, read through the decoder, whose
// frames' checksums are checked to the end of the stream.
JobResult test_zstd_tarball(ArchiveJob& job, const ArchiveNames&) {
    const char* path = job.job_inputs.c_str();
    if (!open_zstd_test_stage(job, path)) return JobResult{};
    ZstdStageRelease release(job);
    ZstdSource source = zstd_stage_source(job);
    FileReader& file = *job.stage_reader;
    archive* reader = new_la_reader(ArchiveKind::tarball);
    bool any_entry = false;
    int header = ARCHIVE_FATAL;
    std::vector<HeaderTrouble> warnings;
    std::vector<HeaderTrouble> unusable;
    if (reader && open_tar_reader_on(reader, source)) {
        archive_entry* entry = nullptr;
        while (!cancel_requested(job) && (header = next_la_header(reader, &entry, &warnings, &unusable)) == ARCHIVE_OK) {
            note_header_trouble(job, warnings, unusable);
            any_entry = true;
            const std::string name = listed_la_entry(view_la_entry(entry, NameRule::header_bytes)).name;
            const int64_t size = archive_entry_size(entry);
            int64_t so_far = 0;
            const void* block = nullptr;
            size_t length = 0;
            la_int64_t offset = 0;
            int status;
            while ((status = archive_read_data_block(reader, &block, &length, &offset)) == ARCHIVE_OK) {
                so_far = offset + static_cast<int64_t>(length);
                job.overall_percent.store(counted_percent(static_cast<int64_t>(file.position()),
                                                          static_cast<int64_t>(file.size())),
                                          std::memory_order_relaxed);
                job.item_percent.store(counted_percent(so_far, size), std::memory_order_relaxed);
                if (cancel_requested(job)) break;
            }
            if (cancel_requested(job)) break;
            job.items_done.fetch_add(1, std::memory_order_relaxed);
            if (status < ARCHIVE_WARN) {
                const bool broken = source.state() == ZstdSource::State::damaged;
                note_problem(job, Problem::cut_short, name + (broken ? " (its data does not decode)" : " (cut short)"));
                header = ARCHIVE_FATAL;
                break;
            }
        }
    }
    note_header_trouble(job, warnings, unusable);
    // What follows the tarball's end is decoded too, so that a frame's
    // checksum at the end of the stream is checked.
    const void* rest = nullptr;
    while (header == ARCHIVE_EOF && !cancel_requested(job) && source.read(&rest) > 0) {
    }
    free_la_reader(reader);
    if (cancel_requested(job)) return JobResult{};
    if (note_stream_refusal(job, path, source)) return JobResult{};
    if (!any_entry && header != ARCHIVE_EOF) {
        note_problem(job, Problem::unreadable_archive, path);
        return JobResult{};
    }
    const bool whole = header == ARCHIVE_EOF && source.state() == ZstdSource::State::ended;
    if (!whole) {
        const std::string entries = std::to_string(job.items_done.load());
        note_problem(job, Problem::archive_damaged,
                     std::string(path) + (header == ARCHIVE_EOF ? " (damaged after its last entry, or its checksum does not match)"
                                                               : " (it breaks off after " + entries + " entries)"));
    }
    return JobResult{whole, path};
}

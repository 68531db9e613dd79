// Listing and testing archives without writing anything; see
// archive_inspect.h.
#include "jobs/archive_inspect.h"

#include <archive.h>
#include <archive_entry.h>
#include <zstd.h>

#include <vector>

#include "jobs/archive_names.h"
#include "jobs/job_paths.h"
#include "jobs/tar_common.h"
#include "jobs/zstd_stream.h"
#include "io/banned.h"

namespace {

constexpr size_t STREAM_IN = 131075;   // ZSTD_DStreamInSize()
constexpr size_t STREAM_OUT = 131072;  // ZSTD_DStreamOutSize()

// An archive's file with a decoder and buffers of its own, for a listing.
struct ZstdFile {
    FileReader file;
    ZSTD_DCtx_s* dctx;
    std::vector<char> in;
    std::vector<char> out;
    ZstdSource source;

    explicit ZstdFile(const char* path)
        : file(path),
          dctx(create_zstd_decoder()),
          in(STREAM_IN),
          out(STREAM_OUT),
          source(file, dctx, in.data(), in.size(), out.data(), out.size()) {}
    ~ZstdFile() { ZSTD_freeDCtx(reinterpret_cast<ZSTD_DCtx*>(dctx)); }
    ZstdFile(const ZstdFile&) = delete;
    ZstdFile& operator=(const ZstdFile&) = delete;
    bool ok() const { return file.is_open() && dctx; }
};

archive* new_tar_reader() {
    archive* reader = archive_read_new();
    if (!reader) return nullptr;
    archive_read_support_format_tar(reader);
    archive_read_support_format_gnutar(reader);
    return reader;
}

void free_reader(archive* reader) {
    archive_read_close(reader);
    archive_read_free(reader);
}

// The name an entry is extracted under, with '/' between components.
std::string with_slashes(std::string relative) {
    for (char& c : relative) {
        if (c == '\\') c = '/';
    }
    return relative;
}

// A tarball entry as a listing shows it.
ListedEntry listed_tar_entry(archive_entry* entry) {
    ListedEntry listed;
    const char* raw = archive_entry_pathname(entry);
    const std::string relative = raw ? safe_entry_path(raw) : std::string();
    const auto type = archive_entry_filetype(entry);
    if (relative.empty()) {
        // A folder with nothing left ("./") is the destination itself.
        if (type != AE_IFDIR) listed.name = raw ? raw : "";
        listed.skipped = true;
        return listed;
    }
    listed.name = with_slashes(relative);
    const char* hard = archive_entry_hardlink(entry);
    const char* soft = type == AE_IFLNK ? archive_entry_symlink(entry) : nullptr;
    if (type == AE_IFDIR) {
        listed.name += '/';
    } else if (hard || soft) {
        listed.name += std::string(" -> ") + (hard ? hard : soft);
    } else if (type == AE_IFREG && archive_entry_size(entry) > 0) {
        listed.size = static_cast<uint64_t>(archive_entry_size(entry));
    }
    return listed;
}

// The next header a tarball's extraction would use: a warning is passed
// over, as is a header the reader cannot use (named in *unusable when
// given). ARCHIVE_OK, ARCHIVE_EOF or ARCHIVE_FATAL.
int next_usable_header(archive* reader, archive_entry** entry, std::vector<std::string>* unusable) {
    for (;;) {
        const int header = archive_read_next_header(reader, entry);
        if (header == ARCHIVE_OK || header == ARCHIVE_EOF) return header;
        if (header == ARCHIVE_WARN) return ARCHIVE_OK;
        if (header != ARCHIVE_FAILED) return ARCHIVE_FATAL;
        if (unusable) {
            const char* name = *entry ? archive_entry_pathname(*entry) : nullptr;
            unusable->push_back(name ? name : "");
        }
    }
}

ListEnd end_of_stream(const ZstdSource& source, bool any_entry) {
    if (source.state() == ZstdSource::State::too_large) return ListEnd::too_large;
    if (source.state() == ZstdSource::State::needs_dictionary) return ListEnd::needs_dictionary;
    return any_entry ? ListEnd::broken : ListEnd::unreadable;
}

ListResult list_zstd_tarball(const char* path, const std::function<void(const ListedEntry&)>& visit) {
    ZstdFile zstd(path);
    if (!zstd.ok()) return ListResult{ListEnd::unreadable};
    archive* reader = new_tar_reader();
    if (!reader || !zstd.source.open_archive(reader)) {
        if (reader) free_reader(reader);
        return ListResult{end_of_stream(zstd.source, false)};
    }
    archive_entry* entry = nullptr;
    int header;
    bool any_entry = false;
    while ((header = next_usable_header(reader, &entry, nullptr)) == ARCHIVE_OK) {
        any_entry = true;
        const ListedEntry listed = listed_tar_entry(entry);
        if (!listed.name.empty()) visit(listed);
        if (archive_read_data_skip(reader) != ARCHIVE_OK) {
            header = ARCHIVE_FATAL;
            break;
        }
    }
    free_reader(reader);
    ListResult result{header == ARCHIVE_EOF ? ListEnd::whole : end_of_stream(zstd.source, any_entry)};
    result.memory_needed = zstd.source.memory_needed();
    result.dictionary_id = zstd.source.dictionary_id();
    return result;
}

ListResult list_zstd_file(const char* path, const std::function<void(const ListedEntry&)>& visit) {
    ZstdFile zstd(path);
    if (!zstd.ok()) return ListResult{ListEnd::unreadable};
    uint64_t size = 0;
    const void* piece = nullptr;
    while (const size_t n = zstd.source.read(&piece)) size += n;
    ListResult result;
    result.memory_needed = zstd.source.memory_needed();
    result.dictionary_id = zstd.source.dictionary_id();
    if (zstd.source.state() != ZstdSource::State::ended) {
        result.end = end_of_stream(zstd.source, false);
        return result;
    }
    ListedEntry listed;
    listed.name = name_of(archive_names(path).stem.c_str());
    listed.size = size;
    visit(listed);
    return result;
}

// Notes a stream refused for what this machine does not have (memory, a
// dictionary); false for any other state.
bool refused_stream(ArchiveJob& job, const char* path, ZstdSource::State state, uint64_t memory_needed,
                    uint32_t dictionary_id) {
    if (state == ZstdSource::State::too_large) {
        note_memory_needed(job, path, memory_needed);
        return true;
    }
    if (state == ZstdSource::State::needs_dictionary) {
        note_dictionary_needed(job, path, dictionary_id);
        return true;
    }
    return false;
}

// Test of a Zstandard tarball: every header and every entry's data, read
// through the decoder, whose frames' checksums are checked to the end of
// the stream.
JobResult test_zstd_tarball(ArchiveJob& job, const char* path) {
    DWORD error = NO_ERROR;
    if (!open_zstd_stage(job, path, nullptr, &error)) {
        note_problem(job, error == NO_ERROR ? Problem::unreadable_archive : Problem::needs_memory, path);
        return JobResult{};
    }
    ZstdSource source = zstd_stage_source(job);
    FileReader& file = *job.stage_reader;
    archive* reader = new_tar_reader();
    bool any_entry = false;
    int header = ARCHIVE_FATAL;
    std::vector<std::string> unusable;
    if (reader && source.open_archive(reader)) {
        archive_entry* entry = nullptr;
        while (!cancel_requested(job) && (header = next_usable_header(reader, &entry, &unusable)) == ARCHIVE_OK) {
            any_entry = true;
            const std::string name = listed_tar_entry(entry).name;
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
    for (const std::string& name : unusable) note_problem(job, Problem::entry_unreadable, name + " (header could not be read)");
    // What follows the tarball's end is decoded too, so that a frame's
    // checksum at the end of the stream is checked.
    const void* rest = nullptr;
    while (header == ARCHIVE_EOF && !cancel_requested(job) && source.read(&rest) > 0) {
    }
    if (reader) free_reader(reader);
    const ZstdSource::State state = source.state();
    const uint64_t memory_needed = source.memory_needed();
    const uint32_t dictionary_id = source.dictionary_id();
    release_zstd_stage(job);
    if (cancel_requested(job)) return JobResult{};
    if (refused_stream(job, path, state, memory_needed, dictionary_id)) return JobResult{};
    if (!any_entry && header != ARCHIVE_EOF) {
        note_problem(job, Problem::unreadable_archive, path);
        return JobResult{};
    }
    const bool whole = header == ARCHIVE_EOF && state == ZstdSource::State::ended;
    if (!whole) {
        const std::string entries = std::to_string(job.items_done.load());
        note_problem(job, Problem::archive_damaged,
                     std::string(path) + (header == ARCHIVE_EOF ? " (damaged after its last entry, or its checksum does not match)"
                                                               : " (it breaks off after " + entries + " entries)"));
    }
    return JobResult{whole, path};
}

// Test of a single compressed file: its stream to the end.
JobResult test_zstd_file(ArchiveJob& job, const char* path) {
    DWORD error = NO_ERROR;
    if (!open_zstd_stage(job, path, nullptr, &error)) {
        note_problem(job, Problem::unreadable_archive, path);
        return JobResult{};
    }
    ZstdSource source = zstd_stage_source(job);
    FileReader& file = *job.stage_reader;
    const void* piece = nullptr;
    while (!cancel_requested(job) && source.read(&piece) > 0) {
        job.item_percent.store(counted_percent(static_cast<int64_t>(file.position()), static_cast<int64_t>(file.size())),
                               std::memory_order_relaxed);
    }
    const ZstdSource::State state = source.state();
    const uint64_t memory_needed = source.memory_needed();
    const uint32_t dictionary_id = source.dictionary_id();
    release_zstd_stage(job);
    if (cancel_requested(job)) return JobResult{};
    if (refused_stream(job, path, state, memory_needed, dictionary_id)) return JobResult{};
    job.items_done.store(1, std::memory_order_relaxed);
    if (state != ZstdSource::State::ended) {
        note_problem(job, Problem::cut_short,
                     name_of(archive_names(path).stem.c_str()) +
                         (state == ZstdSource::State::cut_short ? " (cut short)" : " (its data does not decode)"));
        return JobResult{};
    }
    return JobResult{true, path};
}

}  // namespace

ListResult list_archive(const char* path, const std::function<void(const ListedEntry&)>& visit) {
    switch (archive_names(path).kind) {
    case ArchiveKind::zstd_tarball: return list_zstd_tarball(path, visit);
    case ArchiveKind::zstd_file: return list_zstd_file(path, visit);
    case ArchiveKind::zip: return list_zip(path, visit);
    case ArchiveKind::none: break;
    }
    return ListResult{ListEnd::unknown_kind};
}

JobResult test_archive_job(ArchiveJob& job) {
    set_phase(job, Phase::testing);
    const char* path = job.job_inputs.c_str();
    job.archive_path.set(path);
    job.overall_percent.store(0, std::memory_order_relaxed);
    switch (archive_names(path).kind) {
    case ArchiveKind::zstd_tarball: return test_zstd_tarball(job, path);
    case ArchiveKind::zstd_file: return test_zstd_file(job, path);
    case ArchiveKind::zip: return test_zip_job(job, path);
    case ArchiveKind::none: break;
    }
    note_problem(job, Problem::unknown_archive_kind, path);
    return JobResult{};
}

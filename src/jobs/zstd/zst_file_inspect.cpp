// Listing and testing a single Zstandard-compressed file: one entry, the
// file it unpacks to, whose size is counted by decoding it. See
// zst_file_jobs.h.
#include "jobs/zstd/zst_file_inspect.h"

#include "jobs/frame/job_paths.h"
#include "jobs/frame/job_words.h"
#include "jobs/zstd/zst_file_jobs.h"
#include "jobs/zstd/zstd_stream.h"
#include "io/banned.h"

ListResult list_zstd_file(const char* path, const ArchiveNames& names, const ListVisit& visit) {
    ZstdFile zstd(path);
    if (!zstd.ok()) return ListResult{zstd.no_memory() ? ListEnd::too_large : ListEnd::unreadable};
    ZstdSource& source = zstd.source();
    uint64_t size = 0;
    const void* piece = nullptr;
    while (const size_t n = source.read(&piece)) size += n;
    ListResult result;
    result.memory_needed = source.memory_needed();
    result.dictionary_id = source.dictionary_id();
    if (source.state() != ZstdSource::State::ended) {
        result.end = list_end_of(source, false);
        if (result.end != ListEnd::unreadable) return result;
        // The one entry is the stream: it is listed to where it breaks off,
        // as its test and its unpacking name it damaged or cut short there.
        result.end = ListEnd::broken;
    }
    ListedEntry listed;
    listed.name = name_of(names.stem.c_str());
    listed.size = size;
    visit(listed);
    return result;
}

// The stream to its end.
JobResult test_zstd_file(ArchiveJob& job, const ArchiveNames& names) {
    const char* path = job.job_inputs.c_str();
    if (!open_zstd_test_stage(job, path)) return JobResult{};
    ZstdStageRelease release(job);
    ZstdSource source = zstd_stage_source(job);
    FileReader& file = *job.stage_reader;
    const void* piece = nullptr;
    while (!cancel_requested(job) && source.read(&piece) > 0) {
        job.item_percent.store(counted_percent(static_cast<int64_t>(file.position()), static_cast<int64_t>(file.size())),
                               std::memory_order_relaxed);
    }
    if (cancel_requested(job)) return JobResult{};
    if (note_stream_refusal(job, path, source)) return JobResult{};
    job.items_done.store(1, std::memory_order_relaxed);
    if (source.state() != ZstdSource::State::ended) {
        note_problem(job, Problem::cut_short,
                     name_of(names.stem.c_str()) +
                         (source.state() == ZstdSource::State::cut_short ? " (cut short)" : " (its data does not decode)"));
        return JobResult{};
    }
    return JobResult{true, path};
}

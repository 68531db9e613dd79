// Extraction of a ".tzst": the Zstandard stream into a tarball beside the
// archive, then the tarball's folders and files into a folder named after
// the archive. Worker thread, with job_lock held.
#include <archive.h>
#include <archive_entry.h>
#include <zstd.h>

#include "io/file_reader.h"
#include "io/file_writer.h"
#include "io/platform.h"
#include "jobs/job_paths.h"
#include "jobs/tar_common.h"
#include "io/banned.h"

namespace {

constexpr size_t STAGE_IN = 131075;   // ZSTD_DStreamInSize()
constexpr size_t STAGE_OUT = 131072;  // ZSTD_DStreamOutSize()
constexpr size_t TAR_BLOCK = 10240;
constexpr size_t COPY_BLOCK = 4096;

ZSTD_DCtx* dctx_of(ArchiveJob& job) { return reinterpret_cast<ZSTD_DCtx*>(job.zstd_dctx); }

void release_stage(ArchiveJob& job) {
    delete job.stage_reader;
    delete job.stage_writer;
    job.stage_reader = nullptr;
    job.stage_writer = nullptr;
    ZSTD_freeDCtx(dctx_of(job));
    job.zstd_dctx = nullptr;
}

// Phase 1. Returns false when the tarball could not be made at all; sets
// *whole when the stream held complete frames and was written without fault.
bool decompress_to_tarball(ArchiveJob& job, bool* whole) {
    *whole = false;
    set_phase(job, Phase::decompressing_zstd);
    job.stage_in.resize(STAGE_IN);
    job.stage_out.resize(STAGE_OUT);
    job.zstd_dctx = reinterpret_cast<ZSTD_DCtx_s*>(ZSTD_createDCtx());
    if (!job.zstd_dctx) return false;
    job.stage_reader = new FileReader(job.archive_path.c_str());
    if (!job.stage_reader->is_open()) {
        release_stage(job);
        return false;
    }
    job.tar_path = replace_extension(job.archive_path.c_str(), ".tar");
    choose_tarball_file(job);
    job.stage_writer = new FileWriter(job.tar_file.c_str());
    if (!job.stage_writer->is_open()) {
        release_stage(job);
        return false;
    }
    const uint64_t size = job.stage_reader->size();
    bool failed = false;
    size_t frame_state = 1;  // 0 once the last frame seen was complete
    for (;;) {
        const size_t n = job.stage_reader->read(job.stage_in.storage, STAGE_IN);
        job.overall_percent.store(100, std::memory_order_relaxed);
        job.item_percent.store(
            counted_percent(static_cast<int64_t>(job.stage_reader->position()), static_cast<int64_t>(size)),
            std::memory_order_relaxed);
        if (n == 0) break;
        ZSTD_inBuffer input = {job.stage_in.storage, n, 0};
        while (!cancel_requested(job)) {
            ZSTD_outBuffer output = {job.stage_out.storage, STAGE_OUT, 0};
            const size_t r = ZSTD_decompressStream(dctx_of(job), &output, &input);
            if (ZSTD_isError(r)) {
                failed = true;
                break;
            }
            frame_state = r;
            job.stage_writer->write(job.stage_out.storage, output.pos);
            if (input.pos == n && output.pos < STAGE_OUT) break;
        }
        if (cancel_requested(job)) break;
    }
    const bool written = job.stage_writer->close();
    *whole = !failed && frame_state == 0 && written && !job.stage_reader->failed() && !cancel_requested(job);
    release_stage(job);
    if (*whole) name_kept_tarball(job);
    return true;
}

archive* open_tarball(const std::wstring& path) {
    archive* reader = archive_read_new();
    if (!reader) return nullptr;
    archive_read_support_format_tar(reader);
    archive_read_support_format_gnutar(reader);
    if (archive_read_open_filename_w(reader, path.c_str(), TAR_BLOCK) != ARCHIVE_OK) {
        archive_read_close(reader);
        archive_read_free(reader);
        return nullptr;
    }
    return reader;
}

// Writes one regular file entry below destination, or under a free name
// when an earlier file of this extraction has its name but for case. A file
// cut short by damaged data, a full disk or a cancel is taken away, so that
// it cannot pass for a whole one. What went wrong is noted.
void extract_file(ArchiveJob& job, archive* reader, archive_entry* entry, const std::string& destination,
                  const std::string& relative, WrittenFiles& written) {
    const std::string placed = written.place(destination, relative);
    const size_t slash = placed.rfind('\\');
    if (slash != std::string::npos && !create_folders_below(destination, placed.substr(0, slash))) {
        note_problem(job, Problem::not_written, placed);
        return;
    }
    const std::string target = destination + placed;
    FileWriter writer(target.c_str());
    if (!writer.is_open()) {
        note_problem(job, Problem::not_written, placed);
        return;
    }
    if (placed != relative) note_problem(job, Problem::renamed, relative + ", saved as " + placed);
    const int64_t size = archive_entry_size(entry);
    char block[COPY_BLOCK];
    int64_t so_far = 0;
    la_ssize_t n;
    do {
        n = archive_read_data(reader, block, sizeof(block));
        if (n > 0) {
            writer.write(block, static_cast<size_t>(n));
            so_far += n;
        }
        job.overall_percent.store(counted_percent(job.items_done.load() + 1, job.items_total.load()),
                                  std::memory_order_relaxed);
        job.item_percent.store(counted_percent(so_far, size), std::memory_order_relaxed);
    } while (n > 0 && !cancel_requested(job));
    const bool closed = writer.close();
    job.items_done.fetch_add(1, std::memory_order_relaxed);
    if (n == 0 && closed && so_far == size) return;
    delete_file(target.c_str());
    if (n > 0) return;  // cut short by a cancel: gone, and not a fault of the archive
    note_problem(job, closed ? Problem::cut_short : Problem::not_written, placed);
}

// How phase 2 went: whether the tarball opened as a tarball, and whether it
// was read to its end.
struct TarballResult {
    bool opened = false;
    bool read_to_end = false;
};

// Phase 2: the tarball's folders and files into the destination folder.
TarballResult extract_tarball(ArchiveJob& job) {
    TarballResult result;
    const String destination_folder = replace_extension(job.tar_path.c_str(), "");
    const std::string destination = std::string(destination_folder.c_str()) + "\\";
    set_phase(job, Phase::reading_tarball);
    clear_percentages(job);
    clear_counters(job);
    const std::wstring wide = archive_wide_path(job.tar_file.c_str());

    archive* reader = open_tarball(wide);
    if (!reader) return result;
    archive_entry* entry = nullptr;
    int header;
    bool any_entry = false;
    while ((header = archive_read_next_header(reader, &entry)) == ARCHIVE_OK) {
        any_entry = true;
        if (archive_entry_filetype(entry) == AE_IFREG) job.items_total.fetch_add(1, std::memory_order_relaxed);
        archive_read_data_skip(reader);
    }
    archive_read_close(reader);
    archive_read_free(reader);
    // libarchive opens any file and fails at its first header when it is no
    // tarball at all: that is no tarball, not an empty one.
    if (!any_entry && header != ARCHIVE_EOF) return result;

    reader = open_tarball(wide);
    if (!reader) return result;
    result.opened = true;
    if (!make_folder(destination_folder.c_str())) note_problem(job, Problem::not_written, destination);
    WrittenFiles written;
    while (!cancel_requested(job) && (header = archive_read_next_header(reader, &entry)) == ARCHIVE_OK) {
        const char* name = archive_entry_pathname(entry);
        const std::string relative = name ? safe_entry_path(name) : std::string();
        const auto type = archive_entry_filetype(entry);
        if (relative.empty()) {
            // A name that would leave the destination is passed over. A
            // folder entry with nothing left ("./", as tar -C dir . writes
            // first) is the destination itself: no loss. A file is.
            if (type == AE_IFREG) note_problem(job, Problem::unsafe_name, name ? name : "");
            continue;
        }
        if (type == AE_IFDIR) {
            if (!create_folders_below(destination, relative)) note_problem(job, Problem::not_written, relative + "\\");
        } else if (type == AE_IFREG) {
            extract_file(job, reader, entry, destination, relative, written);
        }
    }
    result.read_to_end = header == ARCHIVE_EOF;
    archive_read_close(reader);
    archive_read_free(reader);
    return result;
}

}  // namespace

JobResult decompress_tzst_job(ArchiveJob& job) {
    job.archive_path.set(job.job_inputs.c_str());

    bool stream_whole = false;
    TarballResult tarball;
    const bool decompressed = decompress_to_tarball(job, &stream_whole);
    if (!decompressed) note_problem(job, Problem::unreadable_archive, job.archive_path.c_str());
    // A cancel in the first phase ends the job: the tarball is only a part.
    // A tarball from a stream that did not end whole is only a fragment, so
    // it is never kept where it could pass for the archive's contents.
    bool tarball_stays = false;
    if (decompressed && !cancel_requested(job)) {
        tarball = extract_tarball(job);
        tarball_stays = stream_whole && job.keep_tarball;
        if (stream_whole && !tarball.opened) {
            // A whole stream that holds no tarball: the tarball stays for the
            // user, whatever the keep preference, under its own name unless
            // a file has that name.
            if (file_attributes(job.tar_path.c_str()) == INVALID_FILE_ATTRIBUTES &&
                move_file_replacing(job.tar_file.c_str(), job.tar_path.c_str())) {
                job.tar_file.set(job.tar_path.c_str());
            }
            note_problem(job, Problem::unreadable_tarball, job.tar_file.c_str());
            tarball_stays = true;
        }
        if (!cancel_requested(job) && (!stream_whole || (tarball.opened && !tarball.read_to_end))) {
            note_problem(job, Problem::archive_damaged, job.archive_path.c_str());
        }
    }
    if (decompressed && !tarball_stays) delete_file(job.tar_file.c_str());
    const String destination = replace_extension(job.archive_path.c_str(), "");
    return JobResult{tarball.opened && !cancel_requested(job), destination.c_str()};
}

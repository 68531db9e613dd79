// Unpacking, listing and testing the archives libarchive reads in one pass;
// see la_jobs.h.
//
// Invariant: the archive is read before anything is made for it: the
// destination folder only once a first header has been read, and a single
// file's output only once its stream is known to be of its kind. An archive
// whose decoding needs more memory than the machine can give is refused
// when it is opened, before any of it is decoded. Listing, testing and
// unpacking judge every entry by view_la_entry.
#include "jobs/libarchive/la_jobs.h"

#include <archive.h>
#include <archive_entry.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "io/file_writer.h"
#include "io/platform.h"
#include "jobs/frame/job_paths.h"
#include "jobs/frame/job_words.h"
#include "jobs/libarchive/la_entries.h"
#include "jobs/libarchive/la_extract.h"
#include "jobs/libarchive/la_memory.h"
#include "jobs/libarchive/la_rar_end.h"
#include "jobs/libarchive/la_source.h"
#include "jobs/libarchive/la_walk.h"
#include "jobs/writer/extract_writer.h"
#include "jobs/writer/single_output.h"
#include "io/banned.h"

namespace {

// The files to read: the archive, or every volume of its set from the first
// on, as far as they follow one another.
std::vector<std::string> volumes_of(const char* path, const ArchiveNames& names) {
    if (names.volume_digits == 0) return {path};
    std::vector<std::string> volumes;
    for (int number = 1;; ++number) {
        const std::string volume = volume_path(names, number);
        if (file_attributes(volume.c_str()) == INVALID_FILE_ATTRIBUTES) break;
        volumes.push_back(volume);
    }
    if (volumes.empty()) volumes.push_back(path);  // the first is missing: see first_volume_missing
    return volumes;
}

// One reading of an archive: its source and its reader.
class Reading {
public:
    Reading(const char* path, const ArchiveNames& names)
        : names_(names), files_(volumes_of(path, names)), source_(files_), reader_(new_la_reader(names.kind)) {}
    ~Reading() { free_la_reader(reader_); }
    Reading(const Reading&) = delete;
    Reading& operator=(const Reading&) = delete;

    // How opening it went: too_large when its decoding needs more memory
    // than this machine can give (memory_needed says how much).
    enum class Opened { yes, missing, no_memory, too_large, not_of_its_kind };
    Opened open() {
        if (!source_.exists()) return Opened::missing;
        if (!reader_) return Opened::no_memory;
        if (!source_.open(reader_)) return source_.no_memory() ? Opened::no_memory : Opened::not_of_its_kind;
        // The raw format takes any bytes: only the filter tells a .gz.
        if (!la_filter_matches(reader_, names_.kind)) return Opened::not_of_its_kind;
        memory_needed_ = la_memory_needed(files_[0].c_str(), names_.kind);
        return memory_needed_ > memory_available() ? Opened::too_large : Opened::yes;
    }
    // What the archive's decoding needs, as its headers tell; 0 when not known.
    uint64_t memory_needed() const { return memory_needed_; }
    archive* reader() const { return reader_; }
    const ArchiveSource& source() const { return source_; }
    NameRule name_rule() const { return la_name_rule(names_.kind); }

    // True when the reading stopped in the last volume of a set whose next
    // volume is missing; *missing names that volume.
    bool volume_missing(std::string* missing) const {
        if (names_.volume_digits == 0 || source_.volume() + 1 != source_.volume_count()) return false;
        *missing = name_of(volume_path(names_, static_cast<int>(source_.volume_count()) + 1).c_str());
        return file_attributes(volume_path(names_, static_cast<int>(source_.volume_count()) + 1).c_str()) ==
               INVALID_FILE_ATTRIBUTES;
    }
    // True when the first volume of a set is missing (nothing of the set
    // reads without it); *missing names it.
    bool first_volume_missing(std::string* missing) const {
        if (names_.volume_digits == 0) return false;
        *missing = name_of(volume_path(names_, 1).c_str());
        return file_attributes(volume_path(names_, 1).c_str()) == INVALID_FILE_ATTRIBUTES;
    }
    // True when a reading that libarchive ended as whole stopped short of
    // the archive's end all the same: its last file came out cut short, or
    // a RAR 5 archive lacks its end block (see la_rar_end.h).
    bool stopped_short(bool last_file_cut) const {
        return last_file_cut || (names_.volume_digits == 0 && archive_format(reader_) == ARCHIVE_FORMAT_RAR_V5 &&
                                 !rar5_ends_in_end_block(files_[0].c_str()));
    }

private:
    const ArchiveNames& names_;
    std::vector<std::string> files_;
    ArchiveSource source_;
    archive* reader_;
    uint64_t memory_needed_ = 0;
};

// True when the reader stopped because the archive's names are encrypted.
bool names_encrypted(archive* reader) {
    const char* why = archive_error_string(reader);
    return archive_read_has_encrypted_entries(reader) > 0 || (why && std::strstr(why, "ncrypt"));
}

// Notes why an archive could not be opened.
void note_unopened(ArchiveJob& job, const char* path, const Reading& reading, Reading::Opened opened) {
    if (opened == Reading::Opened::no_memory || opened == Reading::Opened::too_large) {
        note_memory_needed(job, path, opened == Reading::Opened::too_large ? reading.memory_needed() : 0);
    } else {
        note_problem(job, Problem::unreadable_archive, path);
    }
}

// How the listing of an archive that could not be opened ends.
ListResult unopened_listing(const Reading& reading, Reading::Opened opened) {
    if (opened == Reading::Opened::too_large) return ListResult{ListEnd::too_large, reading.memory_needed()};
    return ListResult{opened == Reading::Opened::no_memory ? ListEnd::too_large : ListEnd::unreadable};
}

// Notes why a reading stopped before the archive's end: a missing volume,
// or damage.
void note_broken(ArchiveJob& job, const char* path, const Reading& reading, const std::string& after) {
    std::string missing;
    if (reading.volume_missing(&missing)) {
        note_problem(job, Problem::volume_missing, path, missing);
    } else {
        note_problem(job, Problem::archive_damaged, path + after);
    }
}

// Notes a set whose first volume is missing; true when it is.
bool note_first_volume_missing(ArchiveJob& job, const char* path, const Reading& reading) {
    std::string missing;
    if (!reading.first_volume_missing(&missing)) return false;
    note_problem(job, Problem::volume_missing, path, missing);
    return true;
}

// What a walk reopens the archive with: each call makes a fresh reading in
// *again, freeing the one made before; none once the job is cancelled.
LaReopen reopener(ArchiveJob& job, const char* path, const ArchiveNames& names, std::unique_ptr<Reading>* again) {
    return [&job, path, &names, again]() -> archive* {
        if (job_stopping(job)) return nullptr;
        *again = std::make_unique<Reading>(path, names);
        return (*again)->open() == Reading::Opened::yes ? (*again)->reader() : nullptr;
    };
}

// Reads the first header: ARCHIVE_OK with *entry set, ARCHIVE_EOF for an
// empty archive, or ARCHIVE_FATAL with the reason noted.
int first_header(ArchiveJob& job, const char* path, Reading& reading, LaWalk& walk, archive_entry** entry) {
    std::vector<HeaderTrouble> warnings;
    std::vector<HeaderTrouble> unusable;
    const int header = walk.next(entry, &warnings, &unusable);
    if (header == ARCHIVE_FATAL) {
        if (names_encrypted(reading.reader())) {
            note_problem(job, Problem::names_encrypted, path);
        } else if (unusable.empty()) {
            note_problem(job, Problem::unreadable_archive, path);
        } else {
            note_header_trouble(job, warnings, unusable);
            note_broken(job, path, reading, "");
        }
        return header;
    }
    note_header_trouble(job, warnings, unusable);
    return header;
}

// ---------------------------------------------------------------------------
// Archives of entries.

JobResult decompress_la_archive(ArchiveJob& job, const ArchiveNames& names) {
    const char* path = job.job_inputs.c_str();
    const std::string destination = destination_folder(job.job_output, names);
    set_phase(job, Phase::decompressing_archive);
    job.archive_path.set(path);
    Reading reading(path, names);
    if (note_first_volume_missing(job, path, reading)) return JobResult{false, destination};
    const Reading::Opened opened = reading.open();
    if (opened != Reading::Opened::yes) {
        note_unopened(job, path, reading, opened);
        return JobResult{false, destination};
    }
    std::unique_ptr<Reading> again;
    EntryProgress progress;
    progress.archive_bytes = reading.source().total_bytes();
    LaWalk walk(reading.reader(), reopener(job, path, names, &again), progress);
    archive_entry* entry = nullptr;
    const int first = first_header(job, path, reading, walk, &entry);
    if (first == ARCHIVE_EOF && reading.stopped_short(false)) {
        note_broken(job, path, reading, "");
        return JobResult{false, destination};
    }
    if (first == ARCHIVE_FATAL || !make_destination_folder(job, destination)) return JobResult{false, destination};
    if (first == ARCHIVE_EOF) return JobResult{true, destination};
    Extraction extraction(job, destination + "\\", path);
    const int header = extract_la_entries(extraction, walk, entry, reading.name_rule());
    const Reading& last = again ? *again : reading;
    const bool whole = header == ARCHIVE_EOF && !last.stopped_short(walk.last_file_cut());
    if (!whole && !job_stopping(job)) note_broken(job, path, last, "");
    return JobResult{whole && !job_stopping(job), destination};
}

ListResult list_la_archive(const char* path, const ArchiveNames& names, const ListVisit& visit) {
    Reading reading(path, names);
    std::string missing;
    if (reading.first_volume_missing(&missing)) return ListResult{ListEnd::unreadable};
    const Reading::Opened opened = reading.open();
    if (opened != Reading::Opened::yes) return unopened_listing(reading, opened);
    archive* reader = reading.reader();
    archive_entry* entry = nullptr;
    int header;
    bool any_entry = false;
    while ((header = next_la_header(reader, &entry, nullptr, nullptr)) == ARCHIVE_OK) {
        any_entry = true;
        const ListedEntry listed = listed_la_entry(view_la_entry(entry, reading.name_rule()));
        if (!listed.name.empty()) visit(listed);
    }
    // An archive that ends before its end block breaks off, entries or none,
    // as its extraction and its test find it.
    if (header == ARCHIVE_EOF) return ListResult{reading.stopped_short(false) ? ListEnd::broken : ListEnd::whole};
    if (!any_entry && names_encrypted(reader)) return ListResult{ListEnd::names_encrypted};
    return ListResult{any_entry ? ListEnd::broken : ListEnd::unreadable};
}

JobResult test_la_archive(ArchiveJob& job, const ArchiveNames& names) {
    const char* path = job.job_inputs.c_str();
    Reading reading(path, names);
    if (note_first_volume_missing(job, path, reading)) return JobResult{};
    const Reading::Opened opened = reading.open();
    if (opened != Reading::Opened::yes) {
        note_unopened(job, path, reading, opened);
        return JobResult{};
    }
    std::unique_ptr<Reading> again;
    EntryProgress progress;
    progress.archive_bytes = reading.source().total_bytes();
    LaWalk walk(reading.reader(), reopener(job, path, names, &again), progress);
    archive_entry* entry = nullptr;
    int header = first_header(job, path, reading, walk, &entry);
    if (header == ARCHIVE_FATAL) return JobResult{};
    std::vector<HeaderTrouble> warnings;
    std::vector<HeaderTrouble> unusable;
    while (header == ARCHIVE_OK && !cancel_requested(job)) {
        const EntryView view = view_la_entry(entry, reading.name_rule());
        const ListedEntry listed = listed_la_entry(view);
        const std::string& name = listed.name;
        // The entries an extraction passes over are passed over here too.
        if (listed.skipped) {
            if (!name.empty()) note_problem(job, Problem::unsafe_name, name);
        } else if (view.encrypted) {
            note_problem(job, Problem::encrypted, name);
            walk.left_unread();
        } else if (view.item == EntryItem::file) {
            std::string detail;
            switch (walk.read_data(job, entry, nullptr, &detail)) {
            case DataEnd::whole: break;
            case DataEnd::mismatch: note_problem(job, Problem::damaged, name + " (" + detail + ")"); break;
            case DataEnd::cut_short: note_problem(job, Problem::cut_short, name + " (its data is damaged or cut short)"); break;
            case DataEnd::not_decoded: note_problem(job, Problem::unknown_method, name, detail); break;
            case DataEnd::cancelled: break;
            }
        }
        job.items_done.fetch_add(1, std::memory_order_relaxed);
        header = walk.next(&entry, &warnings, &unusable);
        note_header_trouble(job, warnings, unusable);
    }
    if (cancel_requested(job)) return JobResult{};
    const Reading& last = again ? *again : reading;
    const bool whole = header == ARCHIVE_EOF && !last.stopped_short(walk.last_file_cut());
    if (!whole) {
        note_broken(job, path, last, " (it breaks off after " + std::to_string(job.items_done.load()) + " entries)");
    }
    return JobResult{whole, path};
}

// ---------------------------------------------------------------------------
// Single compressed files: one stream, the file it names.

// Decodes the stream of an opened reading into writer (or into nothing when
// it is null), counting what it gives into *size.
DataEnd decode_stream(ArchiveJob* job, Reading& reading, FileWriter* writer, uint64_t* size) {
    archive* reader = reading.reader();
    archive_entry* entry = nullptr;
    if (archive_read_next_header(reader, &entry) != ARCHIVE_OK) return DataEnd::cut_short;
    const uint64_t total = reading.source().total_bytes();
    for (;;) {
        const void* block = nullptr;
        size_t length = 0;
        la_int64_t offset = 0;
        const int status = archive_read_data_block(reader, &block, &length, &offset);
        if (status == ARCHIVE_EOF) return DataEnd::whole;
        if (status != ARCHIVE_OK) return DataEnd::cut_short;
        if (writer) writer->write(block, length);
        *size += length;
        if (!job) continue;
        job->item_percent.store(counted_percent(archive_filter_bytes(reader, -1), static_cast<int64_t>(total)),
                                std::memory_order_relaxed);
        if (cancel_requested(*job)) return DataEnd::cancelled;
        if (writer && writer->failed()) return DataEnd::cut_short;
    }
}

JobResult decompress_la_file(ArchiveJob& job, const ArchiveNames& names) {
    set_phase(job, Phase::decompressing_file);
    const char* path = job.job_inputs.c_str();
    job.archive_path.set(path);
    job.items_total.store(1, std::memory_order_relaxed);
    job.overall_percent.store(100, std::memory_order_relaxed);
    Reading reading(path, names);
    const Reading::Opened opened = reading.open();
    if (opened != Reading::Opened::yes) {
        note_unopened(job, path, reading, opened);
        return JobResult{};
    }
    if (!job.job_output.empty() && !make_destination_folder(job, job.job_output)) return JobResult{};
    SingleOutput output(job, single_output_path(job.job_output, names),
                        path);
    FileWriter writer(output.partial(), FileWriter::Create::only_new);
    if (!writer.is_open()) {
        set_output_error(job, writer.error());
        note_output_not_written(job, output.output().c_str(), Problem::extraction_stopped);
        return JobResult{};
    }
    uint64_t size = 0;
    const DataEnd end = decode_stream(&job, reading, &writer, &size);
    const bool written = writer.close();
    if (!written || end != DataEnd::whole) {
        output.discard();
        if (!written) {
            set_output_error(job, writer.error());
            note_output_not_written(job, output.output().c_str(), Problem::extraction_stopped);
        } else if (end == DataEnd::cut_short) {
            note_problem(job, Problem::cut_short, name_of(output.output().c_str()));
        }
        return JobResult{};
    }
    const std::string placed = output.place();
    return JobResult{!placed.empty(), placed};
}

ListResult list_la_file(const char* path, const ArchiveNames& names, const ListVisit& visit) {
    Reading reading(path, names);
    const Reading::Opened opened = reading.open();
    if (opened != Reading::Opened::yes) return unopened_listing(reading, opened);
    // The one entry is the stream, known to be of its kind: listed with the
    // size it decodes to, or to where it breaks off, as its test and its
    // unpacking name it cut short there.
    uint64_t size = 0;
    const DataEnd end = decode_stream(nullptr, reading, nullptr, &size);
    ListedEntry listed;
    listed.name = name_of(names.stem.c_str());
    listed.size = size;
    visit(listed);
    return ListResult{end == DataEnd::whole ? ListEnd::whole : ListEnd::broken};
}

JobResult test_la_file(ArchiveJob& job, const ArchiveNames& names) {
    const char* path = job.job_inputs.c_str();
    Reading reading(path, names);
    const Reading::Opened opened = reading.open();
    if (opened != Reading::Opened::yes) {
        note_unopened(job, path, reading, opened);
        return JobResult{};
    }
    uint64_t size = 0;
    const DataEnd end = decode_stream(&job, reading, nullptr, &size);
    if (end == DataEnd::cancelled) return JobResult{};
    job.items_done.store(1, std::memory_order_relaxed);
    if (end != DataEnd::whole) {
        note_problem(job, Problem::cut_short, name_of(names.stem.c_str()) + " (its data is damaged or cut short)");
        return JobResult{};
    }
    return JobResult{true, path};
}

}  // namespace

const std::vector<ArchiveFamily>& libarchive_families() {
    static const std::vector<ArchiveFamily> families = [] {
        std::vector<ArchiveFamily> all;
        for (const ArchiveKind kind :
             {ArchiveKind::tarball, ArchiveKind::gzip_tarball, ArchiveKind::bzip2_tarball, ArchiveKind::xz_tarball,
              ArchiveKind::seven_zip, ArchiveKind::rar}) {
            all.push_back(ArchiveFamily{kind, false, decompress_la_archive, list_la_archive, test_la_archive});
        }
        for (const ArchiveKind kind : {ArchiveKind::gzip_file, ArchiveKind::bzip2_file, ArchiveKind::xz_file}) {
            all.push_back(ArchiveFamily{kind, true, decompress_la_file, list_la_file, test_la_file});
        }
        return all;
    }();
    return families;
}

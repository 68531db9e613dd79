// The writer of an extraction's files; see extract_writer.h. Worker thread.
#include "jobs/writer/extract_writer.h"

#include <cstring>

#include "io/platform.h"
#include "jobs/frame/job_words.h"
#include "io/banned.h"

namespace {

constexpr char ZONE_STREAM[] = ":Zone.Identifier";
constexpr DWORD ZONE_LIMIT = 64 * 1024;
// A temporary name keeps this much of the target's name, so that it stays
// within the 255 characters of a name on NTFS with ".partial" added.
constexpr size_t TEMPORARY_STEM = 200;

// The name a replacing file is written under, beside its target.
std::string temporary_beside(const std::string& target) {
    const size_t slash = target.rfind('\\');
    const size_t name_at = slash == std::string::npos ? 0 : slash + 1;
    std::string stem = target;
    if (target.size() - name_at > TEMPORARY_STEM) {
        size_t cut = name_at + TEMPORARY_STEM;
        while (cut > name_at && (static_cast<unsigned char>(target[cut]) & 0xc0) == 0x80) --cut;
        stem = target.substr(0, cut);
    }
    return partial_path(stem.c_str()).c_str();
}

}  // namespace

bool write_zone_identifier(const std::string& path, const std::string& zone) {
    const std::string stream = path + ZONE_STREAM;
    const HANDLE file = create_file(stream.c_str(), GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, false);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, zone.data(), static_cast<DWORD>(zone.size()), &written, nullptr) &&
                    written == zone.size();
    return CloseHandle(file) && ok;
}

namespace {

constexpr char FILE_HAS_THE_NAME[] = "a file has that name";

void note_destination_not_made(ArchiveJob& job, const std::string& folder, const std::string& reason) {
    note_problem(job, Problem::destination_not_made, folder + " (" + reason + ")", reason);
}

}  // namespace

bool destination_blocked(ArchiveJob& job, const std::string& folder) {
    const DWORD attributes = file_attributes(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    note_destination_not_made(job, folder, FILE_HAS_THE_NAME);
    return true;
}

bool make_destination_folder(ArchiveJob& job, const std::string& folder) {
    if (make_folder_tree(folder.c_str())) return true;
    const DWORD error = create_directory(folder.c_str()) ? NO_ERROR : GetLastError();  // the system's reason
    if (!destination_blocked(job, folder)) note_destination_not_made(job, folder, write_failure_reason(error, folder.c_str()));
    return false;
}

std::string read_zone_identifier(const char* path) {
    const std::string stream = std::string(path) + ZONE_STREAM;
    const HANDLE file = create_file(stream.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, true);
    if (file == INVALID_HANDLE_VALUE) return "";
    std::string zone(ZONE_LIMIT, '\0');
    DWORD read = 0;
    if (!ReadFile(file, &zone[0], ZONE_LIMIT, &read, nullptr)) read = 0;
    CloseHandle(file);
    zone.resize(read);
    return zone;
}

Extraction::Extraction(ArchiveJob& job, const std::string& destination, const char* archive_path)
    : job(job), destination(destination), zone_identifier(read_zone_identifier(archive_path)) {}

ExtractedFile::ExtractedFile(Extraction& extraction, const std::string& relative)
    : extraction_(extraction), relative_(relative) {
    ArchiveJob& job = extraction.job;
    const std::string& destination = extraction.destination;
    WrittenFiles& written = extraction.written;
    const bool same_name = written.placed_before(relative);
    placed_ = written.place(destination, relative);
    const size_t slash = placed_.rfind('\\');
    if (slash != std::string::npos && !extraction.make_folders(placed_.substr(0, slash))) {
        note_problem(job, Problem::not_written, placed_);
        return;
    }
    target_ = destination + placed_;
    // A path that is not UTF-8 would go to the ANSI API whole, destination
    // and all: such a file is a fault, not a guess.
    if (!is_valid_utf8(target_.c_str(), target_.size())) {
        note_problem(job, Problem::not_written, placed_);
        return;
    }
    writer_ = new FileWriter(target_.c_str(), FileWriter::Create::only_new);
    if (!writer_->is_open() && writer_->error() == ERROR_FILE_EXISTS) {
        // Either a file that was there before the job, or one this job wrote
        // that the name reaches another way: its short 8.3 name, which the
        // system always makes with a '~'. That file must survive as a file
        // of its own. Other names need no look at the file.
        if (placed_.find('~') != std::string::npos && written.reaches_written_file(destination, placed_)) {
            placed_ = written.aside(destination, relative);
            target_ = destination + placed_;
            delete writer_;
            writer_ = new FileWriter(target_.c_str(), FileWriter::Create::only_new);
        } else if (!(file_attributes(target_.c_str()) & FILE_ATTRIBUTE_DIRECTORY)) {
            temporary_ = temporary_beside(target_);
            delete writer_;
            writer_ = new FileWriter(temporary_.c_str(), FileWriter::Create::only_new);
        }
    }
    if (!writer_->is_open()) {
        note_problem(job, Problem::not_written, placed_);
        return;
    }
    if (placed_ != relative) {
        note_problem(job, same_name ? Problem::renamed_same : Problem::renamed, relative + ", saved as " + placed_);
    }
}

ExtractedFile::~ExtractedFile() {
    if (!finished_ && is_open()) discard();
    delete writer_;
}

void ExtractedFile::discard() {
    writer_->close();
    delete_file_retrying((temporary_.empty() ? target_ : temporary_).c_str());
}

bool ExtractedFile::finish(DataEnd end) {
    if (!is_open() || finished_) return false;
    finished_ = true;
    ArchiveJob& job = extraction_.job;
    if (!writer_->close()) {
        // The disk refused what was given to it: nothing later would fit.
        set_output_error(job, writer_->error());
        note_output_not_written(job, target_.c_str(), Problem::extraction_stopped);
        delete_file_retrying((temporary_.empty() ? target_ : temporary_).c_str());
        return false;
    }
    const bool replacing = !temporary_.empty();
    const std::string& bytes_at = replacing ? temporary_ : target_;
    if (end == DataEnd::cancelled || end == DataEnd::cut_short || end == DataEnd::not_decoded ||
        (end == DataEnd::mismatch && replacing)) {
        delete_file_retrying(bytes_at.c_str());
        if (end == DataEnd::cut_short || end == DataEnd::mismatch) note_problem(job, Problem::cut_short, placed_);
        return false;
    }
    if (!extraction_.zone_identifier.empty()) write_zone_identifier(bytes_at, extraction_.zone_identifier);
    if (replacing && !move_file_replacing_retrying(temporary_.c_str(), target_.c_str())) {
        delete_file_retrying(temporary_.c_str());
        note_problem(job, Problem::not_written, placed_);
        return false;
    }
    if (end == DataEnd::mismatch) note_problem(job, Problem::damaged, placed_);
    extraction_.written.written(relative_, placed_);
    ++job.files_written;
    return true;
}

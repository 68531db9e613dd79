// An archive's file or volumes handed to libarchive; see la_source.h.
#include "jobs/libarchive/la_source.h"

#include <cstdio>

#include "io/banned.h"

namespace {

// What one call hands libarchive at the most.
constexpr size_t PIECE = 65536;

}  // namespace

struct ArchiveSource::Volume {
    ArchiveSource* source;
    size_t index;
    FileReader file;
    Volume(ArchiveSource* source, size_t index, const std::string& path)
        : source(source), index(index), file(path.c_str()) {}
};

ArchiveSource::ArchiveSource(std::vector<std::string> paths) {
    for (size_t i = 0; i < paths.size(); ++i) {
        volumes_.push_back(std::make_unique<Volume>(this, i, paths[i]));
        total_ += volumes_.back()->file.size();
    }
}

ArchiveSource::~ArchiveSource() = default;

bool ArchiveSource::exists() const { return !volumes_.empty() && volumes_[0]->file.is_open(); }

bool ArchiveSource::open(archive* reader) {
    if (!exists()) return false;
    if (!buffer_.resize(PIECE)) {
        no_memory_ = true;
        return false;
    }
    bool set = archive_read_set_read_callback(reader, read) == ARCHIVE_OK &&
               archive_read_set_skip_callback(reader, skip) == ARCHIVE_OK &&
               archive_read_set_seek_callback(reader, seek) == ARCHIVE_OK &&
               archive_read_set_close_callback(reader, close) == ARCHIVE_OK &&
               archive_read_set_switch_callback(reader, switch_to) == ARCHIVE_OK &&
               archive_read_set_callback_data(reader, volumes_[0].get()) == ARCHIVE_OK;
    for (size_t i = 1; set && i < volumes_.size(); ++i) {
        set = archive_read_append_callback_data(reader, volumes_[i].get()) == ARCHIVE_OK;
    }
    return set && archive_read_open1(reader) == ARCHIVE_OK;
}

ArchiveSource::Volume* ArchiveSource::enter(void* client) {  // a volume's callbacks run in it
    auto* volume = static_cast<Volume*>(client);
    volume->source->current_ = volume->index;
    return volume;
}

la_ssize_t ArchiveSource::read(archive*, void* client, const void** buffer) {
    Volume* volume = enter(client);
    ArchiveSource& source = *volume->source;
    const size_t n = volume->file.read(source.buffer_.storage, PIECE);
    *buffer = source.buffer_.storage;
    if (n == 0 && volume->file.failed()) return -1;
    return static_cast<la_ssize_t>(n);
}

la_int64_t ArchiveSource::skip(archive*, void* client, la_int64_t request) {
    FileReader& file = static_cast<Volume*>(client)->file;
    const uint64_t from = file.position();
    file.seek(from + static_cast<uint64_t>(request > 0 ? request : 0));
    return static_cast<la_int64_t>(file.position() - from);
}

la_int64_t ArchiveSource::seek(archive*, void* client, la_int64_t offset, int whence) {
    FileReader& file = static_cast<Volume*>(client)->file;
    const int64_t base = whence == SEEK_CUR ? static_cast<int64_t>(file.position())
                         : whence == SEEK_END ? static_cast<int64_t>(file.size())
                                              : 0;
    const int64_t to = base + offset;
    if (to < 0) return ARCHIVE_FATAL;
    file.seek(static_cast<uint64_t>(to));
    return static_cast<la_int64_t>(file.position());
}

int ArchiveSource::switch_to(archive*, void*, void* to) {
    Volume* volume = static_cast<Volume*>(to);
    volume->source->enter(to);
    volume->file.seek(0);
    return volume->file.is_open() ? ARCHIVE_OK : ARCHIVE_FATAL;
}

int ArchiveSource::close(archive*, void*) { return ARCHIVE_OK; }

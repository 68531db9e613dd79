// A tarball's entries; see tar_entries.h.
#include "jobs/tar/tar_entries.h"

#include <archive.h>
#include <archive_entry.h>

#include "jobs/frame/job_paths.h"
#include "jobs/zstd/zstd_source.h"
#include "io/banned.h"

archive* new_tar_reader() {
    archive* reader = archive_read_new();
    if (!reader) return nullptr;
    archive_read_support_format_tar(reader);
    archive_read_support_format_gnutar(reader);
    return reader;
}

void free_tar_reader(archive* reader) {
    if (!reader) return;
    archive_read_close(reader);
    archive_read_free(reader);
}

namespace {

la_ssize_t read_stream(archive*, void* source, const void** buffer) {
    return static_cast<la_ssize_t>(static_cast<ZstdSource*>(source)->read(buffer));
}

}  // namespace

bool open_tar_reader_on(archive* reader, ZstdSource& source) {
    return archive_read_open(reader, &source, nullptr, read_stream, nullptr) == ARCHIVE_OK;
}

int next_tar_header(archive* reader, archive_entry** entry, std::vector<HeaderTrouble>* warnings,
                    std::vector<HeaderTrouble>* unusable) {
    for (;;) {
        const int header = archive_read_next_header(reader, entry);
        if (header == ARCHIVE_OK || header == ARCHIVE_EOF) return header;
        if (header != ARCHIVE_WARN && header != ARCHIVE_FAILED) return ARCHIVE_FATAL;
        std::vector<HeaderTrouble>* told = header == ARCHIVE_WARN ? warnings : unusable;
        if (told) {
            const char* name = *entry ? archive_entry_pathname(*entry) : nullptr;
            const char* why = archive_error_string(reader);
            told->push_back(HeaderTrouble{name ? name : "", why ? why : ""});
        }
        if (header == ARCHIVE_WARN) return ARCHIVE_OK;
    }
}

TarEntryView view_tar_entry(archive_entry* entry) {
    TarEntryView view;
    const char* name = archive_entry_pathname(entry);
    view.name = name ? name : "";
    view.relative = name ? safe_entry_path(name) : std::string();
    view.size = archive_entry_size(entry);
    const auto type = archive_entry_filetype(entry);
    const char* hard = archive_entry_hardlink(entry);
    if (type == AE_IFDIR) {
        view.item = TarItem::folder;
    } else if (hard && view.size == 0) {
        view.item = TarItem::hard_link;
        view.link = hard;
    } else if (type == AE_IFREG || hard) {
        view.item = TarItem::file;
    } else if (type == AE_IFLNK) {
        view.item = TarItem::symlink;
        const char* target = archive_entry_symlink(entry);
        view.link = target ? target : "";
    } else {
        view.item = TarItem::special;
    }
    if (view.item != TarItem::file) view.size = 0;
    return view;
}

ListedEntry listed_tar_entry(const TarEntryView& view) {
    ListedEntry listed;
    if (view.relative.empty()) {
        // A folder with nothing left ("./") is the destination itself.
        if (view.item != TarItem::folder) listed.name = view.name;
        listed.skipped = true;
        return listed;
    }
    listed.name = listed_name(view.relative);
    switch (view.item) {
    case TarItem::folder: listed.name += '/'; break;
    case TarItem::hard_link:
    case TarItem::symlink: listed.name += " -> " + view.link; break;
    case TarItem::file: listed.size = view.size > 0 ? static_cast<uint64_t>(view.size) : 0; break;
    case TarItem::special: break;
    }
    return listed;
}

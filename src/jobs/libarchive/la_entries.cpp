// An archive's entries through libarchive; see la_entries.h.
#include "jobs/libarchive/la_entries.h"

#include <archive.h>
#include <archive_entry.h>

#include "io/platform.h"
#include "jobs/frame/job_paths.h"
#include "io/banned.h"

namespace {

// What a kind registers: its filter (ARCHIVE_FILTER_NONE for none) and
// whether it is a tarball, a 7z, a RAR or one raw stream.
enum class Format { tar, seven_zip, rar, raw };

struct KindReading {
    ArchiveKind kind;
    int filter;
    Format format;
};

const KindReading READINGS[] = {
    {ArchiveKind::tarball, ARCHIVE_FILTER_NONE, Format::tar},
    {ArchiveKind::zstd_tarball, ARCHIVE_FILTER_NONE, Format::tar},  // its tarball, once decoded
    {ArchiveKind::gzip_tarball, ARCHIVE_FILTER_GZIP, Format::tar},
    {ArchiveKind::bzip2_tarball, ARCHIVE_FILTER_BZIP2, Format::tar},
    {ArchiveKind::xz_tarball, ARCHIVE_FILTER_XZ, Format::tar},
    {ArchiveKind::seven_zip, ARCHIVE_FILTER_NONE, Format::seven_zip},
    {ArchiveKind::rar, ARCHIVE_FILTER_NONE, Format::rar},
    {ArchiveKind::gzip_file, ARCHIVE_FILTER_GZIP, Format::raw},
    {ArchiveKind::bzip2_file, ARCHIVE_FILTER_BZIP2, Format::raw},
    {ArchiveKind::xz_file, ARCHIVE_FILTER_XZ, Format::raw},
};

const KindReading* reading_of(ArchiveKind kind) {
    for (const KindReading& reading : READINGS) {
        if (reading.kind == kind) return &reading;
    }
    return nullptr;
}

// Registers the one filter; false when libarchive cannot read it here.
bool support_filter(archive* reader, int filter) {
    switch (filter) {
    case ARCHIVE_FILTER_NONE: return true;
    case ARCHIVE_FILTER_GZIP: return archive_read_support_filter_gzip(reader) == ARCHIVE_OK;
    case ARCHIVE_FILTER_BZIP2: return archive_read_support_filter_bzip2(reader) == ARCHIVE_OK;
    case ARCHIVE_FILTER_XZ: return archive_read_support_filter_xz(reader) == ARCHIVE_OK;
    default: return false;
    }
}

bool support_format(archive* reader, Format format) {
    switch (format) {
    case Format::tar:
        return archive_read_support_format_tar(reader) == ARCHIVE_OK &&
               archive_read_support_format_gnutar(reader) == ARCHIVE_OK;
    case Format::seven_zip: return archive_read_support_format_7zip(reader) == ARCHIVE_OK;
    // Only RAR itself: the ZIP bidder would seek to the end and open every volume.
    case Format::rar:
        return archive_read_support_format_rar(reader) == ARCHIVE_OK &&
               archive_read_support_format_rar5(reader) == ARCHIVE_OK;
    case Format::raw: return archive_read_support_format_raw(reader) == ARCHIVE_OK;
    }
    return false;
}

// A name or link as rule reads it, from the entry's narrow and wide forms.
// libarchive, built without a converter, gives a name it holds as bytes in
// its wide form byte for byte: a wide form of nothing above U+00FF is only
// the bytes again, and the bytes tell what they are.
std::string name_by_rule(const char* narrow, const wchar_t* wide, NameRule rule) {
    const std::string bytes = narrow ? narrow : "";
    if (rule == NameRule::header_bytes) return bytes;
    bool beyond_bytes = false;
    for (const wchar_t* c = wide; c && *c; ++c) beyond_bytes = beyond_bytes || *c > 0xFF;
    String utf8;
    if (wide && (rule == NameRule::utf16 || beyond_bytes || !narrow) && wide_to_utf8(wide, utf8, SIZE_MAX)) {
        return utf8.c_str();
    }
    return is_valid_utf8(bytes.data(), bytes.size()) ? bytes : code_page_name(bytes, CP_OEMCP);
}

}  // namespace

archive* new_la_reader(ArchiveKind kind) {
    const KindReading* reading = reading_of(kind);
    if (!reading) return nullptr;
    archive* reader = archive_read_new();
    if (reader && (!support_filter(reader, reading->filter) || !support_format(reader, reading->format))) {
        archive_read_free(reader);
        return nullptr;
    }
    return reader;
}

void free_la_reader(archive* reader) {
    if (!reader) return;
    archive_read_close(reader);
    archive_read_free(reader);
}

bool la_filter_matches(archive* reader, ArchiveKind kind) {
    const KindReading* reading = reading_of(kind);
    return reading && archive_filter_code(reader, 0) == reading->filter;
}

NameRule la_name_rule(ArchiveKind kind) {
    return kind == ArchiveKind::seven_zip ? NameRule::utf16 : kind == ArchiveKind::rar ? NameRule::rar : NameRule::header_bytes;
}

int next_la_header(archive* reader, archive_entry** entry, std::vector<HeaderTrouble>* warnings,
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

EntryView view_la_entry(archive_entry* entry, NameRule rule) {
    EntryView view;
    view.name = name_by_rule(archive_entry_pathname(entry), archive_entry_pathname_w(entry), rule);
    view.relative = safe_entry_path(view.name.c_str());
    view.size = archive_entry_size(entry);
    view.encrypted = archive_entry_is_data_encrypted(entry) != 0;
    const auto type = archive_entry_filetype(entry);
    const char* hard = archive_entry_hardlink(entry);
    if (type == AE_IFDIR) {
        view.item = EntryItem::folder;
    } else if (hard && view.size == 0) {
        view.item = EntryItem::hard_link;
        view.link = name_by_rule(hard, archive_entry_hardlink_w(entry), rule);
    } else if (type == AE_IFREG || hard) {
        view.item = EntryItem::file;
    } else if (type == AE_IFLNK) {
        view.item = EntryItem::symlink;
        view.link = name_by_rule(archive_entry_symlink(entry), archive_entry_symlink_w(entry), rule);
    } else {
        view.item = EntryItem::special;
    }
    if (view.item != EntryItem::file || view.size < 0) view.size = 0;
    return view;
}

ListedEntry listed_la_entry(const EntryView& view) {
    ListedEntry listed;
    if (view.relative.empty()) {
        // A folder with nothing left ("./") is the destination itself.
        if (view.item != EntryItem::folder) listed.name = view.name;
        listed.skipped = true;
        return listed;
    }
    listed.name = listed_name(view.relative);
    switch (view.item) {
    case EntryItem::folder: listed.name += '/'; break;
    case EntryItem::hard_link:
    case EntryItem::symlink: listed.name += " -> " + view.link; break;
    case EntryItem::file: listed.size = static_cast<uint64_t>(view.size); break;
    case EntryItem::special: break;
    }
    return listed;
}

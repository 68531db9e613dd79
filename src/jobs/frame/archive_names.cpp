// The one table of archive extensions and the names derived from them.
#include "jobs/frame/archive_names.h"

#include <cstring>
#include <vector>

#include "jobs/frame/job_paths.h"
#include "io/banned.h"

namespace {

struct ArchiveExtension {
    const char* extension;
    ArchiveKind kind;
    const char* group;  // the chooser's filter that shows it
};

constexpr char ZIP_FILES[] = "ZIP files";
constexpr char ZSTANDARD_FILES[] = "Zstandard files";
constexpr char TAR_FILES[] = "Tar files";
constexpr char SEVEN_ZIP_FILES[] = "7-Zip files";
constexpr char RAR_FILES[] = "RAR files";
constexpr char COMPRESSED_FILES[] = "gzip, bzip2 and xz files";

// Longer extensions before the shorter ones they end with, so that
// ".tar.zst" is a tarball before ".zst" can call it a single file.
const ArchiveExtension EXTENSIONS[] = {
    {".zip", ArchiveKind::zip, ZIP_FILES},
    {".tzst", ArchiveKind::zstd_tarball, ZSTANDARD_FILES},
    {".tar.zst", ArchiveKind::zstd_tarball, ZSTANDARD_FILES},
    {".tar.zstd", ArchiveKind::zstd_tarball, ZSTANDARD_FILES},
    {".zst", ArchiveKind::zstd_file, ZSTANDARD_FILES},
    {".zstd", ArchiveKind::zstd_file, ZSTANDARD_FILES},
    {".tar", ArchiveKind::tarball, TAR_FILES},
    {".tar.gz", ArchiveKind::gzip_tarball, TAR_FILES},
    {".tgz", ArchiveKind::gzip_tarball, TAR_FILES},
    {".tar.bz2", ArchiveKind::bzip2_tarball, TAR_FILES},
    {".tbz2", ArchiveKind::bzip2_tarball, TAR_FILES},
    {".tbz", ArchiveKind::bzip2_tarball, TAR_FILES},
    {".tar.xz", ArchiveKind::xz_tarball, TAR_FILES},
    {".txz", ArchiveKind::xz_tarball, TAR_FILES},
    {".7z", ArchiveKind::seven_zip, SEVEN_ZIP_FILES},
    {".rar", ArchiveKind::rar, RAR_FILES},
    {".gz", ArchiveKind::gzip_file, COMPRESSED_FILES},
    {".bz2", ArchiveKind::bzip2_file, COMPRESSED_FILES},
    {".xz", ArchiveKind::xz_file, COMPRESSED_FILES},
};

bool ends_with_ignoring_case(const char* text, size_t length, const char* suffix) {
    const size_t n = std::strlen(suffix);
    if (length < n) return false;
    for (size_t i = 0; i < n; ++i) {
        char c = text[length - n + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (c != suffix[i]) return false;
    }
    return true;
}

// The part of a volume's name before its number: "x.part1.rar".
constexpr char VOLUME_WORD[] = ".part";

// Sets names' volume fields when its stem ends in ".partN", and cuts that
// from the stem.
void find_volume(ArchiveNames& names, const char* extension) {
    const std::string& stem = names.stem;
    size_t digits = 0;
    while (digits < stem.size() && stem[stem.size() - 1 - digits] >= '0' && stem[stem.size() - 1 - digits] <= '9') {
        ++digits;
    }
    const size_t word = std::strlen(VOLUME_WORD);
    if (digits == 0 || stem.size() < digits + word + 1) return;
    const size_t word_at = stem.size() - digits - word;
    if (!ends_with_ignoring_case(stem.c_str(), word_at + word, VOLUME_WORD)) return;
    names.volume_prefix = stem.substr(0, word_at + word);
    names.volume_suffix = extension;
    names.volume_digits = static_cast<int>(digits);
    names.stem = stem.substr(0, word_at);
}

// The longest extension of the table that path ends with; null for none.
const ArchiveExtension* extension_of(const char* path, size_t length) {
    const ArchiveExtension* found = nullptr;
    for (const ArchiveExtension& e : EXTENSIONS) {
        if (ends_with_ignoring_case(path, length, e.extension) &&
            (!found || std::strlen(e.extension) > std::strlen(found->extension))) {
            found = &e;
        }
    }
    return found;
}

// True when the last component of path keeps a character once trailing
// dots and spaces are dropped, as Windows drops them from a name.
bool names_something(const std::string& path) {
    size_t end = path.size();
    while (end > 0 && (path[end - 1] == '.' || path[end - 1] == ' ')) --end;
    return end > 0 && path[end - 1] != '\\' && path[end - 1] != '/';
}

}  // namespace

ArchiveNames archive_names(const char* path) {
    ArchiveNames names;
    const size_t length = std::strlen(path);
    const ArchiveExtension* extension = extension_of(path, length);
    if (!extension) return names;
    names.kind = extension->kind;
    names.stem.assign(path, length - std::strlen(extension->extension));
    names.usable = names_something(names.stem);
    if (names.kind == ArchiveKind::zstd_tarball) {
        names.tarball = names.stem + ".tar";
        names.tarball_replaces = std::strcmp(extension->extension, ".tzst") == 0;
    }
    if (names.kind == ArchiveKind::rar) {
        find_volume(names, path + length - std::strlen(extension->extension));
        names.usable = names_something(names.stem);
    }
    return names;
}

std::string volume_path(const ArchiveNames& names, int number) {
    std::string digits = std::to_string(number);
    if (digits.size() < static_cast<size_t>(names.volume_digits)) {
        digits.insert(0, static_cast<size_t>(names.volume_digits) - digits.size(), '0');
    }
    return names.volume_prefix + digits + names.volume_suffix;
}

std::vector<std::string> archive_extensions(ArchiveKind kind) {
    std::vector<std::string> chosen;
    for (const ArchiveExtension& e : EXTENSIONS) {
        if (kind == ArchiveKind::none || e.kind == kind) chosen.push_back(e.extension);
    }
    return chosen;
}

std::string words_joined(const std::vector<std::string>& words, const char* conjunction) {
    std::string text;
    for (size_t i = 0; i < words.size(); ++i) {
        if (i > 0) text += i + 1 == words.size() ? std::string(" ") + conjunction + " " : std::string(", ");
        text += words[i];
    }
    return text;
}

std::string archive_extensions_text(ArchiveKind kind, const char* conjunction) {
    return words_joined(archive_extensions(kind), conjunction);
}

std::string unpackable_extensions_text() { return archive_extensions_text(ArchiveKind::none, "and"); }

std::string archive_patterns(ArchiveKind kind) {
    std::string patterns;
    for (const ArchiveExtension& e : EXTENSIONS) {
        if (kind != ArchiveKind::none && e.kind != kind) continue;
        if (!patterns.empty()) patterns += ';';
        patterns += std::string("*") + e.extension;
    }
    return patterns;
}

std::vector<ArchiveFilter> archive_filters() {
    std::vector<ArchiveFilter> filters;
    for (const ArchiveExtension& e : EXTENSIONS) {
        if (filters.empty() || filters.back().name_words != e.group) filters.push_back(ArchiveFilter{e.group, ""});
        ArchiveFilter& filter = filters.back();
        if (!filter.patterns.empty()) filter.patterns += ';';
        filter.patterns += std::string("*") + e.extension;
    }
    return filters;
}

std::string zstandard_patterns() {
    return archive_patterns(ArchiveKind::zstd_tarball) + ";" + archive_patterns(ArchiveKind::zstd_file);
}

std::string destination_folder(const std::string& output, const ArchiveNames& names) {
    return output.empty() ? names.stem : output;
}

std::string single_output_path(const std::string& output, const ArchiveNames& names) {
    return output.empty() ? names.stem : output + "\\" + name_of(names.stem.c_str());
}

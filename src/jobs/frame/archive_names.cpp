// The one table of archive extensions and the names derived from them.
#include "jobs/frame/archive_names.h"

#include <cstring>
#include <vector>

#include "io/banned.h"

namespace {

struct ArchiveExtension {
    const char* extension;
    ArchiveKind kind;
};

// Longer extensions before the shorter ones they end with, so that
// ".tar.zst" is a tarball before ".zst" can call it a single file.
const ArchiveExtension EXTENSIONS[] = {
    {".zip", ArchiveKind::zip},
    {".tzst", ArchiveKind::zstd_tarball},
    {".tar.zst", ArchiveKind::zstd_tarball},
    {".tar.zstd", ArchiveKind::zstd_tarball},
    {".zst", ArchiveKind::zstd_file},
    {".zstd", ArchiveKind::zstd_file},
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
    return names;
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

std::string zstandard_patterns() {
    return archive_patterns(ArchiveKind::zstd_tarball) + ";" + archive_patterns(ArchiveKind::zstd_file);
}

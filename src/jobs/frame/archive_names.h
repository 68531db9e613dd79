// Which kind of archive a file is, judged by its name, and the names that
// unpacking it derives: the destination folder (or, for a single compressed
// file, the output file), the intermediate tarball of a Zstandard tarball,
// and the volumes of a set. Every caller (the
// worker's dispatch, the pipelines, velmora-cli, the Decompress chooser's
// filters and the report) asks here. Pure functions on UTF-8 paths; any
// thread.
#pragma once

#include <string>
#include <vector>

enum class ArchiveKind {
    none,           // not an archive Velmora unpacks
    zip,            // ".zip"
    zstd_tarball,   // ".tzst", ".tar.zst", ".tar.zstd": a tarball in Zstandard
    zstd_file,      // ".zst", ".zstd" not named as a tarball: one compressed file
    tarball,        // ".tar"
    gzip_tarball,   // ".tar.gz", ".tgz"
    bzip2_tarball,  // ".tar.bz2", ".tbz2", ".tbz"
    xz_tarball,     // ".tar.xz", ".txz"
    seven_zip,      // ".7z"
    rar,            // ".rar", the first volume or any other of a set
    gzip_file,      // ".gz" not named as a tarball: one compressed file
    bzip2_file,     // ".bz2" likewise
    xz_file,        // ".xz" likewise
};

struct ArchiveNames {
    ArchiveKind kind = ArchiveKind::none;
    // The archive's path without its archive extension: the destination
    // folder of a ZIP or a tarball (without a trailing separator), or the
    // output file of a single compressed file. C:\a\photos.tar.zst gives
    // C:\a\photos; C:\a\notes.txt.zst gives C:\a\notes.txt.
    std::string stem;
    // False when nothing is left of the stem's last component once Windows
    // has dropped its trailing dots and spaces (".zip", "..zip", "...tzst",
    // " .zip"): the output would be the archive's own folder or one above
    // it, so such an archive is not unpacked.
    bool usable = false;
    // The intermediate tarball of a Zstandard tarball ("" for the other
    // kinds), and whether a kept tarball may replace a file of that name:
    // a ".tzst" gives photos.tar, which it replaces; a ".tar.zst" gives the
    // same name, which is very likely the user's own tarball, so a kept
    // tarball then takes a free name instead.
    std::string tarball;
    bool tarball_replaces = false;
    // A volume of a set (x.part1.rar, x.part02.rar): what its volumes' names
    // are made of, before and after the number ("C:\a\x.part", ".rar") and
    // the number's digits (with its leading zeros); the stem is the set's
    // (C:\a\x). volume_digits is 0 for an archive of one file.
    std::string volume_prefix;
    std::string volume_suffix;
    int volume_digits = 0;
};

// The path of volume number (from 1) of the set that names belongs to.
std::string volume_path(const ArchiveNames& names, int number);

// The kind of the archive at path, by its extension (any case), and its names.
ArchiveNames archive_names(const char* path);

// Where an archive of entries unpacks: the folder asked for (output, when
// not empty), or the stem beside the archive.
std::string destination_folder(const std::string& output, const ArchiveNames& names);
// Where a single compressed file unpacks: its stem beside it, or the stem's
// name inside the folder asked for.
std::string single_output_path(const std::string& output, const ArchiveNames& names);

// The extensions Velmora unpacks, for messages: ".zip, .tzst, .tar.zst,
// .tar.zstd, .zst and .zstd".
std::string unpackable_extensions_text();
// The extensions of one kind (every kind for ArchiveKind::none), in the
// table's order.
std::vector<std::string> archive_extensions(ArchiveKind kind);
// The same, the last two joined by conjunction: ".tzst, .tar.zst or .tar.zstd".
std::string archive_extensions_text(ArchiveKind kind, const char* conjunction);
// words separated by commas, the last two joined by conjunction.
std::string words_joined(const std::vector<std::string>& words, const char* conjunction);
// Chooser patterns of the extensions of one kind (or of every kind for
// ArchiveKind::none), separated by ';': "*.tzst;*.tar.zst;*.tar.zstd" for
// Zstandard tarballs.
std::string archive_patterns(ArchiveKind kind);
// The patterns of both Zstandard kinds, tarballs first.
std::string zstandard_patterns();

// A chooser's filter of the names table: the words naming the files
// ("Tar files") and their patterns ("*.tar;*.tar.gz;...").
struct ArchiveFilter {
    std::string name_words;
    std::string patterns;
};
// One filter per group of the table, in its order.
std::vector<ArchiveFilter> archive_filters();

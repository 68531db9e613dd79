// Naming rules and path pieces shared by the archive jobs, on UTF-8 paths:
// the pure ones (names, extensions, safe entry paths, numbering), and those
// that look at the disk, make folders or move files (each says so). Any
// thread.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "io/grow_buffer.h"

// Cuts path at the dot of its last component's extension (a \ or / ends the
// search unchanged) and appends extension (".tar", ".tzst", ".zip" or "").
String replace_extension(const char* path, const char* extension);
// The extension of the last component with its dot ("" when there is none).
std::string path_extension(const char* path);
// The text after the last \ or /.
std::string name_of(const char* path);
// The text before the last \ or / found at an index above 0 ("" when none).
std::string folder_part(const char* path);
// True for a path that names a drive or share root, or nothing: "", "C:",
// "C:\", "\\server\share" (with or without a trailing separator, also
// behind the \\?\ and \\?\UNC\ prefixes) and any path that ends in a
// separator. Such a folder has no name of its own for its archive.
bool is_root_path(const char* path);
// True when two paths name the same file, compared as Windows does (without
// regard to case, either separator).
bool same_path(const std::string& a, const std::string& b);

// A selection list as a file chooser returns it: one full path, or a folder
// followed by names, each zero-terminated, closed by an empty string.
// Returns the full paths in selection order.
std::vector<std::string> selection_paths(const std::string& list);
// Builds a selection list from full paths of one folder (tests and tools).
std::string make_selection_list(const std::vector<std::string>& paths);
// True when path names one of inputs (compared as same_path does).
bool names_an_input(const std::vector<std::string>& inputs, const String& path);

// Turns an archive entry name into a relative Windows path that stays inside
// the destination folder: separators become \, empty and "." components go,
// characters Windows forbids, trailing dots and spaces and reserved device
// names are rewritten. A name that is not UTF-8 is read in the ANSI code
// page first, so the path is always UTF-8. Returns "" (skip the entry) for
// names with a ".." component or with nothing left.
std::string safe_entry_path(const char* entry_name);
// Bytes of a name in code page (CP_ACP, CP_OEMCP, ...), in UTF-8; "" when
// they cannot be converted.
std::string code_page_name(const std::string& bytes, unsigned code_page);
// A relative path as a listing shows it: '/' between components.
std::string listed_name(std::string relative);

// The name an output is written under until it is complete: path +
// ".partial", or ".partial1", ".partial2", ... when a file of that name
// exists, so that a half-written output never takes an existing file's name
// (an input's, or a leftover of a job that was killed). Reads the disk.
String partial_path(const char* path);

// a\b\name.txt with n gives a\b\name (n).txt; a name without an extension
// (or only one, as .profile) gets the number at its end.
std::string numbered(const std::string& path, int n);

// Moves a finished output from its partial name to path, replacing an
// older file there; another program's brief hold on that file is waited
// out. When it is still held, the output takes the first free
// "name (2).ext", "name (3).ext", ... beside it instead. Returns where the
// output is now: path, that other name, or partial itself when no rename
// could be made. A finished output is never deleted here.
std::string place_finished_output(const char* partial, const char* path);

// Moves a finished output from its partial name to path, or, when a file
// has that name, to the first free "name (2).ext", "name (3).ext", ...
// beside it: no existing file is replaced. Returns where the output is now
// (partial itself when no rename could be made).
std::string move_to_free_name(const char* partial, const char* path);

// Creates the folder at path unless it exists; false when there is no
// folder there afterwards.
bool make_folder(const char* path);
// Creates the folder at path (a full path) and every missing folder above
// it; false when there is no folder there afterwards.
bool make_folder_tree(const char* path);
// Creates every missing folder of relative below base (base ends in \).
// Returns false when a level could not be made.
bool create_folders_below(const std::string& base, const std::string& relative);

// The folders below one base that a job has made, or found made, compared
// as Windows compares names: a job that writes many files into a folder
// makes it (and each folder above it) once, not once per file.
class MadeFolders {
public:
    // create_folders_below, for the levels this job has not made yet.
    bool make_below(const std::string& base, const std::string& relative);

private:
    std::set<std::wstring> folded_;
};

// The files one extraction has written below its destination, compared as
// Windows compares names (without regard to case), and for a name that
// meets an existing file through a short 8.3 form, by that form's long name.
// A later entry whose path folds onto an earlier file's is written under a
// free name instead, so that both survive.
class WrittenFiles {
public:
    // The relative path (with \) to write the next file at: relative itself
    // when no earlier file of this extraction has that name but for case,
    // else aside(destination, relative). Records the path returned.
    std::string place(const std::string& destination, const std::string& relative);
    // "name (2).ext", "name (3).ext", ... in the same folder: the first that
    // this extraction has not written and that does not exist below
    // destination (ending in \). Records the path returned.
    std::string aside(const std::string& destination, const std::string& relative);
    // Records that the entry named relative is now whole at placed.
    void written(const std::string& relative, const std::string& placed);
    // True when placed (a path with a '~', at which a file exists) reaches a
    // file this extraction wrote: its long form is the path of one.
    bool reaches_written_file(const std::string& destination, const std::string& placed) const;
    // Where the entry named relative was written whole; null when no entry of
    // that name was.
    const std::string* placed_for(const std::string& relative) const;
    // True when place() was given exactly this name before.
    bool placed_before(const std::string& relative) const;

private:
    bool taken(const std::string& relative) const;
    std::set<std::wstring> folded_;
    std::set<std::wstring> whole_;  // folded paths of the files written whole
    std::set<std::string> names_;   // the names place() was given, as given
    std::map<std::string, std::string> placed_;
};

// The file and folder choosers of the main window's commands, and the save
// chooser of the move after a job. UTF-8 in and out. Any thread that has
// initialised COM (the open choosers: the user-interface thread; the save
// chooser: the worker).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct ChooserFilter {
    const char* name;     // "ZIP files (*.zip)"
    const char* pattern;  // "*.zip"
};

// Returns the chosen file's path (single) or the selection list (multiple:
// one full path, or the folder followed by the names, each zero-terminated,
// closed by an empty string); "" when cancelled. keep_directory puts the
// current directory back afterwards.
std::string choose_open_file(HWND owner, const char* title, const std::vector<ChooserFilter>& filters,
                             const char* default_extension, bool keep_directory, bool multiple);
// Returns the path the user chose to save to ("" when cancelled), asking
// before an existing file is replaced; the current directory is the same
// afterwards.
std::string choose_save_file(HWND owner, const char* title, const std::vector<ChooserFilter>& filters,
                             const char* default_extension);
// Fills folder with the chosen folder; true when the user chose one (folder
// stays empty when the path does not fit in size - 2 bytes).
bool choose_folder(HWND owner, std::string& folder, size_t size, bool keep_directory);

// Converts the classic dialog's UTF-16 multiple-selection result (strings
// closed by an empty one) into the UTF-8 list, leaving off the names that
// no longer fit in limit bytes.
std::string selection_list_from_wide(const wchar_t* result, size_t limit);
// The Decompress chooser's file types: every archive kind Velmora unpacks,
// ZIP, Zstandard (tarballs and single files) and all files.
const std::vector<ChooserFilter>& decompress_filters();

// 1-based index of the first filter whose pattern holds extension, compared
// without regard to case; 1 when none does.
unsigned filter_index_for(const std::vector<ChooserFilter>& filters, const char* extension);

// The program's UTF-8 face of the Windows API. Every function takes and
// returns UTF-8 and calls the Windows function of the same purpose, choosing
// the UTF-16 form for texts that need it and the ANSI form otherwise. Any
// thread may call these; none keeps state.
//
// Rules: a text goes to the UTF-16 form when it is valid UTF-8 with at least
// one multi-byte sequence, or (file-system paths) when it is LONG_PATH_FROM
// bytes or longer; otherwise the ANSI form gets the bytes unchanged, and the
// ANSI form is also the fallback when a conversion fails (folder listings
// always take the UTF-16 form, so names come back whole). Paths of
// LONG_PATH_FROM characters or more get the long-path prefix. Results that
// Windows returns in UTF-16 come back in at most 2048 bytes and are never
// cut: a result that does not fit is replaced by the ANSI result or an empty
// string.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <string>

#include "io/grow_buffer.h"

constexpr size_t PLATFORM_RESULT_BYTES = 2048;
// Windows refuses a folder path of 248 characters or more (room must stay
// for an 8.3 name below MAX_PATH) unless it carries the long-path prefix, so
// folders and files alike take it from this length.
constexpr size_t LONG_PATH_FROM = 248;

// True when text holds a valid multi-byte UTF-8 sequence: a lead byte of 194
// or above followed by the right number of continuation bytes.
bool has_utf8_sequence(const char* text, size_t length);
// The character that starts at text (left > 0 bytes available): its byte
// length (1 to 6) and its code point. A byte below 0x80 is one character; a
// lead byte with enough continuation bytes forms a 2-, 3- or 4-byte
// character when the form is not over-long; 5- and 6-byte forms are taken
// whole as '_'; any other byte is one character whose value is the byte.
size_t decode_utf8_char(const char* text, size_t left, uint32_t* code);
// True when the whole text is valid UTF-8.
bool is_valid_utf8(const char* text, size_t length);
// True when a path takes the UTF-16 route.
bool path_needs_wide(const char* path, size_t length);
// True when a window or message text that is not pure ASCII counts as UTF-8.
bool text_counts_as_utf8(const char* text, size_t length);

// A UTF-16 copy of a UTF-8 text; small texts live inline. ok() is false when
// the conversion failed (invalid UTF-8, or out of memory).
class WideText {
public:
    // Strict conversion: invalid UTF-8 fails. With drop_invalid set, invalid
    // bytes are left out instead.
    WideText(const char* text, size_t length, bool drop_invalid = false);
    ~WideText();
    WideText(const WideText&) = delete;
    WideText& operator=(const WideText&) = delete;

    bool ok() const { return text_ != nullptr; }
    const wchar_t* c_str() const { return text_; }
    size_t length() const { return length_; }

    // Turns the text into a file-system path: with LONG_PATH_FROM characters
    // or more it gets the long-path prefix (\\?\ before a drive letter,
    // \\?\UNC\ in place of the two backslashes of a network path) and then
    // every / after the prefix becomes \. A path that already carries the
    // prefix is left as it is.
    bool make_long_path();

private:
    void convert(const char* text, size_t length);
    bool reserve(size_t count);
    wchar_t inline_[1014];
    wchar_t* text_ = nullptr;
    size_t length_ = 0;
    bool heap_ = false;
};

// A window or message text in UTF-16: converted from UTF-8 with invalid bytes
// dropped when it counts as UTF-8, else through the ANSI code page.
std::wstring window_wide(const char* text, size_t length);

// UTF-16 to UTF-8 into out, all or nothing within limit bytes (zero included).
bool wide_to_utf8(const wchar_t* text, String& out, size_t limit = PLATFORM_RESULT_BYTES);

// The executable's full path; empty when it cannot be had.
String module_file_name();
// The per-user roaming application-data folder (no trailing separator);
// false when Windows cannot name it. The folder is not created.
bool roaming_folder(String& out);
String current_directory();
bool set_current_directory(const char* path);
// Creates one folder; false when it fails (it may already exist).
bool create_directory(const char* path);
// Deletes a file; false when it fails (a missing file included).
bool delete_file(const char* path);
// Renames from to to, replacing an existing to; false when it fails. With
// write_through the call returns only once the move is on the disk.
bool move_file_replacing(const char* from, const char* to, bool write_through = false);
// Renames from to to only when nothing has that name; false when it fails.
bool move_file_to_new_name(const char* from, const char* to);

// The same two, for the steps that finish or clean up a job's output: a
// failure that another program's brief hold on either file explains (access
// denied, a sharing or a lock violation: a virus scanner, the search
// indexer, a sync client, a preview) is retried with a growing pause, about
// ten seconds in all. Any other failure returns at once. GetLastError tells
// the last failure's reason.
bool delete_file_retrying(const char* path);
bool move_file_replacing_retrying(const char* from, const char* to);
// Pause before each retry of the two calls above, in milliseconds; ends with 0.
extern const DWORD HELD_FILE_RETRY_MS[];
// File attributes, or INVALID_FILE_ATTRIBUTES.
DWORD file_attributes(const char* path);

// The path with every component in its long form, as the file system
// stores it (a short 8.3 name such as LONGFI~1.TXT becomes the name it
// stands for); the path must exist. Empty when it cannot be had.
String long_path_name(const char* path);
// The serial number of the volume that holds path (a file or a folder).
bool volume_serial_at(const char* path, DWORD* serial);

// One entry of a folder listing.
struct FoundEntry {
    String name;  // UTF-8, without the folder
    DWORD attributes = 0;
    uint64_t size = 0;
};

// Enumerates a search pattern such as "C:\folder\*" in the order the file
// system returns the entries. The handle is closed by the destructor.
class FolderSearch {
public:
    explicit FolderSearch(const char* pattern);
    ~FolderSearch();
    FolderSearch(const FolderSearch&) = delete;
    FolderSearch& operator=(const FolderSearch&) = delete;
    // Fills entry with the next entry; false at the end or when the search
    // could not start.
    bool next(FoundEntry& entry);

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    bool wide_ = false;
    bool have_first_ = false;
    WIN32_FIND_DATAW wide_data_{};
    WIN32_FIND_DATAA ansi_data_{};
};

// Private-profile (ini) access.
int read_profile_int(const char* section, const char* key, int default_value, const char* file);
bool write_profile_string(const char* section, const char* key, const char* value, const char* file);

// ShellExecute with an empty working directory. Returns the shell's result.
HINSTANCE shell_execute(HWND owner, const char* verb, const char* file, const char* parameters, int show);
// A message box with an OK button only.
int message_box(HWND owner, const char* text, const char* title);
bool set_window_text(HWND window, const char* text);
String window_text(HWND window);
bool set_dialog_item_text(HWND dialog, int id, const char* text);

// fopen with the standard mode strings. A converted path goes to the wide
// call; when that fails, a writing mode gives no stream while a reading mode
// falls back to the ANSI call. The caller closes the stream.
FILE* open_stream(const char* path, const char* mode);

// CreateFile for the file reader and writer: the UTF-16 route for paths
// that need it (with the long-path prefix), else the ANSI route. When the
// UTF-16 route fails and ansi_fallback is set, the ANSI route is tried with
// the unconverted bytes. wide_tried reports whether a conversion was made.
HANDLE create_file(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                   bool ansi_fallback, bool* wide_tried = nullptr);

#include "io/platform.h"

#include <shlobj.h>
#include <shellapi.h>

#include <cassert>
#include <cstdlib>
#include <cstring>
#include <string>

#include "io/banned.h"

namespace {

// Length of the valid multi-byte sequence starting at p, or 0 when there is none.
size_t sequence_length(const unsigned char* p, size_t left) {
    const unsigned char lead = p[0];
    size_t need;
    if (lead >= 0xC2 && lead <= 0xDF) need = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) need = 3;
    else if (lead >= 0xF0 && lead <= 0xF4) need = 4;
    else return 0;
    if (left < need) return 0;
    for (size_t i = 1; i < need; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
    }
    // Overlong, surrogate and out-of-range forms.
    if (lead == 0xE0 && p[1] < 0xA0) return 0;
    if (lead == 0xED && p[1] > 0x9F) return 0;
    if (lead == 0xF0 && p[1] < 0x90) return 0;
    if (lead == 0xF4 && p[1] > 0x8F) return 0;
    return need;
}

struct Utf8Survey {
    size_t multi = 0;    // bytes in valid multi-byte sequences
    size_t invalid = 0;  // bytes that belong to no valid sequence
};

// Calls each(start, n) for every piece of text in order: n is 1 for an
// ASCII byte, the length of a valid multi-byte sequence, or 0 for a byte
// that belongs to none.
template <typename Each>
void for_each_piece(const char* text, size_t length, Each each) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    while (i < length) {
        const size_t n = p[i] < 0x80 ? 1 : sequence_length(p + i, length - i);
        each(i, n);
        i += n ? n : 1;
    }
}

Utf8Survey survey_utf8(const char* text, size_t length) {
    Utf8Survey survey;
    for_each_piece(text, length, [&survey](size_t, size_t n) {
        if (n == 0) ++survey.invalid;
        if (n > 1) survey.multi += n;
    });
    return survey;
}

// Copies text keeping only ASCII bytes and valid multi-byte sequences.
String drop_invalid_bytes(const char* text, size_t length) {
    String out;
    for_each_piece(text, length, [&out, text](size_t start, size_t n) {
        if (n) out.append(text + start, n);
    });
    return out;
}

// Calls the UTF-16 form for a path that needs it (with the long-path
// prefix), else the ANSI form with the unchanged bytes.
template <typename WideCall, typename AnsiCall>
auto path_call(const char* path, WideCall wide_call, AnsiCall ansi_call) {
    const size_t length = std::strlen(path);
    if (path_needs_wide(path, length)) {
        WideText wide(path, length);
        if (wide.make_long_path() && wide.ok()) return wide_call(wide.c_str());
    }
    return ansi_call(path);
}

// A result Windows returns in UTF-16, converted whole into at most 2048
// bytes; when it does not fit, the ANSI form's result, else empty.
template <typename WideCall, typename AnsiCall>
String platform_result(WideCall wide_call, AnsiCall ansi_call) {
    String out;
    wchar_t wide[PLATFORM_RESULT_BYTES];
    const DWORD n = wide_call(wide, static_cast<DWORD>(PLATFORM_RESULT_BYTES));
    if (n > 0 && n < PLATFORM_RESULT_BYTES && wide_to_utf8(wide, out)) return out;
    char ansi[PLATFORM_RESULT_BYTES];
    const DWORD m = ansi_call(ansi, static_cast<DWORD>(PLATFORM_RESULT_BYTES));
    if (m > 0 && m < PLATFORM_RESULT_BYTES) out.set(ansi, m);
    return out;
}

}  // namespace

std::wstring window_wide(const char* text, size_t length) {
    if (text_counts_as_utf8(text, length)) {
        const WideText wide = WideText(text, length, true);
        if (wide.ok()) return std::wstring(wide.c_str(), wide.length());
    }
    if (length == 0 || length > 0x7fffffff) return std::wstring();
    const int n = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), &out[0], n);
    return out;
}

bool has_utf8_sequence(const char* text, size_t length) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < length; ++i) {
        if (p[i] >= 0xC2 && sequence_length(p + i, length - i)) return true;
    }
    return false;
}

namespace {

bool is_continuation_byte(unsigned char byte) { return (byte & 0xC0) == 0x80; }

bool continuations(const unsigned char* p, size_t left, size_t need) {
    if (left < need) return false;
    for (size_t i = 1; i < need; ++i) {
        if (!is_continuation_byte(p[i])) return false;
    }
    return true;
}

}  // namespace

size_t decode_utf8_char(const char* text, size_t left, uint32_t* code) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char lead = p[0];
    *code = lead;
    if (lead < 0x80) return 1;
    if (lead >= 0xC0 && lead <= 0xDF && continuations(p, left, 2) && (lead & 0x1E)) {
        *code = (uint32_t{lead} & 0x1F) << 6 | (p[1] & 0x3F);
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF && continuations(p, left, 3) && ((lead & 0x0F) || (p[1] & 0x20))) {
        *code = (uint32_t{lead} & 0x0F) << 12 | (uint32_t{p[1]} & 0x3F) << 6 | (p[2] & 0x3F);
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF7 && continuations(p, left, 4) && ((lead & 0x07) || (p[1] & 0x30))) {
        *code = (uint32_t{lead} & 0x07) << 18 | (uint32_t{p[1]} & 0x3F) << 12 | (uint32_t{p[2]} & 0x3F) << 6 |
                (p[3] & 0x3F);
        return 4;
    }
    if (lead >= 0xF8 && lead <= 0xFB && continuations(p, left, 5)) {
        *code = '_';
        return 5;
    }
    if (lead >= 0xFC && lead <= 0xFD && continuations(p, left, 6)) {
        *code = '_';
        return 6;
    }
    return 1;
}

bool is_valid_utf8(const char* text, size_t length) { return survey_utf8(text, length).invalid == 0; }

bool path_needs_wide(const char* path, size_t length) {
    return length >= LONG_PATH_FROM || has_utf8_sequence(path, length);
}

bool text_counts_as_utf8(const char* text, size_t length) {
    const Utf8Survey survey = survey_utf8(text, length);
    if (survey.multi == 0 && survey.invalid == 0) return false;  // pure ASCII
    const bool weak = survey.multi < 5 * survey.invalid && 4 * survey.multi < 3 * length;
    return !weak;
}

WideText::WideText(const char* text, size_t length, bool drop_invalid) {
    if (drop_invalid) {
        const String clean = drop_invalid_bytes(text, length);
        convert(clean.c_str(), clean.length());
    } else {
        convert(text, length);
    }
}

void WideText::convert(const char* text, size_t length) {
    if (length == 0) {
        inline_[0] = 0;
        text_ = inline_;
        return;
    }
    if (length > 0x7fffffff) return;
    const int count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, static_cast<int>(length), nullptr, 0);
    if (count <= 0 || !reserve(static_cast<size_t>(count))) return;
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, static_cast<int>(length), text_, count);
    length_ = static_cast<size_t>(count);
    text_[length_] = 0;
}

WideText::~WideText() {
    if (heap_) std::free(text_);
}

bool WideText::reserve(size_t count) {
    // Room for count characters, a zero and an 8-character prefix.
    if (count <= 1000) {
        text_ = inline_;
        return true;
    }
    auto* heap = static_cast<wchar_t*>(std::malloc(count * 2 + 40));
    if (!heap) return false;
    text_ = heap;
    heap_ = true;
    return true;
}

bool WideText::make_long_path() {
    if (!ok() || length_ < LONG_PATH_FROM) return ok();
    const wchar_t* prefix = nullptr;
    size_t skip = 0;
    if (length_ >= 4 && std::wcsncmp(text_, L"\\\\?\\", 4) == 0) return true;
    if (text_[1] == L':') {
        prefix = L"\\\\?\\";
    } else if (text_[0] == L'\\' && text_[1] == L'\\') {
        prefix = L"\\\\?\\UNC\\";
        skip = 2;
    } else {
        return true;
    }
    const size_t prefix_length = std::wcslen(prefix);
    const size_t new_length = prefix_length + length_ - skip;
    // reserve() left room for the longest prefix, in either buffer.
    std::memmove(text_ + prefix_length, text_ + skip, (length_ - skip + 1) * sizeof(wchar_t));
    std::memcpy(text_, prefix, prefix_length * sizeof(wchar_t));
    length_ = new_length;
    for (size_t i = prefix_length; i < length_; ++i) {
        if (text_[i] == L'/') text_[i] = L'\\';
    }
    return true;
}

bool wide_to_utf8(const wchar_t* text, String& out, size_t limit) {
    const int count = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (count <= 0 || static_cast<size_t>(count) > limit) return false;
    char local[PLATFORM_RESULT_BYTES];
    char* target = static_cast<size_t>(count) <= sizeof(local) ? local : static_cast<char*>(std::malloc(count));
    if (!target) return false;
    WideCharToMultiByte(CP_UTF8, 0, text, -1, target, count, nullptr, nullptr);
    const bool ok = out.set(target, static_cast<size_t>(count - 1));
    if (target != local) std::free(target);
    return ok;
}

String module_file_name() {
    return platform_result([](wchar_t* buffer, DWORD size) { return GetModuleFileNameW(nullptr, buffer, size); },
                           [](char* buffer, DWORD size) { return GetModuleFileNameA(nullptr, buffer, size); });
}

bool roaming_folder(String& out) {
    wchar_t wide[MAX_PATH + 1] = {};
    if (SHGetSpecialFolderPathW(nullptr, wide, CSIDL_APPDATA, FALSE) && wide_to_utf8(wide, out)) return true;
    char ansi[MAX_PATH + 1] = {};
    if (SHGetSpecialFolderPathA(nullptr, ansi, CSIDL_APPDATA, FALSE)) {
        out.set(ansi);
        return true;
    }
    return false;
}

String current_directory() {
    return platform_result([](wchar_t* buffer, DWORD size) { return GetCurrentDirectoryW(size, buffer); },
                           [](char* buffer, DWORD size) { return GetCurrentDirectoryA(size, buffer); });
}

bool set_current_directory(const char* path) {
    return path_call(path, [](const wchar_t* p) { return SetCurrentDirectoryW(p) != 0; },
                     [](const char* p) { return SetCurrentDirectoryA(p) != 0; });
}

bool create_directory(const char* path) {
    return path_call(path, [](const wchar_t* p) { return CreateDirectoryW(p, nullptr) != 0; },
                     [](const char* p) { return CreateDirectoryA(p, nullptr) != 0; });
}

bool delete_file(const char* path) {
    return path_call(path, [](const wchar_t* p) { return DeleteFileW(p) != 0; },
                     [](const char* p) { return DeleteFileA(p) != 0; });
}

namespace {

bool move_file_with(const char* from, const char* to, DWORD flags) {
    WideText wide_from(from, std::strlen(from));
    WideText wide_to(to, std::strlen(to));
    if (wide_from.make_long_path() && wide_from.ok() && wide_to.make_long_path() && wide_to.ok()) {
        return MoveFileExW(wide_from.c_str(), wide_to.c_str(), flags) != 0;
    }
    return MoveFileExA(from, to, flags) != 0;
}

}  // namespace

bool move_file_replacing(const char* from, const char* to, bool write_through) {
    return move_file_with(from, to, MOVEFILE_REPLACE_EXISTING | (write_through ? MOVEFILE_WRITE_THROUGH : 0));
}

bool move_file_to_new_name(const char* from, const char* to) { return move_file_with(from, to, 0); }

const DWORD HELD_FILE_RETRY_MS[] = {50, 100, 200, 400, 800, 1200, 1600, 2000, 2000, 2000, 0};

namespace {

bool held_by_another_program(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

template <typename Call>
bool retrying(Call call) {
    for (const DWORD* pause = HELD_FILE_RETRY_MS;; ++pause) {
        if (call()) return true;
        const DWORD error = GetLastError();
        if (*pause == 0 || !held_by_another_program(error)) return false;
        Sleep(*pause);
        SetLastError(error);
    }
}

}  // namespace

bool delete_file_retrying(const char* path) {
    return retrying([path] { return delete_file(path); });
}

bool move_file_replacing_retrying(const char* from, const char* to) {
    return retrying([from, to] { return move_file_replacing(from, to); });
}

DWORD file_attributes(const char* path) {
    return path_call(path, [](const wchar_t* p) { return GetFileAttributesW(p); },
                     [](const char* p) { return GetFileAttributesA(p); });
}

namespace {

HANDLE open_for_attributes(const char* path) {
    return create_file(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, true);
}

}  // namespace

String long_path_name(const char* path) {
    String out;
    WideText wide(path, std::strlen(path));
    if (!wide.make_long_path() || !wide.ok()) return out;
    const DWORD needed = GetLongPathNameW(wide.c_str(), nullptr, 0);
    if (needed == 0) return out;
    std::wstring buffer(needed, L'\0');
    const DWORD n = GetLongPathNameW(wide.c_str(), &buffer[0], needed);
    if (n == 0 || n >= needed) return out;
    buffer.resize(n);
    if (!wide_to_utf8(buffer.c_str(), out, SIZE_MAX)) out.clear();
    return out;
}

bool volume_serial_at(const char* path, DWORD* serial) {
    const HANDLE file = open_for_attributes(path);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = GetFileInformationByHandle(file, &information) != 0;
    CloseHandle(file);
    if (known) *serial = information.dwVolumeSerialNumber;
    return known;
}

FolderSearch::FolderSearch(const char* pattern) {
    // Listings always take the UTF-16 route when the pattern converts, so
    // that names outside the ANSI code page come back intact.
    WideText wide(pattern, std::strlen(pattern));
    if (wide.make_long_path() && wide.ok()) {
        handle_ = FindFirstFileW(wide.c_str(), &wide_data_);
        wide_ = true;
    } else {
        handle_ = FindFirstFileA(pattern, &ansi_data_);
    }
    have_first_ = handle_ != INVALID_HANDLE_VALUE;
}

FolderSearch::~FolderSearch() {
    if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
}

bool FolderSearch::next(FoundEntry& entry) {
    if (handle_ == INVALID_HANDLE_VALUE) return false;
    if (!have_first_) {
        const BOOL more = wide_ ? FindNextFileW(handle_, &wide_data_) : FindNextFileA(handle_, &ansi_data_);
        if (!more) return false;
    }
    have_first_ = false;
    if (wide_) {
        if (!wide_to_utf8(wide_data_.cFileName, entry.name)) entry.name.clear();
        entry.attributes = wide_data_.dwFileAttributes;
        entry.size = (uint64_t{wide_data_.nFileSizeHigh} << 32) | wide_data_.nFileSizeLow;
    } else {
        entry.name.set(ansi_data_.cFileName);
        entry.attributes = ansi_data_.dwFileAttributes;
        entry.size = (uint64_t{ansi_data_.nFileSizeHigh} << 32) | ansi_data_.nFileSizeLow;
    }
    return true;
}

int read_profile_int(const char* section, const char* key, int default_value, const char* file) {
    const size_t length = std::strlen(file);
    if (path_needs_wide(file, length)) {
        WideText wide_file(file, length);
        WideText wide_section(section, std::strlen(section));
        WideText wide_key(key, std::strlen(key));
        if (wide_file.ok() && wide_section.ok() && wide_key.ok()) {
            return static_cast<int>(GetPrivateProfileIntW(wide_section.c_str(), wide_key.c_str(), default_value,
                                                          wide_file.c_str()));
        }
    }
    return static_cast<int>(GetPrivateProfileIntA(section, key, default_value, file));
}

bool write_profile_string(const char* section, const char* key, const char* value, const char* file) {
    const size_t length = std::strlen(file);
    if (path_needs_wide(file, length)) {
        WideText wide_file(file, length);
        WideText wide_section(section, std::strlen(section));
        WideText wide_key(key, std::strlen(key));
        WideText wide_value(value, std::strlen(value));
        if (wide_file.ok() && wide_section.ok() && wide_key.ok() && wide_value.ok()) {
            return WritePrivateProfileStringW(wide_section.c_str(), wide_key.c_str(), wide_value.c_str(),
                                              wide_file.c_str()) != 0;
        }
    }
    return WritePrivateProfileStringA(section, key, value, file) != 0;
}

HINSTANCE shell_execute(HWND owner, const char* verb, const char* file, const char* parameters, int show) {
    const char* texts[3] = {verb ? verb : "", file ? file : "", parameters ? parameters : ""};
    bool wide = false;
    for (const char* t : texts) {
        if (path_needs_wide(t, std::strlen(t))) wide = true;
    }
    if (wide) {
        WideText w_verb(texts[0], std::strlen(texts[0]));
        WideText w_file(texts[1], std::strlen(texts[1]));
        WideText w_parameters(texts[2], std::strlen(texts[2]));
        if (w_verb.ok() && w_file.ok() && w_parameters.ok()) {
            return ShellExecuteW(owner, verb && *verb ? w_verb.c_str() : nullptr, w_file.c_str(),
                                 parameters ? w_parameters.c_str() : nullptr, L"", show);
        }
    }
    return ShellExecuteA(owner, verb && *verb ? verb : nullptr, texts[1], parameters, "", show);
}

int message_box(HWND owner, const char* text, const char* title) {
    const size_t text_length = std::strlen(text);
    const size_t title_length = std::strlen(title);
    if (!text_counts_as_utf8(text, text_length) && !text_counts_as_utf8(title, title_length)) {
        return MessageBoxA(owner, text, title, MB_OK);
    }
    const std::wstring wide_text = window_wide(text, text_length);
    const std::wstring wide_title = window_wide(title, title_length);
    return MessageBoxW(owner, wide_text.c_str(), wide_title.c_str(), MB_OK);
}

bool set_window_text(HWND window, const char* text) {
    const size_t length = std::strlen(text);
    if (text_counts_as_utf8(text, length)) {
        const WideText wide = WideText(text, length, true);
        if (wide.ok()) return SetWindowTextW(window, wide.c_str()) != 0;
    }
    return SetWindowTextA(window, text) != 0;
}

String window_text(HWND window) {
    String out;
    const int length = GetWindowTextLengthW(window);
    if (length <= 0) return out;
    auto* wide = static_cast<wchar_t*>(std::calloc(static_cast<size_t>(length) + 1, sizeof(wchar_t)));
    if (!wide) return out;
    GetWindowTextW(window, wide, length + 1);
    wide_to_utf8(wide, out, SIZE_MAX);
    std::free(wide);
    return out;
}

bool set_dialog_item_text(HWND dialog, int id, const char* text) {
    const HWND item = GetDlgItem(dialog, id);
    return item && set_window_text(item, text);
}

FILE* open_stream(const char* path, const char* mode) {
    const size_t length = std::strlen(path);
    if (path_needs_wide(path, length)) {
        WideText wide(path, length);
        WideText wide_mode(mode, std::strlen(mode));
        if (wide.make_long_path() && wide.ok() && wide_mode.ok()) {
            FILE* stream = _wfopen(wide.c_str(), wide_mode.c_str());
            if (stream) return stream;
            if (std::strpbrk(mode, "wa+")) return nullptr;
        }
    }
    return std::fopen(path, mode);
}

HANDLE create_file(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags, bool ansi_fallback,
                   bool* wide_tried) {
    const size_t length = std::strlen(path);
    if (wide_tried) *wide_tried = false;
    if (path_needs_wide(path, length)) {
        WideText wide(path, length);
        if (wide.make_long_path() && wide.ok()) {
            if (wide_tried) *wide_tried = true;
            const HANDLE handle = CreateFileW(wide.c_str(), access, share, nullptr, disposition, flags, nullptr);
            if (handle != INVALID_HANDLE_VALUE || !ansi_fallback) return handle;
            const DWORD error = GetLastError();
            const HANDLE ansi = CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
            if (ansi == INVALID_HANDLE_VALUE) SetLastError(error);
            return ansi;
        }
    }
    return CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
}

#include "jobs/directory_scan.h"

#include <cstring>

#include "io/platform.h"
#include "io/banned.h"

namespace {
constexpr size_t NAME_BYTES = 1300;
}

bool DirectoryScan::first(const char* folder) {
    close();
    prefix_.set(folder);
    const size_t length = prefix_.length();
    if (length && (folder[length - 1] == '\\' || folder[length - 1] == '/')) prefix_.truncate(length - 1);
    const String pattern = concat(prefix_.c_str(), "\\*");
    WideText wide(pattern.c_str(), pattern.length());
    if (wide.make_long_path() && wide.ok()) {
        wide_ = true;
        handle_ = FindFirstFileW(wide.c_str(), &wide_data_);
        if (handle_ != INVALID_HANDLE_VALUE) return true;
    }
    wide_ = false;
    handle_ = FindFirstFileA(pattern.c_str(), &ansi_data_);
    return handle_ != INVALID_HANDLE_VALUE;
}

bool DirectoryScan::next() {
    if (handle_ == INVALID_HANDLE_VALUE) return false;
    return (wide_ ? FindNextFileW(handle_, &wide_data_) : FindNextFileA(handle_, &ansi_data_)) != 0;
}

bool DirectoryScan::is_directory() const {
    const DWORD attributes = wide_ ? wide_data_.dwFileAttributes : ansi_data_.dwFileAttributes;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

uint64_t DirectoryScan::size() const {
    return wide_ ? (uint64_t{wide_data_.nFileSizeHigh} << 32) | wide_data_.nFileSizeLow
                 : (uint64_t{ansi_data_.nFileSizeHigh} << 32) | ansi_data_.nFileSizeLow;
}

void DirectoryScan::full_path(String& out) const {
    out = prefix_;
    out.append("\\");
    if (!wide_) {
        out.append(ansi_data_.cFileName);
        return;
    }
    String name;
    if (wide_to_utf8(wide_data_.cFileName, name, NAME_BYTES)) out.append(name.c_str());
}

bool DirectoryScan::is_dot_entry() const {
    if (wide_) return std::wcscmp(wide_data_.cFileName, L".") == 0 || std::wcscmp(wide_data_.cFileName, L"..") == 0;
    return std::strcmp(ansi_data_.cFileName, ".") == 0 || std::strcmp(ansi_data_.cFileName, "..") == 0;
}

void DirectoryScan::close() {
    if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

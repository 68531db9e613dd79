#include "jobs/frame/directory_scan.h"

#include <cassert>
#include <cstring>

#include "io/platform.h"
#include "io/banned.h"

ScanSeam scan_seam;

namespace {
constexpr size_t NAME_BYTES = 1300;
}

// Keeps the attributes and tag of the entry just found; returns found.
bool DirectoryScan::take_entry(bool found) {
    if (!found) return false;
    attributes_ = wide_ ? wide_data_.dwFileAttributes : ansi_data_.dwFileAttributes;
    reparse_tag_ = (attributes_ & FILE_ATTRIBUTE_REPARSE_POINT) ? (wide_ ? wide_data_.dwReserved0 : ansi_data_.dwReserved0) : 0;
    if (scan_seam.adjust_entry) {
        String name;
        if (wide_) {
            wide_to_utf8(wide_data_.cFileName, name, NAME_BYTES);
        } else {
            name.set(ansi_data_.cFileName);
        }
        scan_seam.adjust_entry(name.c_str(), &attributes_, &reparse_tag_);
    }
    return true;
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
        if (handle_ != INVALID_HANDLE_VALUE) return take_entry(true);
    }
    wide_ = false;
    handle_ = FindFirstFileA(pattern.c_str(), &ansi_data_);
    return take_entry(handle_ != INVALID_HANDLE_VALUE);
}

bool DirectoryScan::next() {
    if (handle_ == INVALID_HANDLE_VALUE) return false;
    return take_entry((wide_ ? FindNextFileW(handle_, &wide_data_) : FindNextFileA(handle_, &ansi_data_)) != 0);
}

bool DirectoryScan::is_directory() const { return (attributes_ & FILE_ATTRIBUTE_DIRECTORY) != 0; }

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

FolderStep folder_step_for(DWORD attributes, DWORD reparse_tag) {
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return FolderStep::enter;
    // Windows always names the kind of a reparse point; Wine shows a Unix
    // symbolic link as one without a tag, and it is a link all the same.
    // Other tags (cloud placeholders, deduplicated or archived folders) hold
    // the folder itself.
    if (reparse_tag != 0 && !IsReparseTagNameSurrogate(reparse_tag)) return FolderStep::enter;
    const DWORD profile = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    return (attributes & profile) == profile ? FolderStep::profile_link : FolderStep::link;
}

void FolderTrail::start(const char* root) {
    folders_.clear();
    folders_.push_back(identity_of(root));
}

FolderStep FolderTrail::step_into(const DirectoryScan& scan, const char* path) {
    const FolderStep step = folder_step_for(scan.attributes(), scan.reparse_tag());
    if (step != FolderStep::enter) return step;
    const Identity identity = identity_of(path);
    for (const Identity& folder : folders_) {
        if (folder == identity) return FolderStep::loop;
    }
    folders_.push_back(identity);
    return FolderStep::enter;
}

void FolderTrail::leave() {
    assert(!folders_.empty());
    folders_.pop_back();
}

FolderTrail::Identity FolderTrail::identity_of(const char* path) {
    Identity identity;
    // Opening a folder needs backup semantics; reading its identity needs no
    // access to its contents.
    const HANDLE folder = create_file(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, true);
    if (folder == INVALID_HANDLE_VALUE) return identity;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(folder, &info)) {
        identity.volume = info.dwVolumeSerialNumber;
        identity.file = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
        identity.known = true;
    }
    CloseHandle(folder);
    return identity;
}

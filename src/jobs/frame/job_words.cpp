// The words of disk and memory failures; see job_words.h.
#include "jobs/frame/job_words.h"

#include <cctype>
#include <cstring>

#include "io/io_faults.h"
#include "io/platform.h"
#include "jobs/frame/archive_job.h"
#include "io/banned.h"

namespace {

constexpr uint64_t ROOM_LEFT = 1u << 20;

// True when path lies on a FAT or FAT32 drive that has room left.
bool fat_drive_with_room(const char* path) {
    const std::wstring wide = window_wide(path, std::strlen(path));
    wchar_t volume[MAX_PATH + 1];
    if (!GetVolumePathNameW(wide.c_str(), volume, MAX_PATH + 1)) return false;
    wchar_t system[MAX_PATH + 1];
    if (!GetVolumeInformationW(volume, nullptr, 0, nullptr, nullptr, nullptr, system, MAX_PATH + 1)) return false;
    ULARGE_INTEGER free_bytes{};
    return (_wcsicmp(system, L"FAT32") == 0 || _wcsicmp(system, L"FAT") == 0) &&
           GetDiskFreeSpaceExW(volume, &free_bytes, nullptr, nullptr) && free_bytes.QuadPart >= ROOM_LEFT;
}

}  // namespace

std::string write_failure_reason(DWORD error, bool fat_with_room) {
    const bool full = error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
    if (error == ERROR_FILE_TOO_LARGE || (full && fat_with_room)) {
        return "the file is larger than this drive allows (FAT32: 4 GiB)";
    }
    if (full) return "the disk is full";
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    String utf8;
    const bool converted = length > 0 && wide_to_utf8(text, utf8);
    if (text) LocalFree(text);
    std::string reason = converted ? utf8.c_str() : "";
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ' ||
                               reason.back() == '.')) {
        reason.pop_back();
    }
    if (!reason.empty()) reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
    return reason.empty() ? "system error " + std::to_string(error) : reason;
}

std::string write_failure_reason(DWORD error, const char* path) {
    const bool full = error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
    return write_failure_reason(error, full && fat_drive_with_room(path));
}

namespace {

constexpr uint64_t MIB = 1u << 20;

}  // namespace

uint64_t memory_available() {
    if (io_faults.memory_available > 0) return static_cast<uint64_t>(io_faults.memory_available);
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof(status);
    if (!GlobalMemoryStatusEx(&status)) return UINT64_MAX;  // unknown: let the decoder try
    uint64_t available = status.ullAvailPageFile;
    if (status.ullAvailVirtual < available) available = status.ullAvailVirtual;
    if (status.ullTotalPhys < available) available = status.ullTotalPhys;
    return available;
}

std::string mib_text(uint64_t bytes) {
    const std::string digits = std::to_string((bytes + MIB / 2) / MIB);
    std::string text;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
        text += digits[i];
    }
    return text + " MiB";
}

void note_memory_needed(ArchiveJob& job, const char* path, uint64_t needed) {
    std::string text = path;
    if (needed > 0) text += " (needs " + mib_text(needed) + " of memory to unpack)";
    note_problem(job, Problem::needs_memory, text);
}

// velmora-write-floor: the least a Win32 program does to create a tree of
// files, for the benchmark's extraction rows. It reads a list of folders and
// files with their sizes and makes them with plain synchronous calls:
// CreateDirectoryW for each folder, CreateFileW, WriteFile and CloseHandle
// for each file. Nothing else of the program is linked.
//
//   velmora-write-floor [--overlapped] LIST DESTINATION
//
// --overlapped opens each file for overlapped writing, as the program's
// writer does, and waits for every write on an event kept off completion
// ports, as the writer's blocks are: what that mode of writing costs, apart
// from everything else the program does.
//
// LIST is UTF-8, one line per item in the order to make them: "D path" for a
// folder, "F size path" for a file, paths relative to DESTINATION with '\'.
// The data is a fixed pattern. Exit code 0 when everything was made.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr DWORD CHUNK = 65536;

std::wstring wide(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], n);
    return out;
}

bool read_whole(const wchar_t* path, std::string& out) {
    const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char buffer[CHUNK];
    DWORD got = 0;
    while (ReadFile(file, buffer, CHUNK, &got, nullptr) && got > 0) out.append(buffer, got);
    CloseHandle(file);
    return true;
}

// The event of every overlapped write, created once; null for plain writes.
HANDLE write_event = nullptr;

bool write_file(const std::wstring& path, unsigned long long size, const char* pattern, bool overlapped) {
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | (overlapped ? FILE_FLAG_OVERLAPPED : 0);
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool whole = true;
    unsigned long long offset = 0;
    while (whole && size > 0) {
        const DWORD n = size < CHUNK ? static_cast<DWORD>(size) : CHUNK;
        DWORD written = 0;
        if (overlapped) {
            // One write in flight at a time; the event's low bit keeps its
            // completion off any completion port.
            OVERLAPPED request{};
            request.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(write_event) | 1);
            request.Offset = static_cast<DWORD>(offset);
            request.OffsetHigh = static_cast<DWORD>(offset >> 32);
            BOOL ok = WriteFile(file, pattern, n, &written, &request);
            if (!ok && GetLastError() == ERROR_IO_PENDING) ok = GetOverlappedResult(file, &request, &written, TRUE);
            whole = ok && written == n;
        } else {
            whole = WriteFile(file, pattern, n, &written, nullptr) && written == n;
        }
        size -= n;
        offset += n;
    }
    return CloseHandle(file) && whole;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const bool overlapped = argv && argc == 4 && std::wcscmp(argv[1], L"--overlapped") == 0;
    if (!argv || argc != 3 + overlapped) {
        std::fprintf(stderr, "usage: velmora-write-floor [--overlapped] LIST DESTINATION\n");
        return 2;
    }
    argv += overlapped;
    if (overlapped && !(write_event = CreateEventW(nullptr, TRUE, TRUE, nullptr))) return 1;
    std::string list;
    if (!read_whole(argv[1], list)) {
        std::fprintf(stderr, "velmora-write-floor: cannot read the list\n");
        return 2;
    }
    const std::wstring destination = std::wstring(argv[2]) + L"\\";
    CreateDirectoryW(argv[2], nullptr);
    std::vector<char> pattern(CHUNK);
    for (DWORD i = 0; i < CHUNK; ++i) pattern[i] = static_cast<char>('a' + i % 26);
    unsigned long long files = 0, bytes = 0;
    size_t at = 0;
    while (at < list.size()) {
        size_t end = list.find('\n', at);
        if (end == std::string::npos) end = list.size();
        const std::string line = list.substr(at, end - at);
        at = end + 1;
        if (line.size() < 3) continue;
        if (line[0] == 'D') {
            const std::wstring path = destination + wide(line.substr(2));
            if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return 1;
            continue;
        }
        char* rest = nullptr;
        const unsigned long long size = std::strtoull(line.c_str() + 2, &rest, 10);
        if (!rest || *rest != ' ') return 2;
        if (!write_file(destination + wide(rest + 1), size, pattern.data(), overlapped)) return 1;
        ++files;
        bytes += size;
    }
    std::printf("%llu files, %llu bytes\n", files, bytes);
    return 0;
}

// velmora-read-floor: the least a Win32 program does to read every file of a
// tree, for the benchmark's compression rows. It walks the folder with
// FindFirstFileW and FindNextFileW and reads each file whole with plain
// synchronous calls: CreateFileW, ReadFile until the end, CloseHandle.
// Nothing else of the program is linked.
//
//   velmora-read-floor FOLDER
//
// Exit code 0 when every file was read.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr DWORD CHUNK = 65536;

struct Totals {
    unsigned long long files = 0;
    unsigned long long bytes = 0;
};

bool read_file(const std::wstring& path, char* buffer, Totals& totals) {
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD got = 0;
    bool whole = true;
    for (;;) {
        if (!ReadFile(file, buffer, CHUNK, &got, nullptr)) {
            whole = false;
            break;
        }
        if (got == 0) break;
        totals.bytes += got;
    }
    ++totals.files;
    return CloseHandle(file) && whole;
}

bool read_folder(const std::wstring& folder, char* buffer, Totals& totals) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool whole = true;
    do {
        if (std::wcscmp(found.cFileName, L".") == 0 || std::wcscmp(found.cFileName, L"..") == 0) continue;
        const std::wstring path = folder + L"\\" + found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            whole = read_folder(path, buffer, totals) && whole;
        } else {
            whole = read_file(path, buffer, totals) && whole;
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return whole;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 2) {
        std::fprintf(stderr, "usage: velmora-read-floor FOLDER\n");
        return 2;
    }
    static char buffer[CHUNK];
    Totals totals;
    const bool whole = read_folder(argv[1], buffer, totals);
    std::printf("%llu files, %llu bytes\n", totals.files, totals.bytes);
    return whole ? 0 : 1;
}

// velmora-screenshot [--start PROGRAM] [--wait SECONDS] OUT.png [WINDOW-TITLE]:
// saves the screen, or the screen rectangle of the top-level window with that
// title, as a PNG file. Used by the run and test scripts to show what the
// program looks like on a virtual display. --wait gives the window SECONDS to
// appear; --start starts PROGRAM on this desktop first and closes it again
// afterwards (so one Wine virtual desktop can hold both). Exits with 0 only
// when the file was written.
#include <windows.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "graphics/picture.h"

namespace {

void put32(std::vector<unsigned char>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(v >> shift));
}

void put_chunk(std::vector<unsigned char>& out, const char* type, const std::vector<unsigned char>& data) {
    put32(out, static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put32(out, static_cast<uint32_t>(crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
}

bool write_png(const char* path, int width, int height, const std::vector<unsigned char>& bgra) {
    std::vector<unsigned char> raw;
    raw.reserve(static_cast<size_t>(height) * (width * 3 + 1));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        const unsigned char* row = bgra.data() + static_cast<size_t>(y) * width * 4;
        for (int x = 0; x < width; ++x) {
            raw.push_back(row[x * 4 + 2]);
            raw.push_back(row[x * 4 + 1]);
            raw.push_back(row[x * 4 + 0]);
        }
    }
    uLongf packed_size = compressBound(static_cast<uLong>(raw.size()));
    std::vector<unsigned char> packed(packed_size);
    if (compress2(packed.data(), &packed_size, raw.data(), static_cast<uLong>(raw.size()), 6) != Z_OK) return false;
    packed.resize(packed_size);

    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<unsigned char> header;
    put32(header, static_cast<uint32_t>(width));
    put32(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
    put_chunk(png, "IHDR", header);
    put_chunk(png, "IDAT", packed);
    put_chunk(png, "IEND", {});
    FILE* file = std::fopen(path, "wb");
    if (!file) return false;
    const bool ok = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    return std::fclose(file) == 0 && ok;
}

struct Options {
    const char* start = nullptr;
    DWORD wait_ms = 0;
    const char* out = nullptr;
    const char* title = nullptr;
};

bool parse_options(int argc, char** argv, Options& options) {
    int i = 1;
    for (; i + 1 < argc && argv[i][0] == '-' && argv[i][1] == '-'; i += 2) {
        if (std::strcmp(argv[i], "--start") == 0) {
            options.start = argv[i + 1];
        } else if (std::strcmp(argv[i], "--wait") == 0) {
            options.wait_ms = static_cast<DWORD>(std::strtoul(argv[i + 1], nullptr, 10)) * 1000;
        } else {
            return false;
        }
    }
    if (i >= argc || argc - i > 2) return false;
    options.out = argv[i];
    if (i + 1 < argc) options.title = argv[i + 1];
    return true;
}

// The shown top-level window with that title, looked for until wait_ms pass.
HWND find_shown_window(const char* title, DWORD wait_ms) {
    const DWORD begin = GetTickCount();
    for (;;) {
        const HWND window = FindWindowA(nullptr, title);
        if (window && IsWindowVisible(window)) return window;
        if (GetTickCount() - begin >= wait_ms) return nullptr;
        Sleep(100);
    }
}

bool start_program(const char* program, PROCESS_INFORMATION& process) {
    std::string command = std::string("\"") + program + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    return true;
}

// Closes the started program as its close box would, or ends it.
void stop_program(PROCESS_INFORMATION& process, HWND window) {
    if (window) PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hProcess);
}

bool save_area(const char* out, const RECT& area) {
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0) return false;
    Picture* picture = create_picture(width, height);
    if (!picture) return false;
    const HDC screen = GetDC(nullptr);
    BitBlt(picture->dc, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    GdiFlush();
    ReleaseDC(nullptr, screen);
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 4);
    std::memcpy(pixels.data(), picture->pixels, pixels.size());
    destroy_picture(picture);
    if (!write_png(out, width, height, pixels)) {
        std::fprintf(stderr, "cannot write %s\n", out);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse_options(argc, argv, options)) {
        std::fprintf(stderr, "usage: velmora-screenshot [--start PROGRAM] [--wait SECONDS] OUT.png [WINDOW-TITLE]\n");
        return 2;
    }
    PROCESS_INFORMATION process{};
    if (options.start && !start_program(options.start, process)) {
        std::fprintf(stderr, "cannot start %s\n", options.start);
        return 1;
    }
    RECT area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    HWND window = nullptr;
    if (options.title) {
        window = find_shown_window(options.title, options.wait_ms);
        if (window && options.wait_ms) {
            // A window that has just appeared may not be painted yet.
            if (process.hProcess) WaitForInputIdle(process.hProcess, 5000);
            Sleep(500);
        }
        if (!window || !GetWindowRect(window, &area)) {
            std::fprintf(stderr, "no window titled %s\n", options.title);
            if (process.hProcess) stop_program(process, nullptr);
            return 1;
        }
    }
    const bool saved = save_area(options.out, area);
    if (process.hProcess) stop_program(process, window);
    return saved ? 0 : 1;
}

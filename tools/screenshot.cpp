// velmora-screenshot [--start PROGRAM] [--wait SECONDS] OUT.png [WINDOW-TITLE]:
// saves the screen, or the screen rectangle of the top-level window with that
// title, as a PNG file. Used by the run and test scripts to show what the
// program looks like on a virtual display. --wait gives the window SECONDS to
// appear; --start starts PROGRAM on this desktop first and closes it again
// afterwards (so one Wine virtual desktop can hold both). Exits with 0 only
// when the file was written.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "graphics/picture.h"
#include "png_writer.h"

namespace {

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
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    std::memcpy(pixels.data(), picture->pixels, pixels.size() * sizeof(uint32_t));
    destroy_picture(picture);
    if (!write_png(out, width, height, pixels.data())) {
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

#include "windows/license_window.h"

#include <string>

#include "io/file_reader.h"
#include "io/platform.h"
#include "graphics/window_layout.h"
#include "resources/resource_ids.h"
#include "io/banned.h"

HWND license_window = nullptr;

namespace {

String license_folder;
WindowLayout license_layout;

std::string read_whole_file(const char* path) {
    FileReader reader(path);
    const uint64_t size = reader.size();
    if (size == 0 || size > (uint64_t{1} << 30)) return "";
    std::string text(static_cast<size_t>(size), '\0');
    text.resize(reader.read(&text[0], text.size()));
    return text;
}

void on_init_dialog(HWND window) {
    license_window = window;
    license_layout.init(window);
    const HWND text_control = GetDlgItem(window, IDC_LICENSE_TEXT);
    license_layout.add(text_control, 0, 0, 1, 1);
    restore_position(window, "license", {0, 50, 400, 400});
    const std::string text = read_whole_file(concat(license_folder.c_str(), "license.txt").c_str());
    SetFocus(text_control);
    set_window_text(text_control, text.c_str());
    SendMessageA(text_control, EM_SETSEL, static_cast<WPARAM>(-1), 0);
}

void on_destroy(HWND window) {
    save_position(window, "license");
    license_window = nullptr;
}

}  // namespace

void set_license_folder(const char* folder) { license_folder.set(folder); }

INT_PTR CALLBACK license_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (close_on_cancel(window, message, wparam)) return 0;
    switch (message) {
    case WM_INITDIALOG: on_init_dialog(window); break;
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lparam) == GetDlgItem(window, IDC_LICENSE_TEXT)) {
            const HDC dc = reinterpret_cast<HDC>(wparam);
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, 0);
            return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
        }
        break;
    case WM_SIZE:
        if (wparam != SIZE_MINIMIZED) license_layout.relayout();
        break;
    case WM_DESTROY: on_destroy(window); break;
    default: break;
    }
    return 0;
}

#include "cell_host.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "editor/cell_text.h"
#include "graphics/picture.h"
#include "io/platform.h"
#include "png_writer.h"

namespace {

constexpr wchar_t HOST_CLASS[] = L"VelmoraEditorTestHost";

void register_host_class() {
    static bool done = false;
    if (done) return;
    done = true;
    register_cell_window_class(nullptr);
    WNDCLASSW host_class{};
    host_class.lpfnWndProc = DefWindowProcW;
    host_class.hInstance = GetModuleHandleW(nullptr);
    host_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    host_class.lpszClassName = HOST_CLASS;
    RegisterClassW(&host_class);
}

}  // namespace

std::string build_folder() {
    std::string path = module_file_name().c_str();
    path = path.substr(0, path.find_last_of("\\/"));
    return path.substr(0, path.find_last_of("\\/") + 1);
}

CellHost::CellHost(int width, int height, bool make_editor) : width(width), height(height) {
    register_host_class();
    // One host window serves every test: unmapping a top-level window makes
    // Wine wait for the X server without a window manager.
    static HWND shared_host = CreateWindowExW(0, HOST_CLASS, L"Velmora editor test", WS_POPUP | WS_VISIBLE, 0, 0,
                                              width, height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    host = shared_host;
    SetWindowPos(host, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOMOVE);
    control = CreateWindowExW(0, CELL_WINDOW_CLASS, L"", WS_CHILD | WS_VISIBLE, 0, 0, width, height, host, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    if (make_editor) editor = std::make_unique<CellEditor>(&screen);
    attach_window(&screen, control);
    pump();
}

CellHost::~CellHost() {
    editor_shared.overwrite = false;
    editor_shared.search_mode = 0;
    editor_shared.open_link = nullptr;
    if (GetCapture() == control) ReleaseCapture();
    if (editor) editor.reset();
    else detach(&screen);
    DestroyWindow(control);
    pump();
}

void CellHost::load(const char* name, const std::string& bytes) {
    folder.write(name, bytes);
    editor->clear_document();
    editor->open_file(concat(folder.path().c_str(), name).c_str(), nullptr);
    editor->draw(-1);
    editor->ensure_cursor_visible(false, -1);
}

void CellHost::key_down(WPARAM virtual_key) {
    SendMessageW(control, WM_KEYDOWN, virtual_key, 1);
    tick();
}

void CellHost::type(const std::wstring& text) {
    for (wchar_t unit : text) SendMessageW(control, WM_CHAR, unit, 1);
    while (screen.key_count) tick();
}

LRESULT CellHost::mouse(UINT message, int x, int y, WPARAM flags) {
    const LPARAM position = MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y));
    return SendMessageW(control, message, flags, position);
}

LRESULT CellHost::mouse_at_cell(UINT message, int row, int col, WPARAM flags) {
    return mouse(message, cell_x(col) + screen.cell_width / 2, cell_y(row) + screen.cell_height / 2, flags);
}

LRESULT CellHost::wheel(int delta, int x, int y) {
    POINT point{x, y};
    ClientToScreen(control, &point);
    const WPARAM wparam = static_cast<WPARAM>(static_cast<WORD>(static_cast<short>(delta))) << 16;
    return SendMessageW(control, WM_MOUSEWHEEL, wparam, MAKELPARAM(static_cast<WORD>(point.x), static_cast<WORD>(point.y)));
}

namespace {

void send_key(WORD key, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof(input));
}

}  // namespace

HeldKeys::HeldKeys(std::vector<WORD> keys) : keys_(std::move(keys)) {
    for (WORD key : keys_) send_key(key, false);
    CellHost::pump();  // the thread's own key state follows once the input is read
}

HeldKeys::~HeldKeys() {
    for (auto key = keys_.rbegin(); key != keys_.rend(); ++key) send_key(*key, true);
    CellHost::pump();
}

void CellHost::use_font(const wchar_t* face) {
    if (screen.font) DeleteObject(screen.font);
    screen.font = CreateFontW(16, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                              CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, FF_MODERN, face);
    screen.flags |= CELL_MEASURE;
    layout(&screen);
    if (screen.resize_handler) screen.resize_handler(&screen);
    pump();
}

void CellHost::pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void CellHost::capture() {
    UpdateWindow(control);
    pixels_.assign(static_cast<size_t>(width) * height, 0);
    const HDC window_dc = GetDC(control);
    Picture* picture = create_picture(width, height);
    if (picture) {
        BitBlt(picture->dc, 0, 0, width, height, window_dc, 0, 0, SRCCOPY);
        GdiFlush();
        std::memcpy(pixels_.data(), picture->pixels, pixels_.size() * 4);
        destroy_picture(picture);
    }
    ReleaseDC(control, window_dc);
}

COLORREF CellHost::pixel(int x, int y) const {
    const uint32_t p = pixels_.at(static_cast<size_t>(y) * width + x);
    return RGB(p >> 16 & 0xFF, p >> 8 & 0xFF, p & 0xFF);
}

bool CellHost::write_png(const char* path) const {
    return ::write_png(path, width, height, pixels_.data());
}

std::string CellHost::row_text(int row) const {
    std::string text;
    for (int col = 0; col < screen.cols; ++col) {
        const Cell* cell = cell_at(&screen, row, col);
        char bytes[4];
        text.append(bytes, encode_utf8(cell && cell->ch ? cell->ch : ' ', bytes));
    }
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

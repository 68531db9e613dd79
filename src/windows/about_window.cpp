#include "windows/about_window.h"

#include <cstdio>
#include <cstring>

#include "resources/build_info.h"
#include "resources/resource_ids.h"
#include "graphics/picture.h"
#include "graphics/window_layout.h"
#include "io/banned.h"

HWND about_window = nullptr;

namespace {

constexpr int PICTURE_WIDTH = 630;
constexpr int PICTURE_HEIGHT = 210;

constexpr char AUTHOR[] = "The Velmora developers";
// The program's and the author's names in another alphabet, shown while
// Ctrl is held.
constexpr char PROGRAM_OTHER_ALPHABET[] = "\xD0\x92\xD0\xB5\xD0\xBB\xD1\x8C\xD0\xBC\xD0\xBE\xD1\x80\xD0\xB0";
constexpr char AUTHOR_OTHER_ALPHABET[] =
    "\xD0\xA0\xD0\xB0\xD0\xB7\xD1\x80\xD0\xB0\xD0\xB1\xD0\xBE\xD1\x82\xD1\x87\xD0\xB8\xD0\xBA\xD0\xB8 "
    "\xD0\x92\xD0\xB5\xD0\xBB\xD1\x8C\xD0\xBC\xD0\xBE\xD1\x80\xD1\x8B";

struct AboutState {
    CreditRoll roll;
    Picture* picture = nullptr;
    TextRenderer* text = nullptr;
    RECT picture_rect{};
    WindowLayout layout;
    char version_line[64] = {};
    char timestamp_line[96] = {};
    char revision_line[96] = {};
};
AboutState about;

const char* line_text(int index) {
    switch (index) {
    case 1: return about.version_line;
    case 2: return about.timestamp_line;
    case 3: return about.revision_line;
    default: return credit_lines[index];
    }
}

const char* shown_text(int index) {
    const char* text = line_text(index);
    if (!(GetAsyncKeyState(VK_CONTROL) & 0x8000)) return text;
    if (std::strcmp(text, AUTHOR) == 0) return AUTHOR_OTHER_ALPHABET;
    if (std::strcmp(text, "Velmora") == 0) return PROGRAM_OTHER_ALPHABET;
    return text;
}

HFONT credits_font() {
    LOGFONTA font{};
    font.lfHeight = 16;
    font.lfWeight = 400;
    font.lfCharSet = DEFAULT_CHARSET;
    std::snprintf(font.lfFaceName, sizeof(font.lfFaceName), "Arial");
    return CreateFontIndirectA(&font);
}

void compose_frame(HWND window) {
    RECT control{};
    const HWND picture_control = GetDlgItem(window, IDC_ABOUT_PICTURE);
    GetWindowRect(picture_control, &control);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&control), 2);
    const int centre_x = (control.right - control.left) / 2;
    fill_picture(about.picture, 0xFF000000);
    if (about.text) {
        about.text->set_colours((static_cast<uint32_t>(about.roll.fade_alpha) << 24) + 0xC0C0C0, 0xFF000000);
        about.text->set_font(credits_font());
    }
    about.roll.frame(
        [](int index) { return about.text ? static_cast<int>(about.text->measure(shown_text(index)).cy) : 16; },
        [centre_x](int index, int top) {
            if (!about.text) return;
            const char* text = shown_text(index);
            const SIZE size = about.text->measure(text);
            about.text->draw(about.picture, text, centre_x - size.cx / 2, top);
        });
    about.picture_rect = control;
}

void on_init_dialog(HWND window) {
    about.roll.reset();
    about.picture_rect = {};
    about_window = window;
    std::snprintf(about.version_line, sizeof(about.version_line), "Version: %s (x64)", BUILD_VERSION);
    std::snprintf(about.timestamp_line, sizeof(about.timestamp_line), "Build timestamp: %s", BUILD_TIMESTAMP);
    std::snprintf(about.revision_line, sizeof(about.revision_line), "Git commit: %s", BUILD_REVISION);
    about.layout.init(window);
    about.layout.add(GetDlgItem(window, IDC_ABOUT_PICTURE), 0, 0, 1, 1);
    restore_position(window, "about", {0, 50, 630, 210});
    for (int i = 0; i < CREDIT_LINE_COUNT; ++i) {
        if (!*credit_lines[i]) about.roll.blank_line_indices.push_back(i);
    }
    about.picture = create_picture(PICTURE_WIDTH, PICTURE_HEIGHT);
    about.text = new TextRenderer;
    fill_picture(about.picture, 0xFF000000);
    SetTimer(window, ABOUT_TIMER_ID, 41, nullptr);
}

void on_paint(HWND window) {
    const HWND control = GetDlgItem(window, IDC_ABOUT_PICTURE);
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(control, &paint);
    if (about.picture) {
        const RECT& r = about.picture_rect;
        BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, about.picture->dc, 0, 0, SRCCOPY);
    }
    EndPaint(control, &paint);
    // The picture covers the whole dialog: without this the dialog's own
    // update region would stay and ask for painting without end.
    ValidateRect(window, nullptr);
}

void on_destroy(HWND window) {
    KillTimer(window, ABOUT_TIMER_ID);
    save_position(window, "about");
    destroy_picture(about.picture);
    about.picture = nullptr;
    delete about.text;
    about.text = nullptr;
    about.roll.reset();
    about_window = nullptr;
}

}  // namespace

void CreditRoll::reset() {
    blank_line_indices.clear();
    scroll_offset = 0;
    scroll_end = 0;
    first_frame = true;
    fade_alpha = 255;
}

void CreditRoll::frame(const std::function<int(int)>& measure, const std::function<void(int, int)>& draw) {
    const int last_blank = blank_line_indices.empty() ? -1 : blank_line_indices.back();
    int top = 178 - scroll_offset;
    int bottom = 388 - scroll_offset;
    size_t next_blank = 0;
    for (int i = 0; i < CREDIT_LINE_COUNT; ++i) {
        const bool blank = next_blank < blank_line_indices.size() && blank_line_indices[next_blank] == i;
        if (blank) {
            ++next_blank;
            const int step = i == last_blank ? 150 : 32;
            top += step;
            bottom += step;
            continue;
        }
        const int step = i <= last_blank ? 16 : 32;
        top += step;
        bottom += step;
        if (static_cast<uint32_t>(top + 16) > 226u) continue;
        const int height = measure(i);
        draw(i, top);
        bottom = top + height;
    }
    if (first_frame) {
        scroll_end = bottom - 105;
        first_frame = false;
    }
    if (scroll_offset > scroll_end) {
        fade_alpha -= fade_alpha > 220 ? 1 : 20;
        if (fade_alpha <= 0) {
            fade_alpha = 255;
            scroll_offset = -32;
        }
    } else {
        ++scroll_offset;
    }
}

INT_PTR CALLBACK about_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM) {
    if (close_on_cancel(window, message, wparam)) return 0;
    switch (message) {
    case WM_INITDIALOG: on_init_dialog(window); break;
    case WM_TIMER:
        if (wparam == ABOUT_TIMER_ID) {
            compose_frame(window);
            InvalidateRect(window, nullptr, FALSE);
        }
        break;
    case WM_PAINT: on_paint(window); break;
    case WM_ERASEBKGND: return 1;
    case WM_SIZE:
        if (wparam != SIZE_MINIMIZED) about.layout.relayout();
        break;
    case WM_DESTROY: on_destroy(window); break;
    default: break;
    }
    return 0;
}

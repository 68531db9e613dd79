#include "graphics/picture.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "io/platform.h"
#include "io/banned.h"

Picture* create_picture(int width, int height) {
    if (width <= 0 || height <= 0) return nullptr;
    auto* picture = new Picture;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    picture->dc = CreateCompatibleDC(nullptr);
    picture->bitmap = CreateDIBSection(picture->dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!picture->dc || !picture->bitmap) {
        destroy_picture(picture);
        return nullptr;
    }
    picture->previous = SelectObject(picture->dc, picture->bitmap);
    picture->pixels = static_cast<uint32_t*>(bits);
    picture->width = width;
    picture->height = height;
    return picture;
}

void destroy_picture(Picture* picture) {
    if (!picture) return;
    if (picture->previous) SelectObject(picture->dc, picture->previous);
    if (picture->bitmap) DeleteObject(picture->bitmap);
    if (picture->dc) DeleteDC(picture->dc);
    delete picture;
}

void fill_picture(Picture* picture, uint32_t argb) {
    if (!picture) return;
    GdiFlush();
    std::fill(picture->pixels, picture->pixels + static_cast<size_t>(picture->width) * picture->height, argb);
}

TextRenderer::~TextRenderer() {
    if (font_) DeleteObject(font_);
}

void TextRenderer::set_font(HFONT font) {
    if (font_ && font_ != font) DeleteObject(font_);
    font_ = font;
}

void TextRenderer::set_colours(uint32_t text_argb, uint32_t background_argb) {
    text_ = text_argb;
    background_ = background_argb;
}

SIZE TextRenderer::measure(const char* text) const {
    const std::wstring wide = window_wide(text, std::strlen(text));
    const HDC dc = CreateCompatibleDC(nullptr);
    const HGDIOBJ old = font_ ? SelectObject(dc, font_) : nullptr;
    RECT r = {0, 0, 0, 0};
    DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &r, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    if (old) SelectObject(dc, old);
    DeleteDC(dc);
    return {r.right - r.left, r.bottom - r.top};
}

void TextRenderer::draw(Picture* picture, const char* text, int x, int y) const {
    if (!picture) return;
    const SIZE size = measure(text);
    if (size.cx <= 0 || size.cy <= 0) return;
    // The glyphs are drawn white on black into a mask whose brightness is
    // their coverage, then blended over the picture.
    Picture* mask = create_picture(size.cx, size.cy);
    if (!mask) return;
    fill_picture(mask, 0xFF000000);
    const std::wstring wide = window_wide(text, std::strlen(text));
    const HGDIOBJ old = font_ ? SelectObject(mask->dc, font_) : nullptr;
    SetBkMode(mask->dc, TRANSPARENT);
    SetTextColor(mask->dc, RGB(255, 255, 255));
    RECT r = {0, 0, size.cx, size.cy};
    DrawTextW(mask->dc, wide.c_str(), static_cast<int>(wide.size()), &r, DT_SINGLELINE | DT_NOPREFIX);
    if (old) SelectObject(mask->dc, old);
    GdiFlush();
    const uint32_t alpha = text_ >> 24;
    for (int row = 0; row < size.cy; ++row) {
        const int py = y + row;
        if (py < 0 || py >= picture->height) continue;
        for (int col = 0; col < size.cx; ++col) {
            const int px = x + col;
            if (px < 0 || px >= picture->width) continue;
            const uint32_t coverage = mask->pixels[static_cast<size_t>(row) * size.cx + col] & 0xFF;
            const uint32_t weight = coverage * alpha / 255;
            if (!weight) continue;
            uint32_t& dst = picture->pixels[static_cast<size_t>(py) * picture->width + px];
            uint32_t out = 0xFF000000;
            for (int shift = 0; shift <= 16; shift += 8) {
                const uint32_t d = (dst >> shift) & 0xFF;
                const uint32_t s = (text_ >> shift) & 0xFF;
                out |= ((d * (255 - weight) + s * weight) / 255) << shift;
            }
            dst = out;
        }
    }
    destroy_picture(mask);
}

void paint_dialog_background(HWND dialog, HDC dc, uint32_t argb) {
    RECT client{};
    GetClientRect(dialog, &client);
    Picture* picture = create_picture(client.right, client.bottom);
    if (!picture) return;
    fill_picture(picture, argb);
    const int saved = SaveDC(dc);
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child)) continue;
        RECT r{};
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        ExcludeClipRect(dc, r.left, r.top, r.right, r.bottom);
    }
    BitBlt(dc, 0, 0, client.right, client.bottom, picture->dc, 0, 0, SRCCOPY);
    RestoreDC(dc, saved);
    destroy_picture(picture);
}

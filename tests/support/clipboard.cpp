#include "clipboard.h"

#include <cstring>

std::wstring clipboard_text(HWND owner) {
    std::wstring text;
    if (!OpenClipboard(owner)) return text;
    if (const HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* units = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = units;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

bool set_clipboard(HWND owner, UINT format, const void* bytes, size_t size) {
    if (!OpenClipboard(owner)) return false;
    EmptyClipboard();
    bool placed = false;
    if (const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size)) {
        std::memcpy(GlobalLock(block), bytes, size);
        GlobalUnlock(block);
        placed = SetClipboardData(format, block) != nullptr;
        if (!placed) GlobalFree(block);
    }
    CloseClipboard();
    return placed;
}

bool set_clipboard_text(const std::wstring& text, HWND owner) {
    return set_clipboard(owner, CF_UNICODETEXT, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

void empty_clipboard(HWND owner) {
    if (!OpenClipboard(owner)) return;
    EmptyClipboard();
    CloseClipboard();
}

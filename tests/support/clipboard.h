// The Windows clipboard as tests read and fill it. owner may be null (the
// clipboard is then opened for no window).
#pragma once

#include <windows.h>

#include <string>

// The Unicode text on the clipboard; empty when there is none.
std::wstring clipboard_text(HWND owner = nullptr);
// Puts size bytes in format on the clipboard, in place of what it held;
// false when the clipboard could not be opened or filled.
bool set_clipboard(HWND owner, UINT format, const void* bytes, size_t size);
// Puts text (CF_UNICODETEXT) on the clipboard.
bool set_clipboard_text(const std::wstring& text, HWND owner = nullptr);
// Leaves the clipboard empty.
void empty_clipboard(HWND owner = nullptr);

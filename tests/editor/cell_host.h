// A test host: a plain top-level window holding one control of the class
// "VelmoraCellWindow" bound to a CellScreen, with an editor on it; and
// helpers that read pixels back from the painted control. Needs a display.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "editor/cell_editor.h"
#include "editor/cell_screen.h"
#include "test_folder.h"

class CellHost {
public:
    // A host whose client area is width x height pixels; the control fills
    // it. With make_editor false the screen has no editor (no resize handler).
    CellHost(int width, int height, bool make_editor = true);
    ~CellHost();
    CellHost(const CellHost&) = delete;
    CellHost& operator=(const CellHost&) = delete;

    // Loads bytes as the file name (under the test folder) and draws.
    void load(const char* name, const std::string& bytes);
    // Sends a key message to the control, then lets the editor take the keys.
    void key_down(WPARAM virtual_key);
    void type(const std::wstring& text);
    void tick() { host_tick(editor.get()); }
    // Sends a mouse message to the control at pixel (x, y) with the key
    // flags (MK_SHIFT, ...); the wheel's position is in screen coordinates.
    LRESULT mouse(UINT message, int x, int y, WPARAM flags = 0);
    // A mouse message at the middle of a cell.
    LRESULT mouse_at_cell(UINT message, int row, int col, WPARAM flags = 0);
    LRESULT wheel(int delta, int x, int y);
    // Draws with the font of that face (16 pixels high) instead of the
    // program's own, re-measures the cells and redraws.
    void use_font(const wchar_t* face);
    // Processes pending messages of this thread.
    static void pump();
    // Paints the control now and captures its client area.
    void capture();
    COLORREF pixel(int x, int y) const;
    // The centre and the left edge pixels of a cell.
    int cell_x(int col) const { return col * screen.cell_width; }
    int cell_y(int row) const { return row * screen.cell_height; }
    bool write_png(const char* path) const;
    std::string row_text(int row) const;

    HWND host = nullptr;
    HWND control = nullptr;
    CellScreen screen;
    std::unique_ptr<CellEditor> editor;
    TestFolder folder{"cellhost"};
    int width;
    int height;

private:
    std::vector<uint32_t> pixels_;  // 0x00RRGGBB, top-down
};

// Holds keys down through SendInput for its lifetime, so that both the
// window's key translation and the editor's asynchronous reads see them.
class HeldKeys {
public:
    HeldKeys(std::initializer_list<WORD> keys) : HeldKeys(std::vector<WORD>(keys)) {}
    explicit HeldKeys(std::vector<WORD> keys);
    ~HeldKeys();
    HeldKeys(const HeldKeys&) = delete;
    HeldKeys& operator=(const HeldKeys&) = delete;

private:
    std::vector<WORD> keys_;
};

// The build folder (ending in a separator): the test executable lives in
// its tests subfolder.
std::string build_folder();

// Off-screen pictures: a 32-bit top-down bitmap on a memory device context
// that BitBlt can copy from, filled with ARGB colours, and a text renderer
// that draws one line of UTF-8 text into a picture with the colour's alpha
// byte as the text's opacity. User-interface thread only.
#pragma once

#include <windows.h>

#include <cstdint>

struct Picture {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    uint32_t* pixels = nullptr;  // 0xAARRGGBB, top-down rows
    int width = 0;
    int height = 0;
};

// Returns null when the bitmap cannot be made. The caller destroys it.
Picture* create_picture(int width, int height);
// Nothing happens for null.
void destroy_picture(Picture* picture);
void fill_picture(Picture* picture, uint32_t argb);

class TextRenderer {
public:
    TextRenderer() = default;
    ~TextRenderer();
    TextRenderer(const TextRenderer&) = delete;
    TextRenderer& operator=(const TextRenderer&) = delete;

    // Takes over font, releasing the previous one.
    void set_font(HFONT font);
    void set_colours(uint32_t text_argb, uint32_t background_argb);
    // The size of one line of text without prefix processing.
    SIZE measure(const char* text) const;
    // Draws one line with its top-left at (x, y), blending the text colour
    // over the picture by the colour's alpha byte.
    void draw(Picture* picture, const char* text, int x, int y) const;

private:
    HFONT font_ = nullptr;
    uint32_t text_ = 0xFFFFFFFF;
    uint32_t background_ = 0xFF000000;
};

// Paints a dialog's background in one colour: drawn off-screen, then copied
// with the child windows clipped out so that they do not flicker.
void paint_dialog_background(HWND dialog, HDC dc, uint32_t argb);

// The About window: credits rolling upward in silver on black, fading out
// when the last line reaches the middle and starting again. User-interface
// thread only.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

constexpr UINT_PTR ABOUT_TIMER_ID = 505;
constexpr int CREDIT_LINE_COUNT = 70;

extern HWND about_window;
extern const char* const credit_lines[CREDIT_LINE_COUNT];

INT_PTR CALLBACK about_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// The roll's state and one frame of its arithmetic, apart from drawing.
struct CreditRoll {
    std::vector<int> blank_line_indices;
    int scroll_offset = 0;
    int scroll_end = 0;
    bool first_frame = true;
    int fade_alpha = 255;

    void reset();
    // Lays out one frame: calls draw(index, top) for every line that shows
    // (measure gives a line's height), then advances the roll.
    void frame(const std::function<int(int index)>& measure, const std::function<void(int index, int top)>& draw);
};

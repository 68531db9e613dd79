// Anchor layout arithmetic, and a real dialog-like window laid out again.
#include <gtest/gtest.h>

#include "graphics/window_layout.h"

TEST(WindowLayout, anchors_share_the_growth_with_truncation_toward_zero) {
    const RECT registered = {10, 20, 110, 220};
    struct Case {
        const char* name;
        LayoutAnchors anchors;
        int dx, dy;
        RECT expected;
    };
    const Case cases[] = {
        {"fills", {0, 0, 1, 1}, 100, 50, {10, 20, 210, 270}},
        {"left_pane", {0, 0, 0.5f, 1}, 100, 50, {10, 20, 160, 270}},
        {"right_pane", {0.5f, 0, 1, 1}, 100, 50, {60, 20, 210, 270}},
        {"grow_7_half", {0.5f, 0, 0.5f, 0}, 7, 0, {13, 20, 113, 220}},
        {"shrink_7_half", {0.5f, 0, 0.5f, 0}, -7, 0, {7, 20, 107, 220}},
        {"pinned", {0, 0, 0, 0}, 300, 300, {10, 20, 110, 220}},
        {"shrunk_past_zero", {0, 0, 1, 1}, -500, -500, {10, 20, 10, 20}},
    };
    for (const Case& c : cases) {
        const RECT r = anchored_rect(registered, c.anchors, c.dx, c.dy);
        EXPECT_EQ(r.left, c.expected.left) << c.name;
        EXPECT_EQ(r.top, c.expected.top) << c.name;
        EXPECT_EQ(r.right, c.expected.right) << c.name;
        EXPECT_EQ(r.bottom, c.expected.bottom) << c.name;
    }
}

TEST(WindowLayout, a_resized_window_moves_its_anchored_children) {
    const HWND parent = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, 400, 300, nullptr, nullptr,
                                        nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
    const HWND left = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 10, 10, 180, 280, parent, nullptr,
                                      nullptr, nullptr);
    const HWND right = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 210, 10, 180, 280, parent, nullptr,
                                       nullptr, nullptr);
    WindowLayout layout;
    layout.init(parent);
    EXPECT_EQ(layout.scale(), 0) << "the program is not per-monitor DPI aware";
    layout.add(left, 0, 0, 0.5f, 1);
    layout.add(right, 0.5f, 0, 1, 1);
    SetWindowPos(parent, nullptr, 0, 0, 500, 350, SWP_NOMOVE | SWP_NOZORDER);
    layout.relayout();
    RECT r{};
    GetWindowRect(right, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, 260);
    EXPECT_EQ(r.right, 490);
    EXPECT_EQ(r.bottom, 340);
    GetWindowRect(left, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.right, 240);
    DestroyWindow(parent);
}

// The main window's place from one run to the next, with the real program:
// maximized, closed while minimized, moved with the system move loop by real
// keys, and moved past the left edge of the screen. Needs a display.
#include <gtest/gtest.h>

#include <string>

#include "installed_program.h"

namespace {

RECT rect_of(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    return r;
}

// Opens the window's system menu with Alt+Space and starts Move.
void start_keyboard_move(HWND window) {
    bring_to_front(window);
    press_chord(VK_SPACE, false, false, true);
    Sleep(300);
    press_chord('M', false);
    Sleep(300);
}

// One arrow key of the move loop; returns the window's rectangle after it.
RECT move_step(HWND window, WORD arrow) {
    const RECT before = rect_of(window);
    press_chord(arrow, false);
    for (int i = 0; i < 50; ++i) {
        const RECT now = rect_of(window);
        if (now.left != before.left || now.top != before.top) return now;
        Sleep(20);
    }
    return rect_of(window);
}

}  // namespace

TEST(Placement, a_maximized_window_comes_back_maximized_over_its_restored_rectangle) {
    Installed velmora("place-maximized");
    velmora.set_data("velmora.ini", "[velmora]\r\nmain_wnd_x=130\r\nmain_wnd_y=90\r\nmain_wnd_w=500\r\n"
                                    "main_wnd_h=60\r\nmain_wnd_maximized=1\r\n");
    ASSERT_TRUE(velmora.start());
    HWND window = main_window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(IsZoomed(window));
    close_main_window(window);
    ASSERT_EQ(velmora.wait_exit(), 0);
    EXPECT_EQ(velmora.ini("main_wnd_maximized"), "1");
    EXPECT_EQ(velmora.ini("main_wnd_x") + "," + velmora.ini("main_wnd_y") + " " + velmora.ini("main_wnd_w") + "x" +
                  velmora.ini("main_wnd_h"),
              "130,90 500x60")
        << "the restored rectangle, not the maximized one, is written";

    ASSERT_TRUE(velmora.start());
    window = main_window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(IsZoomed(window)) << "the next start maximizes it again";
    const RECT maximized = rect_of(window);
    PostMessageA(window, WM_SYSCOMMAND, SC_RESTORE, 0);
    // Restoring clears the maximized style first and moves the window after:
    // another process can see the one without the other.
    const auto restoring = [&] {
        const RECT now = rect_of(window);
        return IsZoomed(window) || EqualRect(&now, &maximized);
    };
    for (int i = 0; i < 250 && restoring(); ++i) Sleep(20);
    const RECT r = rect_of(window);
    EXPECT_EQ(r.left, 130);
    EXPECT_EQ(r.top, 90);
    EXPECT_EQ(r.right - r.left, 500);
    EXPECT_EQ(r.bottom - r.top, 60);
    close_main_window(window);
    ASSERT_EQ(velmora.wait_exit(), 0);
    EXPECT_EQ(velmora.ini("main_wnd_maximized"), "0");
}

TEST(Placement, closing_while_minimized_keeps_the_last_restored_rectangle) {
    Installed velmora("place-minimized");
    velmora.set_data("velmora.ini", "[velmora]\r\nmain_wnd_x=210\r\nmain_wnd_y=160\r\n");
    ASSERT_TRUE(velmora.start());
    const HWND window = main_window();
    ASSERT_NE(window, nullptr);
    PostMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    for (int i = 0; i < 100 && !IsIconic(window); ++i) Sleep(20);
    ASSERT_TRUE(IsIconic(window));
    close_main_window(window);
    ASSERT_EQ(velmora.wait_exit(), 0);
    EXPECT_EQ(velmora.data("velmora.ini"),
              "[velmora]\r\nmain_wnd_x=210\r\nmain_wnd_y=160\r\nmain_wnd_w=450\r\nmain_wnd_h=50\r\n"
              "main_wnd_maximized=0\r\ncompressor=1\r\n");
}

TEST(Placement, a_move_by_the_user_is_recorded_but_not_past_the_left_edge) {
    Installed velmora("place-moved");
    ASSERT_TRUE(velmora.start());
    HWND window = main_window();
    ASSERT_NE(window, nullptr);
    start_keyboard_move(window);
    RECT r = move_step(window, VK_RIGHT);
    r = move_step(window, VK_DOWN);
    ASSERT_NE(r.left, 50) << "the arrow keys move the window";
    ASSERT_NE(r.top, 50);
    press_chord(VK_RETURN, false);
    Sleep(200);
    close_main_window(window);
    ASSERT_EQ(velmora.wait_exit(), 0);
    EXPECT_EQ(velmora.ini("main_wnd_x"), std::to_string(r.left)) << "where the move ended";
    EXPECT_EQ(velmora.ini("main_wnd_y"), std::to_string(r.top));

    ASSERT_TRUE(velmora.start());
    window = main_window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(rect_of(window).left, r.left) << "the next start opens where the user put it";
    POINT client{0, 0};
    ClientToScreen(window, &client);
    const LONG frame = client.x - rect_of(window).left;
    start_keyboard_move(window);
    RECT last_recordable = rect_of(window);
    int steps_past_edge = 0;
    for (int i = 0; i < 80 && steps_past_edge < 3; ++i) {
        const RECT now = move_step(window, VK_LEFT);
        if (now.left + frame >= 0) {
            last_recordable = now;
        } else {
            ++steps_past_edge;
        }
    }
    ASSERT_EQ(steps_past_edge, 3) << "the window went past the left edge";
    press_chord(VK_RETURN, false);
    Sleep(200);
    EXPECT_LT(rect_of(window).left, 0);
    close_main_window(window);
    ASSERT_EQ(velmora.wait_exit(), 0);
    EXPECT_EQ(velmora.ini("main_wnd_x"), std::to_string(last_recordable.left))
        << "the last place whose client area began on the screen";
}

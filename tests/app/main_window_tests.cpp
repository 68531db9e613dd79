// The main window of the real program: its place and the ini keys it
// writes, the compressor shortcuts, and a job started from the menu with the
// Progress window shown and closed.
#include <gtest/gtest.h>

#include <string>

#include "installed_program.h"
#include "resources/resource_ids.h"

namespace {

std::string ini_value(const Installed& velmora, const char* key) {
    const std::string ini = velmora.data("velmora.ini");
    const std::string marker = std::string("\n") + key + "=";
    const size_t at = ini.find(marker);
    if (at == std::string::npos) return "";
    const size_t start = at + marker.size();
    return ini.substr(start, ini.find_first_of("\r\n", start) - start);
}

}  // namespace

TEST(MainWindow, opens_at_its_defaults_and_writes_its_keys_in_order_on_close) {
    Installed velmora("main-defaults");
    ASSERT_TRUE(velmora.start());
    const HWND window = main_window();
    ASSERT_NE(window, nullptr);
    RECT r{};
    GetWindowRect(window, &r);
    EXPECT_EQ(r.left, 50);
    EXPECT_EQ(r.top, 50);
    EXPECT_EQ(r.right - r.left, 450);
    EXPECT_EQ(r.bottom - r.top, 50);
    SetWindowPos(window, nullptr, 120, 80, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    close_main_window(window);
    EXPECT_EQ(velmora.wait_exit(), 0);
    EXPECT_EQ(velmora.data("velmora.ini"),
              "[velmora]\r\nmain_wnd_x=50\r\nmain_wnd_y=50\r\nmain_wnd_w=450\r\nmain_wnd_h=50\r\n"
              "main_wnd_maximized=0\r\ncompressor=1\r\n")
        << "a move not made by dragging is not recorded";
}

TEST(MainWindow, ctrl_0_and_ctrl_1_choose_the_compressor_for_the_next_start) {
    Installed velmora("main-compressor");
    velmora.set_data("velmora.ini", "[velmora]\r\nmain_wnd_x=-20\r\nmain_wnd_y=30\r\n");
    ASSERT_TRUE(velmora.start());
    HWND window = main_window();
    ASSERT_NE(window, nullptr);
    RECT r{};
    GetWindowRect(window, &r);
    EXPECT_EQ(r.left, -20) << "stored positions are used as they are";
    SetForegroundWindow(window);
    Sleep(300);
    press_chord('0', true);
    press_chord(VK_NUMPAD1, true);  // keypad digits are no shortcut
    close_main_window(window);
    ASSERT_EQ(velmora.wait_exit(), 0);
    EXPECT_EQ(ini_value(velmora, "compressor"), "0");

    ASSERT_TRUE(velmora.start());
    window = main_window();
    ASSERT_NE(window, nullptr);
    SetForegroundWindow(window);
    Sleep(300);
    press_chord('1', true);
    PostMessageA(window, WM_COMMAND, CMD_EXIT, 0);
    EXPECT_EQ(velmora.wait_exit(), 0);
    EXPECT_EQ(ini_value(velmora, "compressor"), "1");
}

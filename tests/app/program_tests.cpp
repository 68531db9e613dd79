// The real velmora.exe, started from a temporary folder in portable mode:
// the files of a first and a later start, the parse-error message and the
// single instance. Needs a display.
#include <gtest/gtest.h>

#include <string>

#include "io/platform.h"
#include "resources/resource_ids.h"
#include "test_folder.h"

#include "installed_program.h"


TEST(Program, first_portable_start_writes_both_files_and_shows_the_main_window) {
    Installed velmora("first-start");
    ASSERT_TRUE(velmora.start());
    const HWND window = main_window();
    ASSERT_NE(window, nullptr);
    EXPECT_NE(GetMenu(window), nullptr);
    EXPECT_EQ(velmora.data("preferences-default.txt").size(), 1071u);
    EXPECT_EQ(velmora.data("preferences.txt").size(), 116u);
    close_main_window(window);
    EXPECT_EQ(velmora.wait_exit(), 0);
}

TEST(Program, a_later_start_restores_the_default_file_and_keeps_the_users) {
    Installed velmora("later-start");
    const std::string mine = "{ \"zlib_compression_level\": 9 } // mine\r\n";
    velmora.set_data("preferences.txt", mine);
    velmora.set_data("preferences-default.txt", "{ \"edited\": true }");
    ASSERT_TRUE(velmora.start());
    const HWND window = main_window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(FindWindowA("#32770", "Velmora: preferences parse error found"), nullptr);
    EXPECT_EQ(velmora.data("preferences-default.txt").size(), 1071u);
    EXPECT_EQ(velmora.data("preferences.txt"), mine);
    PostMessageA(window, WM_COMMAND, CMD_EXIT, 0);
    EXPECT_EQ(velmora.wait_exit(), 0);
}

TEST(Program, a_broken_user_file_gives_one_message_then_runs_on_defaults) {
    Installed velmora("broken-prefs");
    velmora.set_data("preferences.txt", "{ \"zlib_compression_level\": 3,, }");
    ASSERT_TRUE(velmora.start());
    const HWND box = wait_for_window("#32770", "Velmora: preferences parse error found");
    ASSERT_NE(box, nullptr);
    const std::string text = control_text(GetDlgItem(box, 0xFFFF));
    EXPECT_EQ(text.find("Parse error before: "), 0u) << text;
    EXPECT_NE(text.find("\nin "), std::string::npos) << text;
    EXPECT_NE(text.find("portable\\preferences.txt\n\nPress OK to try load the default file:\n\n"),
              std::string::npos) << text;
    EXPECT_NE(text.find("portable\\preferences-default.txt"), std::string::npos) << text;
    EXPECT_EQ(FindWindowExA(nullptr, nullptr, "velmora_superhost", nullptr), nullptr)
        << "no main window before the message is dismissed";
    PostMessageA(box, WM_COMMAND, IDOK, 0);

    const HWND window = main_window();
    ASSERT_NE(window, nullptr);
    Sleep(300);
    EXPECT_EQ(FindWindowA("#32770", "Velmora: preferences parse error found"), nullptr) << "exactly one message";
    EXPECT_EQ(velmora.data("preferences.txt"), "{ \"zlib_compression_level\": 3,, }");
    close_main_window(window);
    EXPECT_EQ(velmora.wait_exit(), 0);
}

TEST(Program, a_second_instance_exits_at_once_and_changes_nothing) {
    Installed first("instance-one");
    Installed second("instance-two");
    ASSERT_TRUE(first.start());
    const HWND window = main_window();
    ASSERT_NE(window, nullptr);

    ASSERT_TRUE(second.start());
    EXPECT_EQ(second.wait_exit(), 0);
    EXPECT_FALSE(second.has_data("preferences.txt"));
    EXPECT_FALSE(second.has_data("preferences-default.txt"));
    EXPECT_TRUE(IsWindow(window)) << "the first instance runs on";

    close_main_window(window);
    EXPECT_EQ(first.wait_exit(), 0);
}

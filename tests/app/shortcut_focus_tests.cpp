// The real program driven by real keys: where the keyboard focus goes when
// a window that is already open is asked for again, which windows the main
// window's shortcuts come from, and a chord pressed while the program is
// busy closing a window. Needs a display.
#include <gtest/gtest.h>

#include <string>

#include "installed_program.h"
#include "resources/resource_ids.h"

namespace {

constexpr int LEFT_PANE = IDC_PREFERENCES_DEFAULTS;
constexpr int RIGHT_PANE = IDC_PREFERENCES_USER;

HWND open_preferences_with_ctrl_p(HWND main) {
    bring_to_front(main);
    press_chord('P', true);
    return wait_for_window("preferences_superhost", "Velmora preferences", 10000);
}

bool wait_for_data(const Installed& velmora, const char* name, const std::string& prefix) {
    for (int i = 0; i < 100; ++i) {
        if (velmora.data(name).compare(0, prefix.size(), prefix) == 0) return true;
        Sleep(50);
    }
    return false;
}

}  // namespace

TEST(Focus, ctrl_p_with_preferences_open_leaves_the_focus_in_the_pane_that_had_it) {
    Installed velmora("focus-prefs");
    ASSERT_TRUE(velmora.start());
    const HWND main = main_window();
    ASSERT_NE(main, nullptr);
    const HWND prefs = open_preferences_with_ctrl_p(main);
    ASSERT_NE(prefs, nullptr) << "Ctrl+P opens the Preferences window";
    const HWND left = GetDlgItem(prefs, LEFT_PANE);
    const HWND right = GetDlgItem(prefs, RIGHT_PANE);
    ASSERT_TRUE(wait_for_focus(right)) << "the user's pane has the focus at opening";

    bring_to_front(main);
    press_chord('P', true);
    EXPECT_TRUE(wait_for_focus(right)) << "Ctrl+P again brings the window forward with the focus where it was";
    type_text(L"// typed");
    press_chord(VK_RETURN, false);
    press_chord('S', true);
    EXPECT_TRUE(wait_for_data(velmora, "preferences.txt", "// typed\n{\n"))
        << "what the user types lands in the user's file: " << velmora.data("preferences.txt");

    press_chord(VK_TAB, true);
    ASSERT_TRUE(wait_for_focus(left)) << "Ctrl+Tab moves to the reference pane";
    bring_to_front(main);
    press_chord('P', true);
    EXPECT_TRUE(wait_for_focus(left)) << "the reference pane keeps the focus it was given";
    close_main_window(main);
    EXPECT_EQ(velmora.wait_exit(), 0);
}

TEST(Shortcuts, ctrl_z_d_and_p_typed_in_the_preferences_editor_stay_there) {
    Installed velmora("owned-keys");
    ASSERT_TRUE(velmora.start());
    const HWND main = main_window();
    ASSERT_NE(main, nullptr);
    const HWND prefs = open_preferences_with_ctrl_p(main);
    ASSERT_NE(prefs, nullptr);
    const HWND right = GetDlgItem(prefs, RIGHT_PANE);
    ASSERT_TRUE(wait_for_focus(right));

    press_chord('Z', true);
    press_chord('D', true);
    press_chord('Z', true, true);
    press_chord('P', true);
    Sleep(1000);
    EXPECT_EQ(FindWindowA("#32770", "Compress folder"), nullptr) << "Ctrl+Z in the editor opens no chooser";
    EXPECT_EQ(FindWindowA("#32770", "Decompress file"), nullptr) << "Ctrl+D in the editor opens no chooser";
    EXPECT_EQ(FindWindowA("#32770", "Compress file"), nullptr) << "Ctrl+Shift+Z in the editor opens no chooser";
    EXPECT_TRUE(IsWindowEnabled(main)) << "no chooser holds the main window";
    EXPECT_EQ(focused_control(prefs), right) << "the keys stayed with the editor";
    close_main_window(main);
    EXPECT_EQ(velmora.wait_exit(), 0);
}

TEST(Shortcuts, the_first_chord_after_a_window_closes_is_not_lost) {
    Installed velmora("chord-after-close");
    velmora.ship("changelog.txt");
    ASSERT_TRUE(velmora.start());
    const HWND main = main_window();
    ASSERT_NE(main, nullptr);
    for (int round = 0; round < 3; ++round) {
        bring_to_front(main);
        press_chord(VK_F2, true);
        const HWND changelog = wait_for_window("changelog_superhost", "Velmora changelog", 10000);
        ASSERT_NE(changelog, nullptr) << "Ctrl+F2 opens the changelog, round " << round;
        ASSERT_TRUE(wait_for_focus(GetDlgItem(changelog, IDC_CHANGELOG_VIEW)));
        // Ctrl+W closes the window; the program is still tearing it down
        // when the next chord is pressed and released.
        press_chord('W', true);
        press_chord(VK_F1, true);
        const HWND about = wait_for_window("about_superhost", "About Velmora", 10000);
        ASSERT_NE(about, nullptr) << "Ctrl+F1 pressed right after the changelog closed, round " << round;
        EXPECT_TRUE(wait_gone(changelog, 1000));
        PostMessageA(about, WM_COMMAND, IDCANCEL, 0);
        ASSERT_TRUE(wait_gone(about, 5000));
    }
    close_main_window(main);
    EXPECT_EQ(velmora.wait_exit(), 0);
}

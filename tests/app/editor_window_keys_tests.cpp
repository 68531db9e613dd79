// Real keys typed into the editor panes of the real program: the
// Preferences window opened again after it was closed in the middle of
// something, key chords pressed faster than the editor's tick or while the
// program stalls, and Esc in the Changelog window.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "installed_program.h"
#include "resources/resource_ids.h"

namespace {

constexpr int LEFT_PANE = IDC_PREFERENCES_DEFAULTS;
constexpr int RIGHT_PANE = IDC_PREFERENCES_USER;
constexpr int CHANGELOG_PANE = IDC_CHANGELOG_VIEW;
constexpr COLORREF HELP_BACKGROUND = 0xC00000;

HWND open_window(HWND main, UINT command, const char* class_name, const char* title) {
    PostMessageA(main, WM_COMMAND, command, 0);
    const HWND window = wait_for_window(class_name, title, 10000);
    if (!window) return nullptr;
    SetForegroundWindow(window);
    Sleep(300);
    return window;
}

HWND open_preferences(HWND main) {
    return open_window(main, CMD_PREFERENCES, "preferences_superhost", "Velmora preferences");
}

// Waits until the file in the data folder begins with prefix; its content.
std::string wait_for_data_prefix(const Installed& velmora, const char* name, const std::string& prefix) {
    std::string data;
    for (int i = 0; i < 50; ++i) {
        data = velmora.data(name);
        if (data.compare(0, prefix.size(), prefix) == 0) break;
        Sleep(50);
    }
    return data;
}

std::wstring wait_for_clipboard(const std::wstring& expected) {
    std::wstring text;
    for (int i = 0; i < 40; ++i) {
        text = clipboard_text();
        if (text == expected) break;
        Sleep(50);
    }
    return text;
}

// The pixels of one column of a control, as shown on the screen.
std::vector<COLORREF> screen_column(HWND control, int x) {
    RECT r{};
    GetClientRect(control, &r);
    POINT origin{x, 0};
    ClientToScreen(control, &origin);
    std::vector<COLORREF> column(static_cast<size_t>(r.bottom));
    const HDC screen = GetDC(nullptr);
    for (int y = 0; y < r.bottom; ++y) column[static_cast<size_t>(y)] = GetPixel(screen, origin.x, origin.y + y);
    ReleaseDC(nullptr, screen);
    return column;
}

// The number of separate bands of the help row's colour down the right edge
// of a pane: the help row at the bottom, plus the divider of two panes.
int help_coloured_bands(HWND pane) {
    RECT r{};
    GetClientRect(pane, &r);
    int bands = 0;
    bool inside = false;
    for (const COLORREF pixel : screen_column(pane, r.right - 2)) {
        const bool help = pixel == HELP_BACKGROUND;
        bands += help && !inside;
        inside = help;
    }
    return bands;
}

// Waits up to two seconds for that many bands; the number last seen.
int wait_for_help_coloured_bands(HWND pane, int expected) {
    int bands = 0;
    for (int i = 0; i < 40 && (bands = help_coloured_bands(pane)) != expected; ++i) Sleep(50);
    return bands;
}

}  // namespace

TEST(PreferencesKeys, closed_with_a_prompt_open_and_two_panes_it_reopens_ready_to_type) {
    Installed velmora("prefs-reopen");
    ASSERT_TRUE(velmora.start());
    const HWND main = main_window();
    ASSERT_NE(main, nullptr);
    const std::string original = velmora.data("preferences.txt");
    HWND prefs = open_preferences(main);
    ASSERT_NE(prefs, nullptr);
    ASSERT_EQ(focus_of_thread(prefs), GetDlgItem(prefs, RIGHT_PANE));
    press_chord(VK_DOWN, false);
    press_chord(VK_RIGHT, false, true);  // a selection
    press_chord('P', true);              // two panes
    press_chord('O', true);              // the lower one active
    press_chord('F', true);              // the find prompt
    EXPECT_EQ(wait_for_help_coloured_bands(GetDlgItem(prefs, RIGHT_PANE), 2), 2) << "two panes and a divider";
    press_chord('W', true);
    ASSERT_TRUE(wait_until_gone(prefs, 5000));

    prefs = open_preferences(main);
    ASSERT_NE(prefs, nullptr);
    const HWND pane = GetDlgItem(prefs, RIGHT_PANE);
    ASSERT_EQ(focus_of_thread(prefs), pane);
    save_screenshot("preferences-reopened");
    type_text(L" ");
    press_chord('S', true);
    EXPECT_EQ(wait_for_data_prefix(velmora, "preferences.txt", " {"), " " + original)
        << "the typed blank went into the document at its start and Ctrl+S saved it";
    EXPECT_EQ(wait_for_help_coloured_bands(pane, 1), 1) << "one pane again";
    close_main_window(main);
    EXPECT_EQ(velmora.wait_exit(), 0);
}

TEST(PreferencesKeys, shift_right_pressed_faster_than_the_tick_selects) {
    Installed velmora("prefs-quick-chords");
    ASSERT_TRUE(velmora.start());
    const HWND main = main_window();
    ASSERT_NE(main, nullptr);
    const HWND prefs = open_preferences(main);
    ASSERT_NE(prefs, nullptr);
    ASSERT_EQ(focus_of_thread(prefs), GetDlgItem(prefs, RIGHT_PANE));
    set_clipboard_text(L"before");
    press_chord_quickly(VK_DOWN, false);
    for (int i = 0; i < 3; ++i) press_chord_quickly(VK_RIGHT, false, true);
    press_chord_quickly('C', true);
    EXPECT_EQ(wait_for_clipboard(L"  /"), L"  /") << "three quick Shift+Right select three characters";

    press_chord_quickly(VK_TAB, true);  // Ctrl+Tab: to the reference pane
    Sleep(300);
    EXPECT_EQ(focus_of_thread(prefs), GetDlgItem(prefs, LEFT_PANE));
    press_chord_quickly(VK_END, false, true);
    press_chord_quickly('C', true);  // the reference pane copies only with Ctrl read as held
    EXPECT_EQ(wait_for_clipboard(L"//"), L"//");
    close_main_window(main);
    EXPECT_EQ(velmora.wait_exit(), 0);
}

TEST(PreferencesKeys, a_chord_pressed_while_the_program_stalls_reads_as_a_chord) {
    Installed velmora("prefs-stalled-chords");
    velmora.ship("changelog.txt");
    ASSERT_TRUE(velmora.start());
    const HWND main = main_window();
    ASSERT_NE(main, nullptr);
    const HWND changelog = open_window(main, CMD_CHANGELOG, "changelog_superhost", "Velmora changelog");
    ASSERT_NE(changelog, nullptr);
    const HWND prefs = open_preferences(main);
    ASSERT_NE(prefs, nullptr);
    ASSERT_EQ(focus_of_thread(prefs), GetDlgItem(prefs, RIGHT_PANE));
    set_clipboard_text(L"before");
    press_chord(VK_DOWN, false);
    Sleep(200);

    // Closing the Changelog window stalls the program while the window is
    // torn down; the chord is pressed and released meanwhile.
    PostMessageA(changelog, WM_COMMAND, IDCANCEL, 0);
    Sleep(100);
    const DWORD start = GetTickCount();
    press_chord(VK_END, false, true);
    DWORD_PTR result = 0;
    SendMessageTimeoutA(prefs, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result);
    std::printf("the program answered %lu ms after the chord began\n", GetTickCount() - start);
    press_chord('C', true);
    EXPECT_EQ(wait_for_clipboard(L"  // Add your personal preferences here."),
              L"  // Add your personal preferences here.")
        << "Shift+End selected to the line's end";
    close_main_window(main);
    EXPECT_EQ(velmora.wait_exit(), 0);
}

TEST(ChangelogKeys, escape_closes_the_window_and_only_the_prompt_while_one_is_open) {
    Installed velmora("changelog-escape");
    velmora.ship("changelog.txt");
    ASSERT_TRUE(velmora.start());
    const HWND main = main_window();
    ASSERT_NE(main, nullptr);
    const HWND changelog = open_window(main, CMD_CHANGELOG, "changelog_superhost", "Velmora changelog");
    ASSERT_NE(changelog, nullptr);
    ASSERT_EQ(focus_of_thread(changelog), GetDlgItem(changelog, CHANGELOG_PANE));
    press_chord('F', true);
    type_text(L"Velmora");
    save_screenshot("changelog-find-prompt");
    press_chord(VK_ESCAPE, false);
    EXPECT_FALSE(wait_until_gone(changelog, 1000)) << "Esc closed the find prompt only";
    press_chord(VK_ESCAPE, false);
    EXPECT_TRUE(wait_until_gone(changelog, 5000)) << "Esc with no prompt open closes the window";
    close_main_window(main);
    EXPECT_EQ(velmora.wait_exit(), 0);
}

// The main window of the real program: its place and the ini keys it
// writes, the compressor shortcuts, and a job started from the menu with the
// Progress window shown and closed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "installed_program.h"
#include "resources/resource_ids.h"

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
    EXPECT_EQ(velmora.ini("compressor"), "0");

    ASSERT_TRUE(velmora.start());
    window = main_window();
    ASSERT_NE(window, nullptr);
    SetForegroundWindow(window);
    Sleep(300);
    press_chord('1', true);
    PostMessageA(window, WM_COMMAND, CMD_EXIT, 0);
    EXPECT_EQ(velmora.wait_exit(), 0);
    EXPECT_EQ(velmora.ini("compressor"), "1");
}

namespace {

// Opens a top-level menu with Alt+letter and saves a screenshot of it.
void screenshot_menu(HWND window, WORD letter, const char* name) {
    SetForegroundWindow(window);
    Sleep(200);
    press_chord(letter, false, false, true);
    Sleep(400);
    EXPECT_TRUE(save_screenshot(name));
    press_chord(VK_ESCAPE, false);
    press_chord(VK_ESCAPE, false);
    Sleep(200);
}

// Presses a shortcut on the main window once; the chooser titled title must
// open.
HWND open_chooser(HWND window, WORD key, bool shift, const char* title) {
    bring_to_front(window);
    press_chord(key, true, shift);
    return wait_for_window("#32770", title, 10000);
}

}  // namespace

TEST(MainWindow, a_folder_chosen_in_the_chooser_is_compressed_with_the_progress_window_shown) {
    Installed velmora("main-job");
    const std::string folder = std::string(velmora.path().c_str()) + "photos";
    create_directory(folder.c_str());
    std::string big(24u << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 2654435761u) >> 13);
    for (int i = 0; i < 3; ++i) velmora.files().write(("photos\\part" + std::to_string(i) + ".bin").c_str(), big);

    ASSERT_TRUE(velmora.start());
    const HWND window = main_window();
    ASSERT_NE(window, nullptr);
    screenshot_menu(window, 'F', "main-menu-file");
    screenshot_menu(window, 'O', "main-menu-options");
    screenshot_menu(window, 'H', "main-menu-help");

    const HWND chooser = open_chooser(window, 'Z', false, "Compress folder");
    ASSERT_NE(chooser, nullptr) << "Ctrl+Z opens the folder chooser";
    EXPECT_FALSE(IsWindowEnabled(window)) << "the main window waits while the chooser is open";
    const HWND name_box = GetDlgItem(chooser, 1152);
    ASSERT_NE(name_box, nullptr);
    SetForegroundWindow(chooser);
    SendMessageW(name_box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(window_wide(folder.c_str(), folder.size()).c_str()));
    Sleep(200);
    press_chord(VK_RETURN, false);

    const HWND progress = wait_for_window("progress_superhost", nullptr, 15000);
    ASSERT_NE(progress, nullptr) << "the Progress window opens while the job works";
    Sleep(300);
    save_screenshot("progress-window");
    EXPECT_TRUE(wait_gone(progress, 60000)) << "and closes when the job ends";
    EXPECT_TRUE(velmora.files().exists("photos.tzst"));
    EXPECT_FALSE(velmora.files().exists("photos.tar"));
    EXPECT_TRUE(IsWindowEnabled(window));
    close_main_window(window);
    EXPECT_EQ(velmora.wait_exit(), 0);
}

TEST(MainWindow, about_and_license_windows_open_once_and_remember_their_place) {
    Installed velmora("main-about");
    velmora.ship("license.txt");
    ASSERT_TRUE(velmora.start());
    const HWND window = main_window();
    ASSERT_NE(window, nullptr);
    PostMessageA(window, WM_COMMAND, CMD_ABOUT, 0);
    const HWND about = wait_for_window("about_superhost", "About Velmora", 10000);
    ASSERT_NE(about, nullptr);
    RECT r{};
    GetWindowRect(about, &r);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 50);
    EXPECT_EQ(r.right - r.left, 630);
    Sleep(1500);  // let the roll move
    save_screenshot("about-window");
    PostMessageA(window, WM_COMMAND, CMD_ABOUT, 0);
    Sleep(300);
    EXPECT_EQ(FindWindowExA(nullptr, about, "about_superhost", nullptr), nullptr) << "one About window";

    PostMessageA(window, WM_COMMAND, CMD_LICENSE, 0);
    const HWND license = wait_for_window("license_superhost", "Velmora license", 10000);
    ASSERT_NE(license, nullptr);
    const HWND license_text = GetDlgItem(license, IDC_LICENSE_TEXT);
    const std::string text = control_text(license_text);
    EXPECT_EQ(text.find("Velmora x64 File Archiver"), 0u) << text.substr(0, 80);
    // Each paragraph of the program's own licence is one line of the file,
    // so the control wraps it at its own width instead of breaking it again
    // where the file was wrapped.
    const char permission[] = "Permission is hereby granted, free of charge, to any person obtaining a copy of this "
                              "software and associated documentation files";
    const size_t paragraph = text.find(permission);
    ASSERT_NE(paragraph, std::string::npos) << text.substr(0, 600);
    const size_t paragraph_end = text.find("\r\n", paragraph);
    const std::string shown = text.substr(paragraph, paragraph_end - paragraph);
    EXPECT_EQ(shown.substr(shown.size() - 25), "the following conditions:") << "one line: " << shown;
    const LRESULT first_line = SendMessageA(license_text, EM_LINEFROMCHAR, static_cast<WPARAM>(paragraph), 0);
    const LRESULT last_line = SendMessageA(license_text, EM_LINEFROMCHAR, static_cast<WPARAM>(paragraph_end), 0);
    EXPECT_GE(last_line - first_line, 3) << "the control wraps the paragraph at its width";
    save_screenshot("license-window");

    SetWindowPos(about, nullptr, 33, 44, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    PostMessageA(about, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(wait_gone(about, 5000));
    close_main_window(window);
    EXPECT_EQ(velmora.wait_exit(), 0);
    EXPECT_NE(velmora.data("velmora.ini").find("about_wnd_x=33\r\nabout_wnd_y=44"), std::string::npos);
    EXPECT_NE(velmora.data("velmora.ini").find("license_wnd_x=0"), std::string::npos)
        << "the License window closes with the main window and writes its place";
}

TEST(Preferences, the_two_pane_window_saves_valid_text_and_ctrl_f12_relaunches) {
    Installed velmora("prefs-window");
    ASSERT_TRUE(velmora.start());
    const HWND window = main_window();
    ASSERT_NE(window, nullptr);
    PostMessageA(window, WM_COMMAND, CMD_PREFERENCES, 0);
    const HWND prefs = wait_for_window("preferences_superhost", "Velmora preferences", 10000);
    ASSERT_NE(prefs, nullptr);
    RECT r{};
    GetWindowRect(prefs, &r);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 50);
    EXPECT_EQ(r.right - r.left, 1120);
    EXPECT_EQ(r.bottom - r.top, 720);
    EXPECT_EQ(focused_control(prefs), GetDlgItem(prefs, IDC_PREFERENCES_USER)) << "the user's pane has the focus";

    SetForegroundWindow(prefs);
    Sleep(300);
    type_text(L"x");
    press_chord('S', true);
    Sleep(300);
    EXPECT_EQ(velmora.data("preferences.txt").size(), 116u) << "text that does not parse is not saved";
    press_chord(VK_BACK, false);
    type_text(L" ");
    press_chord('S', true);
    Sleep(300);
    EXPECT_EQ(velmora.data("preferences.txt").substr(0, 3), " {\n");
    save_screenshot("preferences-window");

    press_chord(VK_TAB, true);
    Sleep(200);
    EXPECT_EQ(focused_control(prefs), GetDlgItem(prefs, IDC_PREFERENCES_DEFAULTS)) << "Ctrl+Tab moves to the other pane";
    press_chord(VK_TAB, true);
    Sleep(200);

    const DWORD first_process = [] {
        DWORD id = 0;
        GetWindowThreadProcessId(FindWindowA("velmora_superhost", nullptr), &id);
        return id;
    }();
    press_chord(VK_F12, true);
    EXPECT_EQ(velmora.wait_exit(), 0) << "Ctrl+F12 ends this instance";
    const HWND relaunched = main_window();
    ASSERT_NE(relaunched, nullptr) << "and starts a new one";
    DWORD second_process = 0;
    GetWindowThreadProcessId(relaunched, &second_process);
    EXPECT_NE(second_process, first_process);
    EXPECT_NE(velmora.data("velmora.ini").find("preferences_wnd_w=1120"), std::string::npos);
    PostMessageA(relaunched, WM_COMMAND, CMD_EXIT, 0);
    const HANDLE second = OpenProcess(SYNCHRONIZE, FALSE, second_process);
    if (second) {
        WaitForSingleObject(second, WAIT_MS);
        CloseHandle(second);
    }
}

namespace {

// The rectangle of a child window in its parent's client coordinates.
RECT child_rect(HWND child) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Waits until the screen shows colour at a client point of window; the
// colour last seen.
COLORREF wait_for_pixel(HWND window, int x, int y, COLORREF colour) {
    POINT at{x, y};
    ClientToScreen(window, &at);
    const HDC screen = GetDC(nullptr);
    COLORREF seen = CLR_INVALID;
    for (int i = 0; i < 100 && (seen = GetPixel(screen, at.x, at.y)) != colour; ++i) Sleep(50);
    ReleaseDC(nullptr, screen);
    return seen;
}

}  // namespace

// The system cuts a window with a sizing border to the screen it reports
// (its width or height and the frame); Wine's default screen, 1024 x 768,
// cut the default 1120 to 1036. A recorded size is applied as it is.
TEST(Preferences, a_recorded_size_larger_than_the_screen_is_kept_shared_by_the_panes_and_written_back) {
    const int width = GetSystemMetrics(SM_CXMAXTRACK) + 100;
    const int height = GetSystemMetrics(SM_CYMAXTRACK) + 60;
    const std::string w = std::to_string(width), h = std::to_string(height);
    Installed velmora("prefs-large");
    velmora.set_data("velmora.ini", "[velmora]\r\npreferences_wnd_x=10\r\npreferences_wnd_y=20\r\n"
                                    "preferences_wnd_w=" + w + "\r\npreferences_wnd_h=" + h + "\r\n");
    ASSERT_TRUE(velmora.start());
    const HWND window = main_window();
    ASSERT_NE(window, nullptr);
    PostMessageA(window, WM_COMMAND, CMD_PREFERENCES, 0);
    const HWND prefs = wait_for_window("preferences_superhost", "Velmora preferences", 10000);
    ASSERT_NE(prefs, nullptr);
    RECT r{};
    GetWindowRect(prefs, &r);
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.top, 20);
    EXPECT_EQ(r.right - r.left, width);
    EXPECT_EQ(r.bottom - r.top, height);

    RECT client{};
    GetClientRect(prefs, &client);
    const RECT left = child_rect(GetDlgItem(prefs, IDC_PREFERENCES_DEFAULTS));
    const RECT right = child_rect(GetDlgItem(prefs, IDC_PREFERENCES_USER));
    EXPECT_EQ(right.right, client.right) << "the right pane reaches the right edge";
    EXPECT_EQ(left.bottom, client.bottom);
    EXPECT_EQ(right.bottom, client.bottom);
    EXPECT_LE(std::abs((left.right - left.left) - (right.right - right.left)), 1) << "the panes share the width";
    // Where the panes meet (on the screen even when the window is wider):
    // each pane's title row runs up to the narrow gap of the background.
    const COLORREF title = 0x0000C0, background = 0x303030;
    EXPECT_EQ(wait_for_pixel(prefs, left.right - 2, 4, title), title);
    EXPECT_EQ(wait_for_pixel(prefs, left.right, 4, background), background);
    EXPECT_EQ(wait_for_pixel(prefs, right.left + 1, 4, title), title);
    save_screenshot("preferences-wider-than-the-screen");

    close_main_window(window);
    ASSERT_EQ(velmora.wait_exit(), 0);
    EXPECT_EQ(velmora.ini("preferences_wnd_w"), w) << "closing writes the size back as it was";
    EXPECT_EQ(velmora.ini("preferences_wnd_h"), h);
}

TEST(Changelog, the_read_only_view_opens_with_the_shipped_file_and_closes_with_ctrl_w) {
    Installed velmora("changelog");
    velmora.ship("changelog.txt");
    ASSERT_TRUE(velmora.start());
    const HWND window = main_window();
    ASSERT_NE(window, nullptr);
    SetForegroundWindow(window);
    Sleep(200);
    press_chord(VK_F2, true);
    const HWND changelog = wait_for_window("changelog_superhost", "Velmora changelog", 10000);
    ASSERT_NE(changelog, nullptr) << "Ctrl+F2 opens the changelog";
    RECT r{};
    GetWindowRect(changelog, &r);
    EXPECT_EQ(r.right - r.left, 620);
    EXPECT_EQ(r.bottom - r.top, 505);
    Sleep(300);
    save_screenshot("changelog-window");
    SetForegroundWindow(changelog);
    Sleep(200);
    type_text(L"typed");
    press_chord('W', true);
    EXPECT_TRUE(wait_gone(changelog, 5000)) << "Ctrl+W closes it";
    close_main_window(window);
    EXPECT_EQ(velmora.wait_exit(), 0);
    EXPECT_NE(velmora.data("velmora.ini").find("changelog_wnd_x=0"), std::string::npos);
}

TEST(MainWindow, files_become_a_zip_that_unpacks_and_escape_cancels_a_job) {
    Installed velmora("main-files");
    velmora.files().write("a.txt", "first file\n");
    velmora.files().write("b.txt", "second file\n");
    const std::string big(32u << 20, 'v');
    for (int i = 0; i < 3; ++i) velmora.files().write(("big\\part" + std::to_string(i)).c_str(), "");
    create_directory(concat(velmora.path().c_str(), "big").c_str());
    for (int i = 0; i < 3; ++i) velmora.files().write(("big\\part" + std::to_string(i)).c_str(), big);
    ASSERT_TRUE(velmora.start());
    const HWND window = main_window();
    ASSERT_NE(window, nullptr);
    SetForegroundWindow(window);
    Sleep(200);
    press_chord('0', true);  // Deflate

    const HWND files = open_chooser(window, 'Z', true, "Compress file");
    ASSERT_NE(files, nullptr) << "Ctrl+Shift+Z opens the file chooser";
    SetForegroundWindow(files);
    Sleep(200);
    type_text(L"\"a.txt\" \"b.txt\"");  // into the file name box, which has the focus
    Sleep(200);
    press_chord(VK_RETURN, false);
    for (int i = 0; i < 100 && !velmora.files().exists("a.zip"); ++i) Sleep(100);
    Sleep(500);
    ASSERT_TRUE(velmora.files().exists("a.zip")) << "two files give an archive named after the first";

    const HWND open = open_chooser(window, 'D', false, "Decompress file");
    ASSERT_NE(open, nullptr) << "Ctrl+D opens the archive chooser";
    SetForegroundWindow(open);
    const std::string archive = std::string(velmora.path().c_str()) + "a.zip";
    SendMessageW(GetDlgItem(open, 1152), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(window_wide(archive.c_str(), archive.size()).c_str()));
    Sleep(200);
    press_chord(VK_RETURN, false);
    for (int i = 0; i < 100 && !velmora.files().exists("a\\b.txt"); ++i) Sleep(100);
    EXPECT_EQ(velmora.files().read("a\\a.txt"), "first file\n");
    EXPECT_EQ(velmora.files().read("a\\b.txt"), "second file\n");

    Sleep(1000);
    SetForegroundWindow(window);
    Sleep(300);
    press_chord('1', true);  // Zstandard
    const HWND folders = open_chooser(window, 'Z', false, "Compress folder");
    ASSERT_NE(folders, nullptr);
    SetForegroundWindow(folders);
    const std::string folder = std::string(velmora.path().c_str()) + "big";
    SendMessageW(GetDlgItem(folders, 1152), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(window_wide(folder.c_str(), folder.size()).c_str()));
    Sleep(200);
    press_chord(VK_RETURN, false);
    const HWND progress = wait_for_window("progress_superhost", nullptr, 15000);
    ASSERT_NE(progress, nullptr);
    SetForegroundWindow(progress);
    Sleep(100);
    press_chord(VK_ESCAPE, false);
    EXPECT_TRUE(wait_gone(progress, 10000)) << "Escape closes the Progress window";
    Sleep(2000);
    EXPECT_FALSE(velmora.files().exists("big.tzst")) << "a cancelled job leaves no archive under its final name";
    EXPECT_FALSE(velmora.files().exists("big.tzst.partial"));
    EXPECT_EQ(velmora.files().read("big\\part0").size(), big.size()) << "inputs are intact";
    close_main_window(window);
    EXPECT_EQ(velmora.wait_exit(), 0);
}

// Task Manager's End task and taskkill without /F send a plain WM_CLOSE.
TEST(MainWindow, a_plain_close_message_ends_the_program_and_keeps_its_place_and_compressor) {
    Installed velmora("main-wm-close");
    velmora.set_data("velmora.ini", "[velmora]\r\nmain_wnd_x=210\r\nmain_wnd_y=160\r\ncompressor=1\r\n");
    ASSERT_TRUE(velmora.start());
    const HWND window = main_window();
    ASSERT_NE(window, nullptr);
    PostMessageA(window, WM_COMMAND, CMD_DEFLATE, 0);
    PostMessageA(window, WM_CLOSE, 0, 0);
    ASSERT_EQ(velmora.wait_exit(10000), 0) << "the program ends by itself";
    EXPECT_EQ(velmora.ini("main_wnd_x"), "210");
    EXPECT_EQ(velmora.ini("main_wnd_y"), "160");
    EXPECT_EQ(velmora.ini("main_wnd_w"), "450") << "written on the way out";
    EXPECT_EQ(velmora.ini("compressor"), "0");
}

TEST(MainWindow, the_end_of_the_session_waits_for_no_idle_program_and_cancels_a_job_cleanly) {
    Installed velmora("main-session");
    const std::string folder = std::string(velmora.path().c_str()) + "photos";
    create_directory(folder.c_str());
    std::string big(24u << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 2654435761u) >> 13);
    for (int i = 0; i < 4; ++i) velmora.files().write(("photos\\part" + std::to_string(i) + ".bin").c_str(), big);
    ASSERT_TRUE(velmora.start());
    const HWND window = main_window();
    ASSERT_NE(window, nullptr);
    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, 0, SMTO_BLOCK, 5000, &answer));
    EXPECT_EQ(answer, DWORD_PTR{TRUE}) << "an idle program lets the session end";

    const HWND chooser = open_chooser(window, 'Z', false, "Compress folder");
    ASSERT_NE(chooser, nullptr);
    SetForegroundWindow(chooser);
    SendMessageW(GetDlgItem(chooser, 1152), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(window_wide(folder.c_str(), folder.size()).c_str()));
    Sleep(200);
    press_chord(VK_RETURN, false);
    const HWND progress = wait_for_window("progress_superhost", nullptr, 15000);
    ASSERT_NE(progress, nullptr);
    ASSERT_TRUE(SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_BLOCK, 5000, &answer));
    EXPECT_EQ(answer, DWORD_PTR{FALSE}) << "a job that writes its archive holds the session";
    PostMessageA(window, WM_COMMAND, CMD_DEFLATE, 0);
    Sleep(200);

    const ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(SendMessageTimeoutA(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_BLOCK, 10000, &answer));
    EXPECT_LE(GetTickCount64() - start, 4000u) << "the clean-up gets at most 3 s";
    // Windows may end the process from here on: what it leaves must be final.
    EXPECT_FALSE(velmora.files().exists("photos.tar.partial"));
    EXPECT_FALSE(velmora.files().exists("photos.tar"));
    EXPECT_FALSE(velmora.files().exists("photos.tzst"));
    EXPECT_FALSE(velmora.files().exists("photos.tzst.partial"));
    EXPECT_EQ(velmora.ini("compressor"), "0") << "the ini is written";
    EXPECT_EQ(velmora.files().read("photos\\part3.bin").size(), big.size());
    velmora.stop();
}

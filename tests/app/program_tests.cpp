// The real velmora.exe, started from a temporary folder: the files of a
// first and a later start in the portable and in the roaming folder, the
// messages of a broken preferences file and of a missing roaming folder, and
// the single instance. Needs a display.
#include <gtest/gtest.h>

#include <string>

#include "io/platform.h"
#include "resources/resource_ids.h"
#include "test_folder.h"

#include "installed_program.h"

namespace {

// What the program writes as preferences-default.txt at every start.
const char DEFAULT_PREFERENCES[] = R"TEXT(//
// Welcome to Velmora x64 File Archiver, Version 1.17
//
// Velmora preferences
//

{
  // Display preferences with Curses interface
  // (supports only ASCII for text input).
  // If set to false it uses an external editor.
  "curses_preferences": true,
  "curses_right_focus": true,

  // Set zstd compression level (0-19).
  // 0 level indicates no compression.
  // 3 level is the zstd default.
  "zstd_compression_level": 1,

  // 32-bit checksum at end of frame.
  "zstd_enable_checksum": false,

  // Tarball.
  "zstd_keep_tarball": false,

  // Set zlib compression level (0-9).
  // 0 level indicates no compression.
  // 6 level is the zlib default.
  "zlib_compression_level": 1,

  // Action after compression.
  // 0: Do nothing.
  // 1: Ask where to save compressed file.
  // 2: Open file explorer at related folder path.
  "action_after_compression": 0,

  // Action after decompression.
  // 0: Do nothing.
  // 1: Open file explorer at related folder path.
  "action_after_decompression": 0,

  // File dialog.
  "preserve_current_directory": true
}
)TEXT";

// What it writes as preferences.txt when there is none.
const char USER_PREFERENCES[] = R"TEXT({
  // Add your personal preferences here.
  // Your changes will take effect the next time you relaunch Velmora.
}
)TEXT";

// Points the current user's roaming folder (the "AppData" shell folder of the
// test's Wine prefix) at another path while it lives, and puts the old values
// back afterwards.
class RoamingFolderAt {
public:
    explicit RoamingFolderAt(const std::string& path) {
        for (Saved& saved : saved_) {
            HKEY key = nullptr;
            RegCreateKeyExA(HKEY_CURRENT_USER, saved.key, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
            DWORD size = sizeof(saved.data);
            saved.found = RegQueryValueExA(key, "AppData", nullptr, &saved.type,
                                           reinterpret_cast<BYTE*>(saved.data), &size) == ERROR_SUCCESS;
            saved.size = size;
            RegSetValueExA(key, "AppData", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                           static_cast<DWORD>(path.size() + 1));
            RegCloseKey(key);
        }
    }
    ~RoamingFolderAt() {
        for (const Saved& saved : saved_) {
            HKEY key = nullptr;
            if (RegOpenKeyExA(HKEY_CURRENT_USER, saved.key, 0, KEY_WRITE, &key) != ERROR_SUCCESS) continue;
            if (saved.found) {
                RegSetValueExA(key, "AppData", 0, saved.type, reinterpret_cast<const BYTE*>(saved.data), saved.size);
            } else {
                RegDeleteValueA(key, "AppData");
            }
            RegCloseKey(key);
        }
    }
    RoamingFolderAt(const RoamingFolderAt&) = delete;
    RoamingFolderAt& operator=(const RoamingFolderAt&) = delete;

private:
    struct Saved {
        const char* key;
        bool found;
        DWORD type;
        DWORD size;
        char data[1024];
    };
    Saved saved_[2] = {
        {"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders", false, 0, 0, {}},
        {"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", false, 0, 0, {}},
    };
};

}  // namespace

TEST(Program, first_portable_start_writes_both_files_and_shows_the_main_window) {
    Installed velmora("first-start");
    ASSERT_TRUE(velmora.start());
    const HWND window = main_window();
    ASSERT_NE(window, nullptr);
    EXPECT_NE(GetMenu(window), nullptr);
    EXPECT_EQ(velmora.data("preferences-default.txt"), DEFAULT_PREFERENCES);
    EXPECT_EQ(velmora.data("preferences.txt"), USER_PREFERENCES);
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
    EXPECT_EQ(velmora.data("preferences-default.txt"), DEFAULT_PREFERENCES);
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

TEST(Program, a_second_instance_brings_the_first_to_the_front_and_changes_nothing) {
    Installed first("instance-one");
    Installed second("instance-two");
    ASSERT_TRUE(first.start());
    const HWND window = main_window();
    ASSERT_NE(window, nullptr);
    PostMessageA(window, WM_COMMAND, CMD_ABOUT, 0);
    const HWND about = wait_for_window("about_superhost", "About Velmora", 10000);
    ASSERT_NE(about, nullptr);
    bring_to_front(about);
    ASSERT_EQ(GetForegroundWindow(), about);

    ASSERT_TRUE(second.start());
    EXPECT_EQ(second.wait_exit(), 0);
    for (int i = 0; i < 100 && GetForegroundWindow() != window; ++i) Sleep(20);
    EXPECT_EQ(GetForegroundWindow(), window) << "the first instance's main window is in front";
    EXPECT_FALSE(second.has_data("preferences.txt"));
    EXPECT_FALSE(second.has_data("preferences-default.txt"));
    EXPECT_EQ(FindWindowExA(nullptr, window, "velmora_superhost", nullptr), nullptr) << "one main window";

    PostMessageA(about, WM_COMMAND, IDCANCEL, 0);
    close_main_window(window);
    EXPECT_EQ(first.wait_exit(), 0);
}

TEST(Program, without_a_portable_folder_the_files_live_in_the_roaming_folder) {
    TestFolder roaming("roaming");
    std::string roaming_path = roaming.path().c_str();
    roaming_path.pop_back();
    const RoamingFolderAt redirect(roaming_path);
    Installed velmora("roaming-start", false);
    velmora.files().write("portable", "a file of that name is no portable folder");
    ASSERT_TRUE(velmora.start());
    const HWND window = main_window();
    ASSERT_NE(window, nullptr);
    close_main_window(window);
    ASSERT_EQ(velmora.wait_exit(), 0);
    EXPECT_EQ(roaming.read("Velmora\\preferences-default.txt"), DEFAULT_PREFERENCES);
    EXPECT_EQ(roaming.read("Velmora\\preferences.txt"), USER_PREFERENCES);
    EXPECT_NE(roaming.read("Velmora\\velmora.ini").find("[velmora]\r\nmain_wnd_x=50\r\n"), std::string::npos);
    EXPECT_EQ(velmora.files().read("portable"), "a file of that name is no portable folder");
}

TEST(Program, without_a_roaming_folder_it_says_so_and_exits_with_1) {
    TestFolder gone("roaming-gone");
    const RoamingFolderAt redirect(std::string(gone.path().c_str()) + "missing");
    Installed velmora("no-roaming", false);
    ASSERT_TRUE(velmora.start());
    const HWND box = wait_for_window("#32770", "Velmora error");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(control_text(GetDlgItem(box, 0xFFFF)),
              "Velmora cannot retrieve user's roaming directory. Press OK to exit Velmora.");
    EXPECT_EQ(FindWindowExA(nullptr, nullptr, "velmora_superhost", nullptr), nullptr);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(velmora.wait_exit(), 1);
    EXPECT_FALSE(gone.exists("missing")) << "nothing is created in its place";
}

// What Windows reads from the program's manifest: the versions it was made
// for (without them Windows 8.1 and later report themselves as Windows 8
// and apply old compatibility shims), paths past MAX_PATH where the system
// allows them, and no DPI setting (the program keeps the system's).
TEST(Program, the_manifest_names_windows_7_to_11_and_long_paths_and_no_dpi_setting) {
    const String exe = concat(folder_of_build().c_str(), "velmora.exe");
    const HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    const HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
    ASSERT_NE(found, nullptr);
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
    const std::string manifest(bytes, SizeofResource(module, found));
    FreeLibrary(module);
    for (const char* os : {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                           "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
        EXPECT_NE(manifest.find(std::string("<supportedOS Id=\"") + os + "\"/>"), std::string::npos) << os;
    }
    EXPECT_NE(manifest.find("<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true"
                            "</longPathAware>"),
              std::string::npos);
    EXPECT_EQ(manifest.find("dpiAware"), std::string::npos);
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
}

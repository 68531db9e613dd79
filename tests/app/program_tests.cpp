// The real velmora.exe, started from a temporary folder in portable mode:
// the files of a first and a later start, the parse-error message and the
// single instance. Needs a display.
#include <gtest/gtest.h>

#include <string>

#include "io/platform.h"
#include "resources/resource_ids.h"
#include "test_folder.h"

namespace {

constexpr DWORD WAIT_MS = 20000;

String build_folder() {
    // The tests live in build\tests\, the program in build\.
    String tests = module_file_name();
    std::string path = tests.c_str();
    path = path.substr(0, path.find_last_of("\\/"));
    path = path.substr(0, path.find_last_of("\\/") + 1);
    return String(path.c_str());
}

HWND wait_for_window(const char* class_name, const char* title, DWORD timeout_ms = WAIT_MS) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeout_ms) {
        const HWND window = FindWindowExA(nullptr, nullptr, class_name, title);
        if (window && IsWindowVisible(window)) return window;
        Sleep(50);
    }
    return nullptr;
}

std::string control_text(HWND control) {
    char text[2048] = {};
    SendMessageA(control, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text));
    return text;
}

// A copy of velmora.exe in its own folder, with a portable folder beside it.
class Installed {
public:
    explicit Installed(const char* name) : folder(name) {
        const String source = concat(build_folder().c_str(), "velmora.exe");
        const String target = concat(folder.path().c_str(), "velmora.exe");
        CopyFileA(source.c_str(), target.c_str(), FALSE);
        create_directory(concat(folder.path().c_str(), "portable").c_str());
    }
    ~Installed() { stop(); }

    bool start() {
        const String exe = concat(folder.path().c_str(), "velmora.exe");
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        std::string command = "\"" + std::string(exe.c_str()) + "\"";
        if (!CreateProcessA(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.path().c_str(),
                            &startup, &process)) {
            return false;
        }
        CloseHandle(process.hThread);
        return true;
    }
    // Waits for the process to end; returns its exit code, or -1 on time-out.
    int wait_exit(DWORD timeout_ms = WAIT_MS) {
        if (!process.hProcess || WaitForSingleObject(process.hProcess, timeout_ms) != WAIT_OBJECT_0) return -1;
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hProcess);
        process.hProcess = nullptr;
        return static_cast<int>(code);
    }
    void stop() {
        if (!process.hProcess) return;
        TerminateProcess(process.hProcess, 99);
        wait_exit();
    }
    std::string data(const char* name) const { return folder.read((std::string("portable\\") + name).c_str()); }
    void set_data(const char* name, const std::string& bytes) const {
        folder.write((std::string("portable\\") + name).c_str(), bytes);
    }
    bool has_data(const char* name) const { return folder.exists((std::string("portable\\") + name).c_str()); }
    const String& path() const { return folder.path(); }

private:
    TestFolder folder;
    PROCESS_INFORMATION process{};
};

HWND main_window() { return wait_for_window("velmora_superhost", "Velmora"); }

// Closes the main window with its close box, as a user would.
void close_main_window(HWND window) { PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0); }

}  // namespace

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

// The end of a job in the real program: the report of what a job left out,
// the save dialog that moves a new archive, the file manager opened on its
// folder, and none of these for an archive this job did not make. Jobs are
// started from the menu command and its chooser, as a user starts them.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "installed_program.h"
#include "jobs/job_test_util.h"
#include "resources/resource_ids.h"

namespace {

std::string path_in(const Installed& velmora, const char* relative) {
    return std::string(velmora.path().c_str()) + relative;
}

// Types path into a file dialog's name box (an edit box, or the combo box
// of the classic multiple-selection dialog) and confirms it with Enter.
void choose_in_dialog(HWND dialog, const std::string& path) {
    HWND name_box = GetDlgItem(dialog, 1152);
    if (!name_box) name_box = GetDlgItem(dialog, 1148);
    ASSERT_NE(name_box, nullptr);
    SetForegroundWindow(dialog);
    SendMessageW(name_box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(window_wide(path.c_str(), path.size()).c_str()));
    Sleep(200);
    press_chord(VK_RETURN, false);
}

// Starts "Compress folder" from the menu command and chooses folder.
void compress_folder(HWND main, const std::string& folder) {
    PostMessageA(main, WM_COMMAND, CMD_COMPRESS_FOLDER, 0);
    const HWND chooser = wait_for_window("#32770", "Compress folder", 10000);
    ASSERT_NE(chooser, nullptr);
    choose_in_dialog(chooser, folder);
}

// Starts "Compress file" from the menu command and chooses one file.
void compress_file(HWND main, const std::string& file) {
    PostMessageA(main, WM_COMMAND, CMD_COMPRESS_FILE, 0);
    const HWND chooser = wait_for_window("#32770", "Compress file", 10000);
    ASSERT_NE(chooser, nullptr);
    choose_in_dialog(chooser, file);
}

// Starts "Decompress file" from the menu command and chooses file.
void decompress_file(HWND main, const std::string& file) {
    PostMessageA(main, WM_COMMAND, CMD_DECOMPRESS_FILE, 0);
    const HWND chooser = wait_for_window("#32770", "Decompress file", 10000);
    ASSERT_NE(chooser, nullptr);
    choose_in_dialog(chooser, file);
}

bool wait_until(const std::function<bool()>& condition, DWORD timeout_ms) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeout_ms) return false;
        Sleep(50);
    }
    return true;
}

// The command line of another process, read from its process parameters.
std::wstring command_line_of(HANDLE process) {
    PROCESS_BASIC_INFORMATION basic{};
    if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof(basic), nullptr) != 0) return L"";
    PEB peb{};
    RTL_USER_PROCESS_PARAMETERS parameters{};
    if (!ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof(peb), nullptr) ||
        !ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof(parameters), nullptr)) {
        return L"";
    }
    std::wstring line(parameters.CommandLine.Length / sizeof(wchar_t), L'\0');
    if (!line.empty()) ReadProcessMemory(process, parameters.CommandLine.Buffer, &line[0], parameters.CommandLine.Length, nullptr);
    return line;
}

// The command lines of the programs that process parent started (a program
// just being created may show none yet); with end set, ends them.
std::vector<std::wstring> children_of(DWORD parent, bool end) {
    std::vector<std::wstring> lines;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID != parent) continue;
        const HANDLE child = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_TERMINATE, FALSE,
                                         entry.th32ProcessID);
        if (!child) continue;
        lines.push_back(command_line_of(child));
        if (end) TerminateProcess(child, 0);
        CloseHandle(child);
    }
    CloseHandle(snapshot);
    return lines;
}

DWORD process_of(HWND window) {
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    return id;
}

// A folder of a few files; returns what the archive of it must hold.
std::map<std::string, std::string> make_folder(const Installed& velmora, const char* name) {
    std::map<std::string, std::string> entries;
    create_directory(path_in(velmora, name).c_str());
    for (int i = 0; i < 3; ++i) {
        const std::string file = "file" + std::to_string(i) + ".txt";
        const std::string bytes = pattern_bytes(5000 + 1000 * i, i);
        velmora.files().write((std::string(name) + "\\" + file).c_str(), bytes);
        entries[file] = bytes;
    }
    return entries;
}

}  // namespace

// Action 1: the save dialog moves the new archive whole to the chosen place;
// cancelling it leaves the archive where it was written.
TEST(AfterJob, the_save_dialog_moves_the_new_archive_or_leaves_it_when_cancelled) {
    Installed velmora("after-move");
    velmora.set_data("preferences.txt", "{\"action_after_compression\": 1}");
    const auto expected = make_folder(velmora, "photos");
    create_directory(path_in(velmora, "elsewhere").c_str());
    ASSERT_TRUE(velmora.start());
    const HWND main = main_window();
    ASSERT_NE(main, nullptr);

    compress_folder(main, path_in(velmora, "photos"));
    HWND save = wait_for_window("#32770", "Save compressed file", 30000);
    ASSERT_NE(save, nullptr) << "the save dialog follows the job";
    EXPECT_TRUE(velmora.files().exists("photos.tzst"));
    choose_in_dialog(save, path_in(velmora, "elsewhere\\moved.tzst"));
    ASSERT_TRUE(wait_until([&] { return !velmora.files().exists("photos.tzst"); }, 10000))
        << "the archive leaves its first place";
    EXPECT_EQ(tzst_entries(velmora.files().read("elsewhere\\moved.tzst")), expected) << "whole, at the chosen place";

    compress_folder(main, path_in(velmora, "photos"));
    save = wait_for_window("#32770", "Save compressed file", 30000);
    ASSERT_NE(save, nullptr);
    SetForegroundWindow(save);
    Sleep(200);
    press_chord(VK_ESCAPE, false);
    ASSERT_TRUE(wait_until([&] { return !IsWindow(save) || !IsWindowVisible(save); }, 5000));
    Sleep(500);
    EXPECT_EQ(tzst_entries(velmora.files().read("photos.tzst")), expected) << "a cancelled move leaves the archive";
    close_main_window(main);
    EXPECT_EQ(velmora.wait_exit(), 0);
}

// Action 2 opens the file manager on the folder that holds the new archive.
TEST(AfterJob, the_file_manager_opens_on_the_folder_of_the_new_archive) {
    Installed velmora("after-explorer");
    velmora.set_data("preferences.txt", "{\"action_after_compression\": 2}");
    make_folder(velmora, "photos");
    ASSERT_TRUE(velmora.start());
    const HWND main = main_window();
    ASSERT_NE(main, nullptr);
    compress_folder(main, path_in(velmora, "photos"));
    ASSERT_TRUE(wait_until([&] { return velmora.files().exists("photos.tzst"); }, 30000));
    const DWORD program = process_of(main);
    std::vector<std::wstring> started;
    wait_until([&] { return (started = children_of(program, false)).size() == 1 && !started[0].empty(); }, 10000);
    children_of(program, true);
    std::string folder = path_in(velmora, "");
    folder.pop_back();
    ASSERT_EQ(started.size(), 1u) << "one program is started";
    const std::wstring argument = L" " + window_wide(folder.c_str(), folder.size());
    ASSERT_GT(started[0].size(), argument.size());
    EXPECT_EQ(started[0].substr(started[0].size() - argument.size()), argument) << "the archive's folder is given";
    std::wstring program_name = started[0].substr(0, started[0].size() - argument.size());
    CharLowerBuffW(&program_name[0], static_cast<DWORD>(program_name.size()));
    EXPECT_NE(program_name.find(L"\\explorer.exe"), std::wstring::npos) << "to the file manager";
    close_main_window(main);
    EXPECT_EQ(velmora.wait_exit(), 0);
}

// An archive of the output's name that this job did not make (it failed, or
// was cancelled) is not this job's to move: no save dialog for it. A job
// that could not read its input says so.
TEST(AfterJob, no_action_for_an_old_archive_after_a_failed_or_cancelled_job) {
    Installed velmora("after-stale");
    velmora.set_data("preferences.txt", "{\"action_after_compression\": 1}");
    const std::string old_bytes = "an archive from an earlier day";
    velmora.files().write("stale.tzst", old_bytes);
    create_directory(path_in(velmora, "stale").c_str());
    const std::string big(48u << 20, 'b');
    for (int i = 0; i < 2; ++i) velmora.files().write(("stale\\part" + std::to_string(i)).c_str(), big);
    velmora.files().write("held.tzst", old_bytes);
    velmora.files().write("held.txt", "locked by another program");
    ASSERT_TRUE(velmora.start());
    const HWND main = main_window();
    ASSERT_NE(main, nullptr);

    // Cancelled while compressing the tarball.
    compress_folder(main, path_in(velmora, "stale"));
    const HWND progress = wait_for_window("progress_superhost", nullptr, 15000);
    ASSERT_NE(progress, nullptr);
    ASSERT_TRUE(wait_until([&] { return control_text(progress) == "Compressing (2/2)"; }, 60000));
    PostMessageA(progress, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(wait_until([&] { return !IsWindow(progress); }, 5000));
    EXPECT_EQ(wait_for_window("#32770", "Save compressed file", 3000), nullptr) << "no save dialog after a cancel";
    EXPECT_EQ(velmora.files().read("stale.tzst"), old_bytes);

    // Failed: the one chosen file cannot be read.
    const std::string held_path = path_in(velmora, "held.txt");
    const HANDLE lock = CreateFileW(window_wide(held_path.c_str(), held_path.size()).c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    compress_file(main, held_path);
    const HWND report = wait_for_window("#32770", "Velmora", 15000);
    ASSERT_NE(report, nullptr) << "the job says what it could not do";
    save_screenshot("job-report");
    // The message box's text is its static control (id 0xffff).
    EXPECT_EQ(control_text(GetDlgItem(report, 0xffff)),
              "Velmora: 1 file could not be read and is not in the archive:\nheld.txt");
    PostMessageA(report, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(wait_for_window("#32770", "Save compressed file", 3000), nullptr) << "no save dialog after a failure";
    EXPECT_EQ(velmora.files().read("held.tzst"), old_bytes);
    CloseHandle(lock);
    EXPECT_FALSE(velmora.files().exists("held.tar.partial")) << "nothing left of the failed job";
    close_main_window(main);
    EXPECT_EQ(velmora.wait_exit(), 0);
}

// Closing the program while the save dialog is up closes the dialog and ends
// the program; the archive stays where it was written.
TEST(AfterJob, exit_while_the_save_dialog_is_up_ends_the_program) {
    Installed velmora("after-exit");
    velmora.set_data("preferences.txt", "{\"action_after_compression\": 1}");
    const auto expected = make_folder(velmora, "photos");
    ASSERT_TRUE(velmora.start());
    const HWND main = main_window();
    ASSERT_NE(main, nullptr);
    compress_folder(main, path_in(velmora, "photos"));
    const HWND save = wait_for_window("#32770", "Save compressed file", 30000);
    ASSERT_NE(save, nullptr);
    PostMessageA(main, WM_COMMAND, CMD_EXIT, 0);
    EXPECT_EQ(velmora.wait_exit(5000), 0) << "the program ends within seconds";
    EXPECT_EQ(tzst_entries(velmora.files().read("photos.tzst")), expected);
}

// Choices that used to do nothing: a compressor value in velmora.ini other
// than 0 or 1 compresses with Zstandard, and a file to unpack that is
// of no kind Velmora unpacks is reported.
TEST(AfterJob, a_bad_compressor_value_means_zstandard_and_an_unknown_archive_is_reported) {
    Installed velmora("after-choices");
    velmora.set_data("velmora.ini", "[velmora]\r\ncompressor=7\r\n");
    const auto expected = make_folder(velmora, "photos");
    velmora.files().write("notes.doc", "not an archive Velmora unpacks");
    ASSERT_TRUE(velmora.start());
    const HWND main = main_window();
    ASSERT_NE(main, nullptr);

    decompress_file(main, path_in(velmora, "notes.doc"));
    const HWND report = wait_for_window("#32770", "Velmora", 15000);
    ASSERT_NE(report, nullptr) << "the user is told why nothing happens";
    EXPECT_EQ(control_text(GetDlgItem(report, 0xffff)),
              "Velmora: Not unpacked: Velmora can unpack .zip, .tzst, .tar.zst, .tar.zstd, .zst, .zstd, .tar, .tar.gz, "
              ".tgz, .tar.bz2, .tbz2, .tbz, .tar.xz, .txz, .7z, .rar, .gz, .bz2 and .xz files, and this file is none "
              "of them:\n" +
                  path_in(velmora, "notes.doc"));
    PostMessageA(report, WM_COMMAND, IDOK, 0);
    EXPECT_FALSE(velmora.files().exists("notes"));

    compress_folder(main, path_in(velmora, "photos"));
    ASSERT_TRUE(wait_until([&] { return velmora.files().exists("photos.tzst"); }, 30000));
    Sleep(500);
    EXPECT_EQ(tzst_entries(velmora.files().read("photos.tzst")), expected);
    close_main_window(main);
    EXPECT_EQ(velmora.wait_exit(), 0);
    EXPECT_EQ(velmora.ini("compressor"), "1");
}

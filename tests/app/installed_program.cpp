#include "installed_program.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

String build_folder() {
    // The tests live in build\tests\, the program in build\.
    std::string path = module_file_name().c_str();
    path = path.substr(0, path.find_last_of("\\/"));
    path = path.substr(0, path.find_last_of("\\/") + 1);
    return String(path.c_str());
}

void send_key(WORD key, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof(input));
}

}  // namespace

String folder_of_build() { return build_folder(); }

HWND wait_for_window(const char* class_name, const char* title, DWORD timeout_ms) {
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

HWND main_window() { return wait_for_window("velmora_superhost", "Velmora"); }

void close_main_window(HWND window) { PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0); }

void press_chord(WORD key, bool ctrl, bool shift, bool alt) {
    if (ctrl) send_key(VK_CONTROL, false);
    if (shift) send_key(VK_SHIFT, false);
    if (alt) send_key(VK_MENU, false);
    Sleep(50);
    send_key(key, false);
    Sleep(150);
    send_key(key, true);
    if (alt) send_key(VK_MENU, true);
    if (shift) send_key(VK_SHIFT, true);
    if (ctrl) send_key(VK_CONTROL, true);
    Sleep(50);
}

HWND focused_control(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
}

bool wait_for_focus(HWND control, DWORD timeout_ms) {
    const DWORD start = GetTickCount();
    while (focused_control(control) != control) {
        if (GetTickCount() - start >= timeout_ms) return false;
        Sleep(20);
    }
    return true;
}

bool wait_gone(HWND window, DWORD timeout_ms) {
    const DWORD start = GetTickCount();
    while (IsWindow(window) && IsWindowVisible(window)) {
        if (GetTickCount() - start >= timeout_ms) return false;
        Sleep(20);
    }
    return true;
}

void bring_to_front(HWND window) {
    SetForegroundWindow(window);
    const DWORD start = GetTickCount();
    while (GetForegroundWindow() != window && GetTickCount() - start < 2000) Sleep(20);
    Sleep(200);
}

bool save_screenshot(const char* name) {
    const String tool = concat(build_folder().c_str(), "velmora-screenshot.exe");
    std::string command = "\"" + std::string(tool.c_str()) + "\" \"" + build_folder().c_str() + name + ".png\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(tool.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return false;
    }
    WaitForSingleObject(process.hProcess, WAIT_MS);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code == 0;
}

void type_text(const wchar_t* text) {
    for (const wchar_t* c = text; *c; ++c) {
        INPUT input[2] = {};
        input[0].type = input[1].type = INPUT_KEYBOARD;
        input[0].ki.wScan = input[1].ki.wScan = *c;
        input[0].ki.dwFlags = KEYEVENTF_UNICODE;
        input[1].ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
        SendInput(2, input, sizeof(INPUT));
        Sleep(5);
    }
}

Installed::Installed(const char* name, bool portable) : folder(name) {
    const String source = concat(build_folder().c_str(), "velmora.exe");
    const String target = concat(folder.path().c_str(), "velmora.exe");
    if (!CopyFileA(source.c_str(), target.c_str(), FALSE)) {
        std::fprintf(stderr, "copying %s to %s failed: error %lu\n", source.c_str(), target.c_str(), GetLastError());
    }
    if (portable) create_directory(concat(folder.path().c_str(), "portable").c_str());
}

bool Installed::start() {
    const String exe = concat(folder.path().c_str(), "velmora.exe");
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    std::string command = "\"" + std::string(exe.c_str()) + "\"";
    if (!CreateProcessA(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.path().c_str(),
                        &startup, &process)) {
        std::fprintf(stderr, "starting %s failed: error %lu\n", exe.c_str(), GetLastError());
        return false;
    }
    CloseHandle(process.hThread);
    return true;
}

int Installed::wait_exit(DWORD timeout_ms) {
    if (!process.hProcess || WaitForSingleObject(process.hProcess, timeout_ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    process.hProcess = nullptr;
    return static_cast<int>(code);
}

void Installed::stop() {
    if (!process.hProcess) return;
    TerminateProcess(process.hProcess, 99);
    wait_exit();
}

std::string Installed::data(const char* name) const { return folder.read((std::string("portable\\") + name).c_str()); }

void Installed::set_data(const char* name, const std::string& bytes) const {
    folder.write((std::string("portable\\") + name).c_str(), bytes);
}

void Installed::ship(const char* name) const {
    CopyFileA(concat(build_folder().c_str(), name).c_str(), concat(folder.path().c_str(), name).c_str(), FALSE);
}

bool Installed::has_data(const char* name) const { return folder.exists((std::string("portable\\") + name).c_str()); }

void press_chord_quickly(WORD key, bool ctrl, bool shift, bool alt) {
    std::vector<INPUT> events;
    auto add = [&events](WORD virtual_key, bool up) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = virtual_key;
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        events.push_back(input);
    };
    const WORD modifiers[] = {static_cast<WORD>(ctrl ? VK_CONTROL : 0), static_cast<WORD>(shift ? VK_SHIFT : 0),
                              static_cast<WORD>(alt ? VK_MENU : 0)};
    for (const WORD modifier : modifiers) {
        if (modifier) add(modifier, false);
    }
    add(key, false);
    add(key, true);
    for (int i = 2; i >= 0; --i) {
        if (modifiers[i]) add(modifiers[i], true);
    }
    SendInput(static_cast<UINT>(events.size()), events.data(), sizeof(INPUT));
}

bool wait_until_gone(HWND window, DWORD timeout_ms) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeout_ms) {
        if (!IsWindow(window) || !IsWindowVisible(window)) return true;
        Sleep(20);
    }
    return false;
}

HWND focus_of_thread(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
}

std::string Installed::ini(const char* key) const {
    const std::string text = "\n" + data("velmora.ini");
    const std::string marker = std::string("\n") + key + "=";
    const size_t at = text.find(marker);
    if (at == std::string::npos) return "";
    const size_t start = at + marker.size();
    return text.substr(start, text.find_first_of("\r\n", start) - start);
}

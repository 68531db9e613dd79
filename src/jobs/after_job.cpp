// After-job actions: the save dialog and the move, or the file manager.
// Worker thread.
#include "jobs/after_job.h"

#include <commdlg.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>

#include "io/file_reader.h"
#include "io/file_writer.h"
#include "io/platform.h"
#include "jobs/archive_job.h"
#include "jobs/job_paths.h"
#include "jobs/job_report.h"
#include "io/banned.h"

HWND save_dialog_owner = nullptr;

namespace {

constexpr size_t COPY_BLOCK = 4096;
constexpr int PROGRESS_WAIT_MS = 3000;

void open_file_manager(const char* folder) { shell_execute(nullptr, "", "explorer.exe", folder, SW_SHOWNORMAL); }

std::string folder_before_last_separator(const char* path) { return folder_part(path); }

const COMDLG_FILTERSPEC SAVE_TYPES[] = {
    {L"Zstandard file (*.tzst)", L"*.tzst"},
    {L"ZIP file (*.zip)", L"*.zip"},
    {L"All files (*.*)", L"*.*"},
};

// 1-based index of the first file type whose pattern's extension equals word.
UINT type_index_for(const char* word) {
    for (UINT i = 0; i < 3; ++i) {
        const std::wstring pattern = SAVE_TYPES[i].pszSpec;
        const std::wstring extension = pattern.substr(2);
        const std::wstring wide = window_wide(word, std::strlen(word));
        if (extension.size() == wide.size() && _wcsicmp(extension.c_str(), wide.c_str()) == 0) return i + 1;
    }
    return 1;
}

bool choose_with_item_dialog(HWND owner, const char* word, const std::string& start_folder, std::string& result,
                             bool& created) {
    IFileSaveDialog* dialog = nullptr;
    created = SUCCEEDED(CoCreateInstance(CLSID_FileSaveDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileSaveDialog,
                                         reinterpret_cast<void**>(&dialog)));
    if (!created) return false;
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_DONTADDTORECENT);
    dialog->SetTitle(L"Save compressed file");
    dialog->SetFileTypes(3, SAVE_TYPES);
    dialog->SetFileTypeIndex(type_index_for(word));
    const std::wstring extension = window_wide(word, std::strlen(word));
    dialog->SetDefaultExtension(extension.c_str());
    const std::wstring folder = window_wide(start_folder.c_str(), start_folder.size());
    IShellItem* folder_item = nullptr;
    if (SUCCEEDED(SHCreateItemFromParsingName(folder.c_str(), nullptr, IID_IShellItem,
                                              reinterpret_cast<void**>(&folder_item)))) {
        dialog->SetFolder(folder_item);
        folder_item->Release();
    }
    bool chosen = false;
    if (SUCCEEDED(dialog->Show(owner))) {
        IShellItem* item = nullptr;
        if (SUCCEEDED(dialog->GetResult(&item))) {
            PWSTR path = nullptr;
            if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
                String utf8;
                chosen = wide_to_utf8(path, utf8);
                result = utf8.c_str();
                CoTaskMemFree(path);
            }
            item->Release();
        }
    }
    dialog->Release();
    return chosen;
}

bool choose_with_classic_dialog(HWND owner, const char* word, const std::string& start_folder, std::string& result) {
    wchar_t file[4096] = {};
    const std::wstring extension = window_wide(word, std::strlen(word));
    const std::wstring folder = window_wide(start_folder.c_str(), start_folder.size());
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = L"Zstandard file (*.tzst)\0*.tzst\0ZIP file (*.zip)\0*.zip\0All files (*.*)\0*.*\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = 4095;
    dialog.lpstrTitle = L"Save compressed file";
    dialog.lpstrDefExt = extension.c_str();
    dialog.lpstrInitialDir = folder.c_str();
    dialog.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameW(&dialog)) return false;
    String utf8;
    if (!wide_to_utf8(file, utf8)) return false;
    result = utf8.c_str();
    return true;
}

// The worker's windows wait until the main window has had a tick with the
// job ended and no Progress window open (it closes that window within a
// tick of busy clearing, and opens none while busy is clear).
void wait_for_quiet_main_window(const ArchiveJob& job) {
    const uint32_t seen = job.quiet_ticks.load();
    for (int waited = 0; job.quiet_ticks.load() == seen && !job.quit_requested.load() && waited < PROGRESS_WAIT_MS;
         waited += 10) {
        Sleep(10);
    }
}

// Tells the user what the job could not do, in one message box owned by
// the main window; nothing for a job that did everything.
void show_report(const ArchiveJob& job) {
    const std::string report = problem_report(job);
    if (report.empty() || job.quit_requested.load()) return;
    wait_for_quiet_main_window(job);
    message_box(save_dialog_owner, report.c_str(), "Velmora");
}

}  // namespace

std::string choose_save_file(HWND owner, const char* extension_word) {
    while (*extension_word == '.') ++extension_word;
    const String saved = current_directory();
    std::string result;
    bool created = false;
    if (!choose_with_item_dialog(owner, extension_word, saved.c_str(), result, created) && !created) {
        choose_with_classic_dialog(owner, extension_word, saved.c_str(), result);
    }
    set_current_directory(saved.c_str());
    return result;
}

bool move_file_by_copy(const char* source, const char* target) {
    if (same_path(source, target)) return true;  // already there
    // The copy is made under a name of its own and takes the target's name
    // only when whole, so a failed copy leaves no part of the archive under
    // the chosen name and an existing file there untouched.
    const String partial = partial_path(target);
    bool complete = false;
    {
        FileReader reader(source);
        if (!reader.is_open()) return false;
        FileWriter writer(partial.c_str());
        if (!writer.is_open()) return false;
        const uint64_t expected = reader.size();
        uint64_t copied = 0;
        char block[COPY_BLOCK];
        size_t n;
        while ((n = reader.read(block, sizeof(block))) > 0 && !writer.failed()) copied += writer.write(block, n);
        const bool closed = writer.close();
        complete = closed && !reader.failed() && copied == expected && writer.bytes_written() == expected;
    }
    if (!complete || !move_file_replacing_retrying(partial.c_str(), target)) {
        delete_file_retrying(partial.c_str());
        return false;
    }
    // The archive leaves its first place only once the target holds all of
    // it; a first copy that cannot be deleted stays as a spare.
    delete_file_retrying(source);
    return true;
}

void after_compression(ArchiveJob& job, const char* path, const char* extension_word) {
    if (!job.interactive) return;
    show_report(job);
    // Only an archive this job made is moved or shown: a file of its name
    // left by an earlier job is not this job's to touch.
    if (!job.output_made || job.quit_requested.load()) return;
    switch (job.action_after_compression) {
    case 1: {
        wait_for_quiet_main_window(job);
        const std::string target = choose_save_file(save_dialog_owner, extension_word);
        if (!target.empty() && !move_file_by_copy(path, target.c_str())) {
            message_box(save_dialog_owner, move_failure_report(path, target.c_str()).c_str(), "Velmora");
        }
        break;
    }
    case 2: open_file_manager(folder_before_last_separator(path).c_str()); break;
    default: break;
    }
}

void after_decompression(ArchiveJob& job, const char* folder) {
    if (!job.interactive) return;
    show_report(job);
    if (!job.output_made || job.quit_requested.load()) return;
    if (job.action_after_decompression == 1) open_file_manager(folder);
}

#include "app/choosers.h"

#include <commdlg.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>

#include "io/platform.h"
#include "jobs/frame/archive_names.h"
#include "io/banned.h"

namespace {

constexpr size_t MULTIPLE_RESULT_BYTES = 262144;
constexpr size_t SINGLE_RESULT_BYTES = 4096;
constexpr size_t SINGLE_PATH_LIMIT = 4093;

std::wstring wide(const char* text) { return window_wide(text, std::strlen(text)); }

// Disables the enabled top-level ancestors of owner while a chooser is open.
class DisabledAncestors {
public:
    explicit DisabledAncestors(HWND owner) {
        HWND window = owner;
        for (int steps = 0; window && steps < 20 && count_ < 10; ++steps) {
            if (!(GetWindowLongPtrA(window, GWL_STYLE) & WS_CHILD) && IsWindowEnabled(window)) {
                EnableWindow(window, FALSE);
                disabled_[count_++] = window;
            }
            window = GetParent(window);
        }
    }
    ~DisabledAncestors() {
        for (int i = 0; i < count_; ++i) EnableWindow(disabled_[i], TRUE);
    }

private:
    HWND disabled_[10] = {};
    int count_ = 0;
};

// Saves the current directory and, when asked, puts it back.
class KeptDirectory {
public:
    explicit KeptDirectory(bool keep) : keep_(keep), saved_(current_directory()) {}
    ~KeptDirectory() {
        if (keep_) set_current_directory(saved_.c_str());
    }
    const String& saved() const { return saved_; }

private:
    bool keep_;
    String saved_;
};

std::string utf8_of(const wchar_t* text) {
    String out;
    wide_to_utf8(text, out, SIZE_MAX);
    return out.c_str();
}

void set_start_folder(IFileDialog* dialog, const String& folder) {
    IShellItem* item = nullptr;
    if (SUCCEEDED(SHCreateItemFromParsingName(wide(folder.c_str()).c_str(), nullptr, IID_IShellItem,
                                              reinterpret_cast<void**>(&item)))) {
        dialog->SetFolder(item);
        item->Release();
    }
}

enum class Purpose { open, save };

// Shows an item dialog (the open or the save one); returns its result's
// file-system path, "" when cancelled; created tells whether the dialog
// could be made at all.
std::string run_item_dialog(Purpose purpose, HWND owner, const char* title, const std::vector<ChooserFilter>& filters,
                            const char* default_extension, FILEOPENDIALOGOPTIONS extra, const String& start,
                            bool& created) {
    IFileDialog* dialog = nullptr;
    created = SUCCEEDED(CoCreateInstance(purpose == Purpose::save ? CLSID_FileSaveDialog : CLSID_FileOpenDialog,
                                         nullptr, CLSCTX_INPROC_SERVER, IID_IFileDialog,
                                         reinterpret_cast<void**>(&dialog)));
    if (!created) return "";
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | extra);
    dialog->SetTitle(wide(title).c_str());
    std::vector<std::wstring> names, patterns;
    for (const ChooserFilter& f : filters) {
        names.push_back(wide(f.name));
        patterns.push_back(wide(f.pattern));
    }
    std::vector<COMDLG_FILTERSPEC> specs;
    for (size_t i = 0; i < filters.size(); ++i) specs.push_back({names[i].c_str(), patterns[i].c_str()});
    if (!specs.empty()) {
        dialog->SetFileTypes(static_cast<UINT>(specs.size()), specs.data());
        dialog->SetFileTypeIndex(filter_index_for(filters, default_extension));
    }
    if (default_extension) dialog->SetDefaultExtension(wide(default_extension).c_str());
    set_start_folder(dialog, start);
    std::string result;
    if (SUCCEEDED(dialog->Show(owner))) {
        IShellItem* item = nullptr;
        if (SUCCEEDED(dialog->GetResult(&item))) {
            PWSTR path = nullptr;
            if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
                result = utf8_of(path);
                CoTaskMemFree(path);
            }
            item->Release();
        }
    }
    dialog->Release();
    return result;
}

std::string run_classic_dialog(Purpose purpose, HWND owner, const char* title,
                               const std::vector<ChooserFilter>& filters, const char* default_extension,
                               bool keep_directory, bool multiple, const String& start) {
    std::wstring filter;
    for (const ChooserFilter& f : filters) {
        filter += wide(f.name) + L'\0' + wide(f.pattern) + L'\0';
    }
    filter.push_back(L'\0');
    const size_t characters = (multiple ? MULTIPLE_RESULT_BYTES : SINGLE_RESULT_BYTES) / sizeof(wchar_t);
    std::vector<wchar_t> buffer(characters, L'\0');
    const std::wstring wide_title = wide(title);
    const std::wstring extension = wide(default_extension ? default_extension : "");
    const std::wstring folder = wide(start.c_str());
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = filter_index_for(filters, default_extension);
    dialog.lpstrFile = buffer.data();
    dialog.nMaxFile = static_cast<DWORD>(characters);
    dialog.lpstrTitle = wide_title.c_str();
    dialog.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
    dialog.lpstrInitialDir = folder.c_str();
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY;
    dialog.Flags |= purpose == Purpose::save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST;
    if (multiple) dialog.Flags |= OFN_ALLOWMULTISELECT;
    if (keep_directory) dialog.Flags |= OFN_NOCHANGEDIR;
    if (!(purpose == Purpose::save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog))) return "";
    if (multiple) return selection_list_from_wide(buffer.data(), MULTIPLE_RESULT_BYTES);
    const std::string path = utf8_of(buffer.data());
    return path.size() > SINGLE_PATH_LIMIT ? "" : path;
}

}  // namespace

namespace {

// A filter's name with its patterns: "ZIP files (*.zip)".
std::string filter_name(const char* words, std::string patterns) {
    for (size_t at; (at = patterns.find(';')) != std::string::npos;) patterns.replace(at, 1, ", ");
    return std::string(words) + " (" + patterns + ")";
}

}  // namespace

const std::vector<ChooserFilter>& decompress_filters() {
    // The texts live as long as the program; the filters point into them.
    static const std::string all = archive_patterns(ArchiveKind::none);
    static const std::vector<ArchiveFilter> groups = archive_filters();
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        for (const ArchiveFilter& group : groups) out.push_back(filter_name(group.name_words.c_str(), group.patterns));
        return out;
    }();
    static const std::vector<ChooserFilter> filters = [] {
        std::vector<ChooserFilter> out = {{"All supported files", all.c_str()}};
        for (size_t i = 0; i < groups.size(); ++i) out.push_back({names[i].c_str(), groups[i].patterns.c_str()});
        out.push_back({"All files (*.*)", "*.*"});
        return out;
    }();
    return filters;
}

unsigned filter_index_for(const std::vector<ChooserFilter>& filters, const char* extension) {
    if (!extension || !*extension) return 1;
    const std::wstring wanted = wide(extension);
    for (size_t i = 0; i < filters.size(); ++i) {
        std::wstring pattern = wide(filters[i].pattern);
        std::wstring lowered_pattern = pattern, lowered_wanted = wanted;
        CharLowerBuffW(&lowered_pattern[0], static_cast<DWORD>(lowered_pattern.size()));
        CharLowerBuffW(&lowered_wanted[0], static_cast<DWORD>(lowered_wanted.size()));
        if (lowered_pattern.find(lowered_wanted) != std::wstring::npos) return static_cast<unsigned>(i + 1);
    }
    return 1;
}

std::string selection_list_from_wide(const wchar_t* result, size_t limit) {
    std::string list;
    for (const wchar_t* at = result; *at; at += std::wcslen(at) + 1) {
        const std::string item = utf8_of(at);
        // Room for this item, its zero and the closing empty string.
        if (list.size() + item.size() + 2 > limit) break;
        list += item;
        list.push_back('\0');
    }
    list.push_back('\0');
    return list.size() > 1 ? list : std::string();
}

std::string choose_open_file(HWND owner, const char* title, const std::vector<ChooserFilter>& filters,
                             const char* default_extension, bool keep_directory, bool multiple) {
    const KeptDirectory kept(keep_directory);
    const DisabledAncestors disabled(owner);
    if (!multiple) {
        bool created = false;
        std::string path = run_item_dialog(Purpose::open, owner, title, filters, default_extension, FOS_FILEMUSTEXIST,
                                           kept.saved(), created);
        if (created) return path.size() > SINGLE_PATH_LIMIT ? "" : path;
    }
    return run_classic_dialog(Purpose::open, owner, title, filters, default_extension, keep_directory, multiple,
                              kept.saved());
}

std::string choose_save_file(HWND owner, const char* title, const std::vector<ChooserFilter>& filters,
                             const char* default_extension) {
    const KeptDirectory kept(true);
    bool created = false;
    const std::string path = run_item_dialog(Purpose::save, owner, title, filters, default_extension,
                                             FOS_DONTADDTORECENT, kept.saved(), created);
    if (created) return path.size() > SINGLE_PATH_LIMIT ? "" : path;
    return run_classic_dialog(Purpose::save, owner, title, filters, default_extension, true, false, kept.saved());
}

bool choose_folder(HWND owner, std::string& folder, size_t size, bool keep_directory) {
    const KeptDirectory kept(keep_directory);
    const DisabledAncestors disabled(owner);
    folder.clear();
    bool created = false;
    std::string path =
        run_item_dialog(Purpose::open, owner, "Compress folder", {}, nullptr, FOS_PICKFOLDERS, kept.saved(), created);
    bool chosen = !path.empty();
    if (!created) {
        BROWSEINFOW browse{};
        browse.hwndOwner = owner;
        const std::wstring title = L"Compress folder";
        browse.lpszTitle = title.c_str();
        browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
        const std::wstring start = wide(kept.saved().c_str());
        browse.lParam = reinterpret_cast<LPARAM>(start.c_str());
        browse.lpfn = [](HWND window, UINT message, LPARAM, LPARAM data) -> int {
            if (message == BFFM_INITIALIZED) SendMessageW(window, BFFM_SETSELECTIONW, TRUE, data);
            return 0;
        };
        PIDLIST_ABSOLUTE list = SHBrowseForFolderW(&browse);
        chosen = list != nullptr;
        if (list) {
            wchar_t buffer[MAX_PATH * 4] = {};
            if (SHGetPathFromIDListW(list, buffer)) path = utf8_of(buffer);
            CoTaskMemFree(list);
        }
    }
    if (chosen && path.size() <= size - 2) folder = path;
    return chosen;
}

#include "jobs/frame/job_paths.h"

#include <windows.h>

#include <cstring>

#include "io/platform.h"
#include "io/banned.h"

String replace_extension(const char* path, const char* extension) {
    size_t cut = std::strlen(path);
    for (size_t i = cut; i-- > 0;) {
        if (path[i] == '\\' || path[i] == '/') break;
        if (path[i] == '.') {
            cut = i;
            break;
        }
    }
    String out;
    out.set(path, cut);
    out.append(extension);
    return out;
}

std::string path_extension(const char* path) {
    for (size_t i = std::strlen(path); i-- > 0;) {
        if (path[i] == '\\' || path[i] == '/') return "";
        if (path[i] == '.') return path + i;
    }
    return "";
}

std::string name_of(const char* path) {
    const char* last = path;
    for (const char* p = path; *p; ++p) {
        if (*p == '\\' || *p == '/') last = p + 1;
    }
    return last;
}

std::string folder_part(const char* path) {
    for (size_t i = std::strlen(path); i-- > 1;) {
        if (path[i] == '\\' || path[i] == '/') return std::string(path, i);
    }
    return "";
}

bool is_root_path(const char* path) {
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    std::string rest = path;
    if (rest.empty() || separator(rest.back())) return true;
    if (rest.compare(0, 8, "\\\\?\\UNC\\") == 0) {
        rest = "\\\\" + rest.substr(8);
    } else if (rest.compare(0, 4, "\\\\?\\") == 0) {
        rest = rest.substr(4);
    }
    if (rest.size() == 2 && rest[1] == ':') return true;
    if (rest.size() < 2 || !separator(rest[0]) || !separator(rest[1])) return false;
    // \\server\share: two components after the leading pair.
    size_t components = 0;
    for (size_t i = 2; i < rest.size(); ++i) {
        if (!separator(rest[i]) && (i == 2 || separator(rest[i - 1]))) ++components;
    }
    return components <= 2;
}

bool same_path(const std::string& a, const std::string& b) {
    const std::wstring wa = window_wide(a.c_str(), a.size());
    const std::wstring wb = window_wide(b.c_str(), b.size());
    if (wa.size() != wb.size()) return false;
    for (size_t i = 0; i < wa.size(); ++i) {
        wchar_t x = wa[i] == L'/' ? L'\\' : wa[i];
        wchar_t y = wb[i] == L'/' ? L'\\' : wb[i];
        if (x == y) continue;
        x = static_cast<wchar_t>(reinterpret_cast<uintptr_t>(CharUpperW(reinterpret_cast<LPWSTR>(uintptr_t{x}))));
        y = static_cast<wchar_t>(reinterpret_cast<uintptr_t>(CharUpperW(reinterpret_cast<LPWSTR>(uintptr_t{y}))));
        if (x != y) return false;
    }
    return true;
}

std::vector<std::string> selection_paths(const std::string& list) {
    std::vector<std::string> strings;
    size_t at = 0;
    while (at < list.size() && list[at] != '\0') {
        const size_t end = list.find('\0', at);
        strings.push_back(list.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    if (strings.size() <= 1) return strings;
    std::vector<std::string> paths;
    for (size_t i = 1; i < strings.size(); ++i) paths.push_back(strings[0] + "\\" + strings[i]);
    return paths;
}

std::string make_selection_list(const std::vector<std::string>& paths) {
    std::string list;
    if (paths.size() == 1) {
        list = paths[0];
        list.push_back('\0');
    } else if (!paths.empty()) {
        list = folder_part(paths[0].c_str());
        list.push_back('\0');
        for (const std::string& path : paths) {
            list += name_of(path.c_str());
            list.push_back('\0');
        }
    }
    list.push_back('\0');
    return list;
}

namespace {

bool is_reserved_device(const std::string& component) {
    static const char* const DEVICES[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (char& c : base) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    for (const char* device : DEVICES) {
        if (base == device) return true;
    }
    // COM1..COM9 and LPT1..LPT9, also with the superscript digits Windows accepts.
    if (base.size() >= 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0)) {
        const std::string digit = base.substr(3);
        if (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') return true;
        if (digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3") return true;
    }
    return false;
}

std::string safe_component(std::string component) {
    for (char& c : component) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || std::strchr("<>:\"|?*", c)) c = '_';
    }
    // Windows drops trailing dots and spaces, which would merge names.
    for (size_t i = component.size(); i-- > 0 && (component[i] == '.' || component[i] == ' ');) component[i] = '_';
    if (is_reserved_device(component)) component.insert(0, "_");
    return component;
}

}  // namespace

std::string safe_entry_path(const char* entry_name) {
    // A name is decoded before it is split, so that a separator byte inside
    // a character of a legacy code page splits nothing, and the path it
    // gives can always take the UTF-16 route whatever the destination.
    std::string decoded;
    if (!is_valid_utf8(entry_name, std::strlen(entry_name))) {
        decoded = code_page_name(entry_name, CP_ACP);
        entry_name = decoded.c_str();
    }
    std::string out;
    std::string component;
    const auto flush = [&]() -> bool {
        if (component.empty() || component == ".") {
            component.clear();
            return true;
        }
        if (component == "..") return false;
        if (!out.empty()) out.push_back('\\');
        out += safe_component(component);
        component.clear();
        return true;
    };
    for (const char* p = entry_name; *p; ++p) {
        if (*p == '/' || *p == '\\') {
            if (!flush()) return "";
        } else {
            component.push_back(*p);
        }
    }
    if (!flush()) return "";
    return out;
}

std::string code_page_name(const std::string& bytes, unsigned code_page) {
    const size_t length = bytes.size();
    std::wstring wide(length + 1, L'\0');
    const int n = MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(length), &wide[0],
                                      static_cast<int>(length));
    String utf8;
    if (n < 0 || (n == 0 && length > 0)) return std::string();
    wide[static_cast<size_t>(n)] = L'\0';
    if (!wide_to_utf8(wide.c_str(), utf8, 3 * length + 1)) return std::string();
    return utf8.c_str();
}

std::string listed_name(std::string relative) {
    for (char& c : relative) {
        if (c == '\\') c = '/';
    }
    return relative;
}

String partial_path(const char* path) {
    for (int n = 0;; ++n) {
        const std::string suffix = n == 0 ? std::string(".partial") : ".partial" + std::to_string(n);
        String candidate = concat(path, suffix.c_str());
        if (file_attributes(candidate.c_str()) == INVALID_FILE_ATTRIBUTES) return candidate;
    }
}

bool make_folder(const char* path) {
    if (create_directory(path)) return true;
    const DWORD attributes = file_attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool make_folder_tree(const char* path) {
    if (make_folder(path)) return true;
    const std::string parent = folder_part(path);
    // A drive ("C:") or a share (\\server\share) is no folder to make.
    if (parent.empty() || parent.size() <= 2 || is_root_path(parent.c_str())) return false;
    return make_folder_tree(parent.c_str()) && make_folder(path);
}

bool create_folders_below(const std::string& base, const std::string& relative) {
    MadeFolders once;
    return once.make_below(base, relative);
}

namespace {

// relative in UTF-16, upper-cased as the file system compares names.
std::wstring folded(const std::string& relative) {
    std::wstring wide = window_wide(relative.c_str(), relative.size());
    if (!wide.empty()) CharUpperBuffW(&wide[0], static_cast<DWORD>(wide.size()));
    return wide;
}

}  // namespace

bool MadeFolders::make_below(const std::string& base, const std::string& relative) {
    // A folder known to be made has every level above it made too.
    if (folded_.count(folded(relative))) return true;
    size_t at = 0;
    while (at <= relative.size()) {
        size_t end = relative.find('\\', at);
        if (end == std::string::npos) end = relative.size();
        const std::string level = relative.substr(0, end);
        std::wstring key = folded(level);
        if (!folded_.count(key)) {
            if (!make_folder((base + level).c_str())) return false;
            folded_.insert(std::move(key));
        }
        at = end + 1;
    }
    return true;
}

std::string numbered(const std::string& relative, int n) {
    const size_t name_at = relative.rfind('\\') == std::string::npos ? 0 : relative.rfind('\\') + 1;
    size_t dot = relative.rfind('.');
    if (dot == std::string::npos || dot <= name_at) dot = relative.size();
    return relative.substr(0, dot) + " (" + std::to_string(n) + ")" + relative.substr(dot);
}

std::string place_finished_output(const char* partial, const char* path) {
    if (move_file_replacing_retrying(partial, path)) return path;
    for (int n = 2; n < 1000; ++n) {
        const std::string aside = numbered(path, n);
        if (file_attributes(aside.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
        if (move_file_replacing(partial, aside.c_str())) return aside;
        break;
    }
    return partial;
}

std::string move_to_free_name(const char* partial, const char* path) {
    if (move_file_to_new_name(partial, path)) return path;
    for (int n = 2; n < 1000; ++n) {
        const std::string free_name = numbered(path, n);
        if (move_file_to_new_name(partial, free_name.c_str())) return free_name;
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    return partial;
}

bool WrittenFiles::taken(const std::string& relative) const { return folded_.count(folded(relative)) != 0; }

std::string WrittenFiles::place(const std::string& destination, const std::string& relative) {
    if (!names_.insert(relative).second) return aside(destination, relative);
    if (taken(relative)) return aside(destination, relative);
    folded_.insert(folded(relative));
    return relative;
}

std::string WrittenFiles::aside(const std::string& destination, const std::string& relative) {
    std::string chosen;
    for (int n = 2;; ++n) {
        chosen = numbered(relative, n);
        if (!taken(chosen) && file_attributes((destination + chosen).c_str()) == INVALID_FILE_ATTRIBUTES) break;
    }
    folded_.insert(folded(chosen));
    return chosen;
}

namespace {

// The last components of path, as many as relative has.
std::string last_components(const std::string& path, const std::string& relative) {
    size_t count = 1;
    for (const char c : relative) count += c == '\\';
    size_t cut = path.size();
    while (count-- > 0 && cut != std::string::npos) cut = cut == 0 ? std::string::npos : path.rfind('\\', cut - 1);
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// placed's path below destination in its long form ("" when it cannot be
// had): a short 8.3 component becomes the name it stands for.
std::string long_form(const std::string& destination, const std::string& placed) {
    const String long_path = long_path_name((destination + placed).c_str());
    return long_path.empty() ? std::string() : last_components(long_path.c_str(), placed);
}

}  // namespace

void WrittenFiles::written(const std::string& relative, const std::string& placed) {
    placed_[relative] = placed;
    whole_.insert(folded(placed));
}

bool WrittenFiles::reaches_written_file(const std::string& destination, const std::string& placed) const {
    const std::string long_placed = long_form(destination, placed);
    return !long_placed.empty() && whole_.count(folded(long_placed)) != 0;
}

bool WrittenFiles::placed_before(const std::string& relative) const { return names_.count(relative) != 0; }

const std::string* WrittenFiles::placed_for(const std::string& relative) const {
    const auto found = placed_.find(relative);
    return found == placed_.end() ? nullptr : &found->second;
}

bool names_an_input(const std::vector<std::string>& inputs, const String& path) {
    for (const std::string& input : inputs) {
        if (same_path(input, path.c_str())) return true;
    }
    return false;
}

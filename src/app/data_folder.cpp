// Where the program and the user's files live: the program's folder, portable
// mode and the per-user data folder. Kept apart from start-up so that
// velmora-cli finds the same preferences without the windows.
#include <cstring>

#include "app/shell.h"
#include "io/platform.h"
#include "io/banned.h"

String folder_of(const char* path) {
    const char* last_backslash = std::strrchr(path, '\\');
    const char* last_slash = std::strrchr(path, '/');
    const char* last = last_backslash > last_slash ? last_backslash : last_slash;
    String folder;
    if (last) folder.set(path, static_cast<size_t>(last - path) + 1);
    return folder;
}

bool is_portable(const char* program_folder) {
    String pattern(program_folder);
    if (pattern.length()) pattern.truncate(pattern.length() - 1);
    pattern.append("\\*");
    FolderSearch search(pattern.c_str());
    FoundEntry entry;
    while (search.next(entry)) {
        if (!(entry.attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        const String name = folder_of(entry.name.c_str());
        const char* base = entry.name.c_str() + name.length();
        if (std::strcmp(base, "portable") == 0) return true;
    }
    return false;
}

bool find_data_folder(const char* program_folder, bool portable, String& data_folder) {
    if (portable) {
        data_folder = concat(program_folder, "portable", "\\");
        return true;
    }
    String roaming;
    if (!roaming_folder(roaming)) return false;
    data_folder = concat(roaming.c_str(), "\\Velmora\\");
    create_directory(data_folder.c_str());
    return true;
}

#include "test_folder.h"

#include <cstdio>
#include <string>
#include <vector>

#include "io/platform.h"

namespace {
int folder_counter = 0;
}

TestFolder::TestFolder(const char* name) {
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    String base;
    wide_to_utf8(temp, base);
    char unique[96];
    std::snprintf(unique, sizeof(unique), "velmora-%s-%lu-%d\\", name, GetCurrentProcessId(), ++folder_counter);
    path_ = concat(base.c_str(), unique);
    remove_tree(path_.c_str());
    create_directory(path_.c_str());
}

TestFolder::~TestFolder() { remove_tree(path_.c_str()); }

void TestFolder::write(const char* relative, const std::string& bytes) const {
    FILE* stream = open_stream(concat(path_.c_str(), relative).c_str(), "wb");
    if (!stream) return;
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fclose(stream);
}

std::string TestFolder::read(const char* relative) const {
    std::string bytes;
    FILE* stream = open_stream(concat(path_.c_str(), relative).c_str(), "rb");
    if (!stream) return bytes;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof(chunk), stream)) > 0) bytes.append(chunk, n);
    std::fclose(stream);
    return bytes;
}

bool TestFolder::exists(const char* relative) const {
    return file_attributes(concat(path_.c_str(), relative).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void remove_tree(const char* path) {
    // Iterative, so that trees a thousand levels deep do not exhaust the stack.
    String root(path);
    if (root.length() && root.c_str()[root.length() - 1] == '\\') root.truncate(root.length() - 1);
    std::vector<std::string> pending = {root.c_str()};
    std::vector<std::string> folders;
    while (!pending.empty()) {
        const std::string folder = pending.back();
        pending.pop_back();
        folders.push_back(folder);
        FolderSearch search((folder + "\\*").c_str());
        FoundEntry entry;
        while (search.next(entry)) {
            const std::string name = entry.name.c_str();
            if (name == "." || name == "..") continue;
            const std::string child = folder + "\\" + name;
            if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
                pending.push_back(child);
                continue;
            }
            WideText wide(child.c_str(), child.size());
            wide.make_long_path();
            SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
            delete_file(child.c_str());
        }
    }
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        WideText wide(it->c_str(), it->size());
        wide.make_long_path();
        RemoveDirectoryW(wide.c_str());
    }
}

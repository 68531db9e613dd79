// A fresh folder under the Windows temporary folder for one test, removed
// with everything in it when the test ends. path() ends in a backslash.
#pragma once

#include <windows.h>

#include <string>

#include "io/grow_buffer.h"

class TestFolder {
public:
    explicit TestFolder(const char* name);
    ~TestFolder();
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;
    const String& path() const { return path_; }
    // Writes bytes into a file below the folder (relative name).
    void write(const char* relative, const std::string& bytes) const;
    // Reads a file below the folder; empty when missing.
    std::string read(const char* relative) const;
    bool exists(const char* relative) const;

private:
    String path_;
};

// Removes a folder tree (UTF-8 path, with or without the trailing separator).
void remove_tree(const char* path);

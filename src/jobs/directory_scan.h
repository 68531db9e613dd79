// One level of a folder listing with UTF-8 names, used by every folder walk
// of the archive jobs. A local of one walk; worker thread.
#pragma once

#include <windows.h>

#include "io/grow_buffer.h"

class DirectoryScan {
public:
    DirectoryScan() = default;
    ~DirectoryScan() { close(); }
    DirectoryScan(const DirectoryScan&) = delete;
    DirectoryScan& operator=(const DirectoryScan&) = delete;

    // Starts listing folder (one trailing separator is dropped); false when
    // no listing could be started.
    bool first(const char* folder);
    bool next();
    bool is_directory() const;
    // The folder prefix, a backslash and the current name.
    void full_path(String& out) const;
    // True for the "." and ".." entries.
    bool is_dot_entry() const;
    uint64_t size() const;
    void close();

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    bool wide_ = false;
    WIN32_FIND_DATAW wide_data_{};
    WIN32_FIND_DATAA ansi_data_{};
    String prefix_;
};

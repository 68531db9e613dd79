// One level of a folder listing with UTF-8 names, used by every folder walk
// of the archive jobs, and the rule by which those walks go into a folder.
// A local of one walk; worker thread.
//
// A walk never follows a link: a folder that is a name-surrogate reparse
// point (a junction, a folder symbolic link) is left out and reported, and
// the hidden system junctions of user profiles ("Application Data", "My
// Documents", ...) are left out without a word. Any loop that remains (a
// volume mounted inside itself) is broken by the identity of every folder on
// the current path.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

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
    // The current entry's attributes, and its reparse tag (0 unless the
    // entry is a reparse point).
    DWORD attributes() const { return attributes_; }
    DWORD reparse_tag() const { return reparse_tag_; }
    // The folder prefix, a backslash and the current name.
    void full_path(String& out) const;
    // True for the "." and ".." entries.
    bool is_dot_entry() const;
    uint64_t size() const;
    void close();

private:
    bool take_entry(bool found);
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    DWORD attributes_ = 0;
    DWORD reparse_tag_ = 0;
    bool wide_ = false;
    WIN32_FIND_DATAW wide_data_{};
    WIN32_FIND_DATAA ansi_data_{};
    String prefix_;
};

// Test seam: when set, called with the UTF-8 name of each entry a listing
// returns; it may change the attributes and the reparse tag the listing
// reports, so that tests can present junctions and profile links, which
// Wine cannot make. Null in the program.
struct ScanSeam {
    void (*adjust_entry)(const char* name, DWORD* attributes, DWORD* reparse_tag) = nullptr;
};
extern ScanSeam scan_seam;

// What a walk does with a folder entry of its listing.
enum class FolderStep {
    enter,         // an ordinary folder (cloud placeholders included): walk it
    link,          // a junction or folder symbolic link: left out, reported
    profile_link,  // a hidden system junction of a user profile: left out silently
    loop,          // a folder already on the current path: left out, reported
};

// The folders on a walk's current path, from the chosen folder down, by
// volume serial number and file ID.
class FolderTrail {
public:
    // Starts at the chosen folder.
    void start(const char* root);
    // Decides for the folder that scan's current entry names (full path
    // path); on enter the folder joins the trail, and the walk calls leave()
    // when it is done with it.
    FolderStep step_into(const DirectoryScan& scan, const char* path);
    void leave();
    size_t depth() const { return folders_.size(); }

private:
    struct Identity {
        uint32_t volume = 0;
        uint64_t file = 0;
        bool known = false;
        bool operator==(const Identity& other) const {
            return known && other.known && volume == other.volume && file == other.file;
        }
    };
    static Identity identity_of(const char* path);
    std::vector<Identity> folders_;
};

// The reparse rule alone: what a walk does with a folder of these
// attributes and reparse tag, leaving loops aside.
FolderStep folder_step_for(DWORD attributes, DWORD reparse_tag);

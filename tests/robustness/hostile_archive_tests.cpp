// Extraction of hostile archives, made at run time: every case must write
// nothing outside its destination folder (the whole scratch tree is compared
// before and after, file contents included), end within its time bound, and
// leave the destination and outcome recorded below. Each name case is packed
// both as a ZIP entry and as a tar entry inside a .tzst.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "hostile_archives.h"
#include "jobs/job_test_util.h"
#include "robust_util.h"
#include "test_folder.h"

namespace {

constexpr double TIME_BOUND_SECONDS = 60;

// Where a case runs: the scratch root (the tree that must not change), the
// case folder and the archive in it; the destination is the archive's name.
struct Place {
    std::string root;       // Z:\dev\shm\...\ (ends in \)
    std::string root_unix;  // /dev/shm/.../
    std::string folder;     // root + id + \ .
};

std::string expand(std::string name, const Place& place) {
    const auto replace = [&](const std::string& key, const std::string& value) {
        for (size_t at; (at = name.find(key)) != std::string::npos;) name.replace(at, key.size(), value);
    };
    replace("{WIN}", place.root);
    replace("{UNIX}", place.root_unix);
    return name;
}

// The destination's names, with the scratch folder's own name shown as R and
// names longer than 120 bytes shown by their start and length.
std::string listing(const Snapshot& snapshot, const Place& place) {
    const std::string trimmed = place.root.substr(0, place.root.size() - 1);
    const std::string root_name = trimmed.substr(trimmed.rfind('\\') + 1);
    std::string out;
    for (const auto& entry : snapshot) {
        std::string name = entry.first;
        for (size_t at; (at = name.find(root_name)) != std::string::npos;) name.replace(at, root_name.size(), "R");
        if (name.size() > 120) name = name.substr(0, 12) + "...(" + std::to_string(name.size()) + ")";
        if (!out.empty()) out += "|";
        out += name;
    }
    return out;
}

struct Result {
    std::string outcome;
    std::string listing;
    int entries_failed = 0;
};

// Extracts archive bytes saved as folder\a<extension> and checks the
// containment and time bound; returns what the destination holds.
Result extract_case(const Place& place, const std::string& extension, const std::string& bytes) {
    create_directory(place.folder.c_str());
    write_file(place.folder + "outside.txt", "sentinel");
    const std::string archive = place.folder + "a" + extension;
    EXPECT_TRUE(write_file(archive, bytes));
    const Snapshot before = snapshot_tree(place.root);
    JobHandle job;
    job->keep_tarball_override = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(decompress_within(*job, archive, TIME_BOUND_SECONDS)) << "no end within the time bound";
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const Snapshot after = snapshot_tree(place.root);
    const std::string destination = place.folder.substr(place.root.size()) + "a\\";
    for (const auto& entry : after) {
        const auto was = before.find(entry.first);
        if (was != before.end()) {
            EXPECT_EQ(was->second, entry.second) << "changed outside: " << entry.first;
        } else {
            EXPECT_EQ(0u, entry.first.rfind(destination, 0)) << "written outside: " << entry.first;
        }
    }
    for (const auto& entry : before) EXPECT_TRUE(after.count(entry.first)) << "removed: " << entry.first;
    EXPECT_FALSE(path_exists("C:\\escaped.txt"));
    EXPECT_FALSE(path_exists("Z:\\escaped.txt"));
    Result result{outcome_word(*job), listing(snapshot_tree(place.folder + "a\\"), place), job->entries_failed};
    std::printf("  %-28s %-5s %-9s %5.2f s  failed %d  [%.200s]\n", place.folder.substr(place.root.size()).c_str(),
                extension.c_str(), result.outcome.c_str(), seconds, result.entries_failed, result.listing.c_str());
    remove_tree(place.folder.c_str());
    return result;
}

class Hostile : public ::testing::Test {
protected:
    ScratchFolder scratch{"hostile"};
    Place place(const std::string& id) { return {scratch.path(), scratch.unix_path(), scratch.path() + id + "\\"}; }
};

// Names tried as entries of both kinds. Each archive also holds "ok.txt".
// expected: the destination afterwards ("|"-separated, folders end in \).
struct NameCase {
    const char* id;
    std::vector<std::string> names;
    const char* expected;
};

const std::vector<NameCase> NAME_CASES = {
    {"dotdot_first", {"../escaped.txt", "../../escaped.txt", "..\\escaped.txt"}, "ok.txt"},
    {"dotdot_middle", {"a/../../escaped.txt", "a\\..\\..\\escaped.txt", "a/./../../../escaped.txt", "./../escaped.txt"},
     "ok.txt"},
    {"dotdot_last", {"a/b/..", "..", "a/.."}, "ok.txt"},
    {"dots_only", {"...", "a/.../b.txt", ". /x.txt"}, "__\\|__\\x.txt|___|a\\|a\\___\\|a\\___\\b.txt|ok.txt"},
    {"absolute_unix", {"/escaped.txt", "{UNIX}escaped.txt", "//escaped.txt"},
     "dev\\|dev\\shm\\|dev\\shm\\R\\|dev\\shm\\R\\escaped.txt|escaped.txt|ok.txt"},
    {"absolute_windows", {"C:\\escaped.txt", "C:escaped.txt", "{WIN}escaped.txt", "Z:/escaped.txt"},
     "C_\\|C_\\escaped.txt|C_escaped.txt|Z_\\|Z_\\dev\\|Z_\\dev\\shm\\|Z_\\dev\\shm\\R\\|Z_\\dev\\shm\\R\\escaped.txt|"
     "Z_\\escaped.txt|ok.txt"},
    {"unc", {"\\\\localhost\\share\\escaped.txt", "//server/share/escaped.txt"},
     "localhost\\|localhost\\share\\|localhost\\share\\escaped.txt|ok.txt|server\\|server\\share\\|server\\share\\escaped.txt"},
    {"device_prefix", {"\\\\?\\{WIN}escaped.txt", "\\\\.\\{WIN}escaped.txt", "\\\\?\\UNC\\host\\share\\escaped.txt"},
     "Z_\\|Z_\\dev\\|Z_\\dev\\shm\\|Z_\\dev\\shm\\R\\|Z_\\dev\\shm\\R\\escaped.txt|_\\|_\\UNC\\|_\\UNC\\host\\|"
     "_\\UNC\\host\\share\\|_\\UNC\\host\\share\\escaped.txt|_\\Z_\\|_\\Z_\\dev\\|_\\Z_\\dev\\shm\\|_\\Z_\\dev\\shm\\R\\|"
     "_\\Z_\\dev\\shm\\R\\escaped.txt|ok.txt"},
    {"stream_colons", {"file.txt:hidden", "file.txt::$DATA", "folder:x/y.txt"},
     "file.txt__$DATA|file.txt_hidden|folder_x\\|folder_x\\y.txt|ok.txt"},
    {"reserved_devices", {"CON", "con.txt", "aux.tar.gz", "NUL", "COM1", "lpt9.log", "CONIN$", "sub/PRN/x.txt", "COM\xC2\xB9"},
     "_COM1|_COM\xC2\xB9|_CON|_CONIN$|_NUL|_aux.tar.gz|_con.txt|_lpt9.log|ok.txt|sub\\|sub\\_PRN\\|sub\\_PRN\\x.txt"},
    {"trailing_dots_spaces", {"trail.", "trail ", "dir./x.txt", "dir /y.txt", "end. . "},
     "dir_\\|dir_\\x.txt|dir_\\y.txt|end____|ok.txt|trail_"},
    // Names that Windows folds together end in one file: the last entry wins.
    {"case_and_dot_collisions", {"Same.txt", "same.TXT", "SAME.txt", "dots", "dots.", "dots "}, "Same.txt|dots|dots_|ok.txt"},
    {"control_characters", {"tab\there.txt", "new\nline.txt", "bell\x07.txt"}, "bell_.txt|new_line.txt|ok.txt|tab_here.txt"},
};

TarSpec tar_file(const std::string& name, const std::string& data, char type = '0', const std::string& link = "") {
    TarSpec spec;
    spec.name = name;
    spec.data = data;
    spec.type = type;
    spec.link = link;
    return spec;
}

ZipSpec zip_file(const std::string& name, const std::string& data, uint16_t method = 0) {
    ZipSpec spec;
    spec.name = name;
    spec.data = data;
    spec.method = method;
    return spec;
}

std::vector<ZipSpec> zip_entries(const std::vector<std::string>& names, const Place& place) {
    std::vector<ZipSpec> entries;
    for (const std::string& name : names) entries.push_back(zip_file(expand(name, place), "payload " + name));
    entries.push_back(zip_file("ok.txt", "fine"));
    return entries;
}

std::vector<TarSpec> tar_entries(const std::vector<std::string>& names, const Place& place) {
    std::vector<TarSpec> entries;
    for (const std::string& name : names) entries.push_back(tar_file(expand(name, place), "payload " + name));
    entries.push_back(tar_file("ok.txt", "fine"));
    return entries;
}

TEST_F(Hostile, entry_names_never_leave_the_destination) {
    for (const NameCase& c : NAME_CASES) {
        SCOPED_TRACE(c.id);
        const Place zip_place = place(std::string(c.id) + "_zip");
        const Result zip = extract_case(zip_place, ".zip", build_zip(zip_entries(c.names, zip_place)));
        const Place tar_place = place(std::string(c.id) + "_tar");
        const Result tar = extract_case(tar_place, ".tzst", zstd_frame(build_tar(tar_entries(c.names, tar_place))));
        EXPECT_EQ(c.expected, zip.listing);
        EXPECT_EQ(c.expected, tar.listing);
    }
}

}  // namespace

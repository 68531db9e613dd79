// Folder walks of both compressors (and the count before them) on trees
// with links and loops. A Unix symbolic link is real under Wine; junctions,
// profile links, cloud placeholders and a folder mounted inside itself are
// presented through the listing's test seam, because Wine cannot make them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "jobs/frame/directory_scan.h"
#include "jobs/frame/job_paths.h"
#include "jobs/worker/job_report.h"
#include "jobs/zip/zip_io.h"
#include "job_test_util.h"
#include "test_folder.h"

namespace {

std::string path_in(const TestFolder& folder, const std::string& relative) {
    return std::string(folder.path().c_str()) + relative;
}

// Makes a Unix symbolic link at link (a Windows path) pointing to target,
// with the system's own ln: Wine's CreateSymbolicLink makes nothing.
bool make_unix_link(const std::string& link, const char* target) {
    using UnixName = char*(CDECL*)(const wchar_t*);
    const auto unix_name = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!unix_name) return false;
    const std::wstring wide(link.begin(), link.end());
    char* unix_link = unix_name(wide.c_str());
    if (!unix_link) return false;
    std::wstring command = L"Z:\\bin\\ln -s ";
    for (const char* c = target; *c; ++c) command += static_cast<wchar_t>(*c);
    command += L" ";
    for (const char* c = unix_link; *c; ++c) command += static_cast<wchar_t>(*c);
    HeapFree(GetProcessHeap(), 0, unix_link);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return false;
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    // Wine does not wait for a Unix process: wait for its link.
    for (int tries = 0; tries < 500; ++tries) {
        if (file_attributes(link.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        Sleep(10);
    }
    return false;
}

// Names in a ZIP archive, folders ending in /.
std::set<std::string> zip_names(const std::string& path) {
    std::set<std::string> names;
    unzFile zip = open_zip_archive(path.c_str());
    if (!zip) return names;
    for (int r = unzGoToFirstFile(zip); r == UNZ_OK; r = unzGoToNextFile(zip)) {
        char name[4096];
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(zip, &info, name, sizeof(name), nullptr, 0, nullptr, 0) == UNZ_OK) names.insert(name);
    }
    unzClose(zip);
    return names;
}

std::set<std::string> tzst_names(const std::string& path) {
    FILE* file = open_stream(path.c_str(), "rb");
    std::string packed;
    if (file) {
        char piece[65536];
        size_t n;
        while ((n = std::fread(piece, 1, sizeof(piece), file)) > 0) packed.append(piece, n);
        std::fclose(file);
    }
    std::set<std::string> names;
    for (const auto& entry : tzst_entries(packed)) names.insert(entry.first);
    return names;
}

// The problems of the last job, as "label: name".
std::vector<std::string> problems_of(JobHandle& job) {
    std::vector<std::string> lines;
    for (const JobProblem& problem : job->problems) {
        lines.push_back(std::string(problem_label(problem.kind)) + ": " + problem.name);
    }
    return lines;
}

// The names each compressor stores for folder, with what each job reported
// and the count before its walk.
struct Walked {
    std::set<std::string> zip;
    std::set<std::string> tzst;
    std::vector<std::string> zip_problems;
    std::vector<std::string> tzst_problems;
    int32_t zip_total = 0;
    int32_t tzst_total = 0;
};

Walked compress_with_both(const std::string& folder) {
    Walked walked;
    JobHandle job;
    job->job_folder.set(folder.c_str());
    job->compressor = 0;
    run_job(*job, JobKind::compress_folder);
    walked.zip = zip_names(folder + ".zip");
    walked.zip_problems = problems_of(job);
    walked.zip_total = job->items_total.load();
    job->compressor = 1;
    run_job(*job, JobKind::compress_folder);
    walked.tzst = tzst_names(folder + ".tzst");
    walked.tzst_problems = problems_of(job);
    walked.tzst_total = job->items_total.load();
    return walked;
}

// Seam entries: a name and what the listing shows for it instead.
struct Presented {
    const char* name;
    DWORD attributes;
    DWORD tag;
};
const Presented* presented = nullptr;

void present(const char* name, DWORD* attributes, DWORD* tag) {
    for (const Presented* p = presented; p && p->name; ++p) {
        if (std::strcmp(p->name, name) != 0) continue;
        *attributes = p->attributes;
        *tag = p->tag;
    }
}

class PresentedEntries {
public:
    explicit PresentedEntries(const Presented* entries) {
        presented = entries;
        scan_seam.adjust_entry = present;
    }
    ~PresentedEntries() {
        scan_seam.adjust_entry = nullptr;
        presented = nullptr;
    }
};

const std::set<std::string> TWO_FILES_ZIP = {"a/", "a/f.txt", "g.txt"};
const std::set<std::string> TWO_FILES_TZST = {"a/", "a/f.txt", "g.txt"};

}  // namespace

TEST(FolderWalk, a_link_to_the_parent_is_not_followed_by_either_walk) {
    TestFolder folder("walk-link");
    const std::string source = path_in(folder, "src");
    write_tree(source + "\\", {{"a\\f.txt", "f"}, {"g.txt", "g"}});
    ASSERT_TRUE(make_unix_link(source + "\\a\\up", ".."));
    const Walked walked = compress_with_both(source);
    EXPECT_EQ(walked.zip, TWO_FILES_ZIP);
    EXPECT_EQ(walked.tzst, TWO_FILES_TZST);
    const std::vector<std::string> reported = {"link not followed: a/up/"};
    EXPECT_EQ(walked.zip_problems, reported);
    EXPECT_EQ(walked.tzst_problems, reported);
    EXPECT_EQ(walked.zip_total, 2);
    EXPECT_EQ(walked.tzst_total, 2);
}

// A folder reached again through something that is no link (a volume
// mounted inside itself, as a bind mount of a parent shows it) is a loop.
TEST(FolderWalk, a_folder_that_is_its_own_ancestor_is_left_out_as_a_loop) {
    TestFolder folder("walk-loop");
    const std::string source = path_in(folder, "src");
    write_tree(source + "\\", {{"a\\f.txt", "f"}, {"g.txt", "g"}});
    ASSERT_TRUE(make_unix_link(source + "\\a\\up", ".."));
    const Presented plain_folder[] = {{"up", FILE_ATTRIBUTE_DIRECTORY, 0}, {nullptr, 0, 0}};
    const PresentedEntries seam(plain_folder);
    const Walked walked = compress_with_both(source);
    EXPECT_EQ(walked.zip, TWO_FILES_ZIP);
    EXPECT_EQ(walked.tzst, TWO_FILES_TZST);
    const std::vector<std::string> reported = {"folder loop, left out: a/up/"};
    EXPECT_EQ(walked.zip_problems, reported);
    EXPECT_EQ(walked.tzst_problems, reported);
    EXPECT_EQ(walked.zip_total, 2);
    EXPECT_EQ(walked.tzst_total, 2);
}

// Seam: junctions and profile links are real folders here, shown as Windows
// shows them.
TEST(FolderWalk, junctions_are_reported_profile_links_passed_over_and_cloud_folders_walked) {
    TestFolder folder("walk-kinds");
    const std::string source = path_in(folder, "src");
    write_tree(source + "\\", {{"junction\\j.txt", "j"},
                               {"Application Data\\p.txt", "p"},
                               {"OneDrive\\c.txt", "c"},
                               {"plain.txt", "x"}});
    const DWORD reparse_folder = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    const Presented kinds[] = {
        {"junction", reparse_folder, IO_REPARSE_TAG_MOUNT_POINT},
        {"Application Data", reparse_folder | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, IO_REPARSE_TAG_MOUNT_POINT},
        {"OneDrive", reparse_folder, 0x9000601AUL},  // a cloud files placeholder
        {nullptr, 0, 0}};
    const PresentedEntries seam(kinds);
    const Walked walked = compress_with_both(source);
    EXPECT_EQ(walked.zip, (std::set<std::string>{"OneDrive/", "OneDrive/c.txt", "plain.txt"}));
    EXPECT_EQ(walked.tzst, (std::set<std::string>{"OneDrive/", "OneDrive/c.txt", "plain.txt"}));
    const std::vector<std::string> reported = {"link not followed: junction/"};
    EXPECT_EQ(walked.zip_problems, reported);
    EXPECT_EQ(walked.tzst_problems, reported);
    EXPECT_EQ(walked.zip_total, 2);
}

TEST(FolderWalk, only_name_surrogate_reparse_points_are_links) {
    struct Case {
        const char* name;
        DWORD attributes;
        DWORD tag;
        FolderStep step;
    };
    const DWORD reparse = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    const DWORD profile = reparse | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const Case cases[] = {
        {"plain folder", FILE_ATTRIBUTE_DIRECTORY, 0, FolderStep::enter},
        {"hidden system folder", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, 0,
         FolderStep::enter},
        {"junction", reparse, IO_REPARSE_TAG_MOUNT_POINT, FolderStep::link},
        {"folder symbolic link", reparse, IO_REPARSE_TAG_SYMLINK, FolderStep::link},
        {"Wine's Unix link", reparse, 0, FolderStep::link},
        {"profile junction", profile, IO_REPARSE_TAG_MOUNT_POINT, FolderStep::profile_link},
        {"hidden system symbolic link", profile, IO_REPARSE_TAG_SYMLINK, FolderStep::profile_link},
        {"cloud placeholder", reparse, 0x9000001AUL, FolderStep::enter},
        {"deduplicated folder", reparse, 0x80000013UL, FolderStep::enter},
    };
    for (const Case& c : cases) EXPECT_EQ(folder_step_for(c.attributes, c.tag), c.step) << c.name;
}

// The job frame: naming rules, selection lists, entry-name safety and the
// worker's dispatch.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <cctype>
#include <vector>


#include "jobs/worker/job_worker.h"
#include "jobs/frame/job_paths.h"
#include "jobs/worker/job_report.h"
#include "jobs/tar/tar_common.h"
#include "test_folder.h"
#include "job_test_util.h"
#include "jobs/frame/archive_names.h"
#include "jobs/frame/job_words.h"
#include "jobs/worker/job_families.h"

TEST(Naming, replace_extension_touches_only_the_last_component) {
    struct Case {
        const char* path;
        const char* extension;
        const char* expected;
    };
    const Case cases[] = {
        {"C:\\docs\\report.docx", ".tar", "C:\\docs\\report.tar"},
        {"C:\\docs\\notes", ".tar", "C:\\docs\\notes.tar"},
        {"C:\\release.2\\notes", ".tar", "C:\\release.2\\notes.tar"},
        {"C:\\home\\.profile", ".tar", "C:\\home\\.tar"},
        {"C:\\a\\photos.tar", ".tzst", "C:\\a\\photos.tzst"},
        {"C:\\a\\photos.zip", "", "C:\\a\\photos"},
        {"C:/a.b/c", ".zip", "C:/a.b/c.zip"},
    };
    for (const Case& c : cases) EXPECT_STREQ(replace_extension(c.path, c.extension).c_str(), c.expected) << c.path;
    EXPECT_EQ(path_extension("C:\\my.dir\\file"), "");
    EXPECT_EQ(path_extension("C:\\x\\ARCHIVE.TZST"), ".TZST");
    EXPECT_EQ(folder_part("C:\\a\\photos.zip"), "C:\\a");
    EXPECT_EQ(folder_part("photos.zip"), "");
}

TEST(Selection, one_file_or_a_folder_with_names) {
    const std::string one("C:\\a\\x\0\0", 8);
    EXPECT_EQ(selection_paths(one), (std::vector<std::string>{"C:\\a\\x"}));
    const std::string three("C:\\a\0n.txt\0b\0c.md\0\0", 19);
    EXPECT_EQ(selection_paths(three), (std::vector<std::string>{"C:\\a\\n.txt", "C:\\a\\b", "C:\\a\\c.md"}));
    EXPECT_EQ(make_selection_list({"C:\\a\\n.txt", "C:\\a\\b", "C:\\a\\c.md"}), three);
    EXPECT_TRUE(same_path("C:\\Docs\\R\xC3\x89PORT.tar", "c:/docs/r\xC3\xA9port.TAR"));
    EXPECT_FALSE(same_path("C:\\docs\\a.tar", "C:\\docs\\a.tzst"));
}

TEST(EntryNames, hostile_names_stay_inside_or_are_skipped) {
    struct Case {
        const char* name;
        const char* expected;  // "" means skipped
    };
    const Case cases[] = {
        {"a/b/c.txt", "a\\b\\c.txt"},
        {"./a//b/", "a\\b"},
        {"../evil.txt", ""},
        {"a/../../evil", ""},
        {"a\\..\\evil", ""},
        {"/etc/passwd", "etc\\passwd"},
        {"C:/Windows/x.dll", "C_\\Windows\\x.dll"},
        {"\\\\server\\share\\x", "server\\share\\x"},
        {"\\\\?\\C:\\x", "_\\C_\\x"},
        {"file.txt:stream", "file.txt_stream"},
        {"CON", "_CON"},
        {"dir/nul.txt", "dir\\_nul.txt"},
        {"com1", "_com1"},
        {"COM10", "COM10"},
        {"trail. ", "trail__"},
        {"a<b>|?*\"", "a_b_____"},
        {"", ""},
        {"/", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(safe_entry_path(c.name), c.expected) << c.name;
}

TEST(Worker, decompression_runs_by_extension_ignoring_case) {
    TestFolder folder("dispatch");
    folder.write("tree\\a.txt", "");
    create_directory(concat(folder.path().c_str(), "tree").c_str());
    folder.write("tree\\a.txt", "alpha");
    JobHandle job;
    job->compressor = 1;
    submit_compress_folder(*job, concat(folder.path().c_str(), "tree").c_str());
    ASSERT_TRUE(serve_one_request(*job));
    ASSERT_EQ(static_cast<JobOutcome>(job->outcome.load()), JobOutcome::complete);
    ASSERT_TRUE(move_file_replacing(concat(folder.path().c_str(), "tree.tzst").c_str(),
                                    concat(folder.path().c_str(), "UPPER.TZST").c_str()));
    submit_decompress(*job, concat(folder.path().c_str(), "UPPER.TZST").c_str());
    ASSERT_TRUE(serve_one_request(*job));
    EXPECT_EQ(folder.read("UPPER\\a.txt"), "alpha");

    folder.write("a.doc", "not an archive");
    submit_decompress(*job, concat(folder.path().c_str(), "a.doc").c_str());
    EXPECT_TRUE(serve_one_request(*job)) << "the request is consumed";
    // Nothing is unpacked, and the user is told why.
    EXPECT_EQ(static_cast<JobOutcome>(job->outcome.load()), JobOutcome::failed);
    EXPECT_EQ(problem_report(*job), std::string("Velmora: Not unpacked: Velmora can unpack .zip, .tzst, .tar.zst, .tar.zstd, "
                                                ".zst, .zstd, .tar, .tar.gz, .tgz, .tar.bz2, .tbz2, .tbz, .tar.xz, .txz, "
                                                ".7z, .rar, .gz, .bz2 and .xz files, and this file is none of them:\n") +
                                        folder.path().c_str() + "a.doc");
    EXPECT_FALSE(folder.exists("a")) << "nothing is unpacked";
    EXPECT_FALSE(serve_one_request(*job));
    EXPECT_FALSE(job_busy(*job));
}

// Every kind of the names table is a family of the dispatch's table, and
// every family has names: adding a family takes a row in each.
TEST(Worker, every_kind_the_names_table_gives_has_its_family) {
    std::vector<ArchiveKind> kinds;
    for (const std::string& extension : archive_extensions(ArchiveKind::none)) {
        const ArchiveKind kind = archive_names(("C:\\a\\x" + extension).c_str()).kind;
        ASSERT_NE(kind, ArchiveKind::none) << extension;
        const ArchiveFamily* family = family_of(kind);
        ASSERT_NE(family, nullptr) << extension;
        EXPECT_EQ(family->kind, kind) << extension;
    }
    EXPECT_EQ(family_of(ArchiveKind::none), nullptr);
    for (const ArchiveFamily* family : archive_families()) {
        EXPECT_FALSE(archive_extensions(family->kind).empty()) << static_cast<int>(family->kind);
    }
}

// The file manager opens where the output went: beside the archive, or in
// the folder that holds the folder asked for.
TEST(Worker, the_file_manager_opens_on_the_folder_that_holds_the_output) {
    TestFolder folder("shown");
    create_directory(concat(folder.path().c_str(), "tree").c_str());
    folder.write("tree\\a.txt", "alpha");
    JobSettings settings;
    settings.action_after_decompression = AFTER_DECOMPRESSION_SHOW_FOLDER;
    ArchiveJob* job = create_archive_job_without_worker(settings);
    std::vector<std::string> shown;
    job->host.context = &shown;
    job->host.show_folder = [](void* context, const char* path) {
        static_cast<std::vector<std::string>*>(context)->push_back(path);
    };
    job->compressor = 0;
    submit_compress_folder(*job, concat(folder.path().c_str(), "tree").c_str());
    serve_one_request(*job);
    const std::string archive = std::string(folder.path().c_str()) + "tree.zip";
    submit_decompress(*job, archive.c_str());
    serve_one_request(*job);
    create_directory(concat(folder.path().c_str(), "elsewhere").c_str());
    submit_decompress(*job, archive.c_str(), concat(folder.path().c_str(), "elsewhere\\out").c_str());
    serve_one_request(*job);
    destroy_archive_job(job);
    const std::string base = folder.path().c_str();
    EXPECT_EQ(shown, (std::vector<std::string>{base.substr(0, base.size() - 1), base + "elsewhere"}));
    EXPECT_EQ(folder.read("elsewhere\\out\\a.txt"), "alpha");
}

TEST(Worker, requests_are_served_folder_then_files_then_decompression) {
    TestFolder folder("order");
    create_directory(concat(folder.path().c_str(), "d").c_str());
    folder.write("d\\x", "x");
    folder.write("f.txt", "f");
    JobHandle job;
    job->compressor = 0;
    submit_decompress(*job, concat(folder.path().c_str(), "missing.zip").c_str());
    submit_compress_files(*job, make_selection_list({concat(folder.path().c_str(), "f.txt").c_str()}));
    submit_compress_folder(*job, concat(folder.path().c_str(), "d").c_str());
    ASSERT_TRUE(serve_one_request(*job));
    EXPECT_TRUE(folder.exists("d.zip"));
    EXPECT_FALSE(folder.exists("f.zip"));
    ASSERT_TRUE(serve_one_request(*job));
    EXPECT_TRUE(folder.exists("f.zip"));
    ASSERT_TRUE(serve_one_request(*job));
    EXPECT_FALSE(serve_one_request(*job));
}

TEST(Worker, a_folder_of_only_folders_counts_nothing) {
    TestFolder folder("count");
    create_directory(concat(folder.path().c_str(), "a").c_str());
    create_directory(concat(folder.path().c_str(), "a\\b").c_str());
    JobHandle job;
    count_folder_files(*job, folder.path().c_str());
    EXPECT_EQ(job->items_total.load(), 0);
    folder.write("a\\b\\f1", "1");
    folder.write("a\\f2", "2");
    folder.write("f3", "3");
    count_folder_files(*job, folder.path().c_str());
    EXPECT_EQ(job->items_total.load(), 3);
    EXPECT_STREQ(phase_text(*job), "Preparing...");
    EXPECT_EQ(counted_percent(1, 0), 100);
    EXPECT_EQ(counted_percent(3, 4), 75);
}

// The worker waits with a 50 ms poll as a fallback; a submitted request must
// wake it at once, or every short job would wait out the poll.
TEST(Worker, a_request_wakes_the_worker_at_once) {
    TestFolder folder("wake");
    const std::string missing = concat(folder.path().c_str(), "missing.zip").c_str();
    ArchiveJob* job = create_archive_job(JobSettings{});
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> latencies;
    for (int i = 0; i < 15; ++i) {
        const uint32_t served = job->requests_served.load();
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        submit_decompress(*job, missing.c_str());
        for (int spin = 0; spin < 5000 && job->requests_served.load() == served; ++spin) Sleep(1);
        QueryPerformanceCounter(&end);
        latencies.push_back(1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                            static_cast<double>(frequency.QuadPart));
    }
    destroy_archive_job(job);
    std::sort(latencies.begin(), latencies.end());
    EXPECT_LT(latencies[latencies.size() / 2], 20.0) << "median milliseconds from request to served";
}

// The report after a job: one section per kind of problem, in the order the
// kinds first happened, each with its count and at most ten names.
TEST(Report, problems_are_grouped_by_kind_with_at_most_ten_names_each) {
    JobHandle job;
    EXPECT_EQ(problem_report(*job), "") << "a clean job says nothing";
    note_problem(*job, Problem::encrypted, "secret.txt");
    for (int i = 1; i <= 12; ++i) note_problem(*job, Problem::cut_short, "part" + std::to_string(i));
    note_problem(*job, Problem::encrypted, "diary.txt");
    EXPECT_EQ(problem_report(*job),
              "Velmora: 2 entries are encrypted and were not unpacked:\nsecret.txt\ndiary.txt\n\n"
              "12 files are damaged or cut short in the archive and were not extracted:\n"
              "part1\npart2\npart3\npart4\npart5\npart6\npart7\npart8\npart9\npart10\n... and 2 more");
}

TEST(Report, a_failed_write_is_told_by_its_reason) {
    const struct {
        DWORD error;
        bool fat_drive_with_room;
        const char* reason;
    } cases[] = {
        {ERROR_DISK_FULL, false, "the disk is full"},
        {ERROR_HANDLE_DISK_FULL, false, "the disk is full"},
        {ERROR_DISK_FULL, true, "the file is larger than this drive allows (FAT32: 4 GiB)"},
        {ERROR_FILE_TOO_LARGE, false, "the file is larger than this drive allows (FAT32: 4 GiB)"},
    };
    for (const auto& c : cases) EXPECT_EQ(write_failure_reason(c.error, c.fat_drive_with_room), c.reason) << c.error;
    // Other errors in the system's words, fit for the middle of a sentence.
    const std::string denied = write_failure_reason(ERROR_ACCESS_DENIED, false);
    ASSERT_FALSE(denied.empty());
    EXPECT_NE(denied.find("ccess"), std::string::npos) << denied;
    EXPECT_TRUE(std::islower(static_cast<unsigned char>(denied[0]))) << denied;
    EXPECT_NE(denied.back(), '.') << denied;
    EXPECT_NE(denied.back(), '\n') << denied;
}

// The names handed to libarchive's wide calls split into characters by the
// editor's rule: a stray continuation byte or an over-long lead is one unit of
// its own, a 5- or 6-byte form is one "_", and a character beyond U+FFFF
// becomes a surrogate pair.
TEST(ArchiveNames, a_wide_path_splits_its_bytes_as_the_editor_does) {
    const struct {
        const char* bytes;
        std::wstring units;
    } cases[] = {
        {"abc", L"abc"},
        {"\xC3\xA9t\xC3\xA9", L"\u00E9t\u00E9"},
        {"\xE2\x82\xAC", L"\u20AC"},
        {"\xF0\x9F\x98\x80", L"\xD83D\xDE00"},
        {"\x82\x80", std::wstring{wchar_t{0x82}, wchar_t{0x80}}},
        {"\xBF\xBF", std::wstring{wchar_t{0xBF}, wchar_t{0xBF}}},
        {"\xC0\xAF", std::wstring{wchar_t{0xC0}, wchar_t{0xAF}}},
        {"\xE0\x80\xAF", std::wstring{wchar_t{0xE0}, wchar_t{0x80}, wchar_t{0xAF}}},
        {"\xF8\x88\x80\x80\x80!", L"_!"},
        {"\xFC\x84\x80\x80\x80\x80!", L"_!"},
        {"\xFE\x80\x80\x80\x80\x80", std::wstring{wchar_t{0xFE}, 0x80, 0x80, 0x80, 0x80, 0x80}},
        {"\xC3", std::wstring{wchar_t{0xC3}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(archive_wide_path(c.bytes), c.units);
    }
}

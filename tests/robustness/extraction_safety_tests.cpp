// What an extraction does to the files already in its destination, and to
// the files it writes: an entry that fails never costs the user the file it
// would have replaced; a name never reaches, through its short form, a file
// written before it; the archive's Mark of the Web goes onto every file; a
// stream that fails to decode is not read on.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "hostile_archives.h"
#include "io/io_faults.h"
#include "jobs/frame/job_paths.h"
#include "jobs/worker/job_report.h"
#include "jobs/job_test_util.h"
#include "robust_util.h"
#include "test_folder.h"

namespace {

constexpr double TIME_BOUND_SECONDS = 60;
const std::string ORIGINAL = "the user's own file, there before the job\n";

TarItem tar_entry(const std::string& name, const std::string& data) {
    TarItem item;
    item.name = name;
    item.data = data;
    return item;
}

ZipItem zip_entry(const std::string& name, const std::string& data, uint16_t method = 0) {
    ZipItem item;
    item.name = name;
    item.data = data;
    item.method = method;
    return item;
}

// Writes a stream (or, under Wine, the file that stands for it) through the
// same call a Windows program uses.
bool write_stream(const std::string& path, const std::string& bytes) {
    const std::wstring wide = window_wide(path.c_str(), path.size());
    const HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

// A stream's bytes; "<none>" when it does not exist.
std::string read_stream(const std::string& path) {
    const std::wstring wide = window_wide(path.c_str(), path.size());
    const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<none>";
    std::string bytes(65536, '\0');
    DWORD read = 0;
    ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(file);
    bytes.resize(read);
    return bytes;
}

struct FailingEntry {
    const char* name;
    const char* extension;
    std::string (*build)();  // a.txt fails; b.txt, before or after it, is whole
    const char* only_path_ending;  // files whose writes the fault reaches; null: no fault
    int64_t disk_full_after;
    const char* report;  // what the user is told; @ stands for the folder of the archive
};

const char* const DAMAGED_A = "Velmora: 1 file is damaged or cut short in the archive and was not extracted:\na.txt";
const char* const NO_ROOM_FOR_A =
    "Velmora: The extraction stopped because a file could not be written:\n@x\\a.txt: the disk is full";

const std::string PAYLOAD = pattern_bytes(50000, 7);

const FailingEntry FAILING_ENTRIES[] = {
    {"zip checksum mismatch", ".zip",
     [] {
         ZipItem item = zip_entry("a.txt", PAYLOAD);
         item.flip_data_bit = true;
         return build_zip({item, zip_entry("b.txt", "new")});
     },
     nullptr, -1, DAMAGED_A},
    {"zip damaged deflate data", ".zip",
     [] {
         ZipItem item = zip_entry("a.txt", PAYLOAD, 8);
         item.flip_data_bit = true;
         return build_zip({item, zip_entry("b.txt", "new")});
     },
     nullptr, -1, DAMAGED_A},
    {"zip size beyond its data", ".zip",
     [] {
         ZipItem item = zip_entry("a.txt", PAYLOAD);
         item.declared_size = 90000;
         item.declared_packed_size = 90000;
         return build_zip({item, zip_entry("b.txt", "new")});
     },
     nullptr, -1, DAMAGED_A},
    {"tarball cut short", ".tzst",
     [] { return zstd_frame(build_tar({tar_entry("b.txt", "new"), tar_entry("a.txt", PAYLOAD)}, 512 * 3 + 20000)); },
     nullptr, -1,
     "Velmora: 1 file is damaged or cut short in the archive and was not extracted:\na.txt\n\n"
     "The archive is damaged or cut short; nothing after the damage was extracted:\n@x.tzst"},
    {"zip on a full disk", ".zip", [] { return build_zip({zip_entry("b.txt", "new"), zip_entry("a.txt", PAYLOAD)}); },
     ".partial", 20000, NO_ROOM_FOR_A},
    {"tarball on a full disk", ".tzst",
     [] { return zstd_frame(build_tar({tar_entry("b.txt", "new"), tar_entry("a.txt", PAYLOAD)})); }, "a.txt.partial",
     20000, NO_ROOM_FOR_A},
};

// A destination that holds a.txt before the job; the archive's a.txt fails.
// b.txt extracted whole and a report that names a.txt show that the job
// read the archive up to the damage, rather than refusing it up front.
TEST(ExtractionSafety, a_failing_entry_never_destroys_the_file_it_would_replace) {
    for (const FailingEntry& c : FAILING_ENTRIES) {
        SCOPED_TRACE(c.name);
        ScratchFolder scratch("keep-existing");
        const std::string archive = scratch.path() + "x" + c.extension;
        ASSERT_TRUE(write_file(archive, c.build()));
        ASSERT_TRUE(create_directory((scratch.path() + "x").c_str()));
        ASSERT_TRUE(write_file(scratch.path() + "x\\a.txt", ORIGINAL));
        JobHandle job;
        job->keep_tarball = false;
        reset_io_faults();
        io_faults.only_path_ending = c.only_path_ending;
        io_faults.disk_full_after = c.only_path_ending ? c.disk_full_after : -1;
        ASSERT_TRUE(decompress_within(*job, archive, TIME_BOUND_SECONDS));
        reset_io_faults();
        EXPECT_STREQ(outcome_word(*job), "failed");
        const Tree left = read_tree(scratch.path() + "x\\");
        const auto a = left.find("a.txt");
        ASSERT_TRUE(a != left.end()) << problem_report(*job);
        EXPECT_TRUE(a->second == ORIGINAL) << a->second.size() << " bytes; " << problem_report(*job);
        EXPECT_TRUE(same_tree(Tree{{"a.txt", ORIGINAL}, {"b.txt", "new"}}, left)) << "nothing else, no .partial";
        std::string report = c.report;
        const size_t at = report.find('@');
        if (at != std::string::npos) report.replace(at, 1, scratch.path());
        EXPECT_EQ(problem_report(*job), report);
    }
}

// A cancel while the entry that would replace a.txt is half written.
TEST(ExtractionSafety, a_cancel_part_way_through_a_file_leaves_the_older_file_as_it_was) {
    const std::string big = pattern_bytes(size_t{24} << 20, 11);
    for (const char* extension : {".zip", ".tzst"}) {
        SCOPED_TRACE(extension);
        ScratchFolder scratch("cancel-existing");
        const std::string archive = scratch.path() + "x" + extension;
        const bool zip = std::string(extension) == ".zip";
        ASSERT_TRUE(write_file(archive, zip ? build_zip({zip_entry("a.txt", big)})
                                            : zstd_frame(build_tar({tar_entry("a.txt", big)}))));
        ASSERT_TRUE(create_directory((scratch.path() + "x").c_str()));
        ASSERT_TRUE(write_file(scratch.path() + "x\\a.txt", ORIGINAL));
        JobHandle job;
        job->keep_tarball = false;
        const Phase writing = zip ? Phase::decompressing_zip : Phase::reading_tarball;
        std::atomic<bool> done{false};
        std::thread canceller([&] {
            while (!done) {
                const int32_t percent = job->item_percent.load();
                if (job->phase.load() == static_cast<int32_t>(writing) && percent > 0 && percent < 100) {
                    set_cancel_requested(*job, true);
                    return;
                }
            }
        });
        ASSERT_TRUE(decompress_within(*job, archive, TIME_BOUND_SECONDS));
        done = true;
        canceller.join();
        EXPECT_STREQ(outcome_word(*job), "cancelled");
        const Tree left = read_tree(scratch.path() + "x\\");
        ASSERT_EQ(left.size(), 1u);
        EXPECT_TRUE(left.at("a.txt") == ORIGINAL) << left.at("a.txt").size() << " bytes";
    }
}

// The other side: a whole entry replaces the old file, leaving no
// temporary name behind, and where no file was, a mismatch is kept and named.
TEST(ExtractionSafety, a_whole_entry_replaces_the_old_file_and_a_new_mismatch_is_kept) {
    ScratchFolder scratch("replace-existing");
    ZipItem mismatch = zip_entry("mismatch.txt", PAYLOAD);
    mismatch.flip_data_bit = true;
    const std::string archive = scratch.path() + "x.zip";
    ASSERT_TRUE(write_file(archive, build_zip({zip_entry("a.txt", "replaced"), mismatch})));
    ASSERT_TRUE(create_directory((scratch.path() + "x").c_str()));
    ASSERT_TRUE(write_file(scratch.path() + "x\\a.txt", ORIGINAL));
    JobHandle job;
    ASSERT_TRUE(decompress_within(*job, archive, TIME_BOUND_SECONDS));
    const Tree left = read_tree(scratch.path() + "x\\");
    ASSERT_EQ(left.size(), 2u) << problem_report(*job);
    EXPECT_EQ(left.at("a.txt"), "replaced");
    EXPECT_EQ(left.at("mismatch.txt").size(), PAYLOAD.size());
    EXPECT_FALSE(left.at("mismatch.txt") == PAYLOAD);
    EXPECT_EQ(problem_report(*job),
              "Velmora: 1 file does not match its checksum or size and may be damaged:\nmismatch.txt");
}

// On NTFS a name in its 8.3 form opens the file of the long name; the file
// ID tells that it is a file this extraction already wrote.
TEST(ExtractionSafety, a_short_name_never_reaches_a_file_written_before_it) {
    // Made in the Windows temporary folder, where the drive makes short names.
    TestFolder folder("short-names");
    const std::string root = folder.path().c_str();
    // The system's own short name for the long one, made where it is asked.
    const std::string probe = root + "longfilename.txt";
    ASSERT_TRUE(write_file(probe, ""));
    const std::wstring wide = window_wide(probe.c_str(), probe.size());
    wchar_t short_path[MAX_PATH];
    const DWORD n = GetShortPathNameW(wide.c_str(), short_path, MAX_PATH);
    String short_utf8;
    ASSERT_TRUE(n > 0 && n < MAX_PATH && wide_to_utf8(short_path, short_utf8)) << n << " " << GetLastError() << " " << probe;
    DeleteFileW(wide.c_str());
    const std::string short_name = name_of(short_utf8.c_str());
    if (_stricmp(short_name.c_str(), "longfilename.txt") == 0) GTEST_SKIP() << "this volume makes no short names";

    const std::string archive = root + "x.zip";
    ASSERT_TRUE(write_file(archive, build_zip({zip_entry("longfilename.txt", "first"), zip_entry(short_name, "second")})));
    JobHandle job;
    ASSERT_TRUE(decompress_within(*job, archive, TIME_BOUND_SECONDS));
    const std::string aside = numbered(short_name, 2);
    EXPECT_TRUE(same_tree(Tree{{"longfilename.txt", "first"}, {aside, "second"}}, read_tree(root + "x\\")));
    EXPECT_EQ(problem_report(*job),
              "Velmora: 1 file has the name of an earlier one but for letter case and was saved under another name:\n" +
                  short_name + ", saved as " + aside);
}

// Every file extracted from a downloaded archive keeps the zone it came
// from, as Explorer's own extraction does; an archive without one gives its
// files none.
TEST(ExtractionSafety, extracted_files_carry_the_archives_mark_of_the_web) {
    const std::string zone = "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://example.com/x\r\n";
    for (const char* extension : {".zip", ".tzst"}) {
        for (const bool marked : {true, false}) {
            SCOPED_TRACE(std::string(extension) + (marked ? " with a zone" : " without one"));
            ScratchFolder scratch("mark-of-the-web");
            const std::string archive = scratch.path() + "x" + extension;
            const std::string bytes =
                std::string(extension) == ".zip"
                    ? build_zip({zip_entry("a.txt", "one"), zip_entry("sub/", ""), zip_entry("sub/b.txt", "two")})
                    : zstd_frame(build_tar({tar_entry("a.txt", "one"), tar_entry("sub/b.txt", "two")}));
            ASSERT_TRUE(write_file(archive, bytes));
            if (marked) {
                ASSERT_TRUE(write_stream(archive + ":Zone.Identifier", zone));
            }
            JobHandle job;
            job->keep_tarball = false;
            ASSERT_TRUE(decompress_within(*job, archive, TIME_BOUND_SECONDS));
            EXPECT_STREQ(outcome_word(*job), "complete") << problem_report(*job);
            for (const char* file : {"x\\a.txt", "x\\sub\\b.txt"}) {
                EXPECT_EQ(read_stream(scratch.path() + file + ":Zone.Identifier"), marked ? zone : "<none>") << file;
            }
            if (!marked) {
                // Nothing beside the files either.
                EXPECT_TRUE(same_tree(Tree{{"a.txt", "one"}, {"sub\\", ""}, {"sub\\b.txt", "two"}},
                                      read_tree(scratch.path() + "x\\")));
            }
        }
    }
}

// A frame followed by 2 MiB of bytes that are no Zstandard: the job stops
// reading at the error instead of going through the rest.
TEST(ExtractionSafety, a_stream_that_fails_to_decode_is_not_read_to_its_end) {
    ScratchFolder scratch("zstd-error");
    const std::string archive = scratch.path() + "x.tzst";
    std::string bytes = zstd_frame(build_tar({tar_entry("a.txt", "before the damage")}));
    for (size_t i = 0; i < (size_t{2} << 20); ++i) bytes.push_back(static_cast<char>((i * 2654435761u) >> 13));
    ASSERT_TRUE(write_file(archive, bytes));
    JobHandle job;
    job->keep_tarball = false;
    reset_io_faults();
    io_faults.only_path_ending = "x.tzst";
    ASSERT_TRUE(decompress_within(*job, archive, TIME_BOUND_SECONDS));
    const int64_t reads = io_faults.reads_issued;
    reset_io_faults();
    EXPECT_LT(reads, 32) << "8 KiB reads of the archive";
    EXPECT_TRUE(same_tree(Tree{{"a.txt", "before the damage"}}, read_tree(scratch.path() + "x\\")));
    EXPECT_EQ(problem_report(*job),
              "Velmora: The archive is damaged or cut short; nothing after the damage was extracted:\n" + archive);
}

}  // namespace

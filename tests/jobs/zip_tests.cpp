// ZIP jobs: what the archives hold (read back with minizip), round trips,
// naming, cancel and locked files, progress, and extraction of foreign,
// hostile and damaged archives.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "jobs/frame/job_paths.h"
#include "jobs/worker/job_report.h"
#include "jobs/zip/zip_io.h"
#include "job_test_util.h"
#include "test_folder.h"

namespace {

constexpr uLong UTF8_FLAG = 0x800;
constexpr uLong FIXED_DOS_DATE = 0x00210000;  // 1980-01-01 00:00:00, a date peers accept
constexpr uLong MADE_BY_NTFS_20 = 0x0A14;      // host NTFS, ZIP 2.0

std::string path_in(const TestFolder& folder, const std::string& relative) {
    return std::string(folder.path().c_str()) + relative;
}

JobOutcome outcome_of(JobHandle& job) { return static_cast<JobOutcome>(job->outcome.load()); }

void compress_folder(JobHandle& job, const std::string& folder) {
    job->job_folder.set(folder.c_str());
    job->compressor = 0;
    run_job(*job, JobKind::compress_folder);
}

void compress_files(JobHandle& job, const std::vector<std::string>& paths) {
    job->job_inputs = make_selection_list(paths);
    job->compressor = 0;
    run_job(*job, JobKind::compress_files);
}

void decompress(JobHandle& job, const std::string& archive) {
    job->job_inputs = make_selection_list({archive});
    run_job(*job, JobKind::decompress);
}

// One entry as minizip reads it back, with its data.
struct StoredEntry {
    std::string name;
    unz_file_info64 info;
    std::string data;
    bool crc_ok;
};

// Every entry of an archive in archive order; false when it does not open.
bool read_archive(const std::string& path, std::vector<StoredEntry>& entries, uLong* comment_size = nullptr) {
    entries.clear();
    unzFile zip = open_zip_archive(path.c_str());
    if (!zip) return false;
    unz_global_info64 global;
    unzGetGlobalInfo64(zip, &global);
    if (comment_size) *comment_size = global.size_comment;
    for (int r = unzGoToFirstFile(zip); r == UNZ_OK; r = unzGoToNextFile(zip)) {
        StoredEntry entry;
        char name[4096];
        unzGetCurrentFileInfo64(zip, &entry.info, name, sizeof(name), nullptr, 0, nullptr, 0);
        entry.name = name;
        unzOpenCurrentFile(zip);
        char piece[8192];
        int n;
        while ((n = unzReadCurrentFile(zip, piece, sizeof(piece))) > 0) entry.data.append(piece, n);
        entry.crc_ok = n == 0 && unzCloseCurrentFile(zip) == UNZ_OK;
        entries.push_back(entry);
    }
    unzClose(zip);
    return true;
}

std::vector<std::string> names_in(const std::string& path) {
    std::vector<StoredEntry> entries;
    read_archive(path, entries);
    std::vector<std::string> names;
    for (const StoredEntry& entry : entries) names.push_back(entry.name);
    return names;
}

// An entry written by another program: raw name bytes and flag; raw_deflate
// (when set) is stored as the entry's deflate data as it stands.
struct ForeignEntry {
    ForeignEntry(std::string name, std::string data, uLong flag = 0, std::string raw_deflate = "")
        : name(std::move(name)), data(std::move(data)), flag(flag), raw_deflate(std::move(raw_deflate)) {}
    std::string name;
    std::string data;
    uLong flag;
    std::string raw_deflate;
};

void write_foreign_zip(const std::string& path, const std::vector<ForeignEntry>& entries) {
    zipFile zip = create_zip_archive(path.c_str());
    ASSERT_NE(zip, nullptr);
    for (const ForeignEntry& entry : entries) {
        zip_fileinfo info{};
        const bool raw = !entry.raw_deflate.empty();
        ASSERT_EQ(zipOpenNewFileInZip4_64(zip, entry.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                          6, raw ? 1 : 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0,
                                          0, entry.flag, 0),
                  ZIP_OK)
            << entry.name;
        if (raw) {
            zipWriteInFileInZip(zip, entry.raw_deflate.data(), static_cast<unsigned>(entry.raw_deflate.size()));
            const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(entry.data.data()), entry.data.size());
            zipCloseFileInZipRaw(zip, entry.data.size(), crc);
        } else {
            zipWriteInFileInZip(zip, entry.data.data(), static_cast<unsigned>(entry.data.size()));
            zipCloseFileInZip(zip);
        }
    }
    zipClose(zip, nullptr);
}

// Deflate data that holds data in one stored block and then a block of the
// reserved type, which every inflater rejects.
std::string deflate_breaking_after(const std::string& data) {
    const auto length = static_cast<uint16_t>(data.size());
    std::string raw;
    raw.push_back('\x00');  // not final, stored
    raw.push_back(static_cast<char>(length & 0xff));
    raw.push_back(static_cast<char>(length >> 8));
    raw.push_back(static_cast<char>(~length & 0xff));
    raw.push_back(static_cast<char>((~length >> 8) & 0xff));
    raw += data;
    raw.push_back('\x07');  // final, reserved block type
    return raw;
}

// Names below a folder, for checking that nothing appeared elsewhere.
std::set<std::string> names_below(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : read_tree(folder)) names.insert(entry.first);
    return names;
}

// The values of overall_percent seen from another thread while run() works
// in phase.
template <typename Run>
std::set<int32_t> overall_values_during(JobHandle& job, Phase phase, Run run) {
    std::set<int32_t> seen;
    std::atomic<bool> done{false};
    std::thread sampler([&] {
        while (!done) {
            if (job->phase.load() == static_cast<int32_t>(phase) && job_busy(*job)) seen.insert(job->overall_percent.load());
            Sleep(0);
        }
    });
    run();
    done = true;
    sampler.join();
    seen.erase(0);
    return seen;
}

}  // namespace

// --- What the archives hold -------------------------------------------------

TEST(ZipCompression, folder_round_trip_keeps_every_name_and_byte) {
    TestFolder folder("zip-round");
    const std::string source = path_in(folder, "photos.2024");
    write_tree(source + "\\", sample_tree());
    JobHandle job;
    compress_folder(job, source);
    ASSERT_EQ(outcome_of(job), JobOutcome::complete);
    EXPECT_STREQ(job->output_path.c_str(), (source + ".zip").c_str());
    EXPECT_FALSE(job_busy(*job));
    EXPECT_EQ(job->items_done.load(), 6);
    EXPECT_EQ(job->items_total.load(), 6);

    ASSERT_TRUE(move_file_replacing((source + ".zip").c_str(), path_in(folder, "copy.zip").c_str()));
    decompress(job, path_in(folder, "copy.zip"));
    ASSERT_EQ(outcome_of(job), JobOutcome::complete);
    EXPECT_STREQ(job->output_path.c_str(), path_in(folder, "copy").c_str());
    EXPECT_TRUE(same_tree(sample_tree(), read_tree(path_in(folder, "copy\\"))));
}

// The archive is written through a 64 KiB buffer, and the sizes of each
// entry are filled into its local header after its data, in the buffer
// while the header is still there and on the disk once it has left. Entries
// of every size around the buffer's, at the level that stores data nearly
// as it is and at the one that shrinks it most, read back whole, each local
// header agreeing with the central directory (minizip checks the two).
TEST(ZipCompression, entries_around_the_write_buffer_read_back_with_their_headers) {
    TestFolder folder("zip-buffer");
    Tree tree;
    const size_t sizes[] = {0, 1, 100, 30000, 65000, 65535, 65536, 65537, 131072 + 7, 200000};
    for (size_t i = 0; i < 30; ++i) {
        const size_t size = sizes[i % 10] + i / 10;
        tree["f" + std::to_string(i) + ".bin"] = pattern_bytes(size, static_cast<unsigned>(i) + 40);
    }
    write_tree(path_in(folder, "d\\"), tree);
    for (const int level : {0, 9}) {
        SCOPED_TRACE(level);
        JobHandle job;
        job->zlib_level = level;
        compress_folder(job, path_in(folder, "d"));
        ASSERT_EQ(outcome_of(job), JobOutcome::complete) << problem_report(*job);
        std::vector<StoredEntry> entries;
        ASSERT_TRUE(read_archive(path_in(folder, "d.zip"), entries));
        Tree stored;
        for (const StoredEntry& entry : entries) {
            EXPECT_TRUE(entry.crc_ok) << entry.name;
            stored[entry.name] = entry.data;
        }
        EXPECT_TRUE(same_tree(tree, stored));
    }
}

TEST(ZipCompression, entries_carry_the_fixed_fields_at_every_level) {
    TestFolder folder("zip-fields");
    const Tree tree = {{"a.txt", "some text, some text, some text"},
                       {"zero", ""},
                       {"sub\\", ""},
                       {"sub\\caf\xC3\xA9 \xE2\x82\xAC.txt", pattern_bytes(20000, 4)}};
    write_tree(path_in(folder, "f\\"), tree);
    for (const int level : {0, 1, 9}) {
        SCOPED_TRACE(level);
        JobHandle job;
        job->zlib_level = level;
        compress_folder(job, path_in(folder, "f"));
        ASSERT_EQ(outcome_of(job), JobOutcome::complete);
        std::vector<StoredEntry> entries;
        uLong comment_size = 1;
        ASSERT_TRUE(read_archive(path_in(folder, "f.zip"), entries, &comment_size));
        EXPECT_EQ(comment_size, 0u);
        ASSERT_EQ(entries.size(), 4u);
        for (const StoredEntry& entry : entries) {
            SCOPED_TRACE(entry.name);
            const bool is_folder = entry.name.back() == '/';
            std::string windows_name = entry.name;
            for (char& c : windows_name) c = c == '/' ? '\\' : c;
            ASSERT_TRUE(tree.count(windows_name));
            const std::string& bytes = tree.at(windows_name);
            EXPECT_EQ(entry.info.compression_method, is_folder ? 0u : static_cast<uLong>(Z_DEFLATED));
            EXPECT_EQ(entry.info.dosDate, FIXED_DOS_DATE);
            EXPECT_EQ(entry.info.version, MADE_BY_NTFS_20);
            // zlib may mark deflated text as text (bit 0); nothing else is set.
            EXPECT_EQ(entry.info.internal_fa & ~1ul, 0u);
            EXPECT_EQ(entry.info.external_fa, 0u);
            EXPECT_EQ(entry.info.size_file_extra, 0u);
            EXPECT_EQ(entry.info.size_file_comment, 0u);
            EXPECT_EQ((entry.info.flag & UTF8_FLAG) != 0, entry.name.find('\xC3') != std::string::npos);
            EXPECT_EQ(entry.info.uncompressed_size, bytes.size());
            EXPECT_EQ(entry.info.crc, crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
            EXPECT_EQ(entry.data, bytes);
            EXPECT_TRUE(entry.crc_ok);
        }
    }
}

TEST(ZipCompression, the_walk_stores_each_folder_before_its_contents) {
    TestFolder folder("zip-order");
    write_tree(path_in(folder, "a\\"), sample_tree());
    write_tree(path_in(folder, "a\\"), {{"b\\c.txt", "c"}});
    JobHandle job;
    compress_folder(job, path_in(folder, "a"));
    const std::vector<std::string> names = names_in(path_in(folder, "a.zip"));
    ASSERT_EQ(names.size(), 12u);
    // The chosen folder's own name is not part of any entry, and everything
    // below a folder follows its entry as one block.
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_NE(names[i].rfind("a/", 0), 0u) << names[i];
        if (names[i].back() != '/') continue;
        size_t j = i + 1;
        while (j < names.size() && names[j].rfind(names[i], 0) == 0) ++j;
        for (size_t k = j; k < names.size(); ++k) EXPECT_NE(names[k].rfind(names[i], 0), 0u) << names[k];
    }
    EXPECT_NE(std::find(names.begin(), names.end(), "b/c.txt"), names.end());
}

TEST(ZipCompression, an_empty_folder_gives_an_archive_without_entries) {
    TestFolder folder("zip-empty");
    create_directory(path_in(folder, "nothing").c_str());
    JobHandle job;
    compress_folder(job, path_in(folder, "nothing"));
    ASSERT_EQ(outcome_of(job), JobOutcome::complete);
    EXPECT_EQ(job->items_total.load(), 0);
    EXPECT_EQ(folder.read("nothing.zip").size(), 22u) << "the end record alone";
    EXPECT_TRUE(is_empty_zip_archive(path_in(folder, "nothing.zip").c_str()));
    ASSERT_TRUE(move_file_replacing(path_in(folder, "nothing.zip").c_str(), path_in(folder, "none.zip").c_str()));
    decompress(job, path_in(folder, "none.zip"));
    EXPECT_EQ(outcome_of(job), JobOutcome::complete);
    EXPECT_TRUE(folder.exists("none"));
    EXPECT_TRUE(read_tree(path_in(folder, "none\\")).empty());
}

// --- Naming ------------------------------------------------------------------

TEST(ZipNaming, selected_files_are_stored_flat_under_the_first_name) {
    TestFolder folder("zip-files");
    folder.write("notes.txt", "first");
    folder.write("b.bin", pattern_bytes(9000, 5));
    folder.write("x", "one letter");
    JobHandle job;
    compress_files(job, {path_in(folder, "notes.txt"), path_in(folder, "b.bin"), path_in(folder, "x")});
    ASSERT_EQ(outcome_of(job), JobOutcome::complete);
    EXPECT_STREQ(job->output_path.c_str(), path_in(folder, "notes.zip").c_str());
    std::vector<StoredEntry> entries;
    ASSERT_TRUE(read_archive(path_in(folder, "notes.zip"), entries));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "notes.txt");
    EXPECT_EQ(entries[1].name, "b.bin");
    EXPECT_EQ(entries[2].name, "x");
    EXPECT_EQ(entries[2].data, "one letter");

    compress_files(job, {path_in(folder, "b.bin")});
    ASSERT_EQ(outcome_of(job), JobOutcome::complete);
    EXPECT_EQ(names_in(path_in(folder, "b.zip")), std::vector<std::string>{"b.bin"});
}

TEST(ZipNaming, the_archive_never_replaces_a_selected_file) {
    struct Case {
        std::vector<std::string> selected;
        const char* archive;  // nullptr: the job is refused
    };
    const Case cases[] = {
        {{"notes.zip"}, "notes.zip.zip"},
        {{"Notes.ZIP"}, "Notes.ZIP.zip"},
        {{"notes.txt", "notes.zip"}, "notes.txt.zip"},
        {{"notes.zip", "notes.zip.zip"}, nullptr},
        // The archive is written under a partial name first: not this one.
        {{"notes.txt", "notes.zip.partial"}, "notes.zip"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.selected[0] + (c.selected.size() > 1 ? " + " + c.selected[1] : ""));
        TestFolder folder("zip-collide");
        std::vector<std::string> paths;
        for (const std::string& name : c.selected) {
            folder.write(name.c_str(), "my own " + name);
            paths.push_back(path_in(folder, name));
        }
        JobHandle job;
        compress_files(job, paths);
        for (const std::string& name : c.selected) EXPECT_EQ(folder.read(name.c_str()), "my own " + name);
        EXPECT_FALSE(job_busy(*job));
        if (!c.archive) {
            EXPECT_EQ(outcome_of(job), JobOutcome::failed);
            EXPECT_EQ(names_below(folder.path().c_str()).size(), c.selected.size());
            continue;
        }
        EXPECT_EQ(outcome_of(job), JobOutcome::complete);
        EXPECT_EQ(names_in(path_in(folder, c.archive)), c.selected);
        EXPECT_EQ(names_below(folder.path().c_str()).size(), c.selected.size() + 1) << "only the archive is added";
    }
}

TEST(ZipNaming, a_drive_root_or_empty_folder_path_is_refused) {
    TestFolder folder("zip-root");
    folder.write("inside.txt", "x");
    JobHandle job;
    for (const std::string& path : {std::string(folder.path().c_str()), std::string(), std::string("C:\\")}) {
        SCOPED_TRACE(path);
        compress_folder(job, path);
        EXPECT_EQ(outcome_of(job), JobOutcome::failed);
        EXPECT_FALSE(job_busy(*job));
    }
    EXPECT_FALSE(folder.exists(".zip"));
    EXPECT_EQ(file_attributes("C:\\.zip"), INVALID_FILE_ATTRIBUTES);

    // A folder that is gone by the time the job runs gives no complete archive.
    compress_folder(job, path_in(folder, "gone"));
    EXPECT_EQ(outcome_of(job), JobOutcome::failed);
}

TEST(ZipNaming, archives_at_non_ascii_and_long_paths_round_trip) {
    TestFolder folder("zip-paths");
    std::string long_folder = "deep";
    while (long_folder.size() < 270) long_folder += "\\" + std::string(60, 'L');
    for (const std::string& relative : {std::string("\xC3\x9Cn\xC3\xAF \xE6\x97\xA5\xE6\x9C\xAC"), long_folder}) {
        SCOPED_TRACE(relative.size());
        ASSERT_TRUE(create_folders_below(folder.path().c_str(), relative));
        const std::string base = path_in(folder, relative) + "\\";
        const Tree tree = {{"one.txt", "one"}, {"sub\\", ""}, {"sub\\two.bin", pattern_bytes(5000, 6)}};
        write_tree(base + "src\\", tree);
        JobHandle job;
        compress_folder(job, base + "src");
        ASSERT_EQ(outcome_of(job), JobOutcome::complete);
        ASSERT_TRUE(move_file_replacing((base + "src.zip").c_str(), (base + "out.zip").c_str()));
        decompress(job, base + "out.zip");
        EXPECT_EQ(outcome_of(job), JobOutcome::complete);
        EXPECT_TRUE(same_tree(tree, read_tree(base + "out\\")));
    }
}

// --- Faults and cancel while compressing ------------------------------------

// A file held open without sharing, as another program might hold it, is
// left out; every other file and folder is stored, the archive takes its
// name, and the job says which file is missing.
TEST(ZipFaults, a_locked_file_is_left_out_and_reported_while_its_siblings_are_stored) {
    TestFolder folder("zip-locked");
    Tree tree = {{"sub\\", ""}, {"sub\\inner.txt", "inside"}, {"locked.txt", "held"}};
    for (int i = 0; i < 12; ++i) tree["f" + std::to_string(i) + ".txt"] = "file " + std::to_string(i);
    write_tree(path_in(folder, "d\\"), tree);
    const std::string locked_path = path_in(folder, "d\\locked.txt");
    const WideText wide(locked_path.c_str(), locked_path.size());
    const HANDLE lock = CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);

    JobHandle job;
    compress_folder(job, path_in(folder, "d"));
    EXPECT_EQ(outcome_of(job), JobOutcome::failed) << "a job that left a file out is not complete";
    EXPECT_FALSE(job_busy(*job));
    std::vector<StoredEntry> entries;
    ASSERT_TRUE(read_archive(path_in(folder, "d.zip"), entries)) << "the archive takes its name";
    Tree stored;
    for (const StoredEntry& entry : entries) {
        std::string name = entry.name;
        for (char& c : name) c = c == '/' ? '\\' : c;
        stored[name] = entry.data;
        EXPECT_TRUE(entry.crc_ok) << entry.name;
    }
    Tree expected = tree;
    expected.erase("locked.txt");
    EXPECT_TRUE(same_tree(expected, stored));
    EXPECT_EQ(problem_report(*job), "Velmora: 1 file could not be read and is not in the archive:\nlocked.txt");

    compress_files(job, {path_in(folder, "d\\f1.txt"), locked_path, path_in(folder, "d\\f2.txt")});
    EXPECT_EQ(outcome_of(job), JobOutcome::failed);
    EXPECT_EQ(names_in(path_in(folder, "d\\f1.zip")), (std::vector<std::string>{"f1.txt", "f2.txt"}));
    // One file that cannot be read makes no archive, and leaves nothing.
    compress_files(job, {locked_path});
    EXPECT_FALSE(job->output_made);
    EXPECT_EQ(problem_report(*job), "Velmora: 1 file could not be read and is not in the archive:\nlocked.txt");
    CloseHandle(lock);
    EXPECT_EQ(names_below(folder.path().c_str()).count("d\\locked.zip"), 0u);
    EXPECT_EQ(names_below(folder.path().c_str()).count("d\\locked.zip.partial"), 0u);
}

// A cancel leaves no archive under the final name (a closed one would hold
// the entry in progress cut short, yet read as whole), and an archive of
// that name from before stays as it was.
TEST(ZipFaults, a_cancel_leaves_no_archive_and_an_older_one_untouched) {
    TestFolder folder("zip-cancel");
    const std::string big = pattern_bytes(24u << 20, 8);
    folder.write("big.bin", big);
    folder.write("big.zip", "an older archive");
    JobHandle job;
    std::atomic<bool> done{false};
    std::thread canceller([&] {
        while (!done && !(job_busy(*job) && job->item_percent.load() >= 5)) Sleep(0);
        if (!done) set_busy_and_cancel(*job, false, true);  // as the Progress window cancels
    });
    compress_files(job, {path_in(folder, "big.bin")});
    done = true;
    canceller.join();
    ASSERT_EQ(outcome_of(job), JobOutcome::cancelled);
    EXPECT_EQ(folder.read("big.zip"), "an older archive");
    EXPECT_EQ(names_below(folder.path().c_str()), (std::set<std::string>{"big.bin", "big.zip"})) << "no partial archive";
    EXPECT_EQ(problem_report(*job), "") << "a cancel is no fault to report";
    EXPECT_EQ(folder.read("big.bin"), big) << "the input is intact";
}

// A cancel while unpacking stops at once: the file being written goes,
// the ones before it stay whole.
TEST(ZipFaults, a_cancel_while_unpacking_leaves_no_file_cut_short) {
    TestFolder folder("zip-cancel-extract");
    const std::string big = pattern_bytes(24u << 20, 6);
    write_foreign_zip(path_in(folder, "a.zip"), {{"first.txt", "whole"}, {"big.bin", big}, {"last.txt", "never"}});
    JobHandle job;
    std::atomic<bool> done{false};
    std::thread canceller([&] {
        while (!done && !(job_busy(*job) && job->item_percent.load() >= 5)) Sleep(0);
        if (!done) set_busy_and_cancel(*job, false, true);
    });
    decompress(job, path_in(folder, "a.zip"));
    done = true;
    canceller.join();
    ASSERT_EQ(outcome_of(job), JobOutcome::cancelled);
    EXPECT_TRUE(same_tree(Tree{{"first.txt", "whole"}}, read_tree(path_in(folder, "a\\"))));
}

// --- Progress -----------------------------------------------------------------

TEST(ZipProgress, both_jobs_count_whole_entries) {
    TestFolder folder("zip-progress");
    Tree tree = {{"d\\", ""}};
    for (int i = 0; i < 4; ++i) tree["d\\f" + std::to_string(i)] = pattern_bytes(3u << 20, 30 + i);
    write_tree(path_in(folder, "p\\"), tree);
    JobHandle job;
    // Four files: 25, 50, 75, 100 while each is stored.
    EXPECT_EQ(overall_values_during(job, Phase::compressing_zip, [&] { compress_folder(job, path_in(folder, "p")); }),
              (std::set<int32_t>{25, 50, 75, 100}));
    ASSERT_EQ(outcome_of(job), JobOutcome::complete);
    ASSERT_TRUE(move_file_replacing(path_in(folder, "p.zip").c_str(), path_in(folder, "q.zip").c_str()));
    // Five entries, the folder counted too: entry i shows 100 * i / 5.
    std::set<int32_t> seen =
        overall_values_during(job, Phase::decompressing_zip, [&] { decompress(job, path_in(folder, "q.zip")); });
    ASSERT_EQ(outcome_of(job), JobOutcome::complete);
    seen.erase(20);  // the folder entry passes too quickly to be seen reliably
    EXPECT_EQ(seen, (std::set<int32_t>{40, 60, 80, 100}));
}

// --- Extraction of foreign archives --------------------------------------------

TEST(ZipExtraction, hostile_entries_stay_inside_the_destination) {
    TestFolder folder("zip-hostile");
    create_folders_below(folder.path().c_str(), "a\\b");
    write_foreign_zip(path_in(folder, "a\\b\\evil.zip"), {{"../evil.txt", "up one"},
                                                           {"a/../../evil", "up two"},
                                                           {"../../../escape.txt", "up three"},
                                                           {"/abs.txt", "rooted"},
                                                           {"C:/x.txt", "drive"},
                                                           {"\\\\server\\share\\x", "unc"},
                                                           {"x:stream", "stream"},
                                                           {"CON", "device"},
                                                           {"nul.txt", "device too"},
                                                           {"trail. ", "trailing"},
                                                           {"ok/inner.txt", "safe"}});
    const std::set<std::string> before = names_below(folder.path().c_str());
    JobHandle job;
    decompress(job, path_in(folder, "a\\b\\evil.zip"));
    EXPECT_EQ(outcome_of(job), JobOutcome::failed) << "skipped entries mean the output is not whole";

    std::set<std::string> outside;
    for (const std::string& name : names_below(folder.path().c_str())) {
        if (name.rfind("a\\b\\evil\\", 0) != 0) outside.insert(name);
    }
    outside.erase("a\\b\\evil\\");
    EXPECT_EQ(outside, before);
    const Tree expected = {{"abs.txt", "rooted"},   {"C_\\", ""},         {"C_\\x.txt", "drive"},
                           {"server\\", ""},        {"server\\share\\", ""}, {"server\\share\\x", "unc"},
                           {"x_stream", "stream"},  {"_CON", "device"},   {"_nul.txt", "device too"},
                           {"trail__", "trailing"}, {"ok\\", ""},         {"ok\\inner.txt", "safe"}};
    EXPECT_TRUE(same_tree(expected, read_tree(path_in(folder, "a\\b\\evil\\"))));
}

TEST(ZipExtraction, an_archive_without_folder_entries_extracts_whole) {
    TestFolder folder("zip-nofolders");
    write_foreign_zip(path_in(folder, "flat.zip"),
                      {{"deep/er/file.txt", "three levels"}, {"top.txt", "top"}, {"deep/second.txt", "two"}});
    JobHandle job;
    decompress(job, path_in(folder, "flat.zip"));
    EXPECT_EQ(outcome_of(job), JobOutcome::complete);
    const Tree expected = {{"deep\\", ""},       {"deep\\er\\", ""},         {"deep\\er\\file.txt", "three levels"},
                           {"top.txt", "top"},   {"deep\\second.txt", "two"}};
    EXPECT_TRUE(same_tree(expected, read_tree(path_in(folder, "flat\\"))));
}

TEST(ZipExtraction, names_without_the_utf8_flag_are_read_in_the_oem_code_page) {
    struct Case {
        const char* stored;
        uLong flag;
        const char* extracted;  // relative Windows path, UTF-8
    };
    const Case cases[] = {
        {"\x82t\x82.txt", 0, "\xC3\xA9t\xC3\xA9.txt"},                           // cp437 é
        {"\x8E\x99/\x81" "ber.txt", 0, "\xC3\x84\xC3\x96\\\xC3\xBC" "ber.txt"},     // cp437 Ä Ö ü
        {"caf\xC3\xA9.txt", UTF8_FLAG, "caf\xC3\xA9.txt"},                       // flagged UTF-8
        {"na\xC3\xAFve.txt", 0, "na\xC3\xAFve.txt"},                             // unflagged but valid UTF-8
        {"plain.txt", 0, "plain.txt"},
    };
    TestFolder folder("zip-oem");
    std::vector<ForeignEntry> entries;
    Tree expected;
    for (const Case& c : cases) {
        entries.emplace_back(c.stored, c.stored, c.flag);
        expected[c.extracted] = c.stored;
    }
    expected["\xC3\x84\xC3\x96\\"] = "";
    write_foreign_zip(path_in(folder, "names.zip"), entries);
    JobHandle job;
    decompress(job, path_in(folder, "names.zip"));
    EXPECT_EQ(outcome_of(job), JobOutcome::complete);
    EXPECT_TRUE(same_tree(expected, read_tree(path_in(folder, "names\\"))));
}

TEST(ZipExtraction, a_damaged_entry_is_reported_and_left_out_and_the_rest_extracted) {
    TestFolder folder("zip-damaged");
    const std::string lost = pattern_bytes(10000, 9);
    write_foreign_zip(path_in(folder, "hurt.zip"), {{"first.txt", "whole"},
                                                    {"broken.bin", lost, 0, deflate_breaking_after(lost)},
                                                    {"last.txt", "after the damage"}});
    JobHandle job;
    decompress(job, path_in(folder, "hurt.zip"));
    EXPECT_EQ(outcome_of(job), JobOutcome::failed);
    EXPECT_FALSE(job_busy(*job));
    EXPECT_TRUE(same_tree(Tree{{"first.txt", "whole"}, {"last.txt", "after the damage"}},
                          read_tree(path_in(folder, "hurt\\"))))
        << "no fragment passes for the damaged file";
    EXPECT_EQ(problem_report(*job),
              "Velmora: 1 file is damaged or cut short in the archive and was not extracted:\nbroken.bin");
}

// Names that Windows folds together (an archive from a system that tells
// them apart) both survive: the later one is written under a free name.
TEST(ZipExtraction, names_that_differ_only_in_case_both_survive_and_are_reported) {
    TestFolder folder("zip-case");
    write_foreign_zip(path_in(folder, "case.zip"),
                      {{"README.txt", "upper"}, {"readme.txt", "lower"}, {"Makefile", "one"}, {"MAKEFILE", "two"}});
    JobHandle job;
    decompress(job, path_in(folder, "case.zip"));
    EXPECT_EQ(outcome_of(job), JobOutcome::failed);
    EXPECT_TRUE(same_tree(Tree{{"README.txt", "upper"}, {"readme (2).txt", "lower"}, {"Makefile", "one"},
                               {"MAKEFILE (2)", "two"}},
                          read_tree(path_in(folder, "case\\"))));
    EXPECT_EQ(problem_report(*job),
              "Velmora: 2 files have the names of earlier ones but for letter case and were saved under other names:\n"
              "readme.txt, saved as readme (2).txt\nMAKEFILE, saved as MAKEFILE (2)");
}

TEST(ZipExtraction, names_of_2048_bytes_or_more_are_extracted_whole) {
    TestFolder folder("zip-longname");
    std::string long_name;
    while (long_name.size() < 2100) long_name += std::string(190, 'n') + "/";
    long_name += "file.txt";
    write_foreign_zip(path_in(folder, "long.zip"), {{long_name, "long"}, {"after.txt", "kept"}});
    JobHandle job;
    decompress(job, path_in(folder, "long.zip"));
    EXPECT_EQ(outcome_of(job), JobOutcome::complete) << problem_report(*job);
    Tree expected{{"after.txt", "kept"}};
    std::string folders;
    for (size_t at = 0; (at = long_name.find('/', at)) != std::string::npos; ++at) {
        folders = long_name.substr(0, at + 1);
        for (char& c : folders) c = c == '/' ? '\\' : c;
        expected[folders] = "";
    }
    expected[folders + "file.txt"] = "long";
    EXPECT_TRUE(same_tree(expected, read_tree(path_in(folder, "long\\"))));
}

TEST(ZipExtraction, an_unreadable_archive_creates_nothing) {
    TestFolder folder("zip-junk");
    folder.write("junk.zip", "this is not a zip archive at all");
    JobHandle job;
    for (const char* name : {"junk.zip", "missing.zip"}) {
        SCOPED_TRACE(name);
        decompress(job, path_in(folder, name));
        EXPECT_EQ(outcome_of(job), JobOutcome::failed);
        EXPECT_FALSE(job_busy(*job));
    }
    EXPECT_FALSE(folder.exists("junk"));
    EXPECT_FALSE(folder.exists("missing"));
}

TEST(ZipExtraction, an_empty_archive_gives_an_empty_folder_and_a_second_run_replaces_files) {
    TestFolder folder("zip-again");
    write_foreign_zip(path_in(folder, "none.zip"), {});
    JobHandle job;
    decompress(job, path_in(folder, "none.zip"));
    EXPECT_EQ(outcome_of(job), JobOutcome::complete);
    EXPECT_TRUE(folder.exists("none"));
    EXPECT_TRUE(read_tree(path_in(folder, "none\\")).empty());

    write_foreign_zip(path_in(folder, "twice.zip"), {{"d/", ""}, {"d/f.txt", "archived"}});
    decompress(job, path_in(folder, "twice.zip"));
    folder.write("twice\\d\\f.txt", "changed since, and longer than before");
    decompress(job, path_in(folder, "twice.zip"));
    EXPECT_EQ(outcome_of(job), JobOutcome::complete);
    EXPECT_TRUE(same_tree(Tree{{"d\\", ""}, {"d\\f.txt", "archived"}}, read_tree(path_in(folder, "twice\\"))));
}

// A folder level that cannot be made (a file has its name) is not taken as
// made: every file below it is reported, and the files of the folders made
// beside it are all extracted.
TEST(ZipExtraction, a_file_in_place_of_a_folder_stops_only_the_files_below_it) {
    TestFolder folder("zip-blocked-folder");
    write_foreign_zip(path_in(folder, "b.zip"), {{"x", "a file named like a folder"},
                                                 {"x/a.txt", "below a file"},
                                                 {"deep/er/b.txt", "b"},
                                                 {"x/y/c.txt", "below a file too"},
                                                 {"deep/er/c.txt", "c"},
                                                 {"deep/d.txt", "d"}});
    JobHandle job;
    decompress(job, path_in(folder, "b.zip"));
    EXPECT_TRUE(same_tree(Tree{{"x", "a file named like a folder"},
                               {"deep\\", ""},
                               {"deep\\er\\", ""},
                               {"deep\\er\\b.txt", "b"},
                               {"deep\\er\\c.txt", "c"},
                               {"deep\\d.txt", "d"}},
                          read_tree(path_in(folder, "b\\"))));
    EXPECT_EQ(problem_report(*job), "Velmora: 2 items could not be written to the disk:\nx\\a.txt\nx\\y\\c.txt");
}

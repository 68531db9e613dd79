// Tarball and Zstandard jobs: round trips, naming, the keep-tarball choice,
// cancel, damaged and hostile archives.
#include <gtest/gtest.h>

#include <archive.h>
#include <archive_entry.h>
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <atomic>
#include <functional>
#include <set>
#include <thread>
#include <tuple>
#include <map>
#include <vector>

#include "io/file_reader.h"
#include "jobs/frame/directory_scan.h"
#include "jobs/frame/job_paths.h"
#include "jobs/worker/job_report.h"
#include "jobs/tar/tar_common.h"
#include "job_test_util.h"
#include "test_folder.h"

namespace {

std::string path_in(const TestFolder& folder, const char* relative) {
    return std::string(folder.path().c_str()) + relative;
}

JobOutcome outcome_of(JobHandle& job) { return static_cast<JobOutcome>(job->outcome.load()); }

void compress_folder(JobHandle& job, const std::string& folder) {
    job->compressor = 1;
    job->job_folder.set(folder.c_str());
    run_job(*job, JobKind::compress_folder);
}

// Runs the file job on the selection already in job_inputs.
void compress_files_as_tzst(ArchiveJob& job) {
    job.compressor = 1;
    run_job(job, JobKind::compress_files);
}

void decompress(JobHandle& job, const std::string& archive) {
    job->job_inputs = make_selection_list({archive});
    run_job(*job, JobKind::decompress);
}

// True when the file is exactly one complete Zstandard frame.
bool one_zstd_frame(const std::string& bytes) {
    return !bytes.empty() && ZSTD_findFrameCompressedSize(bytes.data(), bytes.size()) == bytes.size();
}

// A tar writer of the given format whose bytes are appended to tarball.
archive* tar_writer_into(std::string& tarball, int (*set_format)(archive*)) {
    archive* writer = archive_write_new();
    set_format(writer);
    archive_write_open(
        writer, &tarball, nullptr,
        [](archive*, void* sink, const void* buffer, size_t length) -> la_ssize_t {
            static_cast<std::string*>(sink)->append(static_cast<const char*>(buffer), length);
            return static_cast<la_ssize_t>(length);
        },
        nullptr);
    return writer;
}

// Writes a tarball with the given entries (name, type, data) and packs it as
// a .tzst, as other tools make them.
void write_foreign_tzst(const std::string& path, const std::vector<std::tuple<std::string, int, std::string>>& entries) {
    std::string tarball;
    archive* writer = tar_writer_into(tarball, archive_write_set_format_pax_restricted);
    for (const auto& [name, type, data] : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_copy_pathname(entry, name.c_str());
        archive_entry_set_filetype(entry, static_cast<unsigned>(type));
        archive_entry_set_perm(entry, 0644);
        if (type == AE_IFLNK) archive_entry_copy_symlink(entry, data.c_str());
        if (type == AE_IFREG) archive_entry_set_size(entry, static_cast<la_int64_t>(data.size()));
        archive_write_header(writer, entry);
        if (type == AE_IFREG) archive_write_data(writer, data.data(), data.size());
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
    std::string packed(ZSTD_compressBound(tarball.size()), '\0');
    packed.resize(ZSTD_compress(&packed[0], packed.size(), tarball.data(), tarball.size(), 3));
    FILE* stream = open_stream(path.c_str(), "wb");
    std::fwrite(packed.data(), 1, packed.size(), stream);
    std::fclose(stream);
}

// The names in a folder (not below it).
std::vector<std::string> names_in_folder(const TestFolder& folder) {
    std::vector<std::string> names;
    for (const auto& entry : read_tree(folder.path().c_str())) {
        if (entry.first.find('\\') == std::string::npos || entry.first.find('\\') == entry.first.size() - 1) {
            names.push_back(entry.first);
        }
    }
    return names;
}

// The GNU tarball the folder job writes of folder's tree, made here with
// libarchive alone and a disk reader of its own for every entry, in the
// walk's order (a folder before its contents). A file that cannot be opened,
// or whose metadata cannot be read, is left out.
std::string tarball_with_a_reader_per_entry(const std::string& folder) {
    std::string tarball;
    archive* writer = tar_writer_into(tarball, archive_write_set_format_gnutar);
    std::function<void(const char*)> walk = [&](const char* level) {
        DirectoryScan scan;
        if (!scan.first(level)) return;
        String path;
        do {
            if (scan.is_dot_entry()) continue;
            scan.full_path(path);
            std::string name = path.c_str() + folder.size() + 1;
            for (char& c : name) c = c == '\\' ? '/' : c;
            std::string data;
            bool readable = true;
            if (!scan.is_directory()) {
                FileReader reader(path.c_str());
                readable = reader.is_open();
                char piece[4096];
                for (size_t n; (n = reader.read(piece, sizeof(piece))) > 0;) data.append(piece, n);
            }
            archive* disk = archive_read_disk_new();
            archive_entry* entry = archive_entry_new2(writer);
            if (readable && archive_read_disk_open_w(disk, archive_wide_path(path.c_str()).c_str()) == ARCHIVE_OK &&
                archive_read_next_header2(disk, entry) == ARCHIVE_OK) {
                archive_entry_copy_pathname(entry, name.c_str());
                archive_write_header(writer, entry);
                archive_write_data(writer, data.data(), data.size());
            }
            archive_entry_free(entry);
            archive_read_close(disk);
            archive_read_free(disk);
            if (scan.is_directory()) walk(path.c_str());
        } while (scan.next());
    };
    walk(folder.c_str());
    archive_write_close(writer);
    archive_write_free(writer);
    return tarball;
}

}  // namespace

TEST(Tzst, folder_round_trip_keeps_every_name_and_byte) {
    TestFolder folder("tzst-round");
    const std::string source = path_in(folder, "photos.2024");
    write_tree(source + "\\", sample_tree());
    JobHandle job;
    compress_folder(job, source);
    ASSERT_EQ(outcome_of(job), JobOutcome::complete);
    EXPECT_TRUE(folder.exists("photos.2024.tzst"));
    EXPECT_FALSE(folder.exists("photos.2024.tar")) << "the tarball goes when not kept";
    EXPECT_FALSE(folder.exists("photos.2024.tzst.partial"));
    EXPECT_TRUE(one_zstd_frame(folder.read("photos.2024.tzst")));
    EXPECT_FALSE(job_busy(*job));

    ASSERT_TRUE(move_file_replacing(path_in(folder, "photos.2024.tzst").c_str(), path_in(folder, "copy.tzst").c_str()));
    decompress(job, path_in(folder, "copy.tzst"));
    ASSERT_EQ(outcome_of(job), JobOutcome::complete);
    EXPECT_TRUE(same_tree(sample_tree(), read_tree(path_in(folder, "copy\\"))));
    EXPECT_FALSE(folder.exists("copy.tar"));
}

TEST(Tzst, keep_tarball_leaves_both_files) {
    TestFolder folder("tzst-keep");
    write_tree(path_in(folder, "d\\"), {{"a.txt", "alpha"}});
    JobHandle job;
    job->keep_tarball = true;
    compress_folder(job, path_in(folder, "d"));
    ASSERT_EQ(outcome_of(job), JobOutcome::complete);
    EXPECT_TRUE(folder.exists("d.tar"));
    EXPECT_TRUE(folder.exists("d.tzst"));
    EXPECT_FALSE(folder.exists("d.tar.partial")) << "a whole kept tarball takes its name";

    ASSERT_TRUE(move_file_replacing(path_in(folder, "d.tzst").c_str(), path_in(folder, "e.tzst").c_str()));
    decompress(job, path_in(folder, "e.tzst"));
    ASSERT_EQ(outcome_of(job), JobOutcome::complete);
    EXPECT_EQ(folder.read("e.tar"), folder.read("d.tar"));
    EXPECT_FALSE(folder.exists("e.tar.partial"));
}

// A NAME.tar that was there before the job belongs to the user: a tarball
// that only lives for the job goes under a free name instead of overwriting
// and then deleting it. A kept tarball is the job's output and replaces it.
TEST(Tzst, a_users_file_named_like_the_tarball_survives_unless_tarballs_are_kept) {
    TestFolder folder("tzst-existing-tar");
    const std::string theirs = pattern_bytes(5000, 3);
    write_tree(path_in(folder, "d\\"), {{"a.txt", "alpha"}});
    folder.write("d.tar", theirs);
    folder.write("d.tar.partial", "also somebody's");
    JobHandle job;
    job->keep_tarball = false;
    compress_folder(job, path_in(folder, "d"));
    ASSERT_EQ(outcome_of(job), JobOutcome::complete);
    EXPECT_EQ(folder.read("d.tar"), theirs);
    EXPECT_EQ(folder.read("d.tar.partial"), "also somebody's");
    EXPECT_FALSE(folder.exists("d.tar.partial1")) << "the scratch tarball goes";

    // The file job, and extraction, whose tarball lies beside the archive.
    folder.write("f.txt", "file job");
    folder.write("f.tar", theirs);
    job->job_inputs = make_selection_list({path_in(folder, "f.txt")});
    compress_files_as_tzst(*job);
    ASSERT_EQ(outcome_of(job), JobOutcome::complete);
    EXPECT_EQ(folder.read("f.tar"), theirs);
    decompress(job, path_in(folder, "d.tzst"));
    ASSERT_EQ(outcome_of(job), JobOutcome::complete);
    EXPECT_EQ(folder.read("d.tar"), theirs);
    EXPECT_EQ(folder.read("d\\a.txt"), "alpha");
    EXPECT_FALSE(folder.exists("d.tar.partial1"));

    job->keep_tarball = true;
    compress_folder(job, path_in(folder, "d"));
    ASSERT_EQ(outcome_of(job), JobOutcome::complete);
    EXPECT_NE(folder.read("d.tar"), theirs) << "the kept tarball replaces it";
    EXPECT_TRUE(folder.exists("d.tzst"));
}

TEST(Tzst, a_tarball_of_a_multiple_of_131072_bytes_ends_in_one_frame) {
    TestFolder folder("tzst-multiple");
    // 512-byte header + data + 1024 bytes of end blocks = 5 x 131072 bytes.
    folder.write("exact.bin", pattern_bytes(655360 - 1536, 7));
    JobHandle job;
    job->compressor = 1;
    job->keep_tarball = true;
    job->job_inputs = make_selection_list({path_in(folder, "exact.bin")});
    compress_files_as_tzst(*job);
    ASSERT_EQ(outcome_of(job), JobOutcome::complete);
    ASSERT_EQ(folder.read("exact.tar").size(), 655360u);
    const std::string packed = folder.read("exact.tzst");
    EXPECT_TRUE(one_zstd_frame(packed));
    EXPECT_EQ(ZSTD_getFrameContentSize(packed.data(), packed.size()), ZSTD_CONTENTSIZE_UNKNOWN);
    std::string plain(655360, '\0');
    EXPECT_EQ(ZSTD_decompress(&plain[0], plain.size(), packed.data(), packed.size()), 655360u);
    EXPECT_EQ(plain, folder.read("exact.tar"));
}

TEST(Tzst, selected_files_are_named_after_the_first_and_inputs_survive) {
    TestFolder folder("tzst-files");
    folder.write("a.txt", "first");
    folder.write("b.txt", "second");
    folder.write("x", "one letter");
    JobHandle job;
    job->compressor = 1;
    job->job_inputs = make_selection_list({path_in(folder, "a.txt"), path_in(folder, "b.txt"), path_in(folder, "x")});
    compress_files_as_tzst(*job);
    ASSERT_EQ(outcome_of(job), JobOutcome::complete);
    decompress(job, path_in(folder, "a.tzst"));
    EXPECT_TRUE(same_tree(Tree{{"a.txt", "first"}, {"b.txt", "second"}, {"x", "one letter"}}, read_tree(path_in(folder, "a\\"))));

    // A selected tarball or archive is never replaced by the job's own files.
    folder.write("report.tar", "my own tarball");
    folder.write("keep.tzst", "my own archive");
    job->job_inputs = make_selection_list({path_in(folder, "report.tar")});
    compress_files_as_tzst(*job);
    EXPECT_EQ(folder.read("report.tar"), "my own tarball");
    EXPECT_TRUE(folder.exists("report.tar.tzst"));
    job->job_inputs = make_selection_list({path_in(folder, "keep.tzst"), path_in(folder, "b.txt")});
    compress_files_as_tzst(*job);
    EXPECT_EQ(folder.read("keep.tzst"), "my own archive");
    EXPECT_TRUE(folder.exists("keep.tzst.tzst"));
}

// A drive or share root has no name for its archive, which would lie
// inside it: refused, in both formats, with the reason.
TEST(Tzst, a_drive_or_share_root_is_refused_before_anything_is_written) {
    for (const uint32_t compressor : {1u, 0u}) {
        for (const char* root : {"C:\\", "C:", "\\\\server\\share", "\\\\server\\share\\", "\\\\?\\UNC\\server\\share"}) {
            SCOPED_TRACE(std::string(root) + (compressor ? " tzst" : " zip"));
            JobHandle job;
            job->compressor = compressor;
            job->job_folder.set(root);
            run_job(*job, JobKind::compress_folder);
            EXPECT_EQ(outcome_of(job), JobOutcome::failed);
            EXPECT_EQ(problem_report(*job),
                      std::string("Velmora: A drive or share root cannot be compressed; choose a folder in it:\n") + root);
            EXPECT_FALSE(job_busy(*job));
        }
    }
    EXPECT_EQ(file_attributes("C:\\.tar"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(file_attributes("C:\\.tar.partial"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(file_attributes("C:\\.zip.partial"), INVALID_FILE_ATTRIBUTES);
    // Folders inside a share or a drive are no roots.
    EXPECT_FALSE(is_root_path("\\\\server\\share\\photos"));
    EXPECT_FALSE(is_root_path("C:\\photos"));
    EXPECT_FALSE(is_root_path("\\\\?\\C:\\photos"));
    EXPECT_TRUE(is_root_path("\\\\?\\C:\\"));
}

TEST(Tzst, cancel_leaves_no_archive_that_looks_finished) {
    TestFolder folder("tzst-cancel");
    folder.write("big.bin", pattern_bytes(48u << 20, 3));
    ArchiveJob* job = create_archive_job(JobSettings{});
    job->compressor = 1;
    submit_compress_files(*job, make_selection_list({path_in(folder, "big.bin")}));
    while (!job_busy(*job)) Sleep(1);
    while (job->item_percent.load() < 5) Sleep(1);
    set_busy_and_cancel(*job, false, true);  // as the Progress window cancels
    while (job->requests_served.load() == 0) Sleep(5);
    EXPECT_EQ(static_cast<JobOutcome>(job->outcome.load()), JobOutcome::cancelled);
    // Nothing of the abandoned job is left: no tarball, whole or partial.
    std::vector<std::string> names;
    for (const auto& entry : read_tree(folder.path().c_str())) names.push_back(entry.first);
    EXPECT_EQ(names, std::vector<std::string>{"big.bin"});

    destroy_archive_job(job);

    // Cancelled while the tarball is compressed, and cut off by the program's
    // end while it is written: neither the partial frame nor the tarball stays.
    create_directory(path_in(folder, "src").c_str());
    ASSERT_TRUE(move_file_replacing(path_in(folder, "big.bin").c_str(), path_in(folder, "src\\big.bin").c_str()));
    for (const Phase phase : {Phase::compressing_tarball, Phase::writing_tarball}) {
        SCOPED_TRACE(phase_name(phase));
        job = create_archive_job(JobSettings{});
        job->compressor = 1;
        job->keep_tarball = false;
        submit_compress_folder(*job, path_in(folder, "src").c_str());
        while (!(job->phase.load() == static_cast<int32_t>(phase) && job->item_percent.load() >= 5)) Sleep(1);
        if (phase == Phase::compressing_tarball) {
            set_busy_and_cancel(*job, false, true);
            while (job->requests_served.load() == 0) Sleep(5);
            EXPECT_EQ(static_cast<JobOutcome>(job->outcome.load()), JobOutcome::cancelled);
        }
        destroy_archive_job(job);  // cancels a running job and waits for it
        names.clear();
        for (const auto& entry : read_tree(folder.path().c_str())) names.push_back(entry.first);
        EXPECT_EQ(names, (std::vector<std::string>{"src\\", "src\\big.bin"}));
        EXPECT_EQ(folder.read("src\\big.bin"), pattern_bytes(48u << 20, 3)) << "the input is intact";
    }
}

TEST(Tzst, hostile_and_foreign_tarballs_stay_inside_the_destination) {
    TestFolder folder("tzst-hostile");
    create_directory(path_in(folder, "inside").c_str());
    write_foreign_tzst(path_in(folder, "inside\\evil.tzst"),
                       {{"../escaped.txt", AE_IFREG, "no"},
                        {"/abs.txt", AE_IFREG, "rooted"},
                        {"C:/drive.txt", AE_IFREG, "drive"},
                        {"deep/no/folder/entries.txt", AE_IFREG, "parents made"},
                        {"deep/link", AE_IFLNK, "../../escaped.txt"},
                        {"CON", AE_IFREG, "device"},
                        {"x:stream", AE_IFREG, "stream"}});
    JobHandle job;
    decompress(job, path_in(folder, "inside\\evil.tzst"));
    EXPECT_FALSE(folder.exists("escaped.txt"));
    EXPECT_FALSE(folder.exists("inside\\escaped.txt"));
    const Tree expected = {{"abs.txt", "rooted"},       {"C_\\", ""}, {"C_\\drive.txt", "drive"},
                           {"deep\\", ""},              {"deep\\no\\", ""}, {"deep\\no\\folder\\", ""},
                           {"deep\\no\\folder\\entries.txt", "parents made"}, {"_CON", "device"},
                           {"x_stream", "stream"}};
    EXPECT_TRUE(same_tree(expected, read_tree(path_in(folder, "inside\\evil\\"))));
    EXPECT_EQ(outcome_of(job), JobOutcome::failed) << "a skipped entry means the output is not whole";
}

// "tar -C dir -cf - ." starts with a "./" entry for the folder itself.
TEST(Tzst, a_tarball_of_dot_extracts_whole_and_says_so) {
    TestFolder folder("tzst-dot");
    write_foreign_tzst(path_in(folder, "dot.tzst"), {{"./", AE_IFDIR, ""},
                                                     {"./a.txt", AE_IFREG, "alpha"},
                                                     {"./in/", AE_IFDIR, ""},
                                                     {"./in/b.txt", AE_IFREG, "beta"}});
    JobHandle job;
    decompress(job, path_in(folder, "dot.tzst"));
    EXPECT_EQ(outcome_of(job), JobOutcome::complete);
    EXPECT_TRUE(same_tree({{"a.txt", "alpha"}, {"in\\", ""}, {"in\\b.txt", "beta"}}, read_tree(path_in(folder, "dot\\"))));
}

TEST(Tzst, a_truncated_archive_gives_the_entries_before_the_cut) {
    TestFolder folder("tzst-truncated");
    Tree tree;
    for (int i = 0; i < 6; ++i) tree["f" + std::to_string(i) + ".bin"] = pattern_bytes(200000, 10 + i);
    write_tree(path_in(folder, "t\\"), tree);
    JobHandle job;
    compress_folder(job, path_in(folder, "t"));
    ASSERT_EQ(outcome_of(job), JobOutcome::complete);
    std::string packed = folder.read("t.tzst");
    packed.resize(packed.size() / 2);
    folder.write("cut.tzst", packed);
    decompress(job, path_in(folder, "cut.tzst"));
    EXPECT_EQ(outcome_of(job), JobOutcome::failed);
    const Tree got = read_tree(path_in(folder, "cut\\"));
    EXPECT_GE(got.size(), 1u);
    for (const auto& [name, bytes] : got) {
        if (bytes.size() == 200000) {
            EXPECT_EQ(bytes, tree[name]) << name;
        }
    }
}

TEST(Tzst, extraction_progress_counts_whole_files) {
    TestFolder folder("tzst-progress");
    Tree tree;
    for (int i = 0; i < 4; ++i) tree["f" + std::to_string(i)] = pattern_bytes(6u << 20, 20 + i);
    write_tree(path_in(folder, "p\\"), tree);
    JobHandle job;
    compress_folder(job, path_in(folder, "p"));
    ASSERT_EQ(outcome_of(job), JobOutcome::complete);
    std::set<int> seen;
    std::atomic<bool> done{false};
    std::thread sampler([&] {
        while (!done) {
            if (job->phase.load() == static_cast<int>(Phase::reading_tarball)) seen.insert(job->overall_percent.load());
            Sleep(0);
        }
    });
    decompress(job, path_in(folder, "p.tzst"));
    done = true;
    sampler.join();
    seen.erase(0);
    for (int value : seen) EXPECT_TRUE(value == 25 || value == 50 || value == 75 || value == 100) << value;
    EXPECT_TRUE(seen.count(100));
}

// A file held open without sharing, as another program might hold it, is
// left out of the archive; every other file and folder is in it, the archive
// takes its name, and the job says which file is missing.
TEST(TzstFaults, a_locked_file_is_left_out_and_reported_while_its_siblings_are_stored) {
    TestFolder folder("tzst-locked");
    Tree tree = {{"sub\\", ""}, {"sub\\inner.txt", "inside"}};
    for (int i = 0; i < 12; ++i) tree["f" + std::to_string(i) + ".txt"] = "file " + std::to_string(i);
    tree["locked.txt"] = "held";
    write_tree(path_in(folder, "d\\"), tree);
    const std::string locked_path = path_in(folder, "d\\locked.txt");
    const WideText wide(locked_path.c_str(), locked_path.size());
    const HANDLE lock = CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);

    JobHandle job;
    compress_folder(job, path_in(folder, "d"));
    EXPECT_EQ(outcome_of(job), JobOutcome::failed) << "a job that left a file out is not complete";
    EXPECT_TRUE(job->output_made);
    std::map<std::string, std::string> expected;
    for (const auto& [name, data] : tree) {
        std::string entry = name;
        for (char& c : entry) c = c == '\\' ? '/' : c;
        if (name != "locked.txt") expected[entry] = data;
    }
    EXPECT_EQ(tzst_entries(folder.read("d.tzst")), expected);
    EXPECT_EQ(problem_report(*job), "Velmora: 1 file could not be read and is not in the archive:\nlocked.txt");

    // The file job: the others are stored; one file alone makes no archive
    // and leaves nothing behind.
    job->job_inputs = make_selection_list({path_in(folder, "d\\f1.txt"), locked_path, path_in(folder, "d\\f2.txt")});
    compress_files_as_tzst(*job);
    EXPECT_EQ(outcome_of(job), JobOutcome::failed);
    EXPECT_EQ(tzst_entries(folder.read("d\\f1.tzst")),
              (std::map<std::string, std::string>{{"f1.txt", "file 1"}, {"f2.txt", "file 2"}}));
    for (int attempt = 0; attempt < 2; ++attempt) {
        job->job_inputs = make_selection_list({locked_path});
        compress_files_as_tzst(*job);
        EXPECT_EQ(outcome_of(job), JobOutcome::failed);
        EXPECT_FALSE(job->output_made);
        EXPECT_EQ(problem_report(*job), "Velmora: 1 file could not be read and is not in the archive:\nlocked.txt");
    }
    CloseHandle(lock);
    EXPECT_EQ(names_in_folder(folder), (std::vector<std::string>{"d.tzst", "d\\"})) << "no partial tarballs";
}

// Names that Windows folds together (a tarball from a system that tells
// them apart) both survive: the later one is written under a free name.
TEST(TzstExtraction, names_that_differ_only_in_case_both_survive_and_are_reported) {
    TestFolder folder("tzst-case");
    write_tree(path_in(folder, "case\\"), {{"readme (2).txt", "a file that was there before"}});
    write_foreign_tzst(path_in(folder, "case.tzst"), {{"README.txt", AE_IFREG, "upper"},
                                                      {"readme.txt", AE_IFREG, "lower"},
                                                      {"Docs/", AE_IFDIR, ""},
                                                      {"Docs/a.txt", AE_IFREG, "first a"},
                                                      {"docs/A.TXT", AE_IFREG, "second a"}});
    JobHandle job;
    decompress(job, path_in(folder, "case.tzst"));
    EXPECT_EQ(outcome_of(job), JobOutcome::failed);
    EXPECT_TRUE(same_tree(Tree{{"README.txt", "upper"},
                               {"readme (2).txt", "a file that was there before"},
                               {"readme (3).txt", "lower"},
                               {"Docs\\", ""},
                               {"Docs\\a.txt", "first a"},
                               {"Docs\\A (2).TXT", "second a"}},
                          read_tree(path_in(folder, "case\\"))));
    EXPECT_EQ(problem_report(*job),
              "Velmora: 2 files have the names of earlier ones but for letter case and were saved under other names:\n"
              "readme.txt, saved as readme (3).txt\ndocs\\A.TXT, saved as docs\\A (2).TXT");
}

// A whole Zstandard stream that holds no tarball: what it holds is left for
// the user under the tarball's name, whatever the keep choice, and the job
// says so. A stream cut short leaves nothing that could pass for contents.
TEST(TzstExtraction, a_tarball_that_cannot_be_read_stays_for_the_user) {
    TestFolder folder("tzst-notar");
    const std::string hello = "hello";
    std::string packed(ZSTD_compressBound(hello.size()), '\0');
    packed.resize(ZSTD_compress(&packed[0], packed.size(), hello.data(), hello.size(), 1));
    folder.write("notar.tzst", packed);
    for (const bool keep : {false, true}) {
        SCOPED_TRACE(keep);
        JobHandle job;
        job->keep_tarball = keep;
        decompress(job, path_in(folder, "notar.tzst"));
        EXPECT_EQ(outcome_of(job), JobOutcome::failed);
        EXPECT_FALSE(job->output_made);
        EXPECT_EQ(folder.read("notar.tar"), hello);
        EXPECT_EQ(problem_report(*job), "Velmora: The tarball inside the archive could not be read; it was left at:\n" +
                                            path_in(folder, "notar.tar"));
        EXPECT_FALSE(folder.exists("notar.tar.partial"));
        EXPECT_FALSE(folder.exists("notar\\")) << "no destination folder for an archive that holds nothing";
        delete_file(path_in(folder, "notar.tar").c_str());
    }
    folder.write("cut.tzst", packed.substr(0, packed.size() - 3));
    JobHandle job;
    decompress(job, path_in(folder, "cut.tzst"));
    EXPECT_EQ(outcome_of(job), JobOutcome::failed);
    EXPECT_FALSE(folder.exists("cut.tar"));
    EXPECT_FALSE(folder.exists("cut.tar.partial"));
}

// Closing the Progress window while the tarball is unpacked stops the job
// within one entry: the entry being written goes, those before it stay
// whole, and the job counts as cancelled.
TEST(TzstExtraction, a_cancel_while_reading_the_tarball_stops_within_one_entry) {
    TestFolder folder("tzst-cancel-extract");
    Tree tree;
    for (int i = 0; i < 120; ++i) tree["f" + std::to_string(1000 + i) + ".bin"] = pattern_bytes(300000, i);
    write_tree(path_in(folder, "src\\"), tree);
    {
        JobHandle job;
        compress_folder(job, path_in(folder, "src"));
        ASSERT_EQ(outcome_of(job), JobOutcome::complete);
    }
    ASSERT_TRUE(move_file_replacing(path_in(folder, "src.tzst").c_str(), path_in(folder, "out.tzst").c_str()));
    ArchiveJob* job = create_archive_job(JobSettings{});
    submit_decompress(*job, path_in(folder, "out.tzst").c_str());
    while (!(job->phase.load() == static_cast<int32_t>(Phase::reading_tarball) && job->items_done.load() >= 10)) Sleep(0);
    set_busy_and_cancel(*job, false, true);  // as the Progress window cancels
    const int32_t done_at_cancel = job->items_done.load();
    while (job->requests_served.load() == 0) Sleep(5);
    EXPECT_EQ(static_cast<JobOutcome>(job->outcome.load()), JobOutcome::cancelled);
    const int32_t done_at_end = job->items_done.load();
    destroy_archive_job(job);
    EXPECT_LE(done_at_end, done_at_cancel + 1) << "the job stops within one entry";
    const Tree got = read_tree(path_in(folder, "out\\"));
    EXPECT_GE(got.size(), 10u);
    EXPECT_LT(got.size(), tree.size());
    for (const auto& [name, bytes] : got) EXPECT_EQ(bytes, tree[name]) << name << " is whole";
    EXPECT_FALSE(folder.exists("out.tar.partial"));
    EXPECT_FALSE(folder.exists("out.tar"));
}

// The walk reads every entry's metadata through one disk reader, opened on
// each entry in turn, where a reader per entry costs three times the system
// calls. The tarball is byte for byte the one that a reader per entry gives:
// with folders, empty files, names beyond ASCII, a file another program
// holds (left out), and entries whose paths are too long for the disk
// reader's wide path (left out, while the walk goes on with the rest).
TEST(Tzst, one_disk_reader_for_the_walk_writes_the_tarball_of_a_reader_per_entry) {
    TestFolder folder("tzst-disk-reader");
    Tree tree = sample_tree();
    tree["held.txt"] = "held by another program";
    std::string chain;
    for (int level = 0; level < 11; ++level) {
        chain += std::string(190, static_cast<char>('a' + level)) + "\\";
        tree[chain] = "";
        tree[chain + "in" + std::to_string(level) + ".txt"] = "level " + std::to_string(level);
    }
    for (int i = 0; i < 8; ++i) tree["after\\f" + std::to_string(i) + ".txt"] = std::string(static_cast<size_t>(i), 'x');
    const std::string root = path_in(folder, "t");
    write_tree(root + "\\", tree);
    const std::string held = root + "\\held.txt";
    const WideText wide(held.c_str(), held.size());
    const HANDLE lock = CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);

    JobHandle job;
    job->keep_tarball = true;
    compress_folder(job, root);
    const std::string expected = tarball_with_a_reader_per_entry(root);
    CloseHandle(lock);
    const std::string written = folder.read("t.tar");
    ASSERT_FALSE(written.empty());
    EXPECT_TRUE(written == expected) << written.size() << " bytes against " << expected.size();
    // What was left out, and only that: the held file and the entries beyond
    // the disk reader's reach.
    const std::string report = problem_report(*job);
    EXPECT_NE(report.find("held.txt"), std::string::npos) << report;
    EXPECT_NE(report.find("in10.txt"), std::string::npos) << report;
    EXPECT_EQ(report.find("in5.txt"), std::string::npos) << report;
    EXPECT_EQ(report.find("after"), std::string::npos) << report;
}

// Faults during real jobs: the Nth read or write failing, a full disk, an
// input held open without sharing, and cancels at random moments through the
// job record, as the Progress window does. After each: the inputs are intact
// byte for byte, and no incomplete output carries a complete output's name.
// How that is decided today: a .tzst exists under its name only when its
// frame was finished (".partial" otherwise, deleted); a ZIP or an unpacked
// folder is whole only when the outcome says complete.
#include <gtest/gtest.h>

#include <windows.h>

#include <random>
#include <string>
#include <vector>

#include "io/io_faults.h"
#include "jobs/worker/after_job.h"
#include "jobs/frame/job_paths.h"
#include "jobs/worker/job_report.h"
#include "jobs/job_test_util.h"
#include "jobs/worker/archive_inspect.h"
#include "robustness/hostile_archives.h"
#include "test_folder.h"
#include "jobs/frame/job_words.h"
#include "robust_util.h"

namespace {

Tree input_tree() {
    Tree tree = sample_tree();
    tree["many\\"] = "";
    for (int i = 0; i < 40; ++i) tree["many\\f" + std::to_string(i) + ".bin"] = pattern_bytes(9000 + 1000 * i, i);
    return tree;
}

enum class Kind { tzst_folder, zip_folder, tzst_extract, zip_extract };
const char* kind_name(Kind kind) {
    static const char* const NAMES[] = {"tzst_folder", "zip_folder", "tzst_extract", "zip_extract"};
    return NAMES[static_cast<int>(kind)];
}

// A folder "in" with the input tree, and for extraction kinds the archive
// made from it before any fault is armed.
struct Bench {
    ScratchFolder scratch{"faults"};
    Tree tree = input_tree();
    std::string folder = scratch.path() + "in";
    std::string archive;
    Snapshot inputs;

    explicit Bench(Kind kind) {
        write_tree(folder + "\\", tree);
        if (kind == Kind::tzst_extract || kind == Kind::zip_extract) {
            JobHandle job;
            job->compressor = kind == Kind::zip_extract ? 0 : 1;
            job->keep_tarball = false;
            submit_compress_folder(*job, folder.c_str());
            serve_within(*job, 60);
            archive = folder + (kind == Kind::zip_extract ? ".zip" : ".tzst");
            remove_deep_tree(folder);
            write_tree(scratch.path() + "ref\\", tree);
        }
        inputs = snapshot_tree(scratch.path());
    }

    void start(ArchiveJob& job, Kind kind) {
        job.compressor = kind == Kind::zip_folder ? 0 : 1;
        job.keep_tarball = false;
        if (archive.empty()) {
            submit_compress_folder(job, folder.c_str());
        } else {
            submit_decompress(job, archive.c_str());
        }
    }

    // Inputs unchanged, and every output either complete or clearly not.
    void check(const ArchiveJob& job, Kind kind) {
        const Snapshot now = snapshot_tree(scratch.path());
        for (const auto& entry : inputs) {
            const auto found = now.find(entry.first);
            ASSERT_TRUE(found != now.end()) << "input lost: " << entry.first;
            ASSERT_EQ(entry.second, found->second) << "input changed: " << entry.first;
        }
        const bool complete = job.outcome.load() == static_cast<int32_t>(JobOutcome::complete);
        for (const auto& entry : now) {
            EXPECT_EQ(std::string::npos, entry.first.find(".partial")) << "left behind: " << entry.first;
            EXPECT_NE(".tar", entry.first.substr(entry.first.size() < 4 ? 0 : entry.first.size() - 4))
                << "tarball left behind: " << entry.first;
        }
        // A .tzst under its name is complete, or reported failed with the
        // entries it could not read counted.
        if (kind == Kind::tzst_folder && path_exists(folder + ".tzst")) {
            EXPECT_TRUE(complete || !job.problems.empty()) << "a .tzst under its name after an incomplete job";
            if (complete) {
                EXPECT_TRUE(read_back_matches(folder + ".tzst"));
            }
        }
        // A ZIP reported complete after a fault was armed holds every file.
        if (kind == Kind::zip_folder && complete) {
            EXPECT_TRUE(read_back_matches(folder + ".zip"));
        }
        if (complete && (kind == Kind::tzst_extract || kind == Kind::zip_extract)) {
            EXPECT_TRUE(same_tree(tree, read_tree(scratch.path() + "in\\")));
        }
    }

    bool read_back_matches(const std::string& archive_path) { return read_back_matches(archive_path, tree); }

    bool read_back_matches(const std::string& archive_path, const Tree& expected) {
        JobHandle job;
        job->keep_tarball = false;
        const std::string copy = scratch.path() + "check\\in" + archive_path.substr(archive_path.rfind('.'));
        create_directory((scratch.path() + "check").c_str());
        CopyFileA(archive_path.c_str(), copy.c_str(), FALSE);
        decompress_within(*job, copy, 60);
        const bool same = same_tree(expected, read_tree(scratch.path() + "check\\in\\"));
        remove_deep_tree(scratch.path() + "check");
        return same;
    }

    // Removes outputs so the next round starts from the inputs alone.
    void clear_outputs() {
        DeleteFileA((folder + ".tar").c_str());
        if (archive.empty()) {
            DeleteFileA((folder + ".tzst").c_str());
            DeleteFileA((folder + ".zip").c_str());
        } else {
            remove_deep_tree(folder);
        }
    }
};

const Kind KINDS[] = {Kind::tzst_folder, Kind::zip_folder, Kind::tzst_extract, Kind::zip_extract};

// Fails the Nth read, the Nth write, or fills the disk after some bytes,
// at points spread over each job.
TEST(Faults, injected_read_write_and_full_disk_faults_lose_nothing) {
    int injected = 0;
    for (Kind kind : KINDS) {
        Bench bench(kind);
        for (int round = 0; round < 12; ++round) {
            SCOPED_TRACE(std::string(kind_name(kind)) + " round " + std::to_string(round));
            JobHandle job;
            reset_io_faults();
            if (round % 3 == 0) io_faults.fail_read_at = 1 + round * 7;
            if (round % 3 == 1) io_faults.fail_write_at = 1 + round * 9;
            if (round % 3 == 2) io_faults.disk_full_after = 20000 + round * 90000;
            bench.start(*job, kind);
            ASSERT_TRUE(serve_within(*job, 60));
            reset_io_faults();
            ++injected;
            bench.check(*job, kind);
            bench.clear_outputs();
        }
    }
    std::printf("  faults injected: %d\n", injected);
}

// A read of the finished tarball that fails while it is compressed (the
// seam fails the Nth read of the tarball alone): the frame must not be
// closed on what was read so far and pass for the whole archive.
TEST(Faults, a_failed_read_of_the_tarball_while_it_is_compressed_makes_no_archive) {
    Bench bench(Kind::tzst_folder);
    const std::string many = bench.folder + "\\many\\";
    std::vector<std::string> selection;
    for (int i = 0; i < 40; ++i) selection.push_back(many + "f" + std::to_string(i) + ".bin");
    struct Case {
        const char* name;
        bool folder_job;
        bool keep_tarball;
        const char* tarball;  // the file that fails, below the scratch folder
    };
    const Case cases[] = {
        {"folder job", true, false, "in.tar.partial"},
        {"folder job, tarball kept", true, true, "in.tar"},
        {"file job", false, false, "in\\many\\f0.tar.partial"},
    };
    for (const Case& c : cases) {
        for (const int64_t read : {1, 20, 100}) {
            SCOPED_TRACE(std::string(c.name) + ", read " + std::to_string(read));
            JobHandle job;
            job->compressor = 1;
            job->keep_tarball = c.keep_tarball;
            reset_io_faults();
            io_faults.only_path_ending = c.tarball;
            io_faults.fail_read_at = read;
            if (c.folder_job) {
                submit_compress_folder(*job, bench.folder.c_str());
            } else {
                submit_compress_files(*job, make_selection_list(selection));
            }
            ASSERT_TRUE(serve_within(*job, 60));
            const int64_t reads = io_faults.reads_issued;
            reset_io_faults();
            ASSERT_GE(reads, read) << "the fault was reached";
            EXPECT_STREQ(outcome_word(*job), "failed");
            EXPECT_FALSE(job->output_made);
            const std::string archive = c.folder_job ? bench.folder + ".tzst" : many + "f0.tzst";
            EXPECT_FALSE(path_exists(archive)) << "no archive of part of the tarball";
            EXPECT_EQ(problem_report(*job),
                      "Velmora: The tarball could not be read back to compress it, so no archive was made:\n" +
                          bench.scratch.path() + c.tarball);
            if (c.keep_tarball) {
                EXPECT_TRUE(path_exists(bench.scratch.path() + c.tarball)) << "the kept tarball is whole and stays";
                DeleteFileA((bench.scratch.path() + c.tarball).c_str());
            }
            JobHandle unused;
            bench.check(*unused, Kind::tzst_folder);
        }
    }
}

// The archive's disk fills, or the archive passes what the drive allows
// (FAT32's 4 GiB, through the seam: Wine has no FAT32 drive): the job stops
// at the first failed write, says so once with the reason, and leaves no
// part of its output.
TEST(Faults, a_job_stops_at_the_first_failed_write_of_its_output_and_says_why_once) {
    Bench bench(Kind::tzst_folder);
    const std::string in = bench.scratch.path() + "in";
    struct Case {
        const char* name;
        uint32_t compressor;
        const char* failing;   // the file whose writes fail, below the scratch folder
        const char* reported;  // the file the report names
    };
    const Case cases[] = {
        {"zip archive", 0, "in.zip.partial", "in.zip"},
        {"tarball", 1, "in.tar.partial", "in.tar.partial"},
        {"tzst archive", 1, "in.tzst.partial", "in.tzst"},
    };
    const struct {
        const char* name;
        bool disk_full;
        const char* reason;
    } faults[] = {
        {"full disk", true, "the disk is full"},
        {"FAT32 limit", false, "the file is larger than this drive allows (FAT32: 4 GiB)"},
    };
    for (const Case& c : cases) {
        for (const auto& fault : faults) {
            SCOPED_TRACE(std::string(c.name) + ", " + fault.name);
            JobHandle job;
            job->compressor = c.compressor;
            job->keep_tarball = false;
            reset_io_faults();
            io_faults.only_path_ending = c.failing;
            if (fault.disk_full) {
                io_faults.disk_full_after = 30000;
            } else {
                io_faults.fail_write_at = 4;
                io_faults.write_error = ERROR_FILE_TOO_LARGE;
            }
            submit_compress_folder(*job, in.c_str());
            ASSERT_TRUE(serve_within(*job, 60));
            const int64_t writes = io_faults.writes_issued;
            reset_io_faults();
            EXPECT_STREQ(outcome_word(*job), "failed");
            EXPECT_EQ(problem_report(*job), "Velmora: The archive could not be written:\n" + bench.scratch.path() +
                                                c.reported + ": " + fault.reason);
            // Stopped at the failure: a few writes after it at most, not one
            // attempt for every later file.
            EXPECT_LT(writes, 40) << "writes tried";
            JobHandle unused;
            bench.check(*unused, Kind::tzst_folder);
        }
    }
}

// The extraction side: the first file (or the tarball) that the disk
// refuses stops the job, which says so once with the reason, and not once
// for every later file.
TEST(Faults, an_extraction_stops_at_the_first_failed_write_and_says_why_once) {
    struct Case {
        const char* name;
        Kind kind;
        const char* failing;   // the files whose writes fail
        const char* reported;  // the file the report names, below the scratch folder ("" for any file)
    };
    const Case cases[] = {
        {"zip files", Kind::zip_extract, ".bin", ""},
        {"tzst files", Kind::tzst_extract, ".bin", ""},
        {"tzst tarball", Kind::tzst_extract, "in.tar.partial", "in.tar"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(c.kind);
        JobHandle job;
        reset_io_faults();
        io_faults.only_path_ending = c.failing;
        io_faults.disk_full_after = 30000;
        bench.start(*job, c.kind);
        ASSERT_TRUE(serve_within(*job, 60));
        const int64_t writes = io_faults.writes_issued;
        reset_io_faults();
        EXPECT_STREQ(outcome_word(*job), "failed");
        ASSERT_EQ(job->problems.size(), 1u) << problem_report(*job);
        const std::string heading = "Velmora: The extraction stopped because a file could not be written:\n";
        const std::string report = problem_report(*job);
        EXPECT_EQ(report.substr(0, heading.size()), heading);
        const std::string tail = ": the disk is full";
        EXPECT_EQ(report.substr(report.size() - tail.size()), tail);
        if (*c.reported) {
            EXPECT_EQ(report, heading + bench.scratch.path() + c.reported + tail);
        }
        EXPECT_LT(writes, 40) << "writes tried";
        bench.check(*job, c.kind);
    }
}

// The stage buffers of a .tzst job (128 KiB each) cannot be had: the job
// makes nothing, leaves nothing behind and says why, in both directions.
TEST(Faults, stage_buffers_that_cannot_be_had_fail_the_tzst_jobs) {
    for (const Kind kind : {Kind::tzst_folder, Kind::tzst_extract}) {
        SCOPED_TRACE(kind_name(kind));
        Bench bench(kind);
        JobHandle job;
        reset_io_faults();
        io_faults.fail_growth_from = 100000;
        bench.start(*job, kind);
        ASSERT_TRUE(serve_within(*job, 60));
        reset_io_faults();
        EXPECT_STREQ(outcome_word(*job), "failed");
        EXPECT_FALSE(job->output_made);
        EXPECT_FALSE(path_exists(bench.folder + ".tzst.partial"));
        EXPECT_FALSE(path_exists(bench.folder + ".tar.partial"));
        if (kind == Kind::tzst_folder) {
            EXPECT_FALSE(path_exists(bench.folder + ".tzst"));
        }
        if (kind == Kind::tzst_extract) {
            EXPECT_FALSE(path_exists(bench.folder)) << "nothing unpacked";
        }
        const std::string report = problem_report(*job);
        EXPECT_NE(report.find("memory"), std::string::npos) << report;
        bench.check(*job, kind);
    }
}

// Buffers that cannot be had stop every reading of every family the same
// way: the listing ends as too large, the test and the extraction say the
// archive needs more memory than the computer can give, and nothing is
// unpacked.
TEST(Faults, buffers_that_cannot_be_had_are_told_as_memory_by_every_reading) {
    TestFolder folder("no-memory");
    ZipItem zip_item;
    zip_item.name = "a.txt";
    zip_item.data = "alpha";
    TarItem tar_item;
    tar_item.name = "a.txt";
    tar_item.data = "alpha";
    folder.write("a.zip", build_zip({zip_item}));
    folder.write("a.tzst", zstd_frame(build_tar({tar_item})));
    folder.write("a.txt.zst", zstd_frame("alpha"));
    for (const char* name : {"a.zip", "a.tzst", "a.txt.zst"}) {
        SCOPED_TRACE(name);
        const std::string archive = std::string(folder.path().c_str()) + name;
        io_faults.fail_growth_from = 60000;
        ThreeReadings read;
        read_three_ways(archive, &read);
        reset_io_faults();
        const ListEnd listed = read.listed.end;
        JobHandle& test = read.test;
        JobHandle& extraction = read.extraction;
        EXPECT_EQ(listed, ListEnd::too_large);
        for (ArchiveJob* job : {&*test, &*extraction}) {
            ASSERT_EQ(job->problems.size(), 1u);
            EXPECT_EQ(job->problems[0].kind, Problem::needs_memory);
            EXPECT_EQ(job->problems[0].name, archive);
        }
        EXPECT_EQ(extraction->files_written, 0);
    }
    EXPECT_FALSE(folder.exists("a")) << "nothing unpacked";
    EXPECT_FALSE(folder.exists("a.txt"));
}

// A failure that comes late: the flush of a finished archive (a network
// share that fails its last writes). No archive passes for whole, and the
// user is told why.
TEST(Faults, a_late_flush_failure_makes_no_archive) {
    for (const Kind kind : {Kind::zip_folder, Kind::tzst_folder}) {
        SCOPED_TRACE(kind_name(kind));
        const std::string extension = kind == Kind::zip_folder ? ".zip" : ".tzst";
        Bench bench(kind);
        const std::string in = bench.scratch.path() + "in";
        JobHandle job;
        job->compressor = kind == Kind::zip_folder ? 0 : 1;
        reset_io_faults();
        io_faults.fail_flush = true;
        submit_compress_folder(*job, in.c_str());
        ASSERT_TRUE(serve_within(*job, 60));
        reset_io_faults();
        EXPECT_STREQ(outcome_word(*job), "failed");
        EXPECT_FALSE(path_exists(in + extension));
        EXPECT_FALSE(path_exists(in + extension + ".partial"));
        EXPECT_EQ(problem_report(*job), "Velmora: The archive could not be written:\n" + in + extension + ": " +
                                            write_failure_reason(ERROR_WRITE_FAULT, false));
        JobHandle unused;
        bench.check(*unused, kind);
    }
}

// A job host as the program's, whose save chooser answers with a path and
// whose reports are kept.
struct ChoosingHost {
    std::string chosen;
    std::vector<std::string> told;
};

JobHost choosing_host(ChoosingHost& state) {
    JobHost host;
    host.context = &state;
    host.choose_save_path = [](void* context, const ArchiveJob&, const char*) {
        return static_cast<ChoosingHost*>(context)->chosen;
    };
    host.report = [](void* context, const ArchiveJob&, const std::string& text) {
        static_cast<ChoosingHost*>(context)->told.push_back(text);
    };
    return host;
}

// The move after the save dialog, on a disk that fills after 10,000 bytes or
// one that fails the copy's last writes late: nothing of the archive is left
// under the chosen name, a file that was there is untouched, the archive
// stays where the job wrote it, and the user is told where it is.
TEST(Faults, a_save_as_copy_that_fills_the_disk_leaves_the_archive_where_it_was) {
    ScratchFolder scratch("save-as");
    const std::string archive = scratch.path() + "photos.tzst";
    const std::string bytes = pattern_bytes(200000, 9);
    ASSERT_TRUE(write_file(archive, bytes));
    ChoosingHost host{scratch.path() + "chosen.tzst", {}};
    const std::string& target = host.chosen;
    JobHandle job;
    job->host = choosing_host(host);
    job->action_after_compression = AFTER_COMPRESSION_SAVE_AS;
    job->output_made = true;
    for (const bool late : {false, true}) for (const bool target_existed : {false, true}) {
        SCOPED_TRACE(target_existed ? "over an existing file" : "to a new name");
        SCOPED_TRACE(late ? "late flush failure" : "disk full");
        if (target_existed) {
            ASSERT_TRUE(write_file(target, "the user's older file"));
        } else {
            DeleteFileA(target.c_str());
        }
        host.told.clear();
        reset_io_faults();
        if (late) {
            io_faults.fail_flush = true;
        } else {
            io_faults.disk_full_after = 10000;
        }
        after_compression(*job, archive.c_str(), "tzst");
        reset_io_faults();
        EXPECT_EQ(host.told, std::vector<std::string>{"Velmora: The archive could not be saved as:\n" + target +
                                                      "\nIt is still at:\n" + archive});
        EXPECT_TRUE(read_file(archive) == bytes) << "the archive stays where it was";
        EXPECT_TRUE(path_exists(target) == target_existed) << "no part of the archive under the chosen name";
        if (target_existed) {
            EXPECT_EQ(read_file(target), "the user's older file");
        }
        EXPECT_FALSE(path_exists(target + ".partial"));
    }
    // With room, the move completes and nothing is told; a move onto itself
    // keeps the archive.
    EXPECT_TRUE(move_file_by_copy(archive.c_str(), archive.c_str()));
    EXPECT_TRUE(read_file(archive) == bytes);
    host.told.clear();
    after_compression(*job, archive.c_str(), "tzst");
    EXPECT_TRUE(host.told.empty());
    EXPECT_TRUE(read_file(target) == bytes);
    EXPECT_FALSE(path_exists(archive));
}

// Cancels at random moments, from another thread, as the Progress window does.
TEST(Faults, random_cancels_lose_nothing_and_leave_no_whole_looking_output) {
    std::mt19937 random(20240601);
    int cancels = 0;
    for (Kind kind : KINDS) {
        Bench bench(kind);
        for (int round = 0; round < 55; ++round) {
            SCOPED_TRACE(std::string(kind_name(kind)) + " cancel " + std::to_string(round));
            JobHandle job;
            bench.start(*job, kind);
            HANDLE thread = CreateThread(nullptr, 0, [](void* j) -> DWORD {
                serve_one_request(*static_cast<ArchiveJob*>(j));
                return 0;
            }, &*job, 0, nullptr);
            // Wait until the job is busy, then a random while, then cancel.
            for (int i = 0; i < 2000 && !job_busy(*job) && WaitForSingleObject(thread, 0) == WAIT_TIMEOUT; ++i) Sleep(0);
            Sleep(std::uniform_int_distribution<int>(0, 60)(random));
            set_cancel_requested(*job, true);
            ++cancels;
            ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 60000)) << "no wind-down after cancel";
            CloseHandle(thread);
            EXPECT_FALSE(job_busy(*job));
            bench.check(*job, kind);
            bench.clear_outputs();
        }
    }
    std::printf("  cancels: %d\n", cancels);
}

// Runs velmora-cli with arguments in a process of its own and waits for it;
// what it printed goes to *said. Returns its exit code.
DWORD run_velmora_cli(const Bench& bench, const std::string& arguments, std::string* said) {
    const std::string build = std::getenv("VELMORA_BUILD_DIR");
    std::string command = "\"Z:" + build + "/velmora-cli.exe\" " + arguments;
    for (size_t i = 0; i < command.find(".exe"); ++i) command[i] = command[i] == '/' ? '\\' : command[i];
    const std::string said_path = bench.scratch.path() + "said.txt";
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    const HANDLE out = CreateFileA(said_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdError = out;
    startup.hStdOutput = out;
    PROCESS_INFORMATION process{};
    DWORD code = 0xFFFFFFFF;
    if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        if (WaitForSingleObject(process.hProcess, 90000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(out);
    *said = read_file(said_path);
    DeleteFileA(said_path.c_str());
    return code;
}

// Holds a file open without sharing, as a virus scanner or a preview does:
// throughout, or until the job has tried to give its finished archive the
// held file's name. The job holds its partial archive open, unshared for
// writing, until it is whole; it renames it as soon as it has closed it,
// and retries for about 10 s. So once the partial can be opened for
// writing, and is still there half a second later, the first rename and
// the first retries have failed; then the hold ends.
struct HeldFile {
    HANDLE handle;
    HANDLE releaser = nullptr;
    std::string partial;  // "": held throughout
    bool rename_tried = false;
    HeldFile(const std::string& path, const std::string& partial_archive)
        : handle(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)),
          partial(partial_archive) {
        if (partial.empty()) return;
        releaser = CreateThread(nullptr, 0, [](void* self) -> DWORD {
            auto* held = static_cast<HeldFile*>(self);
            for (int waited = 0; waited < 90000; waited += 10) {
                const HANDLE probe = CreateFileA(held->partial.c_str(), GENERIC_WRITE,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                 OPEN_EXISTING, 0, nullptr);
                if (probe != INVALID_HANDLE_VALUE) {
                    CloseHandle(probe);
                    Sleep(500);
                    held->rename_tried = path_exists(held->partial);
                    break;
                }
                Sleep(10);
            }
            CloseHandle(held->handle);
            return 0;
        }, this, 0, nullptr);
    }
    ~HeldFile() {
        if (releaser) {
            WaitForSingleObject(releaser, INFINITE);
            CloseHandle(releaser);
        } else {
            CloseHandle(handle);
        }
    }
};

// An input held open without sharing by another process (velmora-cli runs
// the job; this process holds the file): the archive holds everything else,
// velmora-cli names the file it left out and says the archive is not whole.
TEST(Faults, an_input_locked_by_another_process_is_reported_and_left_alone) {
    const char* build = std::getenv("VELMORA_BUILD_DIR");
    if (!build) GTEST_SKIP() << "VELMORA_BUILD_DIR not set";
    Bench bench(Kind::tzst_folder);
    const std::string locked = bench.folder + "\\many\\f3.bin";
    HANDLE hold = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hold);
    Tree expected = bench.tree;
    expected.erase("many\\f3.bin");
    for (const char* format : {"tzst", "zip"}) {
        SCOPED_TRACE(format);
        std::string said;
        const DWORD code =
            run_velmora_cli(bench, std::string("compress --format ") + format + " \"" + bench.folder + "\"", &said);
        EXPECT_EQ(1u, code) << "a job missing a file must not report a complete archive";
        EXPECT_NE(said.find("velmora-cli: could not be read, left out: many/f3.bin"), std::string::npos) << said;
        const std::string archive = bench.folder + "." + format;
        EXPECT_TRUE(bench.read_back_matches(archive, expected)) << "every other file is in the archive";
        DeleteFileA(archive.c_str());
    }
    CloseHandle(hold);
    JobHandle job;
    bench.check(*job, Kind::zip_folder);
}

// An older archive of the same name held open by another program (this
// process; velmora-cli runs the job): released after the job's first tries
// to replace it, the finished archive waits and takes its name; held
// throughout, it is kept beside it as "in (2).zip" or "in (2).tzst" and the
// user is told. Never is the finished archive lost.
TEST(Faults, a_finished_archive_outlives_an_old_one_held_by_another_program) {
    if (!std::getenv("VELMORA_BUILD_DIR")) GTEST_SKIP() << "VELMORA_BUILD_DIR not set";
    Bench bench(Kind::tzst_folder);
    const struct {
        const char* format;
        bool released;
    } cases[] = {{"zip", true}, {"zip", false}, {"tzst", true}, {"tzst", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.format) + (c.released ? ", released" : ", held throughout"));
        const std::string archive = bench.folder + "." + c.format;
        const std::string aside = bench.folder + " (2)." + c.format;
        ASSERT_TRUE(write_file(archive, "an older archive"));
        std::string said;
        DWORD code;
        {
            HeldFile held(archive, c.released ? archive + ".partial" : "");
            ASSERT_NE(held.handle, INVALID_HANDLE_VALUE);
            code = run_velmora_cli(bench, std::string("compress --format ") + c.format + " \"" + bench.folder + "\"",
                                   &said);
            if (c.released) {
                WaitForSingleObject(held.releaser, INFINITE);
                EXPECT_TRUE(held.rename_tried) << "the hold ended before the job tried to replace the file";
            }
        }
        if (c.released) {
            EXPECT_EQ(0u, code) << said;
            EXPECT_TRUE(bench.read_back_matches(archive)) << "the new archive took its name";
            EXPECT_FALSE(path_exists(aside));
        } else {
            EXPECT_EQ(1u, code) << said;
            EXPECT_NE(said.find("velmora-cli: an older file of its name was held by another program; saved as: " + aside),
                      std::string::npos)
                << said;
            EXPECT_EQ(read_file(archive), "an older archive");
            EXPECT_TRUE(bench.read_back_matches(aside)) << "the finished archive is kept beside";
            DeleteFileA(aside.c_str());
        }
        DeleteFileA(archive.c_str());
        JobHandle unused;
        bench.check(*unused, Kind::tzst_folder);
    }
}

}  // namespace

namespace {

struct WindowOfProcess {
    DWORD process;
    HWND found;
};

BOOL CALLBACK find_session_window(HWND window, LPARAM parameter) {
    auto& wanted = *reinterpret_cast<WindowOfProcess*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char name[64] = {};
    GetClassNameA(window, name, sizeof(name));
    if (owner != wanted.process || std::string(name) != "velmora_cli_session") return TRUE;
    wanted.found = window;
    return FALSE;
}

}  // namespace

// Logoff or shutdown while velmora-cli packs a folder: the program hears it
// as a top-level window (Windows sends a console program that loaded user32
// no such console event), lets the session end, and before the process is
// ended removes every partial file. The session messages are sent as
// Windows sends them, then the process is ended as Windows ends it.
TEST(Faults, velmora_cli_cleans_up_when_the_session_ends) {
    if (!std::getenv("VELMORA_BUILD_DIR")) GTEST_SKIP() << "VELMORA_BUILD_DIR not set";
    ScratchFolder scratch("session-end");
    Tree tree;
    for (int i = 0; i < 60; ++i) tree["f" + std::to_string(i) + ".bin"] = pattern_bytes(2u << 20, i);
    const std::string folder = scratch.path() + "big";
    write_tree(folder + "\\", tree);
    std::string command = "\"Z:" + std::string(std::getenv("VELMORA_BUILD_DIR")) + "/velmora-cli.exe\" compress "
                          "--format tzst \"" + folder + "\"";
    for (size_t i = 0; i < command.find(".exe"); ++i) command[i] = command[i] == '/' ? '\\' : command[i];
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    WindowOfProcess wanted{process.dwProcessId, nullptr};
    for (int waited = 0; waited < 20000 && (!wanted.found || !path_exists(folder + ".tar.partial")); waited += 20) {
        EnumWindows(find_session_window, reinterpret_cast<LPARAM>(&wanted));
        Sleep(20);
    }
    ASSERT_NE(wanted.found, nullptr) << "velmora-cli has a window that hears the end of the session";
    EXPECT_TRUE(path_exists(folder + ".tar.partial")) << "the job is writing its tarball";
    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendMessageTimeoutA(wanted.found, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_BLOCK, 5000, &answer));
    EXPECT_EQ(answer, DWORD_PTR{TRUE}) << "velmora-cli lets the session end";
    ASSERT_TRUE(SendMessageTimeoutA(wanted.found, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_BLOCK, 10000, &answer));
    TerminateProcess(process.hProcess, 0x40010004);  // as Windows ends a process at logoff
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (const char* left : {".tar.partial", ".tzst.partial", ".tzst", ".tar"}) {
        EXPECT_FALSE(path_exists(folder + left)) << left;
    }
}

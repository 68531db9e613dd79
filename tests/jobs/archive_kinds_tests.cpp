// Which files Velmora unpacks, by their names, and what it derives from
// them: .tar.zst tarballs, single .zst files, names that leave no folder,
// and Zstandard frames whose window is larger than the machine can give.
#include <gtest/gtest.h>

#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <cstring>
#include <vector>

#include "io/io_faults.h"
#include "jobs/frame/archive_names.h"
#include "jobs/frame/job_paths.h"
#include "jobs/worker/archive_inspect.h"
#include "jobs/worker/job_report.h"
#include "io/file_reader.h"
#include "jobs/zstd/zstd_source.h"
#include "jobs/zstd/zstd_stream.h"
#include "job_test_util.h"
#include "test_folder.h"
#include "jobs/frame/job_words.h"

namespace {

std::string path_in(const TestFolder& folder, const std::string& relative) {
    return std::string(folder.path().c_str()) + relative;
}

JobOutcome outcome_of(JobHandle& job) { return static_cast<JobOutcome>(job->outcome.load()); }

void run(JobHandle& job, JobKind kind, const std::string& input) {
    if (kind == JobKind::compress_folder) {
        job->job_folder.set(input.c_str());
    } else {
        job->job_inputs = make_selection_list({input});
    }
    run_job(*job, kind);
}

// The report's problem kinds, in order.
std::vector<Problem> kinds_of(JobHandle& job) {
    std::vector<Problem> kinds;
    for (const JobProblem& problem : job->problems) kinds.push_back(problem.kind);
    return kinds;
}

std::string zstd_bytes(const std::string& data) {
    std::string packed(ZSTD_compressBound(data.size()), '\0');
    packed.resize(ZSTD_compress(&packed[0], packed.size(), data.data(), data.size(), 3));
    return packed;
}

}  // namespace

TEST(ArchiveNames, the_name_decides_the_kind_and_the_outputs) {
    const struct {
        const char* path;
        ArchiveKind kind;
        const char* stem;
        bool usable;
        const char* tarball;
        bool replaces;
    } cases[] = {
        {"C:\\a\\photos.zip", ArchiveKind::zip, "C:\\a\\photos", true, "", false},
        {"C:\\a\\photos.ZIP", ArchiveKind::zip, "C:\\a\\photos", true, "", false},
        {"C:\\a\\backup.TZST", ArchiveKind::zstd_tarball, "C:\\a\\backup", true, "C:\\a\\backup.tar", true},
        {"C:\\a\\photos.tar.zst", ArchiveKind::zstd_tarball, "C:\\a\\photos", true, "C:\\a\\photos.tar", false},
        {"C:\\a\\photos.Tar.Zstd", ArchiveKind::zstd_tarball, "C:\\a\\photos", true, "C:\\a\\photos.tar", false},
        {"C:\\a\\notes.txt.zst", ArchiveKind::zstd_file, "C:\\a\\notes.txt", true, "", false},
        {"C:\\a\\notes.ZSTD", ArchiveKind::zstd_file, "C:\\a\\notes", true, "", false},
        {"C:\\a\\x.tar.gz.zst", ArchiveKind::zstd_file, "C:\\a\\x.tar.gz", true, "", false},
        {"C:\\release.2\\v1.2.zip", ArchiveKind::zip, "C:\\release.2\\v1.2", true, "", false},
        {"C:\\a\\photos.tar", ArchiveKind::tarball, "C:\\a\\photos", true, "", false},
        {"C:\\a\\photos.Tar.Gz", ArchiveKind::gzip_tarball, "C:\\a\\photos", true, "", false},
        {"C:\\a\\photos.tgz", ArchiveKind::gzip_tarball, "C:\\a\\photos", true, "", false},
        {"C:\\a\\photos.tbz", ArchiveKind::bzip2_tarball, "C:\\a\\photos", true, "", false},
        {"C:\\a\\photos.tar.xz", ArchiveKind::xz_tarball, "C:\\a\\photos", true, "", false},
        {"C:\\a\\photos.7Z", ArchiveKind::seven_zip, "C:\\a\\photos", true, "", false},
        {"C:\\a\\notes.txt.gz", ArchiveKind::gzip_file, "C:\\a\\notes.txt", true, "", false},
        {"C:\\a\\notes.txt.xz", ArchiveKind::xz_file, "C:\\a\\notes.txt", true, "", false},
        {"C:\\a\\x.rar", ArchiveKind::rar, "C:\\a\\x", true, "", false},
        {"C:\\a\\x.part03.rar", ArchiveKind::rar, "C:\\a\\x", true, "", false},
        {"C:\\a\\x.partial.rar", ArchiveKind::rar, "C:\\a\\x.partial", true, "", false},
        {"C:\\a\\.part1.rar", ArchiveKind::rar, "C:\\a\\", false, "", false},
        {"C:\\a\\photos.zip.bak", ArchiveKind::none, "", false, "", false},
        {"C:\\a.zip\\notes", ArchiveKind::none, "", false, "", false},
        {"C:\\a\\zip", ArchiveKind::none, "", false, "", false},
        // Names that are only an extension, or dots and spaces before it,
        // would unpack into the archive's own folder or the one above.
        {"C:\\a\\.zip", ArchiveKind::zip, "C:\\a\\", false, "", false},
        {"C:\\a\\..zip", ArchiveKind::zip, "C:\\a\\.", false, "", false},
        {"C:\\a\\...tzst", ArchiveKind::zstd_tarball, "C:\\a\\..", false, "C:\\a\\...tar", true},
        {"C:\\a\\ .zip", ArchiveKind::zip, "C:\\a\\ ", false, "", false},
        {"C:\\a\\. .tar.zst", ArchiveKind::zstd_tarball, "C:\\a\\. ", false, "C:\\a\\. .tar", false},
        {"C:\\a\\.zst", ArchiveKind::zstd_file, "C:\\a\\", false, "", false},
        {".tzst", ArchiveKind::zstd_tarball, "", false, ".tar", true},
        {"C:\\a\\a..zip", ArchiveKind::zip, "C:\\a\\a.", true, "", false},
        {"C:\\a\\.profile.zst", ArchiveKind::zstd_file, "C:\\a\\.profile", true, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const ArchiveNames names = archive_names(c.path);
        EXPECT_EQ(names.kind, c.kind);
        if (c.kind == ArchiveKind::none) continue;
        EXPECT_EQ(names.stem, c.stem);
        EXPECT_EQ(names.usable, c.usable);
        EXPECT_EQ(names.tarball, c.tarball);
        EXPECT_EQ(names.tarball_replaces, c.replaces);
    }
    // The volumes of a set keep the digits of the name picked.
    const ArchiveNames set = archive_names("C:\\a\\x.Part03.rar");
    EXPECT_EQ(volume_path(set, 1), "C:\\a\\x.Part01.rar");
    EXPECT_EQ(volume_path(set, 12), "C:\\a\\x.Part12.rar");
    EXPECT_EQ(volume_path(archive_names("C:\\a\\x.part7.rar"), 10), "C:\\a\\x.part10.rar");
}

TEST(ArchiveNames, messages_and_chooser_patterns_come_from_the_same_table) {
    EXPECT_EQ(unpackable_extensions_text(), ".zip, .tzst, .tar.zst, .tar.zstd, .zst, .zstd, .tar, .tar.gz, .tgz, "
                                            ".tar.bz2, .tbz2, .tbz, .tar.xz, .txz, .7z, .rar, .gz, .bz2 and .xz");
    EXPECT_EQ(archive_extensions_text(ArchiveKind::zstd_tarball, "or"), ".tzst, .tar.zst or .tar.zstd");
    EXPECT_EQ(archive_patterns(ArchiveKind::none), "*.zip;*.tzst;*.tar.zst;*.tar.zstd;*.zst;*.zstd;*.tar;*.tar.gz;*.tgz;"
                                                   "*.tar.bz2;*.tbz2;*.tbz;*.tar.xz;*.txz;*.7z;*.rar;*.gz;*.bz2;*.xz");
    std::vector<std::string> filters;
    for (const ArchiveFilter& filter : archive_filters()) filters.push_back(filter.name_words + ": " + filter.patterns);
    EXPECT_EQ(filters, (std::vector<std::string>{"ZIP files: *.zip",
                                                 "Zstandard files: *.tzst;*.tar.zst;*.tar.zstd;*.zst;*.zstd",
                                                 "Tar files: *.tar;*.tar.gz;*.tgz;*.tar.bz2;*.tbz2;*.tbz;*.tar.xz;*.txz",
                                                 "7-Zip files: *.7z", "RAR files: *.rar",
                                                 "gzip, bzip2 and xz files: *.gz;*.bz2;*.xz"}));
    EXPECT_EQ(zstandard_patterns(), "*.tzst;*.tar.zst;*.tar.zstd;*.zst;*.zstd");
    JobHandle job;
    note_problem(*job, Problem::unknown_archive_kind, "C:\\a\\photos.rar");
    EXPECT_NE(problem_report(*job).find(unpackable_extensions_text()), std::string::npos) << problem_report(*job);
    EXPECT_EQ(mib_text(0), "0 MiB");
    EXPECT_EQ(mib_text((2048ull << 20) + 300000), "2,048 MiB");
    EXPECT_EQ(mib_text(1234567ull << 20), "1,234,567 MiB");
}

// A .tar.zst is a tarball in Zstandard like a .tzst. Its tarball's name is
// very likely one the user already has: that file is never replaced, and a
// kept tarball takes a free name that the report gives.
TEST(ArchiveKinds, a_tar_zst_unpacks_into_its_stem_and_never_replaces_the_users_tarball) {
    TestFolder folder("tar-zst");
    write_tree(path_in(folder, "photos\\"), sample_tree());
    JobHandle job;
    job->compressor = COMPRESSOR_ZSTANDARD;
    run(job, JobKind::compress_folder, path_in(folder, "photos"));
    ASSERT_EQ(outcome_of(job), JobOutcome::complete);
    ASSERT_TRUE(move_file_replacing(path_in(folder, "photos.tzst").c_str(), path_in(folder, "Photos.TAR.ZST").c_str()));
    remove_tree(path_in(folder, "photos").c_str());
    folder.write("Photos.tar", "the user's own tarball");

    for (const bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "tarball kept" : "tarball not kept");
        job->keep_tarball = keep;
        run(job, JobKind::decompress, path_in(folder, "Photos.TAR.ZST"));
        EXPECT_TRUE(same_tree(sample_tree(), read_tree(path_in(folder, "Photos\\"))));
        EXPECT_EQ(job->output_path.c_str(), path_in(folder, "Photos"));
        EXPECT_EQ(folder.read("Photos.tar"), "the user's own tarball");
        EXPECT_EQ(outcome_of(job), JobOutcome::complete) << "a notice is no loss";
        if (keep) {
            EXPECT_FALSE(folder.read("Photos (2).tar").empty()) << "the tarball stays under a free name";
            EXPECT_EQ(problem_report(*job), "Velmora: A file had the tarball's name, so the tarball was kept as:\n" +
                                                path_in(folder, "Photos (2).tar"));
        } else {
            EXPECT_FALSE(folder.exists("Photos (2).tar"));
            EXPECT_TRUE(job->problems.empty());
        }
    }
}

// A bare .zst is one compressed file: it becomes the file it names, beside
// the archive, and never replaces one.
TEST(ArchiveKinds, a_single_zst_file_unpacks_beside_itself_under_a_free_name) {
    TestFolder folder("single-zst");
    const std::string data = pattern_bytes(300000, 7);
    folder.write("notes.txt.zst", zstd_bytes(data));
    JobHandle job;
    run(job, JobKind::decompress, path_in(folder, "notes.txt.zst"));
    EXPECT_EQ(outcome_of(job), JobOutcome::complete);
    EXPECT_EQ(folder.read("notes.txt"), data);
    EXPECT_EQ(job->output_path.c_str(), path_in(folder, "notes.txt"));

    folder.write("notes.txt", "the user's notes");
    run(job, JobKind::decompress, path_in(folder, "notes.txt.zst"));
    EXPECT_EQ(outcome_of(job), JobOutcome::complete);
    EXPECT_EQ(folder.read("notes.txt"), "the user's notes");
    EXPECT_EQ(folder.read("notes (2).txt"), data);
    EXPECT_EQ(problem_report(*job),
              "Velmora: A file had the unpacked file's name, so it was saved as:\n" + path_in(folder, "notes (2).txt"));

    // A stream cut short, or not Zstandard at all, leaves no file behind;
    // the listing shows the one file and that the stream breaks off.
    const std::string packed = zstd_bytes(data);
    folder.write("cut.bin.zst", packed.substr(0, packed.size() / 2));
    folder.write("junk.zst", "not a Zstandard frame");
    for (const char* name : {"cut.bin.zst", "junk.zst"}) {
        SCOPED_TRACE(name);
        run(job, JobKind::decompress, path_in(folder, name));
        EXPECT_EQ(outcome_of(job), JobOutcome::failed);
        EXPECT_EQ(kinds_of(job), std::vector<Problem>{Problem::cut_short});
        std::vector<std::string> listed;
        const ListEnd end = list_archive(path_in(folder, name).c_str(),
                                         [&listed](const ListedEntry& entry) { listed.push_back(entry.name); }).end;
        EXPECT_EQ(end, ListEnd::broken);
        EXPECT_EQ(listed, std::vector<std::string>{std::string(name).substr(0, std::strlen(name) - 4)});
    }
    EXPECT_FALSE(folder.exists("cut.bin"));
    EXPECT_FALSE(folder.exists("junk"));
    EXPECT_FALSE(folder.exists("cut.bin.partial"));
}

// An archive whose name is only dots or spaces before its extension would
// unpack over its own folder or its parent: it is refused, and the file of
// the user's that the archive also holds is left as it was.
TEST(ArchiveKinds, names_of_only_dots_or_spaces_are_refused_and_nothing_is_written) {
    TestFolder folder("dot-names");
    create_directory(path_in(folder, "pack").c_str());
    folder.write("pack\\inner.txt", "from the archive");
    JobHandle job;
    job->compressor = COMPRESSOR_DEFLATE;
    run(job, JobKind::compress_folder, path_in(folder, "pack"));
    const std::string zip = folder.read("pack.zip");
    job->compressor = COMPRESSOR_ZSTANDARD;
    run(job, JobKind::compress_folder, path_in(folder, "pack"));
    const std::string tzst = folder.read("pack.tzst");
    ASSERT_FALSE(zip.empty());
    ASSERT_FALSE(tzst.empty());

    for (const char* name : {".zip", "..zip", "...zip", " .zip", ".tzst", "...tzst", "..tar.zst", ". .tar.zstd",
                             ".zst"}) {
        SCOPED_TRACE(name);
        TestFolder place("dot-names-place");
        create_directory(path_in(place, "in").c_str());
        place.write("inner.txt", "the user's own");
        place.write("in\\inner.txt", "the user's own, one level down");
        const std::string extension = path_extension(name);
        const bool is_zip = extension == ".zip";
        place.write((std::string("in\\") + name).c_str(), extension == ".zst" ? zstd_bytes("x") : is_zip ? zip : tzst);
        const Tree before = read_tree(place.path().c_str());
        run(job, JobKind::decompress, path_in(place, std::string("in\\") + name));
        EXPECT_EQ(kinds_of(job), std::vector<Problem>{Problem::name_leaves_no_folder});
        EXPECT_TRUE(same_tree(before, read_tree(place.path().c_str()))) << "nothing written anywhere";
        EXPECT_EQ(place.read("in\\inner.txt"), "the user's own, one level down");
        EXPECT_EQ(place.read("inner.txt"), "the user's own");
    }
}

// A frame whose window needs more memory than the machine can give is
// refused before any of it is decoded, with what it needs; an ordinary
// frame, which declares its size, is not held to the window.
TEST(ArchiveKinds, a_window_beyond_the_machines_memory_is_refused_with_its_need) {
    TestFolder folder("big-window");
    folder.write("backup.tzst", frame_with_window(31, "not decoded"));
    folder.write("small.txt.zst", zstd_bytes("small"));
    JobHandle job;
    io_faults.memory_available = 1ll << 30;
    run(job, JobKind::decompress, path_in(folder, "backup.tzst"));
    const std::string refused = problem_report(*job);
    run(job, JobKind::decompress, path_in(folder, "small.txt.zst"));
    const JobOutcome small_outcome = outcome_of(job);
    reset_io_faults();

    EXPECT_EQ(refused, "Velmora: Not unpacked: the archive needs more memory than this computer can give:\n" +
                           path_in(folder, "backup.tzst") + " (needs 2,048 MiB of memory to unpack)");
    EXPECT_FALSE(folder.exists("backup"));
    EXPECT_FALSE(folder.exists("backup.tar"));
    EXPECT_FALSE(folder.exists("backup.tar.partial"));
    EXPECT_EQ(small_outcome, JobOutcome::complete);
    EXPECT_EQ(folder.read("small.txt"), "small");
    EXPECT_EQ(zstd_memory_needed(folder.read("backup.tzst").data(), 5), 0u) << "a header cut short tells nothing";
}

// A stream of empty blocks decodes to nothing for as long as it lasts: the
// decoder looks at the job's cancel as it reads, not only as it writes.
TEST(ArchiveKinds, a_cancel_stops_a_stream_that_decodes_to_nothing) {
    std::string frame("\x28\xB5\x2F\xFD\x00\x50", 6);  // a 1 MiB window
    for (int i = 0; i < 400000; ++i) frame += std::string("\x00\x00\x00", 3);  // an empty raw block
    frame += std::string("\x09\x00\x00x", 4);  // the last block: "x"
    TestFolder folder("empty-blocks");
    folder.write("x.zst", frame);
    ZSTD_DCtx* dctx = reinterpret_cast<ZSTD_DCtx*>(create_zstd_decoder());
    std::vector<char> in(131075), out(131072);
    JobHandle job;
    const auto read_all = [&](const ArchiveJob* stopping, std::string* decoded) {
        FileReader file(path_in(folder, "x.zst").c_str());
        ZstdSource source(file, dctx, in.data(), in.size(), out.data(), out.size(), stopping);
        const void* piece = nullptr;
        while (const size_t n = source.read(&piece)) decoded->append(static_cast<const char*>(piece), n);
        return file.position();
    };
    std::string whole;
    EXPECT_EQ(read_all(nullptr, &whole), frame.size());
    EXPECT_EQ(whole, "x");
    set_cancel_requested(*job, true);
    std::string cancelled;
    EXPECT_LT(read_all(&*job, &cancelled), frame.size() / 4) << "the file is not read on after the cancel";
    EXPECT_EQ(cancelled, "");
    ZSTD_freeDCtx(dctx);
}

// The words of a progress line: each phase from 0 with its own figure, and
// files counted where the phase counts them.
TEST(ProgressWords, each_phase_reads_as_one) {
    const struct {
        Phase phase;
        int32_t overall, item, done, total;
        const char* words;
    } cases[] = {
        {Phase::preparing, 0, 0, 0, 1, "Preparing... 1 file"},
        {Phase::preparing, 0, 0, 0, 1234, "Preparing... 1234 files"},
        {Phase::writing_tarball, 25, 50, 1, 4, "Writing tarball (1/2) 37% (1/4 files)"},
        {Phase::compressing_tarball, 100, 40, 4, 4, "Compressing (2/2) 40%"},
        {Phase::decompressing_zstd, 100, 7, 0, 0, "Decompressing (1/2) 7%"},
        {Phase::reading_tarball, 100, 0, 4, 4, "Reading tarball (2/2) 100% (4/4 files)"},
        {Phase::decompressing_zip, 60, 10, 0, 0, "Decompressing 60%"},
        {Phase::decompressing_file, 100, 99, 0, 1, "Decompressing 99% (0/1 file)"},
    };
    JobHandle job;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words);
        set_phase(*job, c.phase);
        job->overall_percent = c.overall;
        job->item_percent = c.item;
        job->items_done = c.done;
        job->items_total = c.total;
        EXPECT_EQ(progress_words(*job), c.words);
    }
}

// Extraction of hostile archives, made at run time: every case must write
// nothing outside its destination folder (the whole scratch tree is compared
// before and after, file contents included), end within its time bound, and
// leave the destination and outcome recorded below. Each name case is packed
// both as a ZIP entry and as a tar entry inside a .tzst.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
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
    if (snapshot.size() > 40) {
        size_t longest = 0;
        for (const auto& entry : snapshot) longest = entry.first.size() > longest ? entry.first.size() : longest;
        return std::to_string(snapshot.size()) + " names, longest " + std::to_string(longest);
    }
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
    std::printf("  %s ...\r", place.folder.substr(place.root.size()).c_str());
    std::fflush(stdout);
    JobHandle job;
    job->keep_tarball = false;
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
    Result result{outcome_word(*job), listing(snapshot_tree(place.folder + "a\\"), place), static_cast<int>(job->problems.size())};
    std::printf("  %-28s %-5s %-9s %5.2f s  failed %d  [%.200s]\n", place.folder.substr(place.root.size()).c_str(),
                extension.c_str(), result.outcome.c_str(), seconds, result.entries_failed, result.listing.c_str());
    std::fflush(stdout);
    remove_deep_tree(place.folder);
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
     "dev\\|dev\\shm\\|dev\\shm\\R\\|dev\\shm\\R\\escaped.txt|escaped (2).txt|escaped.txt|ok.txt"},
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
     "dir_\\|dir_\\x.txt|dir_\\y.txt|end____|ok.txt|trail_|trail_ (2)"},
    // Names that Windows folds together all survive: later ones are numbered.
    {"case_and_dot_collisions", {"Same.txt", "same.TXT", "SAME.txt", "dots", "dots.", "dots "},
     "SAME (3).txt|Same.txt|dots|dots_|dots_ (2)|ok.txt|same (2).TXT"},
    {"control_characters", {"tab\there.txt", "new\nline.txt", "bell\x07.txt"}, "bell_.txt|new_line.txt|ok.txt|tab_here.txt"},
};

TarItem tar_file(const std::string& name, const std::string& data, char type = '0', const std::string& link = "") {
    TarItem item;
    item.name = name;
    item.data = data;
    item.type = type;
    item.link = link;
    return item;
}

ZipItem zip_file(const std::string& name, const std::string& data, uint16_t method = 0) {
    ZipItem item;
    item.name = name;
    item.data = data;
    item.method = method;
    return item;
}

std::vector<ZipItem> zip_entries(const std::vector<std::string>& names, const Place& place) {
    std::vector<ZipItem> entries;
    for (const std::string& name : names) entries.push_back(zip_file(expand(name, place), "payload " + name));
    entries.push_back(zip_file("ok.txt", "fine"));
    return entries;
}

std::vector<TarItem> tar_entries(const std::vector<std::string>& names, const Place& place) {
    std::vector<TarItem> entries;
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

// Archives whose structure is hostile. expected: outcome, then the
// destination listing after a space.
struct ArchiveCase {
    const char* id;
    const char* extension;
    std::function<std::string(const Place&)> build;
    const char* expected;
};

std::string nested_name(int levels) {
    std::string name;
    for (int i = 0; i < levels; ++i) name += "d/";
    return name + "leaf.txt";
}

ZipItem zip_with(const std::string& name, const std::string& data, const std::function<void(ZipItem&)>& change) {
    ZipItem item = zip_file(name, data);
    change(item);
    return item;
}

std::string tzst_of(const std::vector<TarItem>& entries) { return zstd_frame(build_tar(entries)); }

std::vector<TarItem> many_tar_entries(int count, const std::string& name) {
    std::vector<TarItem> entries(static_cast<size_t>(count), tar_file(name, ""));
    entries.push_back(tar_file("ok.txt", "fine"));
    return entries;
}

const std::vector<ArchiveCase> ARCHIVE_CASES = {
    // Links are never made: a link entry is passed over (and named in the
    // report), so a file written "through" it lands in a real folder of that
    // name inside the destination.
    {"symlink_then_file", ".tzst", [](const Place&) {
         return tzst_of({tar_file("link", "", '2', "../.."), tar_file("link/escaped.txt", "through"),
                         tar_file("abs", "", '2', "/tmp"), tar_file("abs/escaped.txt", "through")});
     }, "failed abs\\|abs\\escaped.txt|link\\|link\\escaped.txt"},
    {"hardlink_outside", ".tzst", [](const Place& p) {
         return tzst_of({tar_file("hard", "", '1', "../outside.txt"), tar_file("hard2", "", '1', p.root_unix + "x"),
                         tar_file("ok.txt", "fine")});
     }, "failed ok.txt"},
    {"symlink_zip", ".zip", [](const Place&) {
         return build_zip({zip_with("link", "../..", [](ZipItem& z) { z.unix_mode = 0120777; }),
                           zip_file("link/escaped.txt", "through")});
     }, "failed link\\|link\\escaped.txt"},
    // Paths past 260 characters are made through the long-path prefix.
    {"nesting_300_zip", ".zip", [](const Place&) { return build_zip({zip_file(nested_name(300), "deep")}); },
     "complete 301 names, longest 608"},
    {"nesting_300_tar", ".tzst", [](const Place&) { return tzst_of({tar_file(nested_name(300), "deep")}); },
     "complete 301 names, longest 608"},
    {"name_300_zip", ".zip", [](const Place&) { return build_zip({zip_file(std::string(300, 'n'), "x"), zip_file("ok.txt", "")}); },
     "failed ok.txt"},
    {"name_300_tar", ".tzst", [](const Place&) { return tzst_of({tar_file(std::string(300, 'n'), "x"), tar_file("ok.txt", "")}); },
     "failed ok.txt"},
    {"name_65535_zip", ".zip", [](const Place&) { return build_zip({zip_file(std::string(65535, 'n'), "x"), zip_file("ok.txt", "")}); },
     "failed ok.txt"},
    {"name_70000_tar", ".tzst", [](const Place&) {
         return tzst_of({tar_file(std::string(70000, 'n'), "x"), tar_file(std::string(35000, 'n') + "/" + std::string(34999, 'm'), "x"),
                         tar_file("ok.txt", "")});
     }, "failed ok.txt"},
    // The central directory's size decides: data that matches its CRC-32 but
    // holds fewer bytes than the directory lists is kept, and reported.
    {"size_beyond_data_zip", ".zip", [](const Place&) {
         return build_zip({zip_with("big.txt", "only ten b", [](ZipItem& z) { z.declared_size = 1 << 20; })});
     }, "failed big.txt"},
    {"size_beyond_data_tar", ".tzst", [](const Place&) {
         TarItem big = tar_file("big.txt", "only ten b");
         big.declared_size = 1 << 20;
         return zstd_frame(build_tar({tar_file("ok.txt", "fine"), big}, 512 * 3 + 10));
     }, "failed ok.txt"},
    {"truncated_tar_header", ".tzst", [](const Place&) {
         return zstd_frame(build_tar({tar_file("ok.txt", "fine"), tar_file("next.txt", "data")}, 1024 + 100));
     }, "failed ok.txt"},
    {"truncated_zstd", ".tzst", [](const Place&) {
         const std::string frame = tzst_of({tar_file("ok.txt", pattern_bytes(200000, 3))});
         return frame.substr(0, frame.size() / 2);
     }, "failed "},
    {"bit_flipped_zstd", ".tzst", [](const Place&) {
         std::string frame = zstd_frame(build_tar({tar_file("ok.txt", pattern_bytes(200000, 3))}), true);
         frame[frame.size() / 2] ^= 0x04;
         return frame;
     }, "failed "},
    {"bit_flipped_deflate", ".zip", [](const Place&) {
         return build_zip({zip_with("flip.bin", pattern_bytes(100000, 4), [](ZipItem& z) { z.method = 8; z.flip_data_bit = true; })});
     }, "failed flip.bin"},
    {"bit_flipped_stored", ".zip", [](const Place&) {
         return build_zip({zip_with("flip.bin", pattern_bytes(1000, 4), [](ZipItem& z) { z.flip_data_bit = true; })});
     }, "failed flip.bin"},
    {"encrypted_entry", ".zip", [](const Place&) {
         return build_zip({zip_with("secret.txt", "ciphertext!!", [](ZipItem& z) { z.flags = 1; }), zip_file("ok.txt", "fine")});
     }, "failed ok.txt"},
    {"unsupported_methods", ".zip", [](const Place&) {
         return build_zip({zip_with("bzip2.bin", "BZh9", [](ZipItem& z) { z.method = 12; }),
                           zip_with("lzma.bin", "lzma", [](ZipItem& z) { z.method = 14; }),
                           zip_with("aes.bin", "aes!", [](ZipItem& z) { z.method = 99; })});
     }, "failed "},
    {"central_offset_past_end", ".zip", [](const Place&) {
         return build_zip({zip_with("far.txt", "data", [](ZipItem& z) { z.local_offset_shift = 1 << 30; })});
     }, "failed "},
    {"central_offset_into_data", ".zip", [](const Place&) {
         return build_zip({zip_file("ok.txt", "fine"), zip_with("off.txt", "data", [](ZipItem& z) { z.local_offset_shift = -7; })});
     }, "failed ok.txt"},
    {"central_offset_other_entry", ".zip", [](const Place&) {
         return build_zip({zip_file("ok.txt", "fine"), zip_with("twin.txt", "fine", [](ZipItem& z) { z.local_offset_shift = -38; })});
     }, "failed ok.txt"},
    {"count_claims_100000", ".zip", [](const Place&) { return build_zip({zip_file("ok.txt", "fine")}, 100000); },
     "failed ok.txt"},
    {"entries_10000_zip", ".zip", [](const Place&) {
         std::vector<ZipItem> entries(10000, zip_file("../escaped.txt", ""));
         entries.push_back(zip_file("ok.txt", "fine"));
         return build_zip(entries);
     }, "failed ok.txt"},
    {"entries_100000_tar", ".tzst", [](const Place&) { return tzst_of(many_tar_entries(100000, "../escaped.txt")); },
     "failed ok.txt"},
    // A bomb unpacks to what its data holds, which its CRC-32 proves; a
    // directory that understates the size stops it there, reported.
    {"bomb_zip", ".zip", [](const Place&) {
         return build_zip({zip_with("zeros.bin", std::string(size_t{64} << 20, '\0'), [](ZipItem& z) { z.method = 8; })});
     }, "complete zeros.bin"},
    {"bomb_understated_zip", ".zip", [](const Place&) {
         return build_zip({zip_with("zeros.bin", std::string(size_t{64} << 20, '\0'), [](ZipItem& z) {
             z.method = 8;
             z.declared_size = 1000;
         })});
     }, "failed zeros.bin"},
    {"bomb_tzst", ".tzst", [](const Place&) { return tzst_of({tar_file("zeros.bin", std::string(size_t{64} << 20, '\0'))}); },
     "complete zeros.bin"},
};

TEST_F(Hostile, hostile_archive_structures_are_contained_and_recorded) {
    const char* only = std::getenv("VELMORA_CASE");
    for (const ArchiveCase& c : ARCHIVE_CASES) {
        if (only && std::string(only) != c.id) continue;
        SCOPED_TRACE(c.id);
        const Place where = place(c.id);
        const std::string bytes = c.build(where);
        const Result result = extract_case(where, c.extension, bytes);
        EXPECT_EQ(c.expected, result.outcome + " " + result.listing);
    }
}

// A ratio above 400 to 1 is unpacked to exactly the declared size.
TEST_F(Hostile, bomb_sizes_are_exact) {
    const Place where = place("bomb_size");
    create_directory(where.folder.c_str());
    const std::string archive = where.folder + "b.zip";
    write_file(archive, build_zip({zip_with("zeros.bin", std::string(size_t{8} << 20, '\0'), [](ZipItem& z) { z.method = 8; })}));
    EXPECT_LT(read_file(archive).size(), size_t{20000});
    JobHandle job;
    ASSERT_TRUE(decompress_within(*job, archive, TIME_BOUND_SECONDS));
    EXPECT_STREQ("complete", outcome_word(*job));
    EXPECT_EQ(size_t{8} << 20, read_file(where.folder + "b\\zeros.bin").size());
}

}  // namespace

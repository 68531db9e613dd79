// What libarchive's readers leave unsaid and the libarchive family tells
// itself: whether a RAR 5 archive reached its end block (archives made
// field by field here, cut and padded, each listed, tested and extracted),
// and which method or filter its 7z reader refused to decode, from its
// words.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jobs/frame/job_paths.h"
#include "jobs/libarchive/la_walk.h"
#include "jobs/worker/archive_inspect.h"
#include "jobs/worker/job_report.h"
#include "job_test_util.h"
#include "test_folder.h"

namespace {

// A RAR 5 block: CRC, header size, then type, flags and fields, then data.
std::string rar_block(uint64_t type, const std::string& fields, const std::string& data = "") {
    const std::string head = vint(type) + vint(data.empty() ? 0 : 2) + (data.empty() ? "" : vint(data.size())) + fields;
    return le32(crc_of(vint(head.size()) + head)) + vint(head.size()) + head + data;
}

// A stored file with its CRC-32, made on Windows.
std::string rar_stored(const std::string& name, const std::string& data) {
    return rar_block(2, vint(0x4) + vint(data.size()) + vint(0x20) + le32(crc_of(data)) + vint(0) + vint(0) +
                            vint(name.size()) + name,
                     data);
}

const std::string RAR5 = std::string("Rar!\x1A\x07\x01\x00", 8);
const std::string RAR_MAIN = rar_block(1, vint(0));
const std::string RAR_END = rar_block(5, vint(0));

// How list, test and extraction each found an archive.
struct Readings {
    ListEnd listed = ListEnd::whole;
    std::string tested;     // the test's report, "" when sound
    std::string extracted;  // the extraction's report
    Tree files;
};

Readings read_all_three(const TestFolder& place, const char* name, const std::string& bytes) {
    place.write(name, bytes);
    const std::string path = std::string(place.path().c_str()) + name;
    ThreeReadings read;
    read_three_ways(path, &read);
    Readings readings;
    readings.listed = read.listed.end;
    readings.tested = problem_report(*read.test);
    readings.extracted = problem_report(*read.extraction);
    const std::string stem = archive_names(path.c_str()).stem;
    readings.files = read_tree(stem + "\\");
    remove_tree(stem.c_str());
    return readings;
}

}  // namespace

// libarchive ends a RAR 5 reading at any header it cannot read whole as it
// ends one at the end block: only the block tells a whole archive from one
// cut between two entries, and bytes after the block change nothing.
TEST(RarEnd, an_archive_without_its_end_block_is_cut_short_to_list_test_and_extraction) {
    const std::string one = pattern_bytes(3000, 1);
    const std::string two = pattern_bytes(2000, 2);
    const std::string entries = RAR5 + RAR_MAIN + rar_stored("one.bin", one) + rar_stored("two.bin", two);
    const std::string whole = entries + RAR_END;
    std::string bad_crc = whole;
    bad_crc[bad_crc.size() - RAR_END.size()] ^= 0x01;
    const struct {
        const char* name;
        std::string bytes;
        bool complete;
        int entries;  // those before the end or the cut
    } cases[] = {
        {"whole", whole, true, 2},
        {"zeros_after_the_end_block", whole + std::string(100, '\0'), true, 2},
        {"cut_after_the_last_entry", entries, false, 2},
        {"cut_in_the_end_block", whole.substr(0, whole.size() - 3), false, 2},
        {"end_block_whose_crc_fails", bad_crc, false, 2},
        {"cut_before_any_entry", RAR5 + RAR_MAIN, false, 0},
    };
    TestFolder place("rar-end");
    const Tree files{{"one.bin", one}, {"two.bin", two}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Readings got = read_all_three(place, "x.rar", c.bytes);
        const std::string path = std::string(place.path().c_str()) + "x.rar";
        const std::string damaged = "Velmora: The archive is damaged or cut short; nothing after the damage was "
                                    "extracted:\n" + path;
        EXPECT_EQ(got.listed, c.complete ? ListEnd::whole : ListEnd::broken);
        EXPECT_EQ(got.tested,
                  c.complete ? "" : damaged + " (it breaks off after " + std::to_string(c.entries) + " entries)");
        EXPECT_EQ(got.extracted, c.complete ? "" : damaged);
        EXPECT_TRUE(same_tree(c.entries ? files : Tree{}, got.files)) << "the entries are whole, whatever follows them";
    }
}

// The script meets Deflate64 and ARM64 as 7-Zip writes them; these are the
// words it cannot make 7-Zip provoke.
TEST(RefusedMethod, the_method_libarchive_would_not_decode_is_named_and_other_words_name_none) {
    const struct {
        const char* words;
        const char* method;
    } cases[] = {
        {"Unsupported filter 3030501 for 40108", "ARM"},
        {"Unknown codec ID: 4f71101", "method 4F71101"},
        {"The file content is encoded with many filters, but currently not supported", "a chain of several filters"},
        {"Unknown codec ID: ", ""},
        {"Truncated 7-Zip file body", ""},
        {nullptr, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words ? c.words : "(no words)");
        EXPECT_EQ(la_refused_method(c.words), c.method);
    }
}

// The memory a .7z or a .rar needs, read from its headers: archives made
// field by field here (7z headers plain and packed, RAR5 blocks), with the
// dictionaries and windows each case names, and headers that lie. A machine
// made small through the test seam refuses the large ones before anything
// is made or decoded, alike in the extraction, the test and the listing.
#define LZMA_API_STATIC
#include <lzma.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/io_faults.h"
#include "jobs/frame/job_paths.h"
#include "jobs/libarchive/la_memory.h"
#include "jobs/worker/archive_inspect.h"
#include "jobs/worker/job_report.h"
#include "job_test_util.h"
#include "test_folder.h"

namespace {

constexpr uint64_t MIB = 1u << 20;
constexpr uint64_t OVERHEAD = 256 * 1024;  // what the estimate adds to a dictionary

// 7z's UINT64, in the fewest bytes.
std::string num(uint64_t v) {
    for (int n = 0; n <= 6; ++n) {
        if (v < (uint64_t{1} << (7 - n)) << (8 * n)) {
            return static_cast<char>((0xFF00u >> n & 0xFFu) | static_cast<unsigned>(v >> (8 * n))) +
                   le64(v).substr(0, static_cast<size_t>(n));
        }
    }
    return v < uint64_t{1} << 56 ? "\xFE" + le64(v).substr(0, 7) : "\xFF" + le64(v);
}

// data in raw LZMA (filter LZMA_FILTER_LZMA1) or LZMA2, with a 1 MiB dictionary.
std::string raw_packed(const std::string& data, lzma_vli filter) {
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, 6)) return "";
    options.dict_size = 1u << 20;
    const lzma_filter filters[2] = {{filter, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_raw_encoder(&stream, filters) != LZMA_OK) return "";
    std::string out(data.size() + 4096, '\0');
    stream.next_in = reinterpret_cast<const uint8_t*>(data.data());
    stream.avail_in = data.size();
    stream.next_out = reinterpret_cast<uint8_t*>(&out[0]);
    stream.avail_out = out.size();
    const lzma_ret status = lzma_code(&stream, LZMA_FINISH);
    out.resize(out.size() - stream.avail_out);
    lzma_end(&stream);
    return status == LZMA_STREAM_END ? out : "";
}

// A coder record: a simple coder (one stream in, one out) with properties.
std::string coder(const std::string& method, const std::string& properties) {
    return static_cast<char>(method.size() | 0x20) + method + num(properties.size()) + properties;
}
std::string lzma2(unsigned dictionary_code) { return coder("\x21", std::string(1, static_cast<char>(dictionary_code))); }
std::string lzma(uint32_t dictionary) { return coder("\x03\x01\x01", "\x5D" + le32(dictionary)); }
std::string ppmd(uint32_t memory) { return coder(std::string("\x03\x04\x01", 3), "\x06" + le32(memory)); }
const std::string AES = coder("\x06\xF1\x07\x01", std::string(18, '\x01'));

// A folder of coders chained one into the next.
std::string folder(const std::vector<std::string>& coders) {
    std::string f = num(coders.size());
    for (const std::string& c : coders) f += c;
    for (size_t i = 1; i < coders.size(); ++i) f += num(i) + num(i - 1);  // bind pairs
    return f;
}

// A streams info without its closing kEnd: packed streams from
// pack_position, one folder each, and the folders' unpacked sizes and CRCs.
std::string streams(uint64_t pack_position, const std::vector<uint64_t>& packed, const std::vector<std::string>& folders,
                    const std::vector<uint64_t>& unpacked, const std::vector<uint32_t>& crcs) {
    std::string s = "\x06" + num(pack_position) + num(packed.size()) + "\x09";
    for (const uint64_t p : packed) s += num(p);
    s += std::string("\x00\x07\x0B", 3) + num(folders.size()) + '\0';
    for (const std::string& f : folders) s += f;
    s += "\x0C";
    for (const uint64_t u : unpacked) s += num(u);
    s += "\x0A\x01";
    for (const uint32_t crc : crcs) s += le32(crc);
    return s + '\0';
}

// The files of a .7z: one per folder ("a0.txt", "a1.txt"...), each data
// packed in LZMA2 with a 1 MiB dictionary whatever its folder declares,
// and the plain header that tells them.
struct SevenZipFiles {
    std::string body;
    std::string header;
};

SevenZipFiles seven_zip_files(const std::vector<std::string>& folders, const std::string& data) {
    const std::string packed = raw_packed(data, LZMA_FILTER_LZMA2);
    SevenZipFiles files;
    std::string names;
    for (size_t i = 0; i < folders.size(); ++i) {
        files.body += packed;
        for (const char c : "a" + std::to_string(i) + ".txt") names += std::string{c, '\0'};
        names += std::string(2, '\0');
    }
    files.header = "\x01\x04" +
                   streams(0, std::vector<uint64_t>(folders.size(), packed.size()), folders,
                           std::vector<uint64_t>(folders.size(), data.size()),
                           std::vector<uint32_t>(folders.size(), crc_of(data))) +
                   std::string("\x08\x00\x00\x05", 4) + num(folders.size()) + "\x11" + num(names.size() + 1) + '\0' + names +
                   std::string(2, '\0');
    return files;
}

// The signature header, body, then the next header.
std::string with_next_header(const std::string& body, const std::string& next) {
    const std::string start = le64(body.size()) + le64(next.size()) + le32(crc_of(next));
    return std::string("7z\xBC\xAF\x27\x1C\x00\x04", 8) + le32(crc_of(start)) + start + body + next;
}

// A .7z of seven_zip_files, its header plain or packed with filter behind
// the header folder given.
std::string seven_zip(const std::vector<std::string>& folders, const std::string& data, bool packed_header = false,
                      const std::string& header_folder = folder({lzma(1u << 20)}),
                      lzma_vli filter = LZMA_FILTER_LZMA1) {
    const SevenZipFiles files = seven_zip_files(folders, data);
    if (!packed_header) return with_next_header(files.body, files.header);
    const std::string packed = raw_packed(files.header, filter);
    return with_next_header(files.body + packed, "\x17" + streams(files.body.size(), {packed.size()}, {header_folder},
                                                                  {files.header.size()}, {crc_of(files.header)}) +
                                                     '\0');
}

// A RAR5 block: CRC, header size, then type, flags and fields, then data.
std::string rar_block(uint64_t type, const std::string& fields, const std::string& data = "") {
    const std::string head = vint(type) + vint(data.empty() ? 0 : 2) + (data.empty() ? "" : vint(data.size())) + fields;
    return le32(crc_of(vint(head.size()) + head)) + vint(head.size()) + head + data;
}

struct RarFile {
    unsigned method = 3;
    unsigned dictionary = 0;  // N: 128 KiB << N
    bool folder = false;
    unsigned version = 0;
    unsigned fraction = 0;  // RAR 7's added 32nds
};

std::string rar_file(const RarFile& f) {
    const uint64_t compression = f.version | f.method << 7 | uint64_t{f.dictionary} << 10 | uint64_t{f.fraction} << 15;
    const std::string times_and_crc = f.folder ? "" : le32(0x5A000000) + le32(0x12345678);
    const std::string fields = vint(f.folder ? 1 : 6) + vint(100) + vint(0x20) + times_and_crc + vint(compression) +
                               vint(0) + vint(5) + "a.txt";
    return rar_block(2, fields, f.folder ? "" : "junk data, never decoded");
}

const std::string RAR5 = std::string("Rar!\x1A\x07\x01\x00", 8);
const std::string RAR_MAIN = rar_block(1, vint(0));
const std::string RAR_END = rar_block(5, vint(0));

// What la_memory_needed gives for bytes written as name in folder.
uint64_t needed(const TestFolder& folder, const char* name, const std::string& bytes) {
    folder.write(name, bytes);
    const std::string path = std::string(folder.path().c_str()) + name;
    return la_memory_needed(path.c_str(), archive_names(path.c_str()).kind);
}

std::string replaced(std::string bytes, size_t at, const std::string& with) { return bytes.replace(at, with.size(), with); }

struct Case {
    const char* name;
    std::string archive;
    uint64_t needed;
};

}  // namespace

TEST(SevenZipMemory, the_largest_dictionary_or_model_of_any_coder_is_what_it_needs) {
    const std::string data(3000, 'x');
    const Case cases[] = {
        {"lzma2_1_mib", seven_zip({folder({lzma2(16)})}, data), MIB + OVERHEAD},
        {"lzma2_64_mib", seven_zip({folder({lzma2(28)})}, data), 64 * MIB + OVERHEAD},
        {"lzma2_largest_code", seven_zip({folder({lzma2(40)})}, data), 0xFFFFFFFFu + OVERHEAD},
        {"lzma2_code_past_40", seven_zip({folder({lzma2(41)})}, data), 0},
        {"lzma_192_mib", seven_zip({folder({lzma(192 * MIB)})}, data), 192 * MIB + OVERHEAD},
        {"ppmd_512_mib", seven_zip({folder({ppmd(512 * MIB)})}, data), 512 * MIB + OVERHEAD},
        {"bzip2", seven_zip({folder({coder("\x04\x02\x02", "")})}, data), 0},
        {"copy", seven_zip({folder({coder(std::string(1, '\0'), "")})}, data), 0},
        {"largest_of_two_folders", seven_zip({folder({lzma2(16)}), folder({lzma2(28)})}, data), 64 * MIB + OVERHEAD},
        {"largest_coder_of_a_chain", seven_zip({folder({coder("\x03\x03\x01\x03", ""), lzma(32 * MIB)})}, data),
         32 * MIB + OVERHEAD},
        {"encrypted_entries_keep_their_dictionary", seven_zip({folder({AES, lzma2(28)})}, data), 64 * MIB + OVERHEAD},
        {"packed_header", seven_zip({folder({lzma2(28)})}, data, true), 64 * MIB + OVERHEAD},
        {"packed_header_in_lzma2", seven_zip({folder({lzma2(28)})}, data, true, folder({lzma2(16)}), LZMA_FILTER_LZMA2),
         64 * MIB + OVERHEAD},
        {"packed_header_whose_own_dictionary_is_largest",
         seven_zip({folder({lzma2(16)})}, data, true, folder({lzma(1u << 30)})), (1u << 30) + OVERHEAD},
        {"encrypted_header", seven_zip({folder({lzma2(28)})}, data, true, folder({AES, lzma(1u << 20)})), 0},
        {"no_entries", std::string("7z\xBC\xAF\x27\x1C\x00\x04", 8) + std::string(24, '\0'), 0},
    };
    TestFolder place("memory-7z");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(needed(place, "x.7z", c.archive), c.needed);
    }
}

// Sizes, offsets and counts that lie: the walk stops at what does not fit,
// gives what it has seen and reads the file once.
TEST(SevenZipMemory, a_plain_header_that_lies_gives_what_was_seen_before_the_lie) {
    const SevenZipFiles files = seven_zip_files({folder({lzma2(28)})}, std::string(100, 'y'));
    const std::string sound = with_next_header(files.body, files.header);
    const auto with = [&](const std::string& header) { return with_next_header(files.body, header); };
    const std::string unpack_info = "\x01\x04\x07\x0B\x01";  // one folder...
    const Case cases[] = {
        {"sound", sound, 64 * MIB + OVERHEAD},
        {"header_offset_past_the_end", replaced(sound, 12, le64(uint64_t{1} << 62)), 0},
        {"header_size_past_the_end", replaced(sound, 20, le64(files.header.size() + 1)), 0},
        {"offset_and_size_wrapping_around", replaced(replaced(sound, 12, le64(~uint64_t{0} - 15)), 20, le64(48)), 0},
        {"header_of_no_bytes", replaced(sound, 20, le64(0)), 0},
        {"not_a_header", with("\x05" + files.header.substr(1)), 0},
        {"folders_in_the_billions", with("\x01\x04\x07\x0B" + num(4000000000u) + '\0' + folder({lzma2(20)})),
         4 * MIB + OVERHEAD},
        {"pack_streams_in_the_billions", with("\x01\x04\x06" + num(0) + num(uint64_t{1} << 40) + "\x09\x01"), 0},
        {"digests_cut_short", with("\x01\x04\x06" + num(0) + num(1) + "\x0A\x01" + num(0)), 0},
        {"digests_in_the_billions", with("\x01\x04\x06" + num(0) + num(4000000000u) + "\x0A" + num(0) + "\xFF\xFF"), 0},
        {"digest_count_that_overflows", with("\x01\x04\x06" + num(0) + num(~uint64_t{0}) + "\x0A\x01"), 0},
        {"archive_properties_past_the_header", with("\x01\x02\x01" + num(uint64_t{1} << 63)), 0},
        {"no_coders", with(unpack_info + std::string(2, '\0')), 0},
        {"coders_in_the_billions", with(unpack_info + '\0' + num(4000000000u) + lzma2(28)), 0},
        {"streams_in_the_billions", with(unpack_info + '\0' + "\x01\x31\x21" + num(uint64_t{1} << 40) + num(1)), 0},
        {"properties_past_the_header", with(unpack_info + '\0' + "\x01\x21\x21" + num(1u << 30)), 0},
        {"alternative_methods", with(unpack_info + '\0' + "\x01\xA1\x21\x01\x1C"), 0},
        {"external_folders", with(unpack_info + "\x01" + num(0)), 0},
        {"cut_inside_a_coder", with(unpack_info + '\0' + folder({lzma2(28)}).substr(0, 4)), 0},
        {"bind_pairs_past_the_streams", with(unpack_info + '\0' + "\x02\x21\x21\x01\x1C\x21\x21\x01\x1C"), 0},
    };
    TestFolder place("memory-7z-lies");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        io_faults.reads_issued = 0;
        EXPECT_EQ(needed(place, "x.7z", c.archive), c.needed);
        EXPECT_LE(io_faults.reads_issued, 4) << "a small file is read once";
    }
    reset_io_faults();
    for (size_t cut = 0; cut < sound.size(); ++cut) {
        ASSERT_EQ(needed(place, "cut.7z", sound.substr(0, cut)), 0u) << "cut at " << cut;
    }
}

// A packed header whose own streams info lies: its stream is looked for
// only inside the file and decoded no further than the header can hold;
// what cannot be decoded leaves the header's own coder.
TEST(SevenZipMemory, a_packed_header_that_lies_gives_its_own_coder) {
    const SevenZipFiles files = seven_zip_files({folder({lzma2(28)})}, std::string(100, 'y'));
    const std::string packed = raw_packed(files.header, LZMA_FILTER_LZMA1);
    const uint64_t at = files.body.size();
    const auto archive = [&](uint64_t position, uint64_t size, const std::string& header_folder, uint64_t unpacked,
                             const std::string& stream) {
        return with_next_header(files.body + stream, "\x17" +
                                                         streams(position, {size}, {header_folder}, {unpacked},
                                                                 {crc_of(files.header)}) +
                                                         '\0');
    };
    const std::string lzma_1_mib = folder({lzma(1u << 20)});
    const uint64_t header_need = MIB + OVERHEAD;
    const std::string twice = raw_packed("\x17" + streams(0, {packed.size()}, {lzma_1_mib}, {files.header.size()},
                                                          {crc_of(files.header)}) + '\0',
                                         LZMA_FILTER_LZMA1);
    const Case cases[] = {
        {"sound", archive(at, packed.size(), lzma_1_mib, files.header.size(), packed), 64 * MIB + OVERHEAD},
        {"stream_past_the_end", archive(uint64_t{1} << 40, packed.size(), lzma_1_mib, files.header.size(), packed),
         header_need},
        {"stream_longer_than_the_file", archive(at, uint64_t{1} << 40, lzma_1_mib, files.header.size(), packed),
         header_need},
        {"position_that_wraps_around", archive(~uint64_t{0} - 8, packed.size(), lzma_1_mib, files.header.size(), packed),
         header_need},
        {"stream_of_garbage", archive(at, packed.size(), lzma_1_mib, files.header.size(), std::string(packed.size(), 'U')),
         header_need},
        {"unpacked_size_in_the_exabytes", archive(at, packed.size(), lzma_1_mib, uint64_t{1} << 60, packed),
         64 * MIB + OVERHEAD},
        {"unpacked_size_of_nothing", archive(at, packed.size(), lzma_1_mib, 0, packed), header_need},
        {"stream_cut_short", archive(at, 6, lzma_1_mib, files.header.size(), packed), header_need},
        {"header_behind_a_filter", archive(at, packed.size(), folder({coder("\x03\x03\x01\x03", ""), lzma(1u << 20)}),
                                           files.header.size(), packed),
         header_need},
        {"header_in_ppmd", archive(at, packed.size(), folder({ppmd(16 * MIB)}), files.header.size(), packed),
         16 * MIB + OVERHEAD},
        {"header_packed_twice", archive(at, twice.size(), lzma_1_mib, files.header.size(), twice), header_need},
        {"lzma_properties_past_their_range",
         archive(at, packed.size(), folder({coder("\x03\x01\x01", "\xE1" + le32(1u << 20))}), files.header.size(),
                 packed),
         header_need},
    };
    TestFolder place("memory-7z-packed-lies");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(needed(place, "x.7z", c.archive), c.needed);
    }
}

TEST(RarMemory, twice_the_largest_window_of_a_compressed_file_is_what_it_needs) {
    const Case cases[] = {
        {"window_128_kib", RAR5 + RAR_MAIN + rar_file({}) + RAR_END, 256 * 1024 + OVERHEAD},
        {"window_64_mib", RAR5 + RAR_MAIN + rar_file({3, 9}) + RAR_END, 128 * MIB + OVERHEAD},
        {"window_4_gib", RAR5 + RAR_MAIN + rar_file({5, 15}) + RAR_END, (uint64_t{8} << 30) + OVERHEAD},
        {"rar7_window_with_parts", RAR5 + RAR_MAIN + rar_file({3, 18, false, 1, 16}) + RAR_END,
         2 * ((uint64_t{32} << 30) + (uint64_t{16} << 30)) + OVERHEAD},
        {"stored_file", RAR5 + RAR_MAIN + rar_file({0, 9}) + RAR_END, 0},
        {"folder", RAR5 + RAR_MAIN + rar_file({3, 9, true}) + RAR_END, 0},
        {"largest_of_several", RAR5 + RAR_MAIN + rar_file({3, 3}) + rar_file({3, 8}) + rar_file({3, 1}) + RAR_END,
         64 * MIB + OVERHEAD},
        {"service_blocks_passed_over", RAR5 + RAR_MAIN + rar_block(3, vint(0) + vint(3) + vint(0x5A), "cmt") +
                                           rar_file({3, 4}) + RAR_END,
         4 * MIB + OVERHEAD},
        {"nothing_after_the_end", RAR5 + RAR_MAIN + rar_file({}) + RAR_END + rar_file({3, 9}), 256 * 1024 + OVERHEAD},
        {"encrypted_headers", RAR5 + rar_block(4, vint(0) + vint(0) + std::string(36, 'k')) + rar_file({3, 9}), 0},
        {"rar4", std::string("Rar!\x1A\x07\x00", 7) + std::string(60, '\0'), 0},
        {"signature_alone", RAR5, 0},
    };
    TestFolder place("memory-rar");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(needed(place, "x.rar", c.archive), c.needed);
    }
}

TEST(RarMemory, blocks_that_lie_stop_the_walk_at_what_was_seen) {
    const std::string first = RAR5 + RAR_MAIN + rar_file({3, 2});
    const uint64_t first_need = 1 * MIB + OVERHEAD;
    const std::string big = rar_file({3, 9});
    const std::string no_crc = le32(0);
    const std::string lie = vint(3) + vint(2) + vint(uint64_t{1} << 62);  // a service block with that much data
    const Case cases[] = {
        {"data_past_the_end", first + no_crc + vint(lie.size()) + lie + big, first_need},
        {"header_of_no_bytes", first + no_crc + vint(0) + big, first_need},
        {"header_past_2_mib", first + no_crc + vint(3u << 20) + big, first_need},
        {"header_size_in_four_bytes", first + no_crc + "\x85\x80\x80" + std::string(1, '\0') + big, first_need},
        {"header_past_the_end", first + no_crc + vint(200) + vint(2), first_need},
        {"vint_past_64_bits", first + no_crc + vint(12) + std::string(9, '\xFF') + "\x7F\x01" + big, first_need},
        {"file_header_cut_short", first + no_crc + vint(3) + vint(2) + vint(0) + "\x80" + RAR_END, first_need},
    };
    TestFolder place("memory-rar-lies");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(needed(place, "x.rar", c.archive), c.needed);
    }
    const std::string sound = first + big + RAR_END;
    uint64_t last = 0;
    for (size_t cut = 0; cut < sound.size(); ++cut) {
        const uint64_t got = needed(place, "cut.rar", sound.substr(0, cut));
        ASSERT_TRUE(got == 0 || got == first_need || got == 128 * MIB + OVERHEAD) << "cut at " << cut;
        ASSERT_GE(got, last) << "more of the file tells no less; cut at " << cut;
        last = got;
    }
}

// A dictionary or window larger than the machine can give is refused by
// the extraction, the test and the listing alike, with what it needs,
// before anything is made: the destination folder is never there. A RAR
// set is judged by its first volume, whichever volume is opened.
TEST(LaMemory, a_dictionary_beyond_the_machine_is_refused_by_every_reading_before_anything_is_made) {
    TestFolder place("memory-refusal");
    const std::string data = pattern_bytes(5000, 7);
    place.write("plain.7z", seven_zip({folder({lzma2(28)})}, data));
    place.write("packed.7z", seven_zip({folder({lzma2(28)})}, data, true));
    place.write("ppmd.7z", seven_zip({folder({ppmd(64 * MIB)})}, data));
    place.write("set.part1.rar", RAR5 + rar_block(1, vint(1)) + rar_file({3, 8}));  // a 32 MiB window, twice over
    place.write("set.part2.rar", RAR5 + rar_block(1, vint(1)) + RAR_END);
    for (const char* name : {"plain.7z", "packed.7z", "ppmd.7z", "set.part2.rar"}) {
        SCOPED_TRACE(name);
        const std::string path = std::string(place.path().c_str()) + name;
        const std::string stem = archive_names(path.c_str()).stem;
        io_faults.memory_available = 16 * MIB;
        ThreeReadings read;
        read_three_ways(path, &read);
        reset_io_faults();
        const ListResult& listed = read.listed;
        JobHandle& test = read.test;
        JobHandle& extraction = read.extraction;

        EXPECT_EQ(listed.end, ListEnd::too_large);
        EXPECT_EQ(listed.memory_needed, 64 * MIB + OVERHEAD);
        for (ArchiveJob* job : {&*test, &*extraction}) {
            ASSERT_EQ(job->problems.size(), 1u);
            EXPECT_EQ(job->problems[0].kind, Problem::needs_memory);
            EXPECT_EQ(job->problems[0].name, path + " (needs 64 MiB of memory to unpack)");
            EXPECT_EQ(static_cast<JobOutcome>(job->outcome.load()), JobOutcome::failed);
        }
        EXPECT_EQ(test->items_done.load(), 0) << "no entry was tested";
        EXPECT_EQ(extraction->files_written, 0);
        EXPECT_EQ(file_attributes(stem.c_str()), INVALID_FILE_ATTRIBUTES) << "no destination folder";
    }
}

// Dictionaries the machine can give change nothing: the small one unpacks
// on the small machine, and the refused one is sound, for it unpacks where
// the memory is.
TEST(LaMemory, a_dictionary_the_machine_can_give_is_unpacked_as_before) {
    TestFolder place("memory-enough");
    const std::string data = pattern_bytes(5000, 8);
    place.write("small.7z", seven_zip({folder({lzma2(16)}), folder({lzma2(18)})}, data));
    place.write("large.7z", seven_zip({folder({lzma2(28)})}, data, true));
    const struct {
        const char* name;
        int64_t memory;
        Tree tree;
    } cases[] = {
        {"small.7z", int64_t{16} << 20, Tree{{"a0.txt", data}, {"a1.txt", data}}},
        {"large.7z", int64_t{1} << 30, Tree{{"a0.txt", data}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = std::string(place.path().c_str()) + c.name;
        io_faults.memory_available = c.memory;
        ThreeReadings read;
        read_three_ways(path, &read);
        reset_io_faults();
        const ListResult& listed = read.listed;
        const std::vector<std::string>& names = read.names;
        JobHandle& test = read.test;
        JobHandle& extraction = read.extraction;

        EXPECT_EQ(listed.end, ListEnd::whole);
        EXPECT_EQ(names.size(), c.tree.size());
        EXPECT_EQ(problem_report(*test), "");
        EXPECT_EQ(static_cast<JobOutcome>(test->outcome.load()), JobOutcome::complete);
        EXPECT_EQ(problem_report(*extraction), "");
        EXPECT_TRUE(same_tree(c.tree, read_tree(archive_names(path.c_str()).stem + "\\")));
    }
}

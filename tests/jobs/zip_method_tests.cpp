// ZIP methods: the Deflate64 decoder on streams written bit by bit (its
// long and far codes, and streams damaged or cut short), how entries of
// methods Velmora does not unpack are told, and what stops a decoding that
// gives nothing or needs too much. Archives of other tools (7-Zip's
// Deflate64 among them) are extracted in foreign_archives.sh.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "io/io_faults.h"
#include "jobs/zip/inflate64.h"
#include "jobs/zip/zip_entry_data.h"
#include "jobs/frame/job_paths.h"
#include "jobs/worker/job_report.h"
#include "job_test_util.h"
#include "robustness/hostile_archives.h"
#include "test_folder.h"

namespace {

// A Deflate64 stream as the format packs it: values from their lowest bit,
// Huffman codes from their highest.
class BitWriter {
public:
    void bits(uint32_t value, unsigned count) {
        for (unsigned i = 0; i < count; ++i) push((value >> i) & 1);
    }
    void code(uint32_t code, unsigned length) {
        for (unsigned i = length; i-- > 0;) push((code >> i) & 1);
    }
    // A symbol of the fixed literal/length code.
    void fixed(unsigned symbol) {
        if (symbol < 144) return code(0x30 + symbol, 8);
        if (symbol < 256) return code(0x190 + symbol - 144, 9);
        if (symbol < 280) return code(symbol - 256, 7);
        code(0xc0 + symbol - 280, 8);
    }
    void stored(const std::string& data, bool last) {
        bits(last, 1);
        bits(0, 2);
        while (used_ != 0) push(0);
        bits(static_cast<uint32_t>(data.size()), 16);
        bits(~static_cast<uint32_t>(data.size()), 16);
        bytes_ += data;
    }
    const std::string& bytes() const { return bytes_; }

private:
    void push(unsigned bit) {
        if (used_ == 0) bytes_.push_back('\0');
        bytes_.back() = static_cast<char>(bytes_.back() | bit << used_);
        used_ = (used_ + 1) % 8;
    }
    std::string bytes_;
    unsigned used_ = 0;
};

void copy_match(std::string& out, size_t length, size_t distance) {
    for (size_t i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
}

// 60,000 stored bytes, then a fixed block with what Deflate64 adds: length
// code 285 (16 extra bits), distance codes 31 and 30 (14 extra bits each).
std::string long_and_far_stream(std::string* expected) {
    BitWriter w;
    *expected = pattern_bytes(60000, 3);
    w.stored(*expected, false);
    w.bits(1, 1);
    w.bits(1, 2);
    w.fixed(285);
    w.bits(5000 - 3, 16);
    w.code(31, 5);
    w.bits(50000 - 49153, 14);
    copy_match(*expected, 5000, 50000);
    w.fixed('Z');
    expected->push_back('Z');
    w.fixed(284);  // 227 and 5 bits: 258
    w.bits(31, 5);
    w.code(30, 5);
    w.bits(40000 - 32769, 14);
    copy_match(*expected, 258, 40000);
    w.fixed(264);  // 10, overlapping its own bytes
    w.code(2, 5);  // 3
    copy_match(*expected, 10, 3);
    w.fixed(256);
    return w.bytes();
}

struct Decoded {
    InflateEnd end;
    std::string out;
};

// Decodes stream handed over in pieces of piece bytes; output_limit makes
// the output refuse what goes past it.
Decoded inflate64(const std::string& stream, size_t piece = 4096, size_t output_limit = SIZE_MAX) {
    struct Ends {
        const std::string& in;
        size_t at;
        size_t piece;
        size_t limit;
        std::string out;
    } ends{stream, 0, piece, output_limit, ""};
    const InflateStreams streams = {
        [](void* context, const uint8_t** data, size_t* size) {
            auto& e = *static_cast<Ends*>(context);
            if (e.at == e.in.size()) return false;
            *size = std::min(e.piece, e.in.size() - e.at);
            *data = reinterpret_cast<const uint8_t*>(e.in.data()) + e.at;
            e.at += *size;
            return true;
        },
        [](void* context, const uint8_t* data, size_t size) {
            auto& e = *static_cast<Ends*>(context);
            e.out.append(reinterpret_cast<const char*>(data), size);
            return e.out.size() <= e.limit;
        },
        &ends};
    Inflate64 decoder;
    const InflateEnd end = decoder.run(streams);
    return {end, ends.out};
}

// A last fixed block: 'a', then a match of length code length_symbol at
// distance code distance_symbol, then its end.
std::string fixed_block_with_match(unsigned length_symbol, unsigned distance_symbol) {
    BitWriter w;
    w.bits(1, 1);
    w.bits(1, 2);
    w.fixed('a');
    w.fixed(length_symbol);
    w.code(distance_symbol, 5);
    w.fixed(256);
    return w.bytes() + std::string(8, '\0');
}

// count empty blocks of the fixed code, then a last empty one: a stream that
// reads the same as Deflate and Deflate64 and gives nothing.
std::string empty_fixed_blocks(size_t count) {
    BitWriter w;
    for (size_t i = 0; i <= count; ++i) {
        w.bits(i == count, 1);
        w.bits(1, 2);
        w.fixed(256);
    }
    return w.bytes();
}

// A Zstandard frame of count empty raw blocks and a last empty one.
std::string empty_zstd_blocks(size_t count) {
    std::string frame("\x28\xB5\x2F\xFD\x00\x50", 6);  // a 1 MiB window
    for (size_t i = 0; i <= count; ++i) frame += std::string(i == count ? "\x01\x00\x00" : "\x00\x00\x00", 3);
    return frame;
}

// How each entry of the archive at path decodes through the reader the
// jobs use, for job.
std::vector<DataEnd> decode_entries(ArchiveJob& job, const std::string& path) {
    std::vector<DataEnd> ends;
    ArchiveFile file(path.c_str());
    ZipLayout layout;
    if (!find_zip_layout(file, layout)) return ends;
    ArchiveCursor directory(file);
    ZipDataReader data(file, layout);
    if (!directory.allocate() || !data.allocate()) return ends;
    directory.seek(layout.directory_at);
    ZipEntry entry;
    while (next_central_entry(directory, layout, entry) == DirectoryStep::entry) {
        const EntryPlace place = data.locate(entry);
        ends.push_back(place.place == DataPlace::ready ? data.decode(&job, entry, place, nullptr).end
                                                        : DataEnd::cut_short);
    }
    return ends;
}

}  // namespace

TEST(Inflate64, decodes_the_long_and_far_codes_in_pieces_of_any_size) {
    std::string expected;
    const std::string stream = long_and_far_stream(&expected);
    for (const size_t piece : {size_t{1}, size_t{7}, size_t{4096}, stream.size()}) {
        SCOPED_TRACE(piece);
        const Decoded decoded = inflate64(stream, piece);
        EXPECT_EQ(decoded.end, InflateEnd::whole);
        EXPECT_TRUE(decoded.out == expected) << decoded.out.size() << " bytes of " << expected.size();
    }
    EXPECT_EQ(inflate64(stream, 4096, 1000).end, InflateEnd::stopped) << "the output refused a piece";
}

TEST(Inflate64, damaged_and_cut_short_streams_end_so) {
    std::string expected;
    const std::string stream = long_and_far_stream(&expected);
    // Cut anywhere, in the stored block's header and data and all along the
    // fixed block.
    std::vector<size_t> cuts = {1000, 30000, 60004};
    for (size_t n = 0; n < 16; ++n) cuts.push_back(n);
    for (size_t n = stream.size() - 40; n < stream.size(); ++n) cuts.push_back(n);
    for (const size_t cut : cuts) EXPECT_EQ(inflate64(stream.substr(0, cut)).end, InflateEnd::cut_short) << cut;

    BitWriter oversubscribed;  // every code length 1: more codes than one bit holds
    oversubscribed.bits(1, 1);
    oversubscribed.bits(2, 2);
    oversubscribed.bits(0, 5);
    oversubscribed.bits(0, 5);
    oversubscribed.bits(15, 4);
    for (int i = 0; i < 19; ++i) oversubscribed.bits(1, 3);
    std::string bad_complement = stream;
    bad_complement[3] ^= 1;
    const struct {
        const char* name;
        std::string stream;
    } damaged[] = {
        {"reserved block type", std::string(1, '\x07') + std::string(8, '\0')},
        {"stored length and complement disagree", bad_complement},
        {"distance before the first byte", fixed_block_with_match(257, 3)},
        {"length code 286", fixed_block_with_match(286, 0)},
        {"over-subscribed code lengths", oversubscribed.bytes() + std::string(64, '\0')},
    };
    for (const auto& c : damaged) EXPECT_EQ(inflate64(c.stream).end, InflateEnd::damaged) << c.name;
}

// Entries of methods Velmora does not unpack, and encrypted ones: each is
// named with its method, in the program's report and velmora-cli's lines;
// no file is left for it, and the stored entry beside them comes out.
TEST(ZipMethods, entries_not_unpacked_are_named_with_their_method) {
    const struct {
        const char* name;
        uint16_t method;
        uint16_t flags;
        const char* label;
    } cases[] = {
        {"docs/a.txt", 12, 0, "compressed with BZip2, which Velmora cannot unpack"},
        {"docs/b.txt", 12, 0, "compressed with BZip2, which Velmora cannot unpack"},
        {"c", 14, 0, "compressed with LZMA, which Velmora cannot unpack"},
        {"d", 98, 0, "compressed with PPMd, which Velmora cannot unpack"},
        {"e", 95, 0, "compressed with XZ, which Velmora cannot unpack"},
        {"f", 97, 0, "compressed with WavPack, which Velmora cannot unpack"},
        {"g", 6, 0, "compressed with Implode, which Velmora cannot unpack"},
        {"h", 77, 0, "compressed with method 77, which Velmora cannot unpack"},
        {"aes", 99, 1, "encrypted, not unpacked"},
        {"classic", 8, 1, "encrypted, not unpacked"},
    };
    std::vector<ZipItem> items;
    std::vector<std::string> expected_lines;
    for (const auto& c : cases) {
        ZipItem item;
        item.name = c.name;
        item.data = std::string("packed by ") + c.label;
        item.method = c.method;
        item.flags = c.flags;
        items.push_back(item);
        std::string name = c.name;
        for (char& ch : name) ch = ch == '/' ? '\\' : ch;
        expected_lines.push_back(std::string(c.label) + ": " + name);
    }
    ZipItem ok;
    ok.name = "ok.txt";
    ok.data = "fine";
    items.push_back(ok);
    TestFolder folder("zip-methods");
    folder.write("m.zip", build_zip(items));
    JobHandle job;
    job->job_inputs = make_selection_list({std::string(folder.path().c_str()) + "m.zip"});
    run_job(*job, JobKind::decompress);
    EXPECT_EQ(static_cast<JobOutcome>(job->outcome.load()), JobOutcome::failed);
    EXPECT_TRUE(same_tree(Tree{{"ok.txt", "fine"}}, read_tree(std::string(folder.path().c_str()) + "m\\")));
    std::vector<std::string> lines;
    for (const JobProblem& problem : job->problems) lines.push_back(problem_label(problem) + ": " + problem.name);
    EXPECT_EQ(lines, expected_lines);
    EXPECT_EQ(problem_report(*job),
              "Velmora: 2 entries are compressed with BZip2, which Velmora cannot unpack:\ndocs\\a.txt\ndocs\\b.txt\n\n"
              "1 entry is compressed with LZMA, which Velmora cannot unpack:\nc\n\n"
              "1 entry is compressed with PPMd, which Velmora cannot unpack:\nd\n\n"
              "1 entry is compressed with XZ, which Velmora cannot unpack:\ne\n\n"
              "1 entry is compressed with WavPack, which Velmora cannot unpack:\nf\n\n"
              "1 entry is compressed with Implode, which Velmora cannot unpack:\ng\n\n"
              "1 entry is compressed with method 77, which Velmora cannot unpack:\nh\n\n"
              "2 entries are encrypted and were not unpacked:\naes\nclassic");
}

// A stream of empty blocks gives no output at which a cancel could be seen:
// every decoder looks at it as it reads too.
TEST(ZipMethods, a_cancel_stops_a_decoding_that_gives_nothing) {
    const std::string fixed = empty_fixed_blocks(200000);
    std::vector<ZipItem> items;
    for (const auto& method : {std::make_pair(uint16_t{8}, fixed), std::make_pair(uint16_t{9}, fixed),
                               std::make_pair(uint16_t{93}, empty_zstd_blocks(100000))}) {
        ZipItem item;
        item.name = "empty" + std::to_string(method.first);
        item.method = method.first;
        item.packed = method.second;
        items.push_back(item);
    }
    TestFolder folder("zip-cancel");
    folder.write("e.zip", build_zip(items));
    const std::string path = std::string(folder.path().c_str()) + "e.zip";
    JobHandle job;
    EXPECT_EQ(decode_entries(*job, path), std::vector<DataEnd>(3, DataEnd::whole)) << "the streams are sound";
    set_cancel_requested(*job, true);
    EXPECT_EQ(decode_entries(*job, path), std::vector<DataEnd>(3, DataEnd::cancelled));
}

// A Zstandard entry whose window is more than the machine can give is
// refused before anything is made for it, with what it needs, by the test
// and the extraction alike; the entry beside it is unpacked.
TEST(ZipMethods, a_zstandard_window_beyond_the_machines_memory_refuses_only_its_entry) {
    ZipItem big;
    big.name = "big.bin";
    big.method = 93;
    big.data = "not decoded";
    big.packed = frame_with_window(31, big.data);
    ZipItem ok;
    ok.name = "ok.txt";
    ok.data = "fine";
    TestFolder folder("zip-window");
    folder.write("w.zip", build_zip({big, ok}));
    const std::string path = std::string(folder.path().c_str()) + "w.zip";
    io_faults.memory_available = 1ll << 30;
    JobHandle extraction;
    extraction->job_inputs = make_selection_list({path});
    run_job(*extraction, JobKind::decompress);
    JobHandle test;
    test->job_inputs = make_selection_list({path});
    run_job(*test, JobKind::test);
    reset_io_faults();

    EXPECT_TRUE(same_tree(Tree{{"ok.txt", "fine"}}, read_tree(std::string(folder.path().c_str()) + "w\\")));
    for (ArchiveJob* job : {&*extraction, &*test}) {
        ASSERT_EQ(job->problems.size(), 1u);
        EXPECT_EQ(problem_label(job->problems[0]) + ": " + job->problems[0].name,
                  "needs more memory than this computer can give, not unpacked: big.bin (needs 2,048 MiB of memory to "
                  "unpack)");
    }
}

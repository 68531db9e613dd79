// The read-ahead reader and the write-behind writer against real files, and
// through the fault seam. Files are prepared and checked with plain Win32
// calls so that neither class is checked only by the other.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "io/block_pool.h"
#include "io/event_pool.h"
#include "io/file_reader.h"
#include "io/file_writer.h"
#include "io/io_faults.h"
#include "io/platform.h"
#include "test_folder.h"

namespace {

constexpr size_t BLOCK = 8192;

std::string pattern(size_t size, uint32_t seed = 12345) {
    std::string bytes(size, '\0');
    uint32_t x = seed;
    for (char& c : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x >> 24);
    }
    return bytes;
}

// Absolute UTF-8 path to the \\?\ form, usable at any length.
std::wstring long_form(const std::string& path) {
    std::wstring wide(path.size(), L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), &wide[0],
                                      static_cast<int>(wide.size()));
    wide.resize(static_cast<size_t>(n));
    return L"\\\\?\\" + wide;
}

void make_folder(const std::string& path) { ASSERT_TRUE(CreateDirectoryW(long_form(path).c_str(), nullptr)); }

void put_file(const std::string& path, const std::string& bytes) {
    const HANDLE h = CreateFileW(long_form(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(bytes.empty() || WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    CloseHandle(h);
}

// The file's bytes, or "<missing>".
std::string get_file(const std::string& path) {
    const HANDLE h = CreateFileW(long_form(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string bytes;
    char chunk[65536];
    DWORD n = 0;
    while (ReadFile(h, chunk, sizeof(chunk), &n, nullptr) && n > 0) bytes.append(chunk, n);
    CloseHandle(h);
    return bytes;
}

std::string read_all(FileReader& reader, size_t chunk) {
    std::string bytes;
    std::vector<char> buffer(chunk);
    while (const size_t n = reader.read(buffer.data(), chunk)) bytes.append(buffer.data(), n);
    return bytes;
}

void write_in_chunks(FileWriter& writer, const std::string& bytes, size_t chunk) {
    for (size_t at = 0; at < bytes.size(); at += chunk) {
        const size_t n = std::min(chunk, bytes.size() - at);
        ASSERT_EQ(writer.write(bytes.data() + at, n), n);
    }
}

int64_t blocks_for(size_t size) { return static_cast<int64_t>((size + BLOCK - 1) / BLOCK); }

class FileIo : public ::testing::Test {
protected:
    void SetUp() override { reset_io_faults(); }
    void TearDown() override { reset_io_faults(); }
    std::string at(const std::string& name) const { return folder.path().c_str() + name; }
    TestFolder folder{"fio"};
};

struct SizeCase {
    const char* name;
    size_t size;
};
const SizeCase SIZE_CASES[] = {
    {"empty", 0}, {"one_byte", 1}, {"one_block", BLOCK}, {"block_and_a_byte", BLOCK + 1},
    {"partial_last_block", 3 * BLOCK + 100}, {"five_mebibytes", (5u << 20) + 123},
};

void PrintTo(const SizeCase& size_case, std::ostream* out) { *out << size_case.name; }

class FileIoSizes : public FileIo, public ::testing::WithParamInterface<SizeCase> {};
std::string size_name(const ::testing::TestParamInfo<SizeCase>& info) { return info.param.name; }

TEST_P(FileIoSizes, reader_returns_every_byte_with_one_request_per_block) {
    const std::string data = pattern(GetParam().size);
    put_file(at("in.bin"), data);
    FileReader reader(at("in.bin").c_str());
    ASSERT_TRUE(reader.is_open());
    EXPECT_FALSE(reader.shared_for_write());
    EXPECT_EQ(reader.size(), data.size());
    EXPECT_TRUE(read_all(reader, 4096) == data);
    EXPECT_EQ(reader.position(), data.size());
    EXPECT_FALSE(reader.failed());
    EXPECT_EQ(io_faults.reads_issued, blocks_for(data.size())) << "no block read twice or beyond the end";
}

TEST_P(FileIoSizes, writer_writes_every_byte_and_confirms_them) {
    const std::string data = pattern(GetParam().size, 777);
    FileWriter writer(at("out.bin").c_str());
    ASSERT_TRUE(writer.is_open());
    write_in_chunks(writer, data, 5000);
    EXPECT_EQ(writer.block_count(), size_t{FileWriter::INITIAL_BLOCKS}) << "the pool grows only for rewrites";
    EXPECT_TRUE(writer.close());
    EXPECT_EQ(writer.bytes_written(), data.size());
    EXPECT_EQ(writer.max_size(), data.size());
    EXPECT_EQ(io_faults.writes_issued, blocks_for(data.size()));
    EXPECT_TRUE(get_file(at("out.bin")) == data);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FileIoSizes, ::testing::ValuesIn(SIZE_CASES), size_name);

class FileReaderChunks : public FileIo, public ::testing::WithParamInterface<size_t> {};

TEST_P(FileReaderChunks, any_chunk_size_gives_the_same_bytes) {
    const std::string data = pattern(100000 + 4321);
    put_file(at("in.bin"), data);
    FileReader reader(at("in.bin").c_str());
    EXPECT_TRUE(read_all(reader, GetParam()) == data);
}

INSTANTIATE_TEST_SUITE_P(Chunks, FileReaderChunks, ::testing::Values(1, 7, 4096, 8191, 8192, 65537));

// Seeks as an archive reader makes them: back into the block in hand, back
// before everything read ahead, forward past it, to the end and beyond.
TEST_F(FileIo, reader_reads_the_right_bytes_after_any_seek) {
    const std::string data = pattern(100000 + 4321);
    put_file(at("in.bin"), data);
    FileReader reader(at("in.bin").c_str());
    const struct {
        uint64_t to;
        size_t count;
    } steps[] = {{0, 5000}, {100, 300}, {70000, 20000}, {8191, 2}, {99999, 10000}, {16384, 8192}, {104321, 10},
                 {200000, 10}, {1, 104320}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.to);
        reader.seek(step.to);
        std::string got(step.count, '\0');
        got.resize(reader.read(&got[0], step.count));
        EXPECT_TRUE(got == data.substr(std::min<size_t>(step.to, data.size()), step.count));
        EXPECT_EQ(reader.position(), std::min<uint64_t>(step.to, data.size()) + got.size());
    }
    EXPECT_FALSE(reader.failed());
}

TEST_F(FileIo, reader_on_missing_file_is_closed_and_reads_nothing) {
    FileReader reader(at("missing.bin").c_str());
    char byte;
    EXPECT_FALSE(reader.is_open());
    EXPECT_EQ(reader.size(), 0u);
    EXPECT_EQ(reader.read(&byte, 1), 0u);
    EXPECT_EQ(io_faults.reads_issued, 0);
}

TEST_F(FileIo, reader_shares_a_file_open_for_writing_and_follows_its_growth) {
    const std::string data = pattern(20100);
    const HANDLE holder = CreateFileW(long_form(at("grow.bin")).c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    WriteFile(holder, data.data(), 100, &n, nullptr);

    FileReader reader(at("grow.bin").c_str());
    ASSERT_TRUE(reader.is_open());
    EXPECT_TRUE(reader.shared_for_write());
    EXPECT_EQ(reader.size(), 100u);
    char first[60];
    EXPECT_EQ(reader.read(first, sizeof(first)), sizeof(first));

    WriteFile(holder, data.data() + 100, static_cast<DWORD>(data.size() - 100), &n, nullptr);
    EXPECT_EQ(reader.size(), data.size());
    EXPECT_TRUE(std::string(first, sizeof(first)) + read_all(reader, 1000) == data);
    CloseHandle(holder);
}

TEST_F(FileIo, writer_truncates_an_existing_file) {
    put_file(at("out.bin"), pattern(50000));
    FileWriter writer(at("out.bin").c_str());
    writer.write("short", 5);
    EXPECT_TRUE(writer.close());
    EXPECT_EQ(get_file(at("out.bin")), "short");
}

TEST_F(FileIo, a_writer_for_new_files_only_leaves_an_existing_file_alone) {
    put_file(at("out.bin"), "there before");
    FileWriter writer(at("out.bin").c_str(), FileWriter::Create::only_new);
    EXPECT_FALSE(writer.is_open());
    EXPECT_EQ(writer.error(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(get_file(at("out.bin")), "there before");
}

// Skipped ranges read as zeros, in the middle (after a partly filled block)
// and at the end, where the close sets the file's size.
TEST_F(FileIo, skipped_bytes_read_as_zeros_and_a_skip_at_the_end_sets_the_size) {
    const std::string head = pattern(BLOCK + 100, 1), middle = pattern(300, 2);
    FileWriter writer(at("out.bin").c_str());
    writer.mark_sparse();
    writer.write(head.data(), head.size());
    writer.skip(3 * BLOCK + 7);
    writer.write(middle.data(), middle.size());
    writer.skip(5 * BLOCK);
    EXPECT_TRUE(writer.close());
    const std::string expected = head + std::string(3 * BLOCK + 7, '\0') + middle + std::string(5 * BLOCK, '\0');
    EXPECT_TRUE(get_file(at("out.bin")) == expected);
}

TEST_F(FileIo, writer_keeps_a_partial_block_until_close_writes_it) {
    const std::string data = pattern(100);
    FileWriter writer(at("out.bin").c_str());
    write_in_chunks(writer, data, 100);
    EXPECT_EQ(get_file(at("out.bin")), "");
    EXPECT_EQ(io_faults.writes_issued, 0);
    EXPECT_TRUE(writer.close());
    EXPECT_TRUE(get_file(at("out.bin")) == data);
}

TEST_F(FileIo, writer_continues_after_a_final_flush_mid_file) {
    const std::string data = pattern(3 * BLOCK + 10);
    FileWriter writer(at("out.bin").c_str());
    write_in_chunks(writer, data.substr(0, 100), 100);
    writer.flush(true);
    EXPECT_EQ(writer.position(), 100u);
    writer.flush(false);
    write_in_chunks(writer, data.substr(100), 3000);
    EXPECT_TRUE(writer.close());
    EXPECT_TRUE(get_file(at("out.bin")) == data);
}

TEST_F(FileIo, writer_close_is_idempotent_and_refuses_later_writes) {
    FileWriter writer(at("out.bin").c_str());
    writer.write("abc", 3);
    EXPECT_TRUE(writer.close());
    EXPECT_TRUE(writer.close());
    EXPECT_EQ(writer.write("d", 1), 0u);
    EXPECT_EQ(get_file(at("out.bin")), "abc");
}

TEST_F(FileIo, writer_in_missing_folder_is_closed_and_reports_failure) {
    FileWriter writer(at("no-such-folder\\out.bin").c_str());
    EXPECT_FALSE(writer.is_open());
    EXPECT_EQ(writer.write("x", 1), 0u);
    EXPECT_FALSE(writer.close());
}

// Paths: the ANSI route below 248 bytes, UTF-16 with the long-path prefix from
// 248 bytes or for any multi-byte name.
void expect_round_trip(const std::string& path, bool converted) {
    const std::string data = pattern(BLOCK + 77, static_cast<uint32_t>(path.size()));
    FileWriter writer(path.c_str());
    ASSERT_TRUE(writer.is_open()) << path.size() << " bytes";
    EXPECT_EQ(writer.converted_path(), converted) << path.size() << " bytes";
    writer.write(data.data(), data.size());
    EXPECT_TRUE(writer.close());
    EXPECT_TRUE(get_file(path) == data) << path.size() << " bytes";
    FileReader reader(path.c_str());
    EXPECT_EQ(reader.converted_path(), converted) << path.size() << " bytes";
    EXPECT_TRUE(read_all(reader, 4096) == data) << path.size() << " bytes";
}

TEST_F(FileIo, path_of_247_bytes_goes_ansi_and_248_goes_wide) {
    const std::string deep = at(std::string(200 - folder.path().length(), 'd'));
    make_folder(deep);
    const size_t room = 247 - deep.size() - 1;
    expect_round_trip(deep + "\\" + std::string(room, 'a'), false);
    expect_round_trip(deep + "\\" + std::string(room + 1, 'b'), true);
    expect_round_trip(deep + "\\" + std::string(room + 8, 'c'), true);
}

// Wine creates such folders by either route; Windows only with the prefix,
// which the rule above gives them from 248 characters.
TEST_F(FileIo, folders_of_247_248_and_255_characters_hold_their_files) {
    const std::string deep = at(std::string(200 - folder.path().length(), 'e'));
    make_folder(deep);
    for (const size_t length : {size_t{247}, size_t{248}, size_t{255}}) {
        const std::string inner = deep + "\\" + std::string(length - deep.size() - 1, 'f');
        ASSERT_EQ(inner.size(), length);
        EXPECT_EQ(path_needs_wide(inner.c_str(), inner.size()), length >= 248) << length;
        ASSERT_TRUE(create_directory(inner.c_str())) << length;
        expect_round_trip(inner + "\\x.bin", true);
    }
}

TEST_F(FileIo, non_ascii_name_is_created_under_its_unicode_name) {
    // "Ünïcødé 日本.bin"; get_file looks for it by its UTF-16 name.
    const std::string path = at("\xC3\x9Cn\xC3\xAF" "c\xC3\xB8" "d\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC.bin");
    expect_round_trip(path, true);
    EXPECT_TRUE(DeleteFileW(long_form(path).c_str()));
}

TEST_F(FileIo, path_longer_than_260_characters_works) {
    const std::string outer = at(std::string(120, 'x'));
    const std::string inner = outer + "\\" + std::string(120, 'y');
    make_folder(outer);
    make_folder(inner);
    const std::string path = inner + "\\long-path-file.bin";
    ASSERT_GT(path.size(), 260u);
    expect_round_trip(path, true);
}

// The fault seam: requests that fail, and a disk that fills up.
TEST_F(FileIo, reader_failure_mid_read_gives_a_short_count) {
    const std::string data = pattern(8 * BLOCK);
    put_file(at("in.bin"), data);
    io_faults.fail_read_at = 2;
    FileReader reader(at("in.bin").c_str());
    std::string buffer(data.size(), '\0');
    EXPECT_EQ(reader.read(&buffer[0], buffer.size()), BLOCK);
    EXPECT_TRUE(reader.failed());
    EXPECT_TRUE(buffer.compare(0, BLOCK, data, 0, BLOCK) == 0);
}

TEST_F(FileIo, reader_after_failure_hands_out_only_buffered_bytes) {
    const std::string data = pattern(8 * BLOCK);
    put_file(at("in.bin"), data);
    io_faults.fail_read_at = 3;  // the read-ahead issued after the first read
    FileReader reader(at("in.bin").c_str());
    const std::string got = read_all(reader, 100);
    EXPECT_TRUE(reader.failed());
    // The second block is buffered only when it completed before the failure.
    EXPECT_TRUE(got.size() == BLOCK || got.size() == 2 * BLOCK) << got.size() << " bytes";
    EXPECT_TRUE(got == data.substr(0, got.size()));
    EXPECT_EQ(io_faults.reads_issued, 3) << "no request after the failure";
}

// Every block except the failed ones lands at its own offset.
void expect_blocks(const std::string& file, const std::string& data, size_t first_bad, size_t end_bad) {
    ASSERT_GE(file.size(), first_bad);
    EXPECT_TRUE(file.compare(0, first_bad, data, 0, first_bad) == 0);
    if (end_bad < data.size()) {
        ASSERT_EQ(file.size(), data.size());
        EXPECT_TRUE(file.compare(end_bad, std::string::npos, data, end_bad, std::string::npos) == 0);
    }
}

TEST_F(FileIo, failed_write_is_reported_and_the_writer_moves_on) {
    const std::string data = pattern(10 * BLOCK + 500);
    io_faults.fail_write_at = 3;
    FileWriter writer(at("out.bin").c_str());
    write_in_chunks(writer, data, 3000);
    EXPECT_FALSE(writer.close());
    EXPECT_TRUE(writer.failed());
    EXPECT_EQ(writer.bytes_written(), data.size() - BLOCK);
    expect_blocks(get_file(at("out.bin")), data, 2 * BLOCK, 3 * BLOCK);
}

TEST_F(FileIo, failed_write_of_the_last_partial_block_is_reported) {
    const std::string data = pattern(2 * BLOCK + 500);
    io_faults.fail_write_at = 3;
    FileWriter writer(at("out.bin").c_str());
    write_in_chunks(writer, data, 3000);
    EXPECT_FALSE(writer.close());
    EXPECT_EQ(writer.bytes_written(), 2 * BLOCK);
    expect_blocks(get_file(at("out.bin")), data, 2 * BLOCK, data.size());
}

TEST_F(FileIo, full_disk_fails_the_writer_and_keeps_what_fitted) {
    const std::string data = pattern(10 * BLOCK + 4000);
    io_faults.disk_full_after = 20000;  // the third block is cut short, later ones fail
    FileWriter writer(at("out.bin").c_str());
    write_in_chunks(writer, data, 4096);
    EXPECT_FALSE(writer.close());
    EXPECT_EQ(writer.bytes_written(), 20000u);
    expect_blocks(get_file(at("out.bin")), data, 20000, data.size());
}

TEST_F(FileIo, short_write_of_the_last_block_is_reported) {
    const std::string data = pattern(3 * BLOCK + 500);
    io_faults.disk_full_after = 3 * BLOCK + 100;  // no request fails outright
    FileWriter writer(at("out.bin").c_str());
    write_in_chunks(writer, data, 4096);
    EXPECT_FALSE(writer.close());
    EXPECT_EQ(writer.bytes_written(), 3 * BLOCK + 100);
    EXPECT_TRUE(get_file(at("out.bin")) == data.substr(0, 3 * BLOCK + 100));
}

}  // namespace

// Per-file setup: the events of a reader and a writer are made once per
// thread and reused, so a job over many small files does not create and
// close 20 events for each of them.
TEST_F(FileIo, readers_and_writers_reuse_their_events_instead_of_making_new_ones) {
    const std::string bytes = pattern(3 * BLOCK + 17);
    put_file(at("in.bin"), bytes);
    {
        FileReader reader(at("in.bin").c_str());
        FileWriter writer(at("out0.bin").c_str());
    }
    const size_t pooled = pooled_event_count();
    EXPECT_GE(pooled, size_t{FileReader::REQUEST_COUNT + 16});
    DWORD handles_before = 0;
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &handles_before));
    for (int i = 1; i <= 50; ++i) {
        const std::string out = at("out" + std::to_string(i) + ".bin");
        {
            FileReader reader(at("in.bin").c_str());
            FileWriter writer(out.c_str());
            write_in_chunks(writer, read_all(reader, 4096), 4096);
            EXPECT_TRUE(writer.close());
        }
        ASSERT_TRUE(get_file(out) == bytes) << out;
    }
    DWORD handles_after = 0;
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &handles_after));
    EXPECT_LE(handles_after, handles_before + 2);
    EXPECT_EQ(pooled_event_count(), pooled);
}

// Events given back on a thread stay usable after that thread has ended:
// nothing of the pool runs when a thread ends.
TEST(EventPool, events_outlive_the_thread_that_gave_them_back) {
    close_pooled_events();
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](void*) -> DWORD {
            HANDLE events[20];
            for (HANDLE& event : events) event = take_event();
            for (HANDLE event : events) give_back_event(event);
            return 0;
        },
        nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    CloseHandle(thread);
    ASSERT_EQ(pooled_event_count(), size_t{20});
    std::vector<HANDLE> taken;
    for (int i = 0; i < 20; ++i) taken.push_back(take_event());
    for (HANDLE event : taken) {
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0) << "a live, signalled event";
        EXPECT_TRUE(ResetEvent(event));
        EXPECT_TRUE(SetEvent(event));
    }
    for (HANDLE event : taken) give_back_event(event);
    close_pooled_events();
    EXPECT_EQ(pooled_event_count(), size_t{0});
}

TEST(EventPool, an_event_taken_again_is_signalled_and_the_pool_stays_bounded) {
    std::vector<HANDLE> taken;
    for (int i = 0; i < 100; ++i) {
        taken.push_back(take_event());
        ASSERT_NE(taken.back(), nullptr);
        EXPECT_EQ(WaitForSingleObject(taken.back(), 0), WAIT_OBJECT_0);
    }
    for (HANDLE event : taken) give_back_event(event);
    EXPECT_LE(pooled_event_count(), size_t{64});
    EXPECT_GT(pooled_event_count(), size_t{0});
    HANDLE again = take_event();
    EXPECT_EQ(WaitForSingleObject(again, 0), WAIT_OBJECT_0);
    give_back_event(again);
    give_back_event(nullptr);
}


// Block memory comes back from the pool with what the last file left in it:
// a later, shorter file must still hold its own bytes and nothing more,
// however its size falls against the blocks.
TEST_F(FileIo, files_after_a_longer_one_hold_only_their_own_bytes) {
    put_file(at("long.bin"), pattern(20 * BLOCK + 5, 7));
    {
        FileReader reader(at("long.bin").c_str());
        FileWriter writer(at("long-copy.bin").c_str());
        write_in_chunks(writer, read_all(reader, 4096), 4096);
        ASSERT_TRUE(writer.close());
    }
    for (const size_t size : {size_t{0}, size_t{1}, size_t{100}, BLOCK - 1, BLOCK + 1, 3 * BLOCK}) {
        SCOPED_TRACE(size);
        const std::string bytes = pattern(size, static_cast<uint32_t>(size) + 1);
        const std::string name = "short" + std::to_string(size) + ".bin";
        {
            FileWriter writer(at(name).c_str());
            write_in_chunks(writer, bytes, 1000);
            ASSERT_TRUE(writer.close());
        }
        EXPECT_TRUE(get_file(at(name)) == bytes);
        FileReader reader(at(name).c_str());
        EXPECT_TRUE(read_all(reader, 4096) == bytes);
    }
}

TEST(BlockPool, a_piece_given_back_is_taken_again_by_its_size_and_the_pool_stays_bounded) {
    void* small = take_block_memory(100);
    void* large = take_block_memory(200);
    ASSERT_TRUE(small && large);
    give_back_block_memory(small, 100);
    give_back_block_memory(large, 200);
    EXPECT_EQ(take_block_memory(200), large);
    EXPECT_EQ(take_block_memory(100), small);
    give_back_block_memory(small, 100);
    give_back_block_memory(large, 200);
    std::vector<void*> taken;
    for (int i = 0; i < 100; ++i) taken.push_back(take_block_memory(64));
    for (void* piece : taken) give_back_block_memory(piece, 64);
    EXPECT_LE(pooled_block_memory(), size_t{48});
    give_back_block_memory(nullptr, 64);
}

// A pipe whose reader starts late makes the writer's last write pend: close
// must wait for it whether the write is alone in flight or follows others.
TEST(FileWriterPipe, close_waits_for_a_pending_last_write) {
    for (const size_t size : {size_t{3000}, 3 * BLOCK + 500}) {
        SCOPED_TRACE(size);
        const std::string name = "\\\\.\\pipe\\velmora-writer-" + std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(size);
        const HANDLE server = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 1,
                                               1, 0, nullptr);
        ASSERT_NE(server, INVALID_HANDLE_VALUE);
        struct Drain {
            HANDLE pipe;
            std::string bytes;
        } drain{server, {}};
        const auto run = [](void* raw) -> DWORD {
            auto* d = static_cast<Drain*>(raw);
            ConnectNamedPipe(d->pipe, nullptr);
            Sleep(200);  // the writer reaches its close before anything is read
            char chunk[4096];
            DWORD n = 0;
            while (ReadFile(d->pipe, chunk, sizeof(chunk), &n, nullptr) && n > 0) d->bytes.append(chunk, n);
            return 0;
        };
        const HANDLE thread = CreateThread(nullptr, 0, run, &drain, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        const std::string data = pattern(size, 7);
        {
            FileWriter writer(name.c_str());
            ASSERT_TRUE(writer.is_open());
            write_in_chunks(writer, data, 1000);
            EXPECT_TRUE(writer.close());
        }
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        CloseHandle(server);
        EXPECT_TRUE(drain.bytes == data) << drain.bytes.size() << " bytes of " << data.size();
    }
}

// Growable buffers, strings and the UTF-8 platform layer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "io/grow_buffer.h"
#include "io/platform.h"
#include "test_folder.h"

TEST(GrowBuffer, small_granularity_grows_by_half_or_granularity) {
    GrowBuffer buffer(128);
    ASSERT_TRUE(buffer.resize(1));
    EXPECT_EQ(buffer.capacity, 1 + 128);
    ASSERT_TRUE(buffer.resize(129));
    EXPECT_EQ(buffer.capacity, 129) << "no new storage while the capacity suffices";
    ASSERT_TRUE(buffer.resize(200));
    EXPECT_EQ(buffer.capacity, 200 + 128);
    ASSERT_TRUE(buffer.resize(329));
    EXPECT_EQ(buffer.capacity, 329 + 164);
}

TEST(GrowBuffer, page_granularity_rounds_to_pages_less_96) {
    GrowBuffer buffer(4096);
    ASSERT_TRUE(buffer.resize(1));
    EXPECT_EQ(buffer.capacity, 4096 - 96);
    ASSERT_TRUE(buffer.resize(4000));
    EXPECT_EQ(buffer.capacity, 4000);
    ASSERT_TRUE(buffer.resize(4001));
    EXPECT_EQ(buffer.capacity, 8192 - 96);
    // Slack is half the size, rounded down to pages and capped at 4 MiB.
    EXPECT_EQ(buffer.capacity_for(100000), ((100000 + 96 + 49152) & ~4095) - 96);
    EXPECT_EQ(buffer.capacity_for(64 << 20), (((64 << 20) + 96 + 4194304) & ~4095) - 96);
}

TEST(GrowBuffer, shrinks_only_below_the_shrink_limit_and_keeps_contents) {
    GrowBuffer buffer(4096);
    ASSERT_TRUE(buffer.resize(1 << 20));
    for (int i = 0; i < 1000; ++i) buffer.storage[i] = static_cast<uint8_t>(i * 7);
    const int64_t big = buffer.capacity;
    EXPECT_EQ(buffer.shrink_limit(), big / 2);
    ASSERT_TRUE(buffer.resize(big / 2, true));
    EXPECT_EQ(buffer.capacity, big) << "at the limit nothing is reallocated";
    ASSERT_TRUE(buffer.resize(big / 2 - 1, true));
    EXPECT_LT(buffer.capacity, big);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(buffer.storage[i], static_cast<uint8_t>(i * 7));
    ASSERT_TRUE(buffer.resize(10));
    EXPECT_GT(buffer.capacity, 10) << "without shrink the storage stays";
    ASSERT_TRUE(buffer.resize(-5, true));
    EXPECT_EQ(buffer.size, 0);
    EXPECT_EQ(buffer.capacity, 0);
    EXPECT_EQ(buffer.storage, nullptr);
}

TEST(String, empty_has_no_storage_and_reads_empty) {
    String s;
    EXPECT_STREQ(s.c_str(), "");
    EXPECT_EQ(s.length(), 0u);
    s.set("abc");
    s.set("");
    EXPECT_EQ(s.data(), nullptr);
    EXPECT_STREQ(s.c_str(), "");
}

TEST(String, append_and_truncate_keep_the_terminating_zero) {
    String s("C:\\folder");
    s.append("\\");
    s.append(s.c_str(), 2);  // from its own storage
    EXPECT_STREQ(s.c_str(), "C:\\folder\\C:");
    s.truncate(3);
    EXPECT_STREQ(s.c_str(), "C:\\");
    EXPECT_EQ(s.length(), 3u);
    EXPECT_STREQ(concat("a", "b", "c").c_str(), "abc");
}

TEST(Utf8, multibyte_sequences_are_recognised_strictly) {
    struct Case {
        const char* name;
        const char* text;
        bool has_sequence;
        bool valid;
    };
    const Case cases[] = {
        {"ascii", "plain.txt", false, true},
        {"two_byte", "caf\xC3\xA9", true, true},
        {"three_byte", "\xE6\x97\xA5", true, true},
        {"four_byte", "\xF0\x9F\x98\x80", true, true},
        {"lone_lead", "caf\xC3", false, false},
        {"overlong_lead", "\xC0\x80", false, false},
        {"latin1", "caf\xE9!", false, false},
        {"surrogate", "\xED\xA0\x80", false, false},
        {"valid_then_invalid", "\xC3\xA9\xFF", true, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(has_utf8_sequence(c.text, std::strlen(c.text)), c.has_sequence) << c.name;
        EXPECT_EQ(is_valid_utf8(c.text, std::strlen(c.text)), c.valid) << c.name;
    }
}

TEST(Utf8, window_text_counts_as_utf8_by_its_share_of_valid_sequences) {
    const auto counts = [](const char* t) { return text_counts_as_utf8(t, std::strlen(t)); };
    EXPECT_FALSE(counts("ASCII only"));
    EXPECT_TRUE(counts("r\xC3\xA9sum\xC3\xA9"));
    EXPECT_FALSE(counts("r\xE9sum\xE9")) << "Latin-1 bytes go to the ANSI form";
    // 4 bytes of sequences against 1 invalid byte, 5 bytes in all: 4 >= 5 * 3/4.
    EXPECT_TRUE(counts("\xC3\xA9\xC3\xA9\xFF"));
    EXPECT_FALSE(counts("\xC3\xA9\xFF"));
    // 10 bytes of sequences against 2 invalid ones: five times as many.
    EXPECT_TRUE(counts("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xFF\xFF aaaaaaaaaaaaaaaaaaaaaaaaaa"));
    EXPECT_FALSE(counts("\xC3\xA9\xFF\xFF aaaaaaaaaaaaaaaaaaaa"));
    const std::wstring wide = window_wide("\xC3\xA9\xC3\xA9\xC3\xA9\xFF", 7);
    EXPECT_EQ(wide, L"\u00e9\u00e9\u00e9") << "invalid bytes are dropped";
}

// Windows creates no folder of 248 characters or more without the prefix.
TEST(LongPath, prefix_starts_at_248_characters) {
    const std::string drive = "C:/" + std::string(244, 'x');  // 247 characters
    WideText short_path(drive.c_str(), drive.size());
    ASSERT_TRUE(short_path.make_long_path());
    EXPECT_EQ(std::wstring(short_path.c_str()).substr(0, 3), L"C:/") << "below 248 nothing changes";
    EXPECT_FALSE(path_needs_wide(drive.c_str(), drive.size()));

    for (const size_t extra : {size_t{1}, size_t{8}}) {  // 248 and 255 characters
        const std::string long_drive = drive + std::string(extra, 'y');
        EXPECT_TRUE(path_needs_wide(long_drive.c_str(), long_drive.size())) << long_drive.size();
        WideText prefixed(long_drive.c_str(), long_drive.size());
        ASSERT_TRUE(prefixed.make_long_path());
        const std::wstring result = prefixed.c_str();
        EXPECT_EQ(result.substr(0, 7), L"\\\\?\\C:\\") << long_drive.size();
        EXPECT_EQ(result.find(L'/'), std::wstring::npos);
        EXPECT_EQ(result.size(), long_drive.size() + 4);
    }
    const std::string unc = "\\\\server\\share\\" + std::string(248 - 15, 'u');
    WideText network(unc.c_str(), unc.size());
    ASSERT_TRUE(network.make_long_path());
    EXPECT_EQ(std::wstring(network.c_str()).substr(0, 8), L"\\\\?\\UNC\\") << "a share path of 248";
}

TEST(LongPath, network_relative_and_prefixed_paths) {
    const std::string unc = "\\\\server\\share\\" + std::string(260, 'u');
    WideText network(unc.c_str(), unc.size());
    ASSERT_TRUE(network.make_long_path());
    EXPECT_EQ(std::wstring(network.c_str()).substr(0, 15), L"\\\\?\\UNC\\server\\");

    const std::string relative = std::string(300, 'r') + "/file";
    WideText rel(relative.c_str(), relative.size());
    ASSERT_TRUE(rel.make_long_path());
    EXPECT_EQ(rel.length(), relative.size()) << "a relative path takes no prefix";

    const std::string already = "\\\\?\\C:\\" + std::string(300, 'a');
    WideText kept(already.c_str(), already.size());
    ASSERT_TRUE(kept.make_long_path());
    EXPECT_EQ(std::wstring(kept.c_str()).substr(0, 8), L"\\\\?\\C:\\a") << "no second prefix";

    const std::string huge = "C:\\" + std::string(3000, 'h');
    WideText heap(huge.c_str(), huge.size());
    ASSERT_TRUE(heap.make_long_path());
    EXPECT_EQ(heap.length(), huge.size() + 4);
}

TEST(PlatformResults, utf16_results_are_never_cut) {
    String out("unchanged");
    const std::wstring long_name(3000, L'\u00e9');  // 6000 bytes in UTF-8
    EXPECT_FALSE(wide_to_utf8(long_name.c_str(), out));
    EXPECT_STREQ(out.c_str(), "unchanged");
    const std::wstring fits(1023, L'\u00e9');  // 2046 bytes and the zero
    EXPECT_TRUE(wide_to_utf8(fits.c_str(), out));
    EXPECT_EQ(out.length(), 2046u);
}

TEST(PlatformFiles, non_ascii_names_round_trip_through_listing_and_streams) {
    TestFolder folder("platform");
    const String path = concat(folder.path().c_str(), "\xE6\x97\xA5\xE6\x9C\xAC-r\xC3\xA9sum\xC3\xA9.txt");
    FILE* stream = open_stream(path.c_str(), "wb");
    ASSERT_NE(stream, nullptr);
    std::fputs("hello", stream);
    std::fclose(stream);
    ASSERT_TRUE(create_directory(concat(folder.path().c_str(), "\xC3\x9C" "ber").c_str()));

    FolderSearch search(concat(folder.path().c_str(), "*").c_str());
    FoundEntry entry;
    bool saw_file = false, saw_folder = false;
    while (search.next(entry)) {
        if (std::strcmp(entry.name.c_str(), "\xE6\x97\xA5\xE6\x9C\xAC-r\xC3\xA9sum\xC3\xA9.txt") == 0) {
            saw_file = true;
            EXPECT_EQ(entry.size, 5u);
        }
        if (std::strcmp(entry.name.c_str(), "\xC3\x9C" "ber") == 0) {
            saw_folder = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        }
    }
    EXPECT_TRUE(saw_file);
    EXPECT_TRUE(saw_folder);
    EXPECT_TRUE(delete_file(path.c_str()));
    EXPECT_EQ(file_attributes(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(PlatformFiles, a_writing_stream_on_a_bad_wide_path_gives_none) {
    TestFolder folder("stream");
    const String missing = concat(folder.path().c_str(), "\xC3\xA9-missing\\file.txt");
    EXPECT_EQ(open_stream(missing.c_str(), "wb"), nullptr);
    EXPECT_EQ(open_stream(missing.c_str(), "rb"), nullptr);
}

// Another program holding a file for a moment (a virus scanner, a preview)
// must not make a finished output's rename or a clean-up delete fail.
TEST(PlatformFiles, renames_and_deletes_wait_out_a_brief_hold_on_the_file) {
    TestFolder folder("held-file");
    folder.write("new.zip", "finished archive");
    folder.write("old.zip", "old archive");
    folder.write("gone.tmp", "leftover");
    const std::string base = folder.path().c_str();
    const std::string old_path = base + "old.zip";
    const std::string gone_path = base + "gone.tmp";
    const auto hold = [](const std::string& path) {
        return CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    };
    HANDLE held_old = hold(old_path);
    HANDLE held_gone = hold(gone_path);
    ASSERT_NE(held_old, INVALID_HANDLE_VALUE);
    ASSERT_NE(held_gone, INVALID_HANDLE_VALUE);
    ASSERT_FALSE(move_file_replacing((base + "new.zip").c_str(), old_path.c_str()));
    // Windows says sharing violation here, Wine access denied.
    const DWORD refused = GetLastError();
    ASSERT_TRUE(refused == ERROR_SHARING_VIOLATION || refused == ERROR_ACCESS_DENIED) << refused;

    HANDLE release = CreateThread(
        nullptr, 0,
        [](void* handles) -> DWORD {
            Sleep(700);
            CloseHandle(static_cast<HANDLE*>(handles)[0]);
            CloseHandle(static_cast<HANDLE*>(handles)[1]);
            return 0;
        },
        new HANDLE[2]{held_old, held_gone}, 0, nullptr);
    EXPECT_TRUE(move_file_replacing_retrying((base + "new.zip").c_str(), old_path.c_str()));
    EXPECT_TRUE(delete_file_retrying(gone_path.c_str()));
    WaitForSingleObject(release, INFINITE);
    CloseHandle(release);
    EXPECT_EQ(folder.read("old.zip"), "finished archive");
    EXPECT_FALSE(folder.exists("new.zip"));
    EXPECT_FALSE(folder.exists("gone.tmp"));

    // A failure no wait can mend returns at once.
    const DWORD start = GetTickCount();
    EXPECT_FALSE(move_file_replacing_retrying((base + "missing").c_str(), old_path.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_LT(GetTickCount() - start, 40u);
    EXPECT_EQ(folder.read("old.zip"), "finished archive");
}
